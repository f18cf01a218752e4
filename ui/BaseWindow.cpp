#include "ui/BaseWindow.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <string>

#include "app/BaseException.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "ui/ButtonOwnCurrentLocation.h"
#include "ui/ButtonOwnDrawImage.h"

CBaseWindow::CBaseWindow(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
}

void CBaseWindow::RegisterOwnerDraw(QWidget* child, IOwnerDraw* item) {
  if (!child || !item)
    throw CBaseException("%s", CTexts::GetInstance()->GetText("ERROR REGISTERING BUTTON").c_str());
  owned_[child] = item;
}

void CBaseWindow::DispatchDrawItem(QWidget* child, const DrawItemInfo& info) {
  auto it = owned_.find(child);
  if (it == owned_.end()) {
    Trace(TRACE_ERROR, "No se encontro el objeto owner draw");
    return;
  }
  it->second->DrawItem(info);
}

void CBaseWindow::SetUpperText(const QString& text, const QRect& rect, const QFont& font,
                               const QColor& color, const QColor& background) {
  if (text == upperText_ && rect == upperRect_ && font == upperFont_ && color == upperColor_ &&
      background == upperBackground_)
    return;
  QRect old = upperRect_;
  upperText_ = text;
  upperRect_ = rect;
  upperFont_ = font;
  upperColor_ = color;
  upperBackground_ = background;
  update(old.united(rect));
}

void CBaseWindow::SetBottomText(const std::string& text) {
  if (text == bottomText_)
    return;
  bottomText_ = text;
  update();
}

void CBaseWindow::OnChildKeyUp(int key) {
  switch (key) {
    case Qt::Key_Down:
    case Qt::Key_Right:
    case Qt::Key_Tab:
      MoveFocus(true);
      break;
    case Qt::Key_Up:
    case Qt::Key_Left:
    case Qt::Key_Backtab:
      MoveFocus(false);
      break;
    case Qt::Key_F6:
      OnEnterButton();
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
      // The centre of the direction pad presses the focused button, as a tap does.
      if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()))
        button->click();
      break;
    default:
      break;
  }
}

void CBaseWindow::keyReleaseEvent(QKeyEvent* event) {
  if (!event->isAutoRepeat())
    OnChildKeyUp(event->key());
}

void CBaseWindow::MoveFocus(bool next) {
  auto it = std::find(buttons_.begin(), buttons_.end(), focusWidget());
  if (it == buttons_.end() || buttons_.empty())
    return;
  auto n = static_cast<std::ptrdiff_t>(buttons_.size());
  std::ptrdiff_t i = it - buttons_.begin();
  // Disabled buttons cannot hold the focus: skip them, at most once round.
  for (std::ptrdiff_t step = 1; step < n; ++step) {
    std::ptrdiff_t j = ((i + (next ? step : -step)) % n + n) % n;
    if (buttons_[j]->isEnabled()) {
      buttons_[j]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return;
    }
  }
}

void CBaseWindow::ReorderShell() {
  QRect client = rect();
  int baseline = client.bottom() + 1 - bottomBand_ * scale_;
  // The default size is given in small-screen pixels; a vga screen draws everything twice as
  // large (its skins carry double-size images).
  const int buttonCx = buttonCx_ * scale_;
  const int buttonCy = buttonCy_ * scale_;
  int x = 0;
  for (CButtonOwnDrawImage* button : buttons_) {
    button->GetConfigFromXML();
    auto* panel = dynamic_cast<CButtonOwnCurrentLocation*>(button);
    if (button->IsAutolocate()) {
      if (panel) {
        panel->Autolocate(client.width());
        continue;
      }
      if (x > client.width() - buttonCx) {
        x = 0;
        baseline -= buttonCy;
      }
      button->SetPosition({x, baseline - buttonCy, buttonCx, buttonCy});
      x += buttonCx;
    } else {
      button->SetPosition(button->GetPosition());
      if (panel)
        continue;
      if (x > client.width() - buttonCx) {
        x = 0;
        baseline -= buttonCy;
      }
      x += buttonCx;
    }
    cursor_ = QPoint(x, baseline);
  }
  // One line per layout, naming where each button went and the image it shows: the record tests
  // and bug reports read to see the layout without a picture.
  std::string layout;
  for (CButtonOwnDrawImage* button : buttons_) {
    QRect g = button->geometry();
    CButtonOwnDrawImage::Choice image = button->GetImage(false);
    layout += " " + button->GetSkinId() + "=" + std::to_string(g.x()) + "," +
              std::to_string(g.y()) + "," + std::to_string(g.width()) + "x" +
              std::to_string(g.height()) + ":" +
              (image.image && image.bitmap ? image.image->file : std::string("-"));
  }
  Trace(TRACE_DEBUG, "CBaseWindow::ReorderShell %dx%d%s", client.width(), client.height(),
        layout.c_str());
  update();
}

void CBaseWindow::paintEvent(QPaintEvent* /*event*/) {
  QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
  {
    QPainter p(&buffer);
    OnPaint(p);
    if (!upperText_.isEmpty() && upperRect_.isValid()) {
      p.setPen(Qt::NoPen);
      p.setBrush(upperBackground_);
      p.drawRect(upperRect_);
      p.setPen(upperColor_);
      p.setFont(upperFont_);
      p.drawText(upperRect_, Qt::AlignCenter, upperText_);
    }
  }
  QPainter(this).drawImage(0, 0, buffer);
}
