#include "ui/DlgRecords.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "app/Ids.h"
#include "app/TextFormat.h"
#include "app/Texts.h"
#include "data/TablePlaces.h"
#include "location/ScheduleDecision.h"
#include "platform/Device.h"
#include "platform/Power.h"
#include "platform/Text.h"
#include "ui/SkinDraw.h"

using namespace settingsui;

// ---- Choose file -------------------------------------------------------------------------

namespace {

// The device folder of a device path, with its trailing backslash ("\\" for the root).
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "\\" : path.substr(0, slash + 1);
}

}  // namespace

CDlgChooseFile::CDlgChooseFile(QWidget* parent, const std::string& start, const std::string& suffix)
    : CDlgBase(parent, "DIALOG_CHOOSE_FILE_TITLE"), suffix_(suffix) {
  where_ = new QLabel;
  where_->setWordWrap(true);
  list_ = new QListWidget;
  list_->setAccessibleName(Tr("DIALOG_CHOOSE_FILE_TITLE"));
  list_->setMinimumHeight(150);
  Form()->addRow(where_);
  Form()->addRow(list_);
  connect(list_, &QListWidget::itemActivated, this,
          [this] { Later(this, [this] { Activate(); }); });
  Open(start.empty() ? "\\" : FolderOf(start));
}

void CDlgChooseFile::Open(const std::string& folder) {
  folder_ =
      folder.empty() || (folder.back() != '\\' && folder.back() != '/') ? folder + "\\" : folder;
  where_->setText(Q(folder_));
  list_->clear();
  platform::Device* device = platform::Device::Current();
  auto host = device ? device->ConfinedHostPath(folder_) : std::nullopt;
  if (!host)
    return;
  std::vector<std::string> folders;
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(*host, error)) {
    std::string name = entry.path().filename().string();
    if (entry.is_directory(error))
      folders.push_back(name);
    else if (suffix_.empty() ||
             (name.size() >= suffix_.size() &&
              name.compare(name.size() - suffix_.size(), suffix_.size(), suffix_) == 0))
      files.push_back(name);
  }
  std::sort(folders.begin(), folders.end());
  std::sort(files.begin(), files.end());
  if (folder_ != "\\")
    new QListWidgetItem("\\..", list_);
  for (const std::string& name : folders) {
    auto* item = new QListWidgetItem("\\" + Q(name), list_);
    item->setData(Qt::UserRole, Q(name));
  }
  for (const std::string& name : files) {
    auto* item = new QListWidgetItem(Q(name), list_);
    item->setData(Qt::UserRole, Q(name));
    item->setData(Qt::UserRole + 1, true);
  }
}

void CDlgChooseFile::Activate() {
  QListWidgetItem* item = list_->currentItem();
  if (!item)
    return;
  if (item->data(Qt::UserRole + 1).toBool()) {
    TrySave();
    return;
  }
  std::string name = S(item->data(Qt::UserRole).toString());
  if (name.empty())
    Open(FolderOf(folder_.substr(0, folder_.size() - 1)));
  else
    Open(folder_ + name + "\\");
}

std::string CDlgChooseFile::GetFile() const {
  QListWidgetItem* item = list_->currentItem();
  if (!item || !item->data(Qt::UserRole + 1).toBool())
    return {};
  return folder_ + S(item->data(Qt::UserRole).toString());
}

bool CDlgChooseFile::Validate() {
  if (GetFile().empty()) {
    Message(this, "PLEASE FILL DATA");
    return false;
  }
  return true;
}

QWidget* FileRow(QLineEdit* field, const std::string& suffix) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  QPushButton* browse = Button("...");
  browse->setAccessibleName(Tr("DIALOG_CHOOSE_FILE_TITLE"));
  browse->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  browse->setFixedWidth(30);
  layout->addWidget(field, 1);
  layout->addWidget(browse);
  QObject::connect(browse, &QPushButton::clicked, field, [field, suffix] {
    Later(field, [field, suffix] {
      CDlgChooseFile dialog(field->window(), S(field->text().trimmed()), suffix);
      if (dialog.Run() == QDialog::Accepted)
        field->setText(Q(dialog.GetFile()));
    });
  });
  return row;
}

// ---- Add location ------------------------------------------------------------------------

CDlgAddLocation::CDlgAddLocation(QWidget* parent, bool cellMode)
    : CDlgBase(parent, "DIALOG_ADD_LOCATION_TITLE") {
  code_ = new QLineEdit;
  code_->setValidator(new QIntValidator(0, 0x7FFFFFFF, code_));
  code_->setInputMethodHints(Qt::ImhDigitsOnly);
  AddRow(Form(), Tr(cellMode ? "DIALOG_ADD_LOCATION_CELL" : "DIALOG_ADD_LOCATION_LAC"), code_);
}

std::int32_t CDlgAddLocation::GetCode() const {
  return code_->text().trimmed().toInt();
}

bool CDlgAddLocation::Validate() {
  bool ok = false;
  code_->text().trimmed().toLongLong(&ok);
  if (!ok || code_->text().trimmed().toLongLong() > 0x7FFFFFFF) {
    Message(this, "ENTER LOCATION");
    code_->setFocus();
    return false;
  }
  return true;
}

// ---- Place -------------------------------------------------------------------------------

std::vector<std::string> CDlgPlace::ListIcons() {
  std::vector<std::string> icons;
  QDir folder(Q(GetSkinImageFolder()));
  for (const QString& name : folder.entryList({"place_*.png"}, QDir::Files, QDir::Name))
    icons.push_back(S(name));
  return icons;
}

CDlgPlace::CDlgPlace(QWidget* parent, const CStrPlace& place)
    : CDlgBase(parent, "DIALOG_ADD_PLACE_TITLE"), place_(place) {
  name_ = new QLineEdit(Q(place.GetName()));
  desc_ = new QLineEdit(Q(place.GetDesc()));
  icon_ = new QComboBox;
  icon_->setIconSize(QSize(24, 24));
  std::vector<std::string> icons = ListIcons();
  std::string current =
      place.GetImage().empty() ? CTablePlaces::kUnknownPlaceImage : place.GetImage();
  if (std::find(icons.begin(), icons.end(), current) == icons.end())
    icons.insert(icons.begin(), current);
  for (const std::string& file : icons) {
    QIcon icon;
    if (const QImage* image = LoadSkinImage(file))
      icon = QIcon(QPixmap::fromImage(*image));
    // The name between "place_" and ".png" is what the user reads.
    QString shown = Q(file);
    if (shown.startsWith("place_"))
      shown = shown.mid(6);
    if (shown.endsWith(".png"))
      shown.chop(4);
    icon_->addItem(icon, shown, Q(file));
  }
  icon_->setCurrentIndex(icon_->findData(Q(current)));
  AddRow(Form(), Tr("DIALOG_ADD_PLACE_NAME"), name_);
  AddRow(Form(), Tr("DIALOG_ADD_PLACE_DESCRIPTION"), desc_);
  AddRow(Form(), Tr("DIALOG_ADD_PLACE_CHANGE_ICON"), icon_);
  name_->setFocus();
}

CStrPlace CDlgPlace::GetPlace() const {
  CStrPlace place = place_;
  place.SetName(S(name_->text().trimmed()));
  place.SetDesc(S(desc_->text().trimmed()));
  place.SetImage(S(icon_->currentData().toString()));
  return place;
}

bool CDlgPlace::Validate() {
  if (name_->text().trimmed().isEmpty()) {
    Message(this, "PLEASE FILL DATA");
    name_->setFocus();
    return false;
  }
  return true;
}

// ---- Time frame --------------------------------------------------------------------------

namespace {

QString TimeText(const platform::SYSTEMTIME& t) {
  return QString::asprintf("%02d:%02d", t.wHour, t.wMinute);
}

QLineEdit* TimeField(const QString& text) {
  auto* field = new QLineEdit(text);
  field->setPlaceholderText("HH:mm");
  field->setValidator(new QRegularExpressionValidator(
      QRegularExpression("^([01]?[0-9]|2[0-3])?(:[0-5]?[0-9]?)?$"), field));
  field->setInputMethodHints(Qt::ImhTime);
  return field;
}

}  // namespace

CDlgTimeFrame::CDlgTimeFrame(QWidget* parent, const CStrPeriod& period)
    : CDlgBase(parent, "DIALOG_TIME_FRAME_TITLE"), period_(period) {
  name_ = new QLineEdit(Q(period.GetName()));
  begin_ = TimeField(TimeText(period.GetStart()));
  end_ = TimeField(TimeText(period.GetEnd()));
  AddRow(Form(), Tr("DIALOG_TIME_FRAME_NAME"), name_);
  AddRow(Form(), Tr("DIALOG_TIME_FRAME_BEGIN"), begin_);
  AddRow(Form(), Tr("DIALOG_TIME_FRAME_END"), end_);
  name_->setFocus();
}

bool CDlgTimeFrame::ParseTime(const QString& text, int* hour, int* minute) {
  static const QRegularExpression kTime("^([01]?[0-9]|2[0-3]):([0-5][0-9])$");
  QRegularExpressionMatch match = kTime.match(text.trimmed());
  if (!match.hasMatch())
    return false;
  *hour = match.captured(1).toInt();
  *minute = match.captured(2).toInt();
  return true;
}

CStrPeriod CDlgTimeFrame::GetPeriod() const {
  CStrPeriod period = period_;
  period.SetName(S(name_->text().trimmed()));
  int h = 0;
  int m = 0;
  if (ParseTime(begin_->text(), &h, &m))
    period.SetStart(h, m);
  if (ParseTime(end_->text(), &h, &m))
    period.SetEnd(h, m);
  return period;
}

bool CDlgTimeFrame::Validate() {
  int h = 0;
  int m = 0;
  QLineEdit* missing = nullptr;
  if (name_->text().trimmed().isEmpty())
    missing = name_;
  else if (!ParseTime(begin_->text(), &h, &m))
    missing = begin_;
  else if (!ParseTime(end_->text(), &h, &m))
    missing = end_;
  if (missing) {
    Message(this, "PLEASE FILL DATA");
    missing->setFocus();
    return false;
  }
  if (!GetPeriod().IsValid()) {
    Message(this, "TIME FRAME END BEFORE START");
    end_->setFocus();
    return false;
  }
  return true;
}

// ---- Weekdays ----------------------------------------------------------------------------

namespace {

// Monday first, as the week reads.
const struct {
  int dayOfWeek;
  const char* textId;
} kDays[] = {
    {1, TEXT_ID("DIALOG_WEEK_MONDAY")},    {2, TEXT_ID("DIALOG_WEEK_TUESDAY")},
    {3, TEXT_ID("DIALOG_WEEK_WEDNESDAY")}, {4, TEXT_ID("DIALOG_WEEK_THURSDAY")},
    {5, TEXT_ID("DIALOG_WEEK_FRIDAY")},    {6, TEXT_ID("DIALOG_WEEK_SATURDAY")},
    {0, TEXT_ID("DIALOG_WEEK_SUNDAY")},
};

}  // namespace

CWeekBoxes::CWeekBoxes(QWidget* parent, bool withEnabled) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setVerticalSpacing(0);
  int row = 0;
  if (withEnabled) {
    enabled_ = new QCheckBox(Tr("ACTION ENABLED"));
    enabled_->setAccessibleName(enabled_->text());
    grid->addWidget(enabled_, row++, 0, 1, 2);
  }
  int i = 0;
  for (const auto& day : kDays) {
    auto* box = new QCheckBox(Tr(day.textId));
    box->setAccessibleName(box->text());
    days_[static_cast<std::size_t>(day.dayOfWeek)] = box;
    // Two columns keep the seven days inside a narrow screen.
    grid->addWidget(box, row + i / 2, i % 2);
    ++i;
  }
}

void CWeekBoxes::SetMask(std::int32_t mask) {
  CStrAction action;
  action.SetIntOp2(mask);
  for (int day = 0; day < 7; ++day)
    Day(day)->setChecked(action.IsActiveOnDay(day));
  if (enabled_)
    enabled_->setChecked(action.IsEnabled());
}

std::int32_t CWeekBoxes::GetMask(bool enabledWhenHidden) const {
  std::array<bool, 7> active{};
  for (int day = 0; day < 7; ++day)
    active[static_cast<std::size_t>(day)] = Day(day)->isChecked();
  return CStrAction::MakeWeekMask(enabled_ ? enabled_->isChecked() : enabledWhenHidden, active);
}

CDlgWeek::CDlgWeek(QWidget* parent, std::int32_t mask) : CDlgBase(parent, "DIALOG_WEEK_TITLE") {
  boxes_ = new CWeekBoxes(this, false);
  boxes_->SetMask(mask);
  CStrAction action;
  action.SetIntOp2(mask);
  enabled_ = action.IsEnabled();
  Form()->addRow(boxes_);
}

std::int32_t CDlgWeek::GetMask() const {
  return boxes_->GetMask(enabled_);
}

// ---- Action ------------------------------------------------------------------------------

const std::vector<CDlgAction::Kind>& CDlgAction::Kinds() {
  static const std::vector<Kind> kKinds = {
      {MGR_ID_WIFI,
       TEXT_ID("EVENT_LOG_MGR_WIFI_NAME"),
       kStatus,
       {{0, TEXT_ID("EVENT_LOG_MGR_WIFI_STATUS_OFF")},
        {1, TEXT_ID("EVENT_LOG_MGR_WIFI_STATUS_ON")}}},
      {MGR_ID_BT,
       TEXT_ID("EVENT_LOG_MGR_BT_NAME"),
       kStatus,
       {{0, TEXT_ID("EVENT_LOG_MGR_BT_STATUS_OFF")},
        {1, TEXT_ID("EVENT_LOG_MGR_BT_STATUS_CONNECTABLE")},
        {2, TEXT_ID("EVENT_LOG_MGR_BT_STATUS_DISCOVERABLE")}}},
      {MGR_ID_SPEAKER,
       TEXT_ID("EVENT_LOG_MGR_SPEAKER_NAME"),
       kStatus | kVolume,
       {{0, TEXT_ID("EVENT_LOG_MGR_SPEAKER_STATUS_OFF")},
        {1, TEXT_ID("EVENT_LOG_MGR_SPEAKER_STATUS_VIBRATE")},
        {2, TEXT_ID("EVENT_LOG_MGR_SPEAKER_STATUS_ON")}}},
      {MGR_ID_PHONE,
       TEXT_ID("EVENT_LOG_MGR_PHONE_NAME"),
       kStatus,
       {{0, TEXT_ID("EVENT_LOG_MGR_PHONE_STATUS_ON")},
        {1, TEXT_ID("EVENT_LOG_MGR_PHONE_STATUS_OFF")}}},
      {MGR_ID_CONNECTIONS,
       TEXT_ID("EVENT_LOG_MGR_CONNECTIONS_NAME"),
       kStatus,
       {{0, TEXT_ID("EVENT_LOG_MGR_CONNECTIONS_STATUS_DISABLED")},
        {1, TEXT_ID("EVENT_LOG_MGR_CONNECTIONS_STATUS_OFF")},
        {2, TEXT_ID("EVENT_LOG_MGR_CONNECTIONS_STATUS_ON")}}},
      {MGR_ID_BAND,
       TEXT_ID("EVENT_LOG_MGR_BAND_NAME"),
       kStatus,
       {{0, TEXT_ID("EVENT_LOG_MGR_BAND_STATUS_AUTO")},
        {1, TEXT_ID("EVENT_LOG_MGR_BAND_STATUS_2G")},
        {2, TEXT_ID("EVENT_LOG_MGR_BAND_STATUS_3G")}}},
      {MGR_ID_BEAM,
       TEXT_ID("EVENT_LOG_MGR_BEAM_NAME"),
       kStatus,
       {{0, TEXT_ID("EVENT_LOG_MGR_BEAM_STATUS_OFF")},
        {1, TEXT_ID("EVENT_LOG_MGR_BEAM_STATUS_ON")}}},
      {MGR_ID_CALL_FORWARD,
       TEXT_ID("EVENT_LOG_MGR_CALLFORWARD_NAME"),
       kStatus | kNumber,
       {{0, TEXT_ID("EVENT_LOG_MGR_CALLFORWARD_STATUS_OFF")},
        {1, TEXT_ID("EVENT_LOG_MGR_CALLFORWARD_STATUS_ON")}}},
      {MGR_ID_BACKLIGHT, TEXT_ID("EVENT_LOG_MGR_BACKLIGHT_NAME"), kBacklight, {}},
      {MGR_ID_CPU,
       TEXT_ID("EVENT_LOG_MGR_CPU_NAME"),
       kStatus,
       {{static_cast<int>(platform::POWER_STATE_SUSPEND), TEXT_ID("ACTION POWER SUSPEND")},
        {static_cast<int>(platform::POWER_STATE_RESET), TEXT_ID("ACTION POWER RESET")},
        {static_cast<int>(platform::POWER_STATE_IDLE), TEXT_ID("ACTION POWER IDLE")},
        {static_cast<int>(platform::POWER_STATE_ON), TEXT_ID("ACTION POWER ON")},
        {static_cast<int>(platform::POWER_STATE_OFF), TEXT_ID("ACTION POWER OFF")}}},
      {schedule::kActionSms, TEXT_ID("ACTION SMS"), kTo | kText, {}},
      {schedule::kActionMail, TEXT_ID("ACTION MAIL"), kTo | kSubject | kText, {}},
      {schedule::kActionRingTone, TEXT_ID("DIALOG_RING_TITLE"), kFile | kRing, {}},
      {schedule::kActionTheme, TEXT_ID("DIALOG_THEME_TITLE"), kFile, {}},
      {schedule::kActionOpenFile, TEXT_ID("ACTION OPEN FILE"), kFile, {}},
      {schedule::kActionLed, TEXT_ID("ACTION LED"), kLed, {}},
  };
  return kKinds;
}

const CDlgAction::Kind* CDlgAction::FindKind(int mgrId) {
  for (const Kind& kind : Kinds()) {
    if (kind.mgrId == mgrId)
      return &kind;
  }
  return nullptr;
}

const std::vector<std::pair<const char*, const char*>>& CDlgAction::RingTypes() {
  // The ring script each type writes for the phone's ring (the empty script leaves it alone).
  static const std::vector<std::pair<const char*, const char*>> kTypes = {
      {TEXT_ID("RING"), "ring"},
      {TEXT_ID("INCREASING RING"), "increasing"},
      {TEXT_ID("RING ONCE"), "once"},
      {TEXT_ID("VIBRATE"), "vibrate"},
      {TEXT_ID("VIBRATE AND RING"), "vibrate+ring"},
      {TEXT_ID("VIBRATE AFTER RING"), "vibrate,ring"},
      {TEXT_ID("NONE"), "none"},
  };
  return kTypes;
}

std::string CDlgAction::Describe(const CStrAction& action) {
  const Kind* kind = FindKind(action.GetMgrId());
  if (!kind)
    return platform::Format("%d", action.GetMgrId());
  std::string text = Text(kind->nameId);
  if (kind->fields & kStatus) {
    for (const auto& [value, nameId] : kind->statuses) {
      if (value == action.GetIntOp1())
        text += ": " + Text(nameId);
    }
  }
  if (kind->fields & kBacklight) {
    text += platform::Format(": %d / %d", action.GetIntOp1() & 0xFFFF,
                             (action.GetIntOp1() >> 16) & 0xFFFF);
  }
  if (kind->fields & (kTo | kFile))
    text += ": " + action.GetSzOp1();
  if ((kind->fields & kLed) && action.GetIntOp1() == 0)
    text += ": " + Text("OFF");
  if (!action.IsEnabled())
    text += " (" + Text("ACTION DISABLED") + ")";
  return text;
}

CDlgAction::CDlgAction(QWidget* parent, const CStrAction& action)
    : CDlgBase(parent, "ACTION TITLE"), action_(action) {
  kind_ = new QComboBox;
  for (const Kind& kind : Kinds())
    kind_->addItem(Tr(kind.nameId), kind.mgrId);
  direction_ = new QComboBox;
  direction_->addItem(Tr("DIALOG_PROFILES_ON_ENTER"), CStrAction::TYPE_ENTER);
  direction_->addItem(Tr("DIALOG_PROFILES_ON_EXIT"), CStrAction::TYPE_LEAVE);
  status_ = new QComboBox;
  volume_ = new QSpinBox;
  volume_->setRange(-1, 5);
  volume_->setSpecialValueText(Tr("NONE"));
  battery_ = new QSpinBox;
  battery_->setRange(0, 10);
  ac_ = new QSpinBox;
  ac_->setRange(0, 10);
  number_ = new QLineEdit;
  number_->setInputMethodHints(Qt::ImhDialableCharactersOnly);
  to_ = new QLineEdit;
  subject_ = new QLineEdit;
  text_ = new QPlainTextEdit;
  text_->setTabChangesFocus(true);
  text_->setFixedHeight(60);
  file_ = new QLineEdit;
  ringType_ = new QComboBox;
  for (const auto& [nameId, script] : RingTypes())
    ringType_->addItem(Tr(nameId), QString(script));
  ringVolume_ = new QSpinBox;
  ringVolume_->setRange(1, 5);
  led_ = new QCheckBox(Tr("ACTION LED BLINK"));
  week_ = new CWeekBoxes(this, true);

  AddRow(Form(), Tr("ACTION KIND"), kind_);
  AddRow(Form(), Tr("ACTION DIRECTION"), direction_);
  auto row = [this](unsigned field, const QString& caption, QWidget* widget) {
    AddRow(Form(), caption, widget);
    rows_.emplace_back(field, widget);
  };
  row(kStatus, Tr("ACTION STATUS"), status_);
  row(kVolume, Tr("DIALOG_SOUND_LEVEL_TITLE"), volume_);
  row(kBacklight, Tr("ACTION BACKLIGHT BATTERY"), battery_);
  row(kBacklight, Tr("ACTION BACKLIGHT AC"), ac_);
  row(kNumber, Tr("NUMBER"), number_);
  row(kTo, Tr("DIALOG_MESSAGE_TO"), to_);
  row(kSubject, Tr("DIALOG_MESSAGE_SUBJECT"), subject_);
  row(kText, Tr("DIALOG_MESSAGE_TEXT"), text_);
  AddRow(Form(), Tr("ACTION FILE"), FileRow(file_));
  file_->setAccessibleName(Tr("ACTION FILE"));
  rows_.emplace_back(kFile, file_->parentWidget());
  row(kRing, Tr("DIALOG_PROFILES_TYPE"), ringType_);
  row(kRing, Tr("ACTION RING VOLUME"), ringVolume_);
  QWidget* ledRow = CheckRow(led_);
  Form()->addRow(ledRow);
  rows_.emplace_back(kLed, ledRow);
  auto* days = new QLabel(Tr("DIALOG_WEEK_TITLE"));
  Form()->addRow(days);
  Form()->addRow(week_);

  // The action as stored.
  int kindIndex = kind_->findData(action.GetMgrId());
  kind_->setCurrentIndex(kindIndex >= 0 ? kindIndex : 0);
  direction_->setCurrentIndex(action.GetType() == CStrAction::TYPE_LEAVE ? 1 : 0);
  KindChanged();
  const Kind& kind = CurrentKind();
  if (kind.fields & kStatus) {
    int s = status_->findData(action.GetIntOp1());
    status_->setCurrentIndex(s >= 0 ? s : 0);
  }
  volume_->setValue(std::clamp(action.GetIntOp3(), -1, 5));
  if (kind.fields & kBacklight && action.GetIntOp1() >= 0) {
    battery_->setValue(action.GetIntOp1() & 0xFFFF);
    ac_->setValue((action.GetIntOp1() >> 16) & 0xFFFF);
  }
  if (kind.fields & kNumber)
    number_->setText(Q(action.GetSzOp1()));
  if (kind.fields & kTo) {
    to_->setText(Q(action.GetSzOp1()));
    subject_->setText(Q(action.GetSzOp2()));
    text_->setPlainText(Q(action.GetSzOp3()));
  }
  if (kind.fields & kFile)
    file_->setText(Q(action.GetSzOp1()));
  if (kind.fields & kRing) {
    int t = ringType_->findData(Q(action.GetSzOp2()));
    ringType_->setCurrentIndex(t >= 0 ? t : 0);
    ringVolume_->setValue(std::clamp(action.GetIntOp1(), 1, 5));
  }
  led_->setChecked(!(kind.fields & kLed) || action.GetIntOp1() != 0);
  week_->SetMask(action.GetIntOp2());
  connect(kind_, &QComboBox::currentIndexChanged, this, [this] { KindChanged(); });
  kind_->setFocus();
}

const CDlgAction::Kind& CDlgAction::CurrentKind() const {
  const Kind* kind = FindKind(kind_->currentData().toInt());
  return kind ? *kind : Kinds().front();
}

void CDlgAction::KindChanged() {
  const Kind& kind = CurrentKind();
  status_->clear();
  for (const auto& [value, nameId] : kind.statuses)
    status_->addItem(Tr(nameId), value);
  for (const auto& [field, widget] : rows_) {
    bool shown = (kind.fields & field) != 0;
    // An SMS has no subject.
    if (widget == subject_ && !(kind.fields & kSubject))
      shown = false;
    SetRowVisible(Form(), widget, shown);
  }
  // The file field's caption names what the file is for.
  const char* fileCaption = kind.mgrId == schedule::kActionTheme      ? "DIALOG_THEME_TITLE"
                            : kind.mgrId == schedule::kActionRingTone ? "DIALOG_PROFILES_TONE"
                                                                      : "DIALOG_CHOOSE_FILE_TITLE";
  if (QLabel* label = CaptionOf(file_->parentWidget()))
    label->setText(Tr(fileCaption));
  file_->setAccessibleName(Tr(fileCaption));
}

CStrAction CDlgAction::GetAction() const {
  CStrAction action = action_;
  const Kind& kind = CurrentKind();
  action.SetMgrId(kind.mgrId);
  action.SetType(direction_->currentData().toInt());
  action.SetSzOp1("");
  action.SetSzOp2("");
  action.SetSzOp3("");
  action.SetIntOp1(-1);
  action.SetIntOp3(-1);
  if (kind.fields & kStatus)
    action.SetIntOp1(status_->currentData().toInt());
  if (kind.fields & kVolume)
    action.SetIntOp3(volume_->value());
  if (kind.fields & kBacklight)
    action.SetIntOp1(ac_->value() * 65536 + battery_->value());
  if (kind.fields & kNumber)
    action.SetSzOp1(S(number_->text().trimmed()));
  if (kind.fields & kTo)
    action.SetSzOp1(S(to_->text().trimmed()));
  if (kind.fields & kSubject)
    action.SetSzOp2(S(subject_->text()));
  if (kind.fields & kText)
    action.SetSzOp3(S(text_->toPlainText()));
  if (kind.fields & kFile)
    action.SetSzOp1(S(file_->text().trimmed()));
  if (kind.fields & kRing) {
    action.SetSzOp2(S(ringType_->currentData().toString()));
    action.SetIntOp1(ringVolume_->value());
  }
  if (kind.fields & kLed)
    action.SetIntOp1(led_->isChecked() ? 1 : 0);
  action.SetIntOp2(week_->GetMask());
  return action;
}

bool CDlgAction::Validate() {
  const Kind& kind = CurrentKind();
  QWidget* missing = nullptr;
  if ((kind.fields & kNumber) && status_->currentData().toInt() != 0 &&
      number_->text().trimmed().isEmpty())
    missing = number_;
  else if ((kind.fields & kTo) && to_->text().trimmed().isEmpty())
    missing = to_;
  else if ((kind.fields & kText) && !(kind.fields & kSubject) &&
           text_->toPlainText().trimmed().isEmpty())
    missing = text_;
  else if ((kind.fields & kFile) && file_->text().trimmed().isEmpty())
    missing = file_;
  if (missing) {
    Message(this, "PLEASE FILL DATA");
    missing->setFocus();
    return false;
  }
  return true;
}
