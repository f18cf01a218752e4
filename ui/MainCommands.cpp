#include "ui/MainCommands.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include <malloc.h>

#include <memory>

#include "app/BaseException.h"
#include "app/Ids.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Stopwatch.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/StrAction.h"
#include "data/StrLocation.h"
#include "data/StrPeriod.h"
#include "data/TableActions.h"
#include "data/TableLocation.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "managers/BTMgr.h"
#include "managers/BacklightMgr.h"
#include "managers/BandMgr.h"
#include "managers/CallForwardMgr.h"
#include "managers/ConnectionsMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/SpeakerMgr.h"
#include "managers/WifiMgr.h"
#include "platform/Backlight.h"
#include "platform/ControlPanel.h"
#include "platform/Mosutil.h"
#include "platform/PowerStatus.h"
#include "platform/Ril.h"
#include "platform/Shell.h"
#include "ui/ButtonOwnDrawImage.h"
#include "ui/OptionDialog.h"
#include "ui/PageProfiles.h"
#include "ui/SettingsSheet.h"
#include "ui/SmallDialogs.h"
#include "ui/WindowMain.h"

namespace {

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// Option ids of the feature dialogs: a state is kState + the status it asks for; the buttons that
// open the phone's own settings have ids of their own. None is the cancel id.
constexpr int kState = 1000;
constexpr int kSettings = 2000;
constexpr int kManage = 2001;
constexpr int kCommManager = 2002;

// The places dialog's options.
enum PlaceOption {
  kPlaces = 3000,
  kAddPlace,
  kAssignPlace,
  kSchedule,
  kActions,
  kLock,
  kUnlock,
};

// The phone's own programs the dialogs start.
constexpr const char* kBluetoothSettingsArgs = "cplmain.cpl,23";
constexpr const char* kCommManagerImage = "\\windows\\CommManager.exe";

// How much the diagnostic commands lower the battery (percent) and the signal (dBm).
constexpr int kBatteryStep = 10;
constexpr int kSignalStep = 10;

// A list to pick one entry from, with "SAVE" / "CANCEL".
class CDialogChoose : public CSmallDialog {
  Q_OBJECT

 public:
  CDialogChoose(QWidget* owner, const char* title, const QStringList& entries)
      : CSmallDialog(owner, title) {
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->addItems(entries);
    list_->setAccessibleName(windowTitle());
    if (!entries.isEmpty())
      list_->setCurrentRow(0);
    connect(list_, &QListWidget::itemActivated, this, [this] { accept(); });
    layout->addWidget(list_);
    AddKeys(layout, true);
    list_->setFocus();
  }
  int Row() const { return list_->currentRow(); }
  void SetRow(int row) { list_->setCurrentRow(row); }

 private:
  QListWidget* list_;
};

// The name of a new place.
class CDialogPlaceName : public CSmallDialog {
  Q_OBJECT

 public:
  CDialogPlaceName(QWidget* owner, const QString& name)
      : CSmallDialog(owner, TEXT_ID("DIALOG_ADD_PLACE_TITLE")) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(name, this);
    AddRow(form, TEXT_ID("DIALOG_ADD_PLACE_NAME"), name_);
    layout->addLayout(form);
    AddKeys(layout, true);
    name_->setFocus();
    name_->selectAll();
  }
  std::string Name() const { return name_->text().trimmed().toStdString(); }

 protected:
  void accept() override {
    if (Name().empty()) {
      platform::TextBox(0, Text("PLEASE FILL DATA"));
      return;
    }
    QDialog::accept();
  }

 private:
  QLineEdit* name_;
};

// The data-connection entries with their enabled flag, switched on the spot.
class CDialogConnections : public CSmallDialog {
  Q_OBJECT

 public:
  CDialogConnections(QWidget* owner, CConnectionsMgr* mgr)
      : CSmallDialog(owner, TEXT_ID("PAGE CONNECTIONS")) {
    auto* layout = new QVBoxLayout(this);
    std::vector<CRasConnection> entries = mgr->GetEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      auto* box = new QCheckBox(QString::fromStdString(entries[i].GetName()), this);
      box->setAccessibleName(box->text());
      box->setChecked(entries[i].IsEnabled());
      connect(box, &QCheckBox::toggled, this,
              [mgr, i](bool on) { mgr->SetEnabledAt(on, static_cast<int>(i)); });
      layout->addWidget(box);
    }
    AddKeys(layout, false);
  }
};

}  // namespace

void CMainCommands::Register(CWindowMain* window, CDB* db) {
  auto commands = std::make_shared<CMainCommands>(window, db);
  auto on = [window, commands](int id, void (CMainCommands::*method)()) {
    window->RegisterCommand(id, [commands, method] { ((*commands).*method)(); });
  };
  on(CTRL_BT, &CMainCommands::OnBluetooth);
  on(CTRL_SPEAKER, &CMainCommands::OnSpeaker);
  on(CTRL_WIFI, &CMainCommands::OnWifi);
  on(CTRL_PHONE, &CMainCommands::OnPhone);
  on(CTRL_CONNECTIONS, &CMainCommands::OnConnections);
  on(CTRL_BAND, &CMainCommands::OnBand);
  on(CTRL_PLACE, &CMainCommands::OnPlaces);
  for (int id = CMD_VOLUME_0; id <= CMD_VOLUME_5; ++id) {
    window->RegisterCommand(id, [commands, id] { commands->SetVolumeLevel(id - CMD_VOLUME_0); });
  }
  window->RegisterCommand(CMD_CALL_FORWARD_OFF, [commands] { commands->CallForwarding(false); });
  window->RegisterCommand(CMD_CALL_FORWARD_ON, [commands] { commands->CallForwarding(true); });
  on(CMD_BACKLIGHT, &CMainCommands::Backlight);
  on(CMD_TODAY_THEME, &CMainCommands::TodayTheme);
  on(CMD_RING_TONE, &CMainCommands::RingTone);
  on(CMD_MEMORY, &CMainCommands::MemoryReport);
  on(CMD_ABOUT, &CMainCommands::About);
  on(CMD_HELP, &CMainCommands::Help);
  on(CMD_TEST_LOWER_BATTERY, &CMainCommands::LowerBattery);
  on(CMD_TEST_LOWER_SIGNAL, &CMainCommands::LowerSignal);
  window->RegisterCommand(CMD_TEST_LOCATION_1,
                          [commands] { commands->TestLocation(kTestCell1, kTestLac1); });
  window->RegisterCommand(CMD_TEST_LOCATION_2,
                          [commands] { commands->TestLocation(kTestCell2, kTestLac2); });
  on(CMD_TEST_RADIO_CHECK, &CMainCommands::RadioCheck);
  on(CMD_LOCATION_ADD, &CMainCommands::AddPlace);
  on(CMD_LOCATION_ASSIGN, &CMainCommands::AssignToPlace);
  window->RegisterCommand(CMD_LOCATION_SCHEDULE, [commands] { commands->ShowFrames(false); });
  window->RegisterCommand(CMD_LOCATION_ACTIONS, [commands] { commands->ShowFrames(true); });
}

void CMainCommands::Tell(const char* id) {
  platform::TextBox(window_->GetHandle(), Text(id));
}

COptionDialog* CMainCommands::NewOptions() {
  return new COptionDialog(window_, window_->GetSkin(), TEXT_ID("SELECT OPTION"));
}

void CMainCommands::AddState(COptionDialog& dialog, int control, int status, const char* skinId,
                             const char* captionId) {
  CButtonOwnDrawImage::Choice image;
  if (CButtonOwnDrawImage* button = window_->FindButton(control))
    image = button->GetImageForStatus(status, false);
  dialog.AddOption(kState + status, skinId, captionId, image);
}

std::optional<int> CMainCommands::AskState(int control, const char* skinId, int current,
                                           std::initializer_list<StateOption> states,
                                           const ExtraOption& extra) {
  std::unique_ptr<COptionDialog> dialog(NewOptions());
  for (const StateOption& s : states) {
    if (s.status != current)
      AddState(*dialog, control, s.status, skinId, s.captionId);
  }
  if (extra.captionId)
    dialog->AddOption(extra.id, "settings", extra.captionId);
  int answer = dialog->ShowModal();
  dialog.reset();
  if (answer == COptionDialog::kCancel)
    return std::nullopt;
  if (extra.captionId && answer == extra.id) {
    extra.run();
    return std::nullopt;
  }
  return answer - kState;
}

bool CMainCommands::AskTimeLimit(int* minutes) {
  COptionDialogTimeLimit dialog(window_, window_->GetSkin());
  int answer = dialog.ShowModal();
  if (answer == COptionDialog::kCancel)
    return false;
  *minutes = dialog.Minutes();
  return true;
}

void CMainCommands::OnBluetooth() {
  CMgr* mgr = CMgr::GetMgr(MGR_ID_BT);
  if (!mgr)
    return;
  auto openSettings = [this] {
    if (!platform::StartDeviceProgram(platform::kControlPanelImage, kBluetoothSettingsArgs))
      platform::ErrorBox(window_->GetHandle(), "%s", Text("ERROR APPLET BT").c_str());
  };
  std::optional<int> chosen = AskState(CTRL_BT, "bt", mgr->GetStatus(),
                                       {{BT_STATUS_CONNECTABLE, TEXT_ID("BT ON")},
                                        {BT_STATUS_DISCOVERABLE, TEXT_ID("BT DISCOVERABLE")},
                                        {BT_STATUS_OFF, TEXT_ID("BT OFF")}},
                                       {kSettings, TEXT_ID("SETTINGS"), openSettings});
  if (!chosen)
    return;
  int state = *chosen;
  if (state == BT_STATUS_OFF) {
    mgr->ForceStatus(BT_STATUS_OFF, 0, 0, 0);
    return;
  }
  int minutes = 0;
  if (!AskTimeLimit(&minutes))
    return;
  ForceWithLimit(mgr, state, minutes);
}

void CMainCommands::ForceWithLimit(CMgr* mgr, int state, int minutes) {
  if (minutes == 0)
    mgr->ForceStatus(state, 0, 0, 0);
  else
    mgr->ForceStatus(state, minutes, mgr->GetStatus(), 0);
}

void CMainCommands::OnBand() {
  CBandMgr* mgr = CBandMgr::GetInstance();
  if (!mgr)
    return;
  std::optional<int> chosen = AskState(CTRL_BAND, "band", mgr->GetStatus(),
                                       {{BAND_STATUS_AUTO, TEXT_ID("BAND AUTO")},
                                        {BAND_STATUS_2G, TEXT_ID("BAND 2G")},
                                        {BAND_STATUS_3G, TEXT_ID("BAND 3G")}});
  if (!chosen)
    return;
  int state = *chosen;
  if (state != BAND_STATUS_3G) {
    mgr->SetForceSwitch(true);
    mgr->ForceStatus(state, 0, 0, 0);
    mgr->SetForceSwitch(false);
    return;
  }
  int minutes = 0;
  if (!AskTimeLimit(&minutes))
    return;
  // The limit returns to 2G, the mode a 3G phone falls back to.
  if (minutes == 0)
    mgr->ForceStatus(BAND_STATUS_3G, 0, 0, 0);
  else
    mgr->ForceStatus(BAND_STATUS_3G, minutes, BAND_STATUS_2G, 0);
  mgr->SetForceSwitch(true);
}

void CMainCommands::OnSpeaker() {
  auto* mgr = dynamic_cast<CSpeakerMgr*>(CMgr::GetMgr(MGR_ID_SPEAKER));
  if (!mgr)
    return;
  constexpr int kVibrate = 1, kMute = 0, kOn = 2;
  std::optional<int> chosen = AskState(
      CTRL_SPEAKER, "speaker", mgr->GetStatus(),
      {{kVibrate, TEXT_ID("VIBRATE")}, {kMute, TEXT_ID("MUTE")}, {kOn, TEXT_ID("SOUND ON")}});
  if (!chosen)
    return;
  int state = *chosen;
  int minutes = 0;
  if (!AskTimeLimit(&minutes))
    return;
  if (state == kOn) {
    CDialogSoundLevel level(window_, mgr->GetVolumeLevel());
    if (!level.Ask())
      return;
    mgr->SetVolumeLevel(level.Level());
  }
  ForceWithLimit(mgr, state, minutes);
}

void CMainCommands::OnWifi() {
  CMgr* mgr = CMgr::GetMgr(MGR_ID_WIFI);
  if (!mgr)
    return;
  auto openCommManager = [this] {
    if (!platform::StartDeviceProgram(kCommManagerImage, ""))
      platform::ErrorBox(window_->GetHandle(), "%s", Text("ERROR COMM MANAGER").c_str());
  };
  std::optional<int> chosen =
      AskState(CTRL_WIFI, "wifi", mgr->GetStatus(),
               {{WIFI_STATUS_ON, TEXT_ID("ON")}, {WIFI_STATUS_OFF, TEXT_ID("OFF")}},
               {kCommManager, TEXT_ID("COMM MANAGER"), openCommManager});
  if (!chosen)
    return;
  int state = *chosen;
  int minutes = 0;
  if (!AskTimeLimit(&minutes))
    return;
  ForceWithLimit(mgr, state, minutes);
}

void CMainCommands::OnPhone() {
  CMobilePhoneMgr* mgr = CMobilePhoneMgr::GetInstance();
  if (!mgr)
    return;
  // The phone has two states: the time-limit dialog opens at once.
  int minutes = 0;
  if (!AskTimeLimit(&minutes))
    return;
  // Switched off by hand, the radio is not switched on again by the schedule's own reasons.
  mgr->SetManualOff(mgr->IsOn() ? 1 : 0);
  mgr->SwapStatus(minutes);
}

void CMainCommands::OnConnections() {
  CConnectionsMgr* mgr = CConnectionsMgr::GetInstance();
  if (!mgr)
    return;
  using C = CConnectionsMgr;
  auto manage = [this, mgr] {
    CDialogConnections entries(window_, mgr);
    entries.Ask();
    mgr->RefreshStatus(1);
  };
  std::optional<int> chosen = AskState(CTRL_CONNECTIONS, "connections", mgr->GetStatus(),
                                       {{C::STATUS_NONE_ENABLED, TEXT_ID("DISABLE")},
                                        {C::STATUS_NONE_CONNECTED, TEXT_ID("DISCONNECTED")},
                                        {C::STATUS_CONNECTED, TEXT_ID("CONNECTED")}},
                                       {kManage, TEXT_ID("MANAGE"), manage});
  if (!chosen)
    return;
  int state = *chosen;
  int minutes = 0;
  if (!AskTimeLimit(&minutes))
    return;
  int previous = mgr->GetStatus();
  switch (state) {
    case C::STATUS_NONE_ENABLED:
      // Through the framework's status path without a limit of its own: the limit is set below,
      // so that an earlier request's limit cannot come back with this one.
      mgr->ForceStatus(C::STATUS_NONE_ENABLED, 0, 0, 0);
      break;
    case C::STATUS_NONE_CONNECTED:
      mgr->PostCommand(C::CMD_CONNECT_PREFERRED, -1,
                       reinterpret_cast<std::intptr_t>(new StatusChangeRequest{0, 0}));
      break;
    default:
      mgr->PostCommand(C::CMD_CONNECT_PREFERRED, -1,
                       reinterpret_cast<std::intptr_t>(new StatusChangeRequest{1, 0}));
      break;
  }
  if (minutes == 0)
    mgr->ClearTimeLimitNotification(-1);
  else
    mgr->SetTimeLimitNotification(MGR_ID_CONNECTIONS, minutes, previous);
  mgr->RefreshStatus(1);
}

void CMainCommands::OnPlaces() {
  CScheduleEngine* engine = CScheduleEngine::GetInstance();
  bool locked = engine && engine->IsLocked();
  std::unique_ptr<COptionDialog> dialog(NewOptions());
  dialog->AddOption(kPlaces, "places", TEXT_ID("PLACES"));
  dialog->AddOption(kAddPlace, "add_place", TEXT_ID("ADD PLACE"));
  dialog->AddOption(kAssignPlace, "assign_place", TEXT_ID("ASSIGN TO PLACE"));
  dialog->AddOption(kSchedule, "schedule", TEXT_ID("SCHEDULE"));
  dialog->AddOption(kActions, "actions", TEXT_ID("ACTIONS"));
  if (locked)
    dialog->AddOption(kUnlock, "unlock", TEXT_ID("UNBLOCK PROFILE"));
  else
    dialog->AddOption(kLock, "lock", TEXT_ID("BLOCK PROFILE"));
  int answer = dialog->ShowModal();
  dialog.reset();
  switch (answer) {
    case kPlaces:
      window_->RunCommand(CMD_PAGE_MAIN);
      break;
    case kAddPlace:
      AddPlace();
      break;
    case kAssignPlace:
      AssignToPlace();
      break;
    case kSchedule:
      ShowFrames(false);
      break;
    case kActions:
      ShowFrames(true);
      break;
    case kLock:
      window_->RunCommand(CMD_LOCATION_LOCK);
      break;
    case kUnlock:
      window_->RunCommand(CMD_LOCATION_UNLOCK);
      break;
    default:
      break;
  }
}

void CMainCommands::SetVolumeLevel(int level) {
  auto* mgr = dynamic_cast<CSpeakerMgr*>(CMgr::GetMgr(MGR_ID_SPEAKER));
  if (!mgr)
    return;
  mgr->SetVolumeLevel(level);
  mgr->ForceStatus(2, 0, 0, 0);
}

void CMainCommands::CallForwarding(bool on) {
  CCallForwardMgr* mgr = CCallForwardMgr::GetInstance();
  if (!mgr)
    return;
  if (!on) {
    mgr->SetForwarding(0, "");
    return;
  }
  CRegistrySettings* settings = CRegistrySettings::Instance();
  CDialogCallForward dialog(window_, settings->GetString(kForwardNumberKey));
  if (!dialog.Ask())
    return;
  std::string number = dialog.Number();
  settings->SetString(kForwardNumberKey, number);
  mgr->SetForwardNumber(number);
  mgr->SetForwarding(1, number);
}

void CMainCommands::Backlight() {
  CBacklightMgr* mgr = CBacklightMgr::GetInstance();
  if (!mgr)
    return;
  // The manager only commands: the levels shown are those the phone applies now.
  platform::BacklightLevels now = platform::GetBacklightLevels();
  CDialogBacklight dialog(window_, static_cast<int>(now.battery), static_cast<int>(now.ac));
  if (!dialog.Ask())
    return;
  mgr->ForceStatus(CBacklightMgr::MakeStatus(dialog.Battery(), dialog.External()), 0, 0, 0);
}

void CMainCommands::TodayTheme() {
  CDialogTheme dialog(window_);
  if (!dialog.HasThemes()) {
    Tell(TEXT_ID("NO THEMES"));
    return;
  }
  if (!dialog.Ask())
    return;
  if (!platform::SelectTodayTheme(dialog.Theme()))
    Tell(TEXT_ID("NO THEMES"));
}

void CMainCommands::RingTone() {
  CDialogRingTone dialog(window_);
  if (!dialog.Ask())
    return;
  if (dialog.Tone().empty() || platform::SetRingToneLine1(dialog.Tone()) != platform::S_OK) {
    Tell(TEXT_ID("RING TONE NOT SET"));
    return;
  }
  platform::RegistrySetString(platform::HKEY_CURRENT_USER, platform::kRingToneKey, "Script",
                              dialog.Script());
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Under a sanitizer the heap is the sanitizer's own allocator, which mallinfo2 does not see.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

std::size_t CMainCommands::HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 info = mallinfo2();
  // Blocks handed out from the main heap and from their own mappings.
  return info.uordblks + info.hblkhd;
#endif
}

void CMainCommands::MemoryReport() {
  CStopwatch watch;
  watch.Start();
  std::size_t bytes = HeapInUse();
  watch.Stop();
  auto ms = static_cast<unsigned>(watch.Elapsed() * 1000.0);
  std::string format = Text("MEMORY REPORT");
  char text[256];
  std::snprintf(text, sizeof text, format.c_str(), static_cast<unsigned>(bytes), ms);
  platform::TextBox(window_->GetHandle(), text);
}

void CMainCommands::About() {
  CDialogAbout dialog(window_);
  dialog.Ask();
}

void CMainCommands::Help() {
  CDialogHelp dialog(window_);
  dialog.Ask();
}

void CMainCommands::LowerBattery() {
  platform::BatteryState state = platform::GetBatteryState();
  platform::SetBatteryState(std::max(0, state.percent - kBatteryStep), state.onMains);
}

void CMainCommands::LowerSignal() {
  platform::ril::Signal signal = platform::ril::GetSignal();
  signal.strength = std::max(signal.minimum, signal.strength - kSignalStep);
  platform::ril::SetSignal(signal);
}

void CMainCommands::TestLocation(unsigned cellId, unsigned lac) {
  platform::ril::SetServingCell(cellId, lac, true);
}

void CMainCommands::RadioCheck() {
  CRilMgr* ril = CRilMgr::GetInstance();
  if (!ril)
    return;
  ril->RequestCellTowerInfo();
  platform::TextBox(window_->GetHandle(), Text("LOCATION REPORT") + "\n" + ril->GetReportText());
}

void CMainCommands::RefreshPlacePanel() {
  if (CScheduleEngine* engine = CScheduleEngine::GetInstance())
    engine->ChangeInDB();
  window_->RequestPanelRefresh();
}

void CMainCommands::AssignLocation(std::int32_t code, std::int32_t placeId) {
  std::unique_ptr<CStrLocation> location = CStrLocation::NewLocation();
  location->SetCode(code);
  CTableLocation* table = db_->GetTableLocation();
  bool known = table->FindAndFill(*location);
  location->SetPlaceId(placeId);
  if (known)
    table->Update(*location);
  else
    table->Insert(*location);
}

void CMainCommands::AddPlace() {
  CRilMgr* ril = CRilMgr::GetInstance();
  if (!db_ || !ril)
    return;
  try {
    std::vector<CStrPlace> places;
    db_->GetTablePlaces()->GetAllRecords(&places);
    CDialogPlaceName dialog(window_, QString::fromStdString(Text("NEW PLACE")) + " " +
                                         QString::number(places.size() + 1));
    if (!dialog.Ask())
      return;
    CStrPlace place(dialog.Name(), "", "place_unknown.png", 0);
    db_->GetTablePlaces()->Insert(place);
    AssignLocation(ril->GetLocationCode(), place.GetId());
    Tell(TEXT_ID("LOCATION ASSIGNED"));
  } catch (const CBaseException& e) {
    platform::ErrorBox(window_->GetHandle(), "%s", e.what());
  }
  RefreshPlacePanel();
}

void CMainCommands::AssignToPlace() {
  CRilMgr* ril = CRilMgr::GetInstance();
  if (!db_ || !ril)
    return;
  try {
    std::vector<CStrPlace> places;
    db_->GetTablePlaces()->GetAllRecords(&places);
    QStringList names;
    for (const CStrPlace& p : places)
      names << QString::fromStdString(p.GetName());
    CDialogChoose dialog(window_, TEXT_ID("ASSIGN TO PLACE"), names);
    if (!dialog.Ask() || dialog.Row() < 0 || dialog.Row() >= static_cast<int>(places.size()))
      return;
    const CStrPlace& place = places[static_cast<std::size_t>(dialog.Row())];
    AssignLocation(ril->GetLocationCode(), place.GetId());
    Tell(TEXT_ID("LOCATION ASSIGNED"));
  } catch (const CBaseException& e) {
    platform::ErrorBox(window_->GetHandle(), "%s", e.what());
  }
  RefreshPlacePanel();
}

void CMainCommands::ShowFrames(bool actions) {
  CRilMgr* ril = CRilMgr::GetInstance();
  if (!db_ || !ril)
    return;
  CStrPlace place;
  if (!ril->GetCurrentPlace(&place)) {
    Tell(TEXT_ID("ERROR CURRENT PLACE NOT FOUND"));
    return;
  }
  std::int32_t frameId = -1;
  CStrPeriod frame;
  if (CScheduleEngine* engine = CScheduleEngine::GetInstance();
      engine && engine->GetCurrentFrame(&frame) && frame.GetIdPlace() == place.GetId()) {
    frameId = frame.GetId();
  }
  window_->OpenSettings(CSettingsSheet::kPageProfiles, [&](CSettingsSheet& sheet) {
    auto* page = static_cast<CPageProfiles*>(sheet.GetPage(CSettingsSheet::kPageProfiles));
    page->SelectPlace(place.GetId());
    if (frameId >= 0)
      page->SelectFrame(frameId);
    else if (page->Frames()->count() > 0)
      page->Frames()->setCurrentRow(0);
    if (actions)
      page->EnterActions()->setFocus();
    else
      page->Frames()->setFocus();
  });
}

bool CMainCommands::AskLock(CStrPlace* place, int* minutes) {
  std::vector<CStrPlace> places;
  try {
    db_->GetTablePlaces()->GetAllRecords(&places);
  } catch (const CBaseException& e) {
    platform::ErrorBox(window_->GetHandle(), "%s", e.what());
    return false;
  }
  QStringList names;
  int offered = 0;
  for (std::size_t i = 0; i < places.size(); ++i) {
    names << QString::fromStdString(places[i].GetName());
    if (places[i].GetId() == place->GetId())
      offered = static_cast<int>(i);
  }
  CDialogChoose dialog(window_, TEXT_ID("BLOCK PROFILE"), names);
  dialog.SetRow(offered);
  if (!dialog.Ask())
    return false;
  if (dialog.Row() < 0 || dialog.Row() >= static_cast<int>(places.size())) {
    Tell(TEXT_ID("Place not found"));
    return false;
  }
  *place = places[static_cast<std::size_t>(dialog.Row())];
  return AskTimeLimit(minutes);
}

#include "MainCommands.moc"
