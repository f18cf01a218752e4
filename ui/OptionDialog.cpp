#include "ui/OptionDialog.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include <algorithm>

#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Screen.h"
#include "ui/BaseWindow.h"
#include "ui/Skin.h"
#include "ui/SkinDraw.h"

namespace {

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

constexpr int kButtonCx = 60;
constexpr int kButtonCy = 65;
constexpr int kMargin = 8;
constexpr int kTitleCy = 22;
constexpr int kFooterCy = 20;
// The skin element of the panel's plain action buttons.
constexpr const char* kPlainSkinId = "hide";

// The time-limit choices in their order: minutes and the caption's text id (0: no limit).
struct Limit {
  int minutes;
  const char* skinId;
  const char* captionId;
};
const Limit kLimits[] = {
    {0, "time_limit_none", TEXT_ID("TIME LIMIT NONE")},
    {1, "time_limit_1", TEXT_ID("TIME LIMIT 1")},
    {5, "time_limit_5", TEXT_ID("TIME LIMIT 5")},
    {10, "time_limit_10", TEXT_ID("TIME LIMIT 10")},
    {30, "time_limit_30", TEXT_ID("TIME LIMIT 30")},
    {60, "time_limit_60", TEXT_ID("TIME LIMIT 60")},
    {120, "time_limit_120", TEXT_ID("TIME LIMIT 120")},
};
// The custom duration's command id (the limits answer their minutes, "no limit" kNoLimit).
constexpr int kCustomId = 998;

// A button of an option dialog: the image it was given (a feature's image for a state), or its
// caption in the tile when it has none.
class COptionButton : public CButtonOwnDrawImage {
 public:
  COptionButton(QWidget* owner, IOwnerDrawHost* host, CSkin* skin, int id,
                const std::string& skinId, const char* captionId, Choice image)
      : CButtonOwnDrawImage(owner, host, skin, Params(id, skinId, captionId)) {
    // The feature's image fills the option's 60 x 65 tile whatever size the main window's
    // layout gives the feature button.
    if (image.image)
      ownImage_ = *image.image;
    image_ = {&ownImage_, image.bitmap};
    SetScale(1);
  }

  // The tile is `scale` times 60 x 65 (2 on vga screens, whose skins carry double-size images);
  // the image and the focus ring span it.
  void SetScale(int scale) {
    scale_ = scale;
    ownImage_.position = {0, 0, kButtonCx * scale, kButtonCy * scale};
    overlay_.position = ownImage_.position;
  }

  // The image given, or none: the skin element's own images belong to the main window's button.
  Choice GetImage(bool) override { return image_; }

 protected:
  void GetConfigFromXMLChild() override {
    // The skin's upper-text position belongs to the main window's layout; the dialog shows the
    // focused option's name in its own footer.
    topText_.position = SkinPosition();
    // The focus ring spans the tile, as on the main window's portrait buttons.
    overlay_.position = ownImage_.position;
  }

  void DrawContent(QPainter& p, const QSize& size, bool pressed, bool focused) override {
    Choice own = GetImage(pressed);
    if (own.bitmap) {
      CButtonOwnDrawImage::DrawContent(p, size, pressed, focused);
      return;
    }
    // No image: a tile in the skin's colours with the caption filling it.
    QColor text = TextColor();
    QColor tile = Background();
    tile = tile.lightness() > 128 ? tile.lighter(pressed ? 96 : 106)
                                  : tile.lighter(pressed ? 160 : 140);
    QColor line = text;
    line.setAlpha(60);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(line, 1));
    p.setBrush(tile);
    qreal inset = 4.5 * scale_;
    p.drawRoundedRect(QRectF(inset, inset, size.width() - 2 * inset, size.height() - 2 * inset),
                      8 * scale_, 8 * scale_);
    if (focused)
      DrawOverlay(p, size);
    // The largest size at which every word fits the tile, down to a size still readable.
    QRect box(6 * scale_, 6 * scale_, size.width() - 12 * scale_, size.height() - 12 * scale_);
    const int flags = Qt::AlignCenter | Qt::TextWordWrap;
    QFont font = SkinQFont(font_.family, 10 * scale_, 700);
    for (int points = 10; points >= 6; --points) {
      font = SkinQFont(font_.family, points * scale_, 700);
      QRect need = QFontMetrics(font).boundingRect(box, flags, GetCaption());
      if (need.width() <= box.width() && need.height() <= box.height())
        break;
    }
    p.setFont(font);
    p.setPen(text);
    p.drawText(box, flags, GetCaption());
  }

 public:
  // The skin's colours of the button: its fill when not focused and its caption's colour.
  QColor Background() const {
    const SkinColor& fill = styles_[kNotFocusedUnpressed].fill;
    return fill.r >= 0 ? ToQColor(fill) : QColor(Qt::white);
  }
  QColor TextColor() const {
    return font_.color.r >= 0 ? ToQColor(font_.color) : QColor(Qt::black);
  }

 private:
  static ButtonParams Params(int id, const std::string& skinId, const char* captionId) {
    ButtonParams p;
    p.skinId = skinId;
    p.controlId = id;
    p.captionId = captionId;
    p.cx = kButtonCx;
    p.cy = kButtonCy;
    return p;
  }

  SkinImage ownImage_;
  Choice image_;
  int scale_ = 1;
};

}  // namespace

// The dialog's surface: the title, the buttons and the focused option's name.
class COptionDialog::Panel : public CBaseWindow {
 public:
  Panel(COptionDialog* dialog, QString title) : CBaseWindow(dialog), dialog_(dialog) {
    title_ = std::move(title);
  }

  void SetUpperText(const QString& text, const QRect&, const QFont&, const QColor&,
                    const QColor&) override {
    if (text == focusedText_)
      return;
    focusedText_ = text;
    update();
  }

  // Rows of buttons under the title, as many to a row as the screen's width allows.
  QSize Arrange(int screenWidth, int scale) {
    scale_ = scale;
    const auto& buttons = Buttons();
    const int cx = kButtonCx * scale, cy = kButtonCy * scale, margin = kMargin * scale;
    int n = static_cast<int>(buttons.size());
    int columns = std::clamp((screenWidth - 2 * margin) / cx, 1, std::max(n, 1));
    int rows = (n + columns - 1) / columns;
    for (int i = 0; i < n; ++i) {
      auto* button = static_cast<COptionButton*>(buttons[i]);
      button->GetConfigFromXML();
      button->SetScale(scale);
      button->SetPosition(
          {margin + (i % columns) * cx, kTitleCy * scale + (i / columns) * cy, cx, cy});
    }
    return QSize(columns * cx + 2 * margin, (kTitleCy + kFooterCy) * scale + rows * cy);
  }

 protected:
  void OnPaint(QPainter& p) override {
    // The skin's colours, as the cancel button carries them.
    QColor background = palette().color(QPalette::Window);
    QColor text = palette().color(QPalette::WindowText);
    if (!Buttons().empty()) {
      auto* first = static_cast<COptionButton*>(Buttons().front());
      background = first->Background();
      text = first->TextColor();
    }
    QRect all = rect();
    p.fillRect(all, background);
    QColor frame = text;
    frame.setAlpha(90);
    p.setPen(frame);
    p.drawRect(all.adjusted(0, 0, -1, -1));
    p.setPen(text);
    const int margin = kMargin * scale_;
    p.setFont(SkinQFont("DejaVu Sans", 11 * scale_, 700));
    QRect title(margin, 2 * scale_, all.width() - 2 * margin, (kTitleCy - 4) * scale_);
    p.drawText(title, Qt::AlignCenter,
               p.fontMetrics().elidedText(title_, Qt::ElideRight, title.width()));
    p.setFont(SkinQFont("DejaVu Sans", 10 * scale_, 400));
    QRect footer(margin, all.height() - kFooterCy * scale_, all.width() - 2 * margin,
                 (kFooterCy - 2) * scale_);
    p.drawText(footer, Qt::AlignCenter,
               p.fontMetrics().elidedText(focusedText_, Qt::ElideRight, footer.width()));
  }

  void OnCommand(int id) override { dialog_->done(id); }

 private:
  COptionDialog* dialog_;
  QString title_;
  QString focusedText_;
  int scale_ = 1;
};

COptionDialog::COptionDialog(QWidget* owner, CSkin* skin, const char* title)
    : QDialog(owner), skin_(skin) {
  QString text = Q(Text(title));
  setWindowTitle(text);
  setAccessibleName(text);
  // On the phone's own screen a pop-up has no frame of the desktop's.
  if (QGuiApplication::platformName() == "offscreen")
    setWindowFlag(Qt::FramelessWindowHint);
  panel_ = new Panel(this, text);
  panel_->setAccessibleName(text);
  AddOption(kCancel, "cancel", TEXT_ID("CANCEL"));
}

COptionDialog::~COptionDialog() = default;

void COptionDialog::AddOption(int id, const std::string& skinId, const char* captionId,
                              CButtonOwnDrawImage::Choice image) {
  // A theme without an element for the option's own skin id styles it like the panel's plain
  // action buttons.
  std::string styled = skinId;
  if (skin_ && !skin_->GetButtonNode(skinId))
    styled = kPlainSkinId;
  auto* button = new COptionButton(panel_, panel_, skin_, id, styled, captionId, image);
  button->Create();
  panel_->AddButton(button);
}

const std::vector<CButtonOwnDrawImage*>& COptionDialog::Buttons() const {
  return panel_->Buttons();
}

void COptionDialog::Layout() {
  platform::ScreenSize screen = platform::GetScreenSize();
  QRect area = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                : QRect(0, 0, 240, 320);
  if (screen.width > 0 && screen.height > 0)
    area.setSize(QSize(screen.width, screen.height));
  // Vga screens (640 high upright, 480 high turned) draw everything twice as large, as the main
  // window does.
  int w = area.width(), h = area.height();
  int scale = (h > w && h == 640) || (w > h && h == 480) ? 2 : 1;
  QSize size = panel_->Arrange(w, scale);
  panel_->setGeometry(0, 0, size.width(), size.height());
  setFixedSize(size);
  move(area.left() + (area.width() - size.width()) / 2,
       area.top() + std::max(0, (area.height() - size.height()) / 2));
}

void COptionDialog::keyPressEvent(QKeyEvent* event) {
  // Enter presses the focused button (on its release); it must not close the dialog here.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool COptionDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && isVisible())
    Layout();
  return QDialog::eventFilter(watched, event);
}

int COptionDialog::ShowModal() {
  Layout();
  QWidget* window = parentWidget() ? parentWidget()->window() : nullptr;
  if (window)
    window->installEventFilter(this);
  if (!Buttons().empty())
    Buttons().front()->setFocus();
  int result = ExecDisablingOwner(parentWidget(), this);
  if (window)
    window->removeEventFilter(this);
  // Escape or a close of the window is a cancel.
  return result == QDialog::Rejected ? kCancel : result;
}

COptionDialogTimeLimit::COptionDialogTimeLimit(QWidget* owner, CSkin* skin)
    : COptionDialog(owner, skin, TEXT_ID("TIME LIMIT")) {
  for (const Limit& limit : kLimits)
    AddOption(limit.minutes == 0 ? kNoLimit : limit.minutes, limit.skinId, limit.captionId);
  AddOption(kCustomId, "time_limit_custom", TEXT_ID("TIME LIMIT CUSTOM"));
}

const char* COptionDialogTimeLimit::CaptionId(int minutes) {
  for (const Limit& limit : kLimits) {
    if (limit.minutes == minutes)
      return limit.captionId;
  }
  return "TIME LIMIT CUSTOM";
}

int COptionDialogTimeLimit::ShowModal() {
  minutes_ = 0;
  int answer = COptionDialog::ShowModal();
  if (answer == kCancel || answer == kNoLimit)
    return answer;
  if (answer == kCustomId) {
    CDialogCustomTime custom(parentWidget());
    int minutes = custom.Ask();
    if (minutes <= 0)
      return kCancel;
    minutes_ = minutes;
    return answer;
  }
  minutes_ = answer;
  return answer;
}

CDialogCustomTime::CDialogCustomTime(QWidget* owner) : QDialog(owner) {
  QString title = Q(Text("TIME LIMIT"));
  setWindowTitle(title);
  setAccessibleName(title);
  if (QGuiApplication::platformName() == "offscreen")
    setWindowFlag(Qt::FramelessWindowHint);
  auto* form = new QFormLayout(this);
  hours_ = new QSpinBox(this);
  hours_->setRange(0, 23);
  hours_->setAccessibleName(Q(Text("HOURS")));
  minutes_ = new QSpinBox(this);
  minutes_->setRange(0, 59);
  minutes_->setAccessibleName(Q(Text("MINUTES")));
  form->addRow(Q(Text("HOURS")), hours_);
  form->addRow(Q(Text("MINUTES")), minutes_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(Q(Text("SAVE")), QDialogButtonBox::AcceptRole);
  ok->setAccessibleName(ok->text());
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(Q(Text("CANCEL")), QDialogButtonBox::RejectRole);
  cancel->setAccessibleName(cancel->text());
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  // A duration of nothing is no time limit: it cannot be chosen.
  auto check = [this, ok] { ok->setEnabled(hours_->value() * 60 + minutes_->value() > 0); };
  connect(hours_, &QSpinBox::valueChanged, this, check);
  connect(minutes_, &QSpinBox::valueChanged, this, check);
  minutes_->setValue(15);
}

void CDialogCustomTime::SetTime(int hours, int minutes) {
  hours_->setValue(hours);
  minutes_->setValue(minutes);
}

int CDialogCustomTime::Ask() {
  minutes_->setFocus();
  if (ExecDisablingOwner(parentWidget(), this) != QDialog::Accepted)
    return 0;
  return hours_->value() * 60 + minutes_->value();
}

int ExecDisablingOwner(QWidget* owner, QDialog* dialog) {
  QWidget* window = owner ? owner->window() : nullptr;
  bool wasEnabled = window && window->isEnabled();
  if (wasEnabled)
    window->setEnabled(false);
  // A window of its own stays usable under its disabled owner (also when another dialog had
  // disabled the owner already).
  if (window)
    dialog->setEnabled(true);
  Trace(TRACE_TRACE, "ExecDisablingOwner(%s)", dialog->metaObject()->className());
  int result = dialog->exec();
  if (wasEnabled)
    window->setEnabled(true);
  return result;
}
