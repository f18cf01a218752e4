#include "ui/ButtonOwnDrawImage.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>

#include "app/BaseException.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "ui/SkinDraw.h"

namespace {

std::string Translate(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// Built-in pens and brushes, used while the skin gives no focused/pressed border width.
const QColor kThinPen(100, 100, 200);
const QColor kThickPen(29, 184, 226);
const QColor kBrushNotFocused(150, 150, 255);
const QColor kBrushFocusedPressed(100, 100, 150);
const QColor kBrushFocused(200, 255, 255);

}  // namespace

CButtonOwnDrawImage::CButtonOwnDrawImage(QWidget* owner, IOwnerDrawHost* host, CSkin* skin,
                                         const ButtonParams& params)
    : QAbstractButton(owner),
      host_(host),
      skin_(skin),
      margin_(params.margin),
      stretch_(params.stretch),
      transparent_(params.transparent),
      skinId_(params.skinId),
      controlId_(params.controlId),
      caption_(QString::fromStdString(Translate(params.captionId)).left(99)) {
  position_ = {params.x, params.y, params.cx, params.cy};
  offUnpressed_.file = offPressed_.file = params.off;
  onUnpressed_.file = onPressed_.file = params.on;
  disabled_.file = params.disabled;
  overlay_.file = params.overlay;
  setFocusPolicy(Qt::StrongFocus);
  setGeometry(position_.x, position_.y, position_.cx, position_.cy);
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (host_)
      host_->OnChildCommand(controlId_);
  });
  UpdateAccessibleName();
}

CButtonOwnDrawImage::~CButtonOwnDrawImage() {
  // Waits for a delivery under way; nothing is queued to this object after it returns, and Qt
  // drops what was queued before.
  if (listening_)
    listening_->RemoveStatusListener(this);
}

void CButtonOwnDrawImage::Listen(CMgr* mgr) {
  if (listening_ || !mgr)
    return;
  listening_ = mgr;
  mgr->AddStatusListener(this);
}

void CButtonOwnDrawImage::SetPosition(const SkinPosition& p) {
  position_ = p;
  setGeometry(p.x, p.y, p.cx, p.cy);
}

const QImage* CButtonOwnDrawImage::LoadImage(const SkinImage& image) {
  if (image.file.empty())
    return nullptr;
  const QImage* bitmap = LoadSkinImage(image.file);
  if (!bitmap)
    throw CBaseException("%s", Translate("ERROR LOADING").c_str());
  return bitmap;
}

void CButtonOwnDrawImage::Create() {
  GetConfigFromXML();
  setGeometry(position_.x, position_.y, position_.cx, position_.cy);
  if (host_)
    host_->RegisterOwnerDraw(this, this);
  bmpOffUnpressed_ = LoadImage(offUnpressed_);
  bmpOffPressed_ = LoadImage(offPressed_);
  bmpOnUnpressed_ = LoadImage(onUnpressed_);
  bmpOnPressed_ = LoadImage(onPressed_);
  bmpDisabled_ = LoadImage(disabled_);
  bmpOverlay_ = LoadImage(overlay_);
  LoadExtraImages();
  UpdateAccessibleName();
  show();
}

void CButtonOwnDrawImage::ReadImageChild(SkinImage& out, const char* id) {
  if (!skin_ || !m_node)
    return;
  std::string path = std::string("./image[@id='") + id + "']";
  if (pugi::xml_node n = skin_->SelectNode(m_node, path))
    skin_->ReadImage(out, n);
}

void CButtonOwnDrawImage::GetConfigFromXML() {
  if (skinId_.empty() || !skin_)
    return;
  m_node = skin_->GetButtonNode(skinId_);
  if (!m_node) {
    Trace(TRACE_DEBUG, "There isnt config for button %s", skinId_.c_str());
    return;
  }
  CSkin& s = *skin_;
  if (pugi::xml_node n = m_node.child("position"))
    s.ReadPosition(position_, n);
  if (pugi::xml_node n = m_node.child("TopTextSate"))
    s.ReadTextLabel(topText_, n);
  ReadImageChild(onPressed_, "on_pressed");
  ReadImageChild(onUnpressed_, "on_unpressed");
  ReadImageChild(offPressed_, "off_pressed");
  ReadImageChild(offUnpressed_, "off_unpressed");
  ReadImageChild(disabled_, "disabled");
  ReadImageChild(overlay_, "overlay");
  static const char* const kBorders[4] = {
      "./state[@id='focused']/border_color[@id='pressed']",
      "./state[@id='focused']/border_color[@id='unpressed']",
      "./state[@id='not_focused']/border_color[@id='pressed']",
      "./state[@id='not_focused']/border_color[@id='unpressed']",
  };
  static const char* const kBrushes[4] = {
      "./state[@id='focused']/brush[@id='pressed']/rgb",
      "./state[@id='focused']/brush[@id='unpressed']/rgb",
      "./state[@id='not_focused']/brush[@id='pressed']/rgb",
      "./state[@id='not_focused']/brush[@id='unpressed']/rgb",
  };
  for (int i = 0; i < 4; ++i) {
    if (pugi::xml_node n = s.SelectNode(m_node, kBorders[i])) {
      styles_[i].borderWidth = CSkin::ReadNumber(n, "width", styles_[i].borderWidth);
      if (pugi::xml_node rgb = n.child("rgb"))
        s.ReadRGB(styles_[i].border, rgb);
    }
    if (pugi::xml_node n = s.SelectNode(m_node, kBrushes[i]))
      s.ReadRGB(styles_[i].fill, n);
  }
  if (pugi::xml_node n = m_node.child("font"))
    s.ReadFont(font_, n);
  border_ = CSkin::ReadFlag(m_node, "border", border_);
  text_ = CSkin::ReadFlag(m_node, "text", text_);
  autolocate_ = CSkin::ReadFlag(m_node, "autolocate", autolocate_);
  transparent_ = CSkin::ReadFlag(m_node, "transparent", transparent_);
  GetConfigFromXMLChild();
  m_node = pugi::xml_node();
}

void CButtonOwnDrawImage::OnStatusChanged(int status, int /*mgrId*/, int /*reason*/) {
  QMetaObject::invokeMethod(
      this, [this, status] { StatusChanged(status); }, Qt::QueuedConnection);
}

void CButtonOwnDrawImage::StatusChanged(int status) {
  if (status_ == STATUS_DISABLED && status != STATUS_DISABLED)
    setEnabled(true);
  status_ = status;
  if (status == STATUS_DISABLED)
    setEnabled(false);
  StatusChangedChild(status);
  UpdateAccessibleName();
  update();
}

CButtonOwnDrawImage::Choice CButtonOwnDrawImage::GetImage(bool pressed) {
  if (status_ == 0)
    return Off(pressed);
  return On(pressed);
}

CButtonOwnDrawImage::Choice CButtonOwnDrawImage::GetImageForStatus(int status, bool pressed) {
  int saved = status_;
  status_ = status;
  Choice choice = GetImage(pressed);
  status_ = saved;
  return choice;
}

std::string CButtonOwnDrawImage::StatusText(const char* id) {
  return Translate(id);
}

std::string CButtonOwnDrawImage::GetTextStatus() {
  return status_ == STATUS_DISABLED ? Translate("DISABLED") : std::string();
}

QString CButtonOwnDrawImage::GetUpperText() {
  std::string status = GetTextStatus();
  if (status.empty())
    return caption_;
  return caption_ + " - " + QString::fromStdString(status);
}

void CButtonOwnDrawImage::UpdateAccessibleName() {
  setAccessibleName(GetUpperText());
}

void CButtonOwnDrawImage::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  DrawItemInfo info;
  info.pressed = isDown();
  info.focused = hasFocus();
  info.painter = &painter;
  info.rect = rect();
  if (host_)
    host_->DispatchDrawItem(this, info);
  else
    DrawItem(info);
}

void CButtonOwnDrawImage::keyReleaseEvent(QKeyEvent* event) {
  QAbstractButton::keyReleaseEvent(event);
  if (host_ && !event->isAutoRepeat()) {
    host_->OnChildKeyUp(event->key());
    // Handled: the key must not travel on to the host widget, which would move the focus again.
    event->accept();
  }
}

void CButtonOwnDrawImage::focusInEvent(QFocusEvent* event) {
  QAbstractButton::focusInEvent(event);
  update();
}

void CButtonOwnDrawImage::focusOutEvent(QFocusEvent* event) {
  QAbstractButton::focusOutEvent(event);
  update();
}

void CButtonOwnDrawImage::DrawItem(const DrawItemInfo& info) {
  const QSize size = info.rect.size();
  if (size.isEmpty() || !info.painter)
    return;
  // Everything is drawn into one off-screen image, transparent where nothing is drawn so that
  // the owner's background shows through, and copied in one go.
  QImage off(size, QImage::Format_ARGB32_Premultiplied);
  off.fill(Qt::transparent);
  QPainter p(&off);

  QPen pen;
  QBrush brush;
  if (info.focused) {
    pen = info.pressed ? QPen(kThinPen, 1) : QPen(kThickPen, 3);
    brush = QBrush(info.pressed ? kBrushFocusedPressed : kBrushFocused);
  } else {
    pen = QPen(kThinPen, 1);
    brush = QBrush(kBrushNotFocused);
  }
  // The skin's state styles apply only when it gives the focused/pressed border width.
  if (styles_[kFocusedPressed].borderWidth >= 0) {
    const Style& s =
        styles_[info.focused ? (info.pressed ? kFocusedPressed : kFocusedUnpressed)
                             : (info.pressed ? kNotFocusedPressed : kNotFocusedUnpressed)];
    pen = QPen(ToQColor(s.border), std::max(s.borderWidth, 1));
    brush = QBrush(ToQColor(s.fill));
  }
  if (!border_)
    pen = Qt::NoPen;
  p.setPen(pen);
  p.setBrush(brush);
  if (pen.style() == Qt::NoPen) {
    p.fillRect(QRect(QPoint(0, 0), size), brush);
  } else {
    qreal half = pen.widthF() / 2;
    p.drawRect(QRectF(half, half, size.width() - pen.widthF(), size.height() - pen.widthF()));
  }

  DrawContent(p, size, info.pressed, info.focused);
  p.end();

  if (info.focused && host_) {
    QRect upper(30, 2, 0, 18);
    QWidget* owner = parentWidget();
    upper.setRight((owner ? owner->width() : size.width()) - 30 - 1);
    const SkinPosition& tp = topText_.position;
    if (tp.x >= 0 && tp.y >= 0 && tp.cx >= 0 && tp.cy >= 0)
      upper = QRect(tp.x, tp.y, tp.cx, tp.cy);
    int fontSize = topText_.font.size >= 0 ? topText_.font.size : 16;
    int weight = topText_.font.bold >= 0 ? topText_.font.bold : 700;
    // Black on white unless the skin's label gives its own colours.
    QColor color = topText_.font.color.r >= 0 ? ToQColor(topText_.font.color) : QColor(Qt::black);
    QColor background =
        topText_.background.r >= 0 ? ToQColor(topText_.background) : QColor(Qt::white);
    host_->SetUpperText(GetUpperText(), upper, SkinQFont("Tahoma", fontSize, weight), color,
                        background);
    host_->SetBottomText(bottomText_);
  }
  info.painter->drawImage(info.rect.topLeft(), off);
}

void CButtonOwnDrawImage::DrawContent(QPainter& p, const QSize& size, bool pressed, bool focused) {
  DrawImage(p, size, pressed);
  if (focused)
    DrawOverlay(p, size);
  if (text_)
    DrawCaption(p, size);
}

void CButtonOwnDrawImage::DrawImage(QPainter& p, const QSize& size, bool pressed) {
  Choice choice = GetImage(pressed);
  static const SkinImage kNoGeometry;
  const SkinImage& img = choice.image ? *choice.image : kNoGeometry;
  if (const QImage* bitmap = choice.bitmap) {
    const QImage& source = transparent_ ? ColorKeyedBySkin(bitmap, img.colorKey) : *bitmap;
    QRect target;
    if (stretch_) {
      int w = img.position.cx >= 0 ? img.position.cx : size.width() - 2 * margin_;
      int h = img.position.cy >= 0 ? img.position.cy : size.height() - 2 * margin_;
      int left = img.position.cx >= 0 ? (size.width() - w) / 2 : margin_;
      int top = img.position.cy >= 0 ? (size.height() - h) / 2 : margin_;
      if (img.position.x >= 0)
        left = img.position.x;
      if (img.position.y >= 0)
        top = img.position.y;
      target = QRect(left, top, w, h);
    } else if (transparent_) {
      target = QRect((size.width() - bitmap->width()) / 2, (size.height() - bitmap->height()) / 2,
                     bitmap->width(), bitmap->height());
    } else {
      target = QRect((size.width() - bitmap->width()) / 2, 5, bitmap->width(), bitmap->height());
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, source);
  }
}

void CButtonOwnDrawImage::DrawOverlay(QPainter& p, const QSize& size) {
  if (bmpOverlay_) {
    const SkinPosition& op = overlay_.position;
    int w = op.cx >= 0 ? op.cx : bmpOverlay_->width();
    int h = op.cy >= 0 ? op.cy : bmpOverlay_->height();
    int left = op.x >= 0 ? op.x : (size.width() - w) / 2;
    int top = op.y >= 0 ? op.y : (size.height() - h) / 2;
    p.drawImage(QRect(left, top, w, h), ColorKeyedBySkin(bmpOverlay_, overlay_.colorKey));
  }
}

void CButtonOwnDrawImage::DrawCaption(QPainter& p, const QSize& size) {
  QFont font =
      SkinQFont(font_.family, font_.size >= 0 ? font_.size : 8, font_.bold >= 0 ? font_.bold : 700);
  p.setFont(font);
  p.setPen(font_.color.r >= 0 ? ToQColor(font_.color) : QColor(Qt::black));
  QRect box(QPoint(3, size.height() - 10), QPoint(size.width() - 4, size.height() - 4));
  QString text = QFontMetrics(font).elidedText(caption_, Qt::ElideRight, box.width());
  p.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextDontClip, text);
}

CButtonExtraPair::CButtonExtraPair(QWidget* owner, IOwnerDrawHost* host, CSkin* skin,
                                   const ButtonParams& params, const char* prefix)
    : CButtonOwnDrawImage(owner, host, skin, params), prefix_(prefix) {
  extraPressed_.file = extraUnpressed_.file = params.extra;
}

void CButtonExtraPair::LoadExtraImages() {
  bmpExtraUnpressed_ = LoadImage(extraUnpressed_);
  bmpExtraPressed_ = LoadImage(extraPressed_);
}

void CButtonExtraPair::GetConfigFromXMLChild() {
  ReadImageChild(extraPressed_, (prefix_ + "_pressed").c_str());
  ReadImageChild(extraUnpressed_, (prefix_ + "_unpressed").c_str());
}
