#include "ui/PageOptions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <map>
#include <vector>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "location/CellHistory.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "managers/BTMgr.h"
#include "managers/BacklightMgr.h"
#include "managers/MessageMgr.h"
#include "platform/Mosutil.h"
#include "ui/SettingsUi.h"
#include "ui/WindowMain.h"

using namespace settingsui;

namespace {

CRegistrySettings* Settings() {
  return CRegistrySettings::Instance();
}

QCheckBox* Check(const char* captionId, const char* key) {
  auto* box = new QCheckBox(Tr(captionId));
  box->setAccessibleName(box->text());
  box->setChecked(Settings()->GetDWORD(key) != 0);
  return box;
}

QSpinBox* Spin(int min, int max, const char* key) {
  auto* spin = new QSpinBox;
  spin->setRange(min, max);
  spin->setValue(static_cast<int>(Settings()->GetDWORD(key)));
  spin->setProperty("shown", spin->value());
  return spin;
}

// Writes a number the user changed (a stored value out of the box's range is left alone until
// then); true when it was written.
bool PutSpin(const char* key, QSpinBox* spin) {
  if (spin->value() == spin->property("shown").toInt())
    return false;
  Settings()->SetDWORD(key, static_cast<platform::DWORD>(spin->value()));
  return true;
}

// Writes a number; true when it changed.
bool Put(const char* key, int value) {
  auto old = Settings()->GetDWORD(key);
  Settings()->SetDWORD(key, static_cast<platform::DWORD>(value));
  return old != static_cast<platform::DWORD>(value);
}

bool Put(const char* key, bool value) {
  return Put(key, value ? 1 : 0);
}

constexpr const char* kThemeKey = "theme";
constexpr const char* kLanguageKey = "language";
constexpr const char* kAllowCloseKey = "allow_windows_close_tlv";

}  // namespace

// ---- Options 1 ---------------------------------------------------------------------------

CPageOptions1::CPageOptions1() : CSettingsPage("PAGE OPTIONS1") {
  auto* refreshGroup = new QGroupBox(Tr("DIALOG_OPTIONS1_GROUP_REFRESH_LOCATION"));
  refreshGroup->setAccessibleName(refreshGroup->title());
  auto* refreshForm = NewForm();
  refreshGroup->setLayout(refreshForm);
  refresh_ = Spin(0, 1440, CRilMgr::kRefreshMinutesKey);
  AddRow(refreshForm, Tr("DIALOG_OPTIONS1_REFRESH"), refresh_);
  awake_ = Check("DIALOG_OPTIONS1_AWAKE", CRilMgr::kAwakeToRefreshKey);
  refreshForm->addRow(CheckRow(awake_));

  auto* modeGroup = new QGroupBox(Tr("DIALOG_OPTIONS1_GROUP_CHANGE_MODE"));
  modeGroup->setAccessibleName(modeGroup->title());
  auto* modeColumn = new QVBoxLayout(modeGroup);
  automatic_ = new QRadioButton(Tr("DIALOG_OPTIONS1_AUTOMATIC"));
  manual_ = new QRadioButton(Tr("DIALOG_OPTIONS1_MANUALLY"));
  automatic_->setAccessibleName(automatic_->text());
  manual_->setAccessibleName(manual_->text());
  modeColumn->addWidget(automatic_);
  modeColumn->addWidget(manual_);
  bool manual = Settings()->GetDWORD(CScheduleEngine::kManualModeKey) != 0;
  (manual ? manual_ : automatic_)->setChecked(true);

  backlight_ = Check("DIALOG_OPTIONS1_BACKLIGHT", CBacklightMgr::kModeSetting);
  tray_ = Check("DIALOG_OPTIONS1_TRAY_ICON", CWindowMain::kTrayIconSetting);

  mail_ = new QComboBox;
  std::vector<std::string> accounts;
  if (CMessageMgr* message = CMessageMgr::GetInstance())
    message->ListMailProviders(&accounts);
  int provider = static_cast<int>(Settings()->GetDWORD(CScheduleEngine::kMailProviderKey));
  for (std::size_t i = 0; i < accounts.size(); ++i)
    mail_->addItem(Q(accounts[i]), static_cast<int>(i));
  if (mail_->findData(provider) < 0)
    mail_->addItem(QString::number(provider), provider);
  mail_->setCurrentIndex(mail_->findData(provider));

  theme_ = new QComboBox;
  QDir themes(Q(platform::GetCurrentDirectory() + "/themes"));
  for (const QString& name : themes.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    theme_->addItem(name, name);
  QString theme = Q(Settings()->GetString(kThemeKey));
  if (theme_->findData(theme) < 0)
    theme_->addItem(theme, theme);
  theme_->setCurrentIndex(theme_->findData(theme));

  events_ = new QLabel;
  events_->setWordWrap(true);

  auto* form = NewForm();
  form->addRow(refreshGroup);
  form->addRow(modeGroup);
  form->addRow(CheckRow(backlight_));
  form->addRow(CheckRow(tray_));
  AddRow(form, Tr("DIALOG_OPTIONS1_MAIL"), mail_);
  AddRow(form, Tr("DIALOG_OPTIONS1_THEME"), theme_);
  form->addRow(events_);
  Column()->addLayout(form);
  Column()->addStretch(1);
}

void CPageOptions1::Shown() {
  bool got = Settings()->GetDWORD(CRilMgr::kNotificationReceivedKey) != 0;
  events_->setText(Tr(got ? "DEVICE GOT EVENTS" : "DEVICE DIDNT GET EVENTS"));
  events_->setAccessibleName(events_->text());
}

void CPageOptions1::Save(SettingsSaveOutcome* outcome) {
  bool refreshChanged = PutSpin(CRilMgr::kRefreshMinutesKey, refresh_);
  refreshChanged |= Put(CRilMgr::kAwakeToRefreshKey, awake_->isChecked());
  if (refreshChanged) {
    if (CRilMgr* ril = CRilMgr::GetInstance())
      ril->ApplyRefreshSettings();
  }
  if (Put(CScheduleEngine::kManualModeKey, manual_->isChecked()))
    DataChanged();
  Put(CBacklightMgr::kModeSetting, backlight_->isChecked());
  outcome->trayIconChanged |= Put(CWindowMain::kTrayIconSetting, tray_->isChecked());
  Put(CScheduleEngine::kMailProviderKey, mail_->currentData().toInt());
  std::string theme = S(theme_->currentData().toString());
  if (theme != Settings()->GetString(kThemeKey)) {
    Settings()->SetString(kThemeKey, theme);
    outcome->restartToApply = true;
  }
}

// ---- Options 2 ---------------------------------------------------------------------------

CPageOptions2::CPageOptions2() : CSettingsPage("PAGE OPTIONS2") {
  language_ = new QComboBox;
  std::map<std::string, std::string> nameToTag;
  std::string defaultTag;
  CTexts::GetInstance()->ListLanguages(&nameToTag, &defaultTag);
  std::string tag = Settings()->GetString(kLanguageKey);
  for (const auto& [name, t] : nameToTag)
    language_->addItem(Q(name), Q(t));
  int index = language_->findData(Q(tag));
  if (index < 0)
    index = language_->findData(Q(defaultTag));
  language_->setCurrentIndex(index);
  shownTag_ = language_->currentData().toString();

  lac_ = Check("INTELLIGENT LAC MODE", CScheduleEngine::kIntelligentLacKey);
  close_ = Check("DIALOG_OPTIONS2_ALLOW_WINDOWS_CLOSE_TLV", kAllowCloseKey);
  bt_ = Check("DIALOG_OPTIONS2_TURN_ON_OFF_ON_CALL", CBTMgr::kIntelligentBtKey);
  awake_ = Check("DIALOG_OPTIONS2_AWAKE_TO_EXECUTE_ACTIONS", CScheduleEngine::kAwakeToExecuteKey);
  cells_ = Spin(1, 200, CCellHistory::kCapacityKey);
  grace_ = Spin(0, kMaxGraceSeconds, kGraceKey);

  auto* form = NewForm();
  AddRow(form, Tr("LANGUAGE"), language_);
  form->addRow(CheckRow(lac_));
  form->addRow(CheckRow(close_));
  form->addRow(CheckRow(bt_));
  form->addRow(CheckRow(awake_));
  AddRow(form, Tr("DIALOG_OPTIONS2_CELLS_ON_SCREEN"), cells_);
  AddRow(form, Tr("OPTIONS LOCATION GRACE"), grace_);
  Column()->addLayout(form);
  Column()->addStretch(1);
}

void CPageOptions2::Save(SettingsSaveOutcome* outcome) {
  if (language_->currentIndex() >= 0) {
    QString tag = language_->currentData().toString();
    if (tag != shownTag_) {
      Settings()->SetString(kLanguageKey, S(tag));
      outcome->restartToApply = true;
    }
  }
  Put(CScheduleEngine::kIntelligentLacKey, lac_->isChecked());
  Put(kAllowCloseKey, close_->isChecked());
  Put(CBTMgr::kIntelligentBtKey, bt_->isChecked());
  Put(CScheduleEngine::kAwakeToExecuteKey, awake_->isChecked());
  // The history takes its size when the program starts.
  outcome->restartToApply |= PutSpin(CCellHistory::kCapacityKey, cells_);
  PutSpin(kGraceKey, grace_);
}
