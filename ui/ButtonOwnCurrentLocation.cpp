#include "ui/ButtonOwnCurrentLocation.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStringList>

#include <cstdio>

#include "app/BaseException.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "data/StrLocation.h"
#include "data/StrPeriod.h"
#include "data/StrPlace.h"
#include "location/LocationLookup.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "platform/Text.h"
#include "ui/SkinDraw.h"

namespace {

constexpr const char* kUnknownPlaceImage = "unknown.png";
constexpr std::size_t kFrameTextChars = 48;

QString Tr(const char* id) {
  return QString::fromStdString(CTexts::GetInstance()->GetText(id));
}

bool Locked() {
  CScheduleEngine* engine = CScheduleEngine::GetInstance();
  return engine && engine->IsLocked();
}

}  // namespace

ButtonParams CButtonOwnCurrentLocation::Defaults() {
  ButtonParams p;
  p.skinId = "place";
  p.controlId = 106;
  p.captionId = "MENU_MAIN_PANEL_CURRENT_LOCATION";
  p.cx = 176;
  p.cy = 90;
  return p;
}

CButtonOwnCurrentLocation::CButtonOwnCurrentLocation(QWidget* owner, IOwnerDrawHost* host,
                                                     CSkin* skin)
    : CButtonOwnDrawImage(owner, host, skin, Defaults()) {
  placeImage_.file = kUnknownPlaceImage;
}

void CButtonOwnCurrentLocation::Create() {
  CButtonOwnDrawImage::Create();
  bmpPlace_ = LoadSkinImage(placeImage_.file.empty() ? kUnknownPlaceImage : placeImage_.file);
  if (!bmpPlace_)
    throw CBaseException("%s", CTexts::GetInstance()->GetText("ERROR LOADING").c_str());
  bmpBackground_ = LoadImage(backgroundImage_);
  if (IsAutolocate() && parentWidget())
    Autolocate(parentWidget()->width());
  RefreshPlace();
}

void CButtonOwnCurrentLocation::Autolocate(int ownerWidth) {
  int imageWidth = bmpPlace_ ? bmpPlace_->width() : 0;
  int imageHeight = bmpPlace_ ? bmpPlace_->height() : 0;
  int centre = ownerWidth / 2;
  int left = centre - imageWidth / 2 - 55;
  int right = centre + imageWidth / 2 + 55;
  SetPosition({left, 20, right - left, imageHeight + 30 - 20});
}

void CButtonOwnCurrentLocation::GetConfigFromXMLChild() {
  ReadImageChild(placeImage_, "place");
  ReadImageChild(backgroundImage_, "background");
  struct {
    SkinButtonText* out;
    const char* path;
  } texts[] = {{&lacText_, "./ButtonText[@id='lac_id']"},
               {&cellText_, "./ButtonText[@id='cell_id']"},
               {&modeText_, "./ButtonText[@id='mode']"},
               {&lockText_, "./ButtonText[@id='lock']"}};
  for (auto& t : texts) {
    if (pugi::xml_node n = skin_->SelectNode(m_node, t.path))
      skin_->ReadButtonText(*t.out, n);
  }
}

CButtonOwnDrawImage::Choice CButtonOwnCurrentLocation::GetImage(bool /*pressed*/) {
  return Pick(placeImage_, bmpPlace_);
}

QString CButtonOwnCurrentLocation::LacLine() const {
  CRilMgr* ril = CRilMgr::GetInstance();
  auto lac = static_cast<std::uint32_t>(ril ? ril->GetLac() : 0);
  return Tr(Locked() ? "LAC LOCKED" : "LAC INTRO") + QString::number(lac);
}

QString CButtonOwnCurrentLocation::CellLine() const {
  CRilMgr* ril = CRilMgr::GetInstance();
  auto cell = static_cast<std::uint32_t>(ril ? ril->GetCellId() : 0);
  return Tr(Locked() ? "CELL LOCKED" : "CELL INTRO") + QString::number(cell);
}

QString CButtonOwnCurrentLocation::ModeLine() const {
  return Tr(CStrLocation::IsCellMode() ? "CELL MODE" : "LAC MODE");
}

QString CButtonOwnCurrentLocation::LockLine() const {
  return Tr(Locked() ? "LOCK ON" : "LOCK OFF");
}

std::string CButtonOwnCurrentLocation::FormatFrame(const std::string& name, int startHour,
                                                   int startMinute, int endHour, int endMinute) {
  char hours[32];
  std::snprintf(hours, sizeof hours, "(%02d:%02d-%02d:%02d)", startHour, startMinute, endHour,
                endMinute);
  return platform::Utf8Truncate(name + hours, kFrameTextChars);
}

void CButtonOwnCurrentLocation::RefreshPlace() {
  std::string place;
  std::string frame;
  CScheduleEngine* engine = CScheduleEngine::GetInstance();
  CStrPlace current;
  if (engine && engine->IsLocked()) {
    place = engine->GetLockedPlace().GetName();
  } else if (CRilMgr* ril = CRilMgr::GetInstance(); ril && ril->GetCurrentPlace(&current)) {
    place = current.GetName();
  } else {
    // Not at a known place: the last one known.
    auto last = static_cast<std::int32_t>(CRegistrySettings::Instance()->GetDWORD("last_place"));
    if (last != 0)
      place = locationlookup::FindPlace(last).value_or(CStrPlace()).GetName();
  }
  CStrPeriod period;
  if (engine && engine->GetCurrentFrame(&period)) {
    platform::TimeOfDay start = period.GetStartTime();
    platform::TimeOfDay end = period.GetEndTime();
    frame = FormatFrame(period.GetName(), start.Hour, start.Minute, end.Hour, end.Minute);
  }
  bottomText_ = frame.empty() ? place : place + " " + frame;
  // A screen reader reads the panel's lines, then the place and its frame.
  QStringList lines{LacLine(), CellLine(), ModeLine(), LockLine()};
  if (!bottomText_.empty())
    lines << QString::fromStdString(bottomText_);
  setAccessibleDescription(lines.join('\n'));
  if (place == placeText_ && frame == frameText_)
    return;
  placeText_ = place;
  frameText_ = frame;
  if (host_)
    host_->PublishPlaceText(place, frame);
  update();
}

void CButtonOwnCurrentLocation::StatusChangedChild(int /*status*/) {
  RefreshPlace();
}

void CButtonOwnCurrentLocation::DrawLine(QPainter& p, const SkinButtonText& where,
                                         const QString& text) {
  const SkinPosition& pos = where.position;
  if (pos.x < 0 || pos.y < 0 || pos.cx < 0 || pos.cy < 0)
    return;
  QFont font = SkinQFont(where.font.family, where.font.size >= 0 ? where.font.size : 11,
                         where.font.bold >= 0 ? where.font.bold : 400);
  p.setFont(font);
  p.setPen(where.font.color.r >= 0 ? ToQColor(where.font.color) : QColor(Qt::black));
  QRect box(pos.x, pos.y, pos.cx, pos.cy);
  p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter,
             QFontMetrics(font).elidedText(text, Qt::ElideRight, box.width()));
}

void CButtonOwnCurrentLocation::DrawContent(QPainter& p, const QSize& size, bool pressed,
                                            bool focused) {
  if (bmpBackground_) {
    const SkinPosition& bp = backgroundImage_.position;
    QRect target(bp.x >= 0 ? bp.x : 0, bp.y >= 0 ? bp.y : 0, bp.cx >= 0 ? bp.cx : size.width(),
                 bp.cy >= 0 ? bp.cy : size.height());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, transparent_ ? ColorKeyedBySkin(bmpBackground_, backgroundImage_.colorKey)
                                     : *bmpBackground_);
  }
  DrawImage(p, size, pressed);
  // Lines without a skin position stack below each other beside the icon.
  SkinButtonText lines[4] = {lacText_, cellText_, modeText_, lockText_};
  for (int i = 0; i < 4; ++i) {
    SkinPosition& pos = lines[i].position;
    if (pos.x < 0 || pos.y < 0 || pos.cx < 0 || pos.cy < 0)
      pos = {size.width() / 3, 8 + i * 18, size.width() - size.width() / 3 - 4, 16};
  }
  DrawLine(p, lines[0], LacLine());
  DrawLine(p, lines[1], CellLine());
  DrawLine(p, lines[2], ModeLine());
  DrawLine(p, lines[3], LockLine());
  if (focused)
    DrawOverlay(p, size);
  if (text_)
    DrawCaption(p, size);
}
