#include "ui/AppConnMgr.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include "app/BaseException.h"
#include "app/Mgr.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/TableActions.h"
#include "data/TablePeriods.h"
#include "location/CellHistory.h"
#include "location/DayTrace.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "managers/BTMgr.h"
#include "managers/BacklightMgr.h"
#include "managers/BandMgr.h"
#include "managers/BeamMgr.h"
#include "managers/CallForwardMgr.h"
#include "managers/ConnectionsMgr.h"
#include "managers/CpuMgr.h"
#include "managers/MessageMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/SpeakerMgr.h"
#include "managers/WifiOssVcsMgr.h"
#include "platform/ConnMgr.h"
#include "platform/Mosutil.h"
#include "ui/DataCommands.h"
#include "ui/MainCommands.h"
#include "ui/WindowMain.h"

namespace {

// The "BEAM" submenu's commands.
constexpr int kCmdBeamOn = 40111;
constexpr int kCmdBeamOff = 40112;

// The location commands: the current-location submenu's lock and unlock, the location report,
// and the requests of other windows for a fresh location.
constexpr int kCmdLocationLock = 40235;
constexpr int kCmdLocationUnlock = 40237;
constexpr int kCmdLocationReport = 40224;
constexpr int kCmdLocationRefresh = 10;
constexpr int kCmdLocationRefreshOther = 40036;
// The lock's time limit when no dialog can ask for one (no display).
constexpr int kDefaultLockMinutes = 60;

// The values of the current place's actions for manager `mgrId`, frame by frame in start-time
// order: what the data-connections manager re-applies when the phone radio changes.
std::vector<int> PlaceActionValues(CDB* db, CRilMgr* ril, int mgrId) {
  std::vector<int> values;
  if (!db || !ril)
    return values;
  try {
    CStrPlace place;
    if (!ril->GetCurrentPlace(&place))
      return values;
    std::vector<CStrPeriod> frames;
    db->GetTablePeriods()->GetAllRecordsForPlace(&frames, place.GetId());
    for (const auto& frame : frames) {
      std::vector<CStrAction> actions;
      db->GetTableActions()->GetAllForPeriod(&actions, frame.GetId());
      for (const auto& action : actions) {
        if (action.GetMgrId() == mgrId)
          values.push_back(action.GetIntOp1());
      }
    }
  } catch (const CBaseException& e) {
    Trace(TRACE_ERROR, "PlaceActionValues: %s", e.what());
  }
  return values;
}

// Asks the main window to repaint itself, from any thread.
void RepaintMainWindow() {
  CApp* app = CApp::GetInstance();
  if (!app)
    return;
  app->WithMainWindow([](IMainWindow* main) {
    if (auto* window = dynamic_cast<CWindowMain*>(main)) {
      window->RequestPanelRefresh();
      QMetaObject::invokeMethod(
          window, [window] { window->update(); }, Qt::QueuedConnection);
    }
  });
}

}  // namespace

CAppConnMgr::CAppConnMgr() {
  // Members in construction order (see the header); managers whose features exist join here.
  db_ = std::make_unique<CDB>();
  bt_ = std::make_unique<CBTMgr>();
  message_ = std::make_unique<CMessageMgr>();
  cpu_ = std::make_unique<CCpuMgr>();
  phone_ = std::make_unique<CMobilePhoneMgr>();
  connections_ = std::make_unique<CConnectionsMgr>();
  band_ = std::make_unique<CBandMgr>();
  speaker_ = std::make_unique<CSpeakerMgr>();
  broker_ = std::make_unique<CSystemStateBroker>();
  ril_ = std::make_unique<CRilMgr>();
  ril_->SetRepaintHook([](CRilMgr::Repaint) { RepaintMainWindow(); });
  settings_ = std::make_unique<CRegistrySettings>();
  beam_ = std::make_unique<CBeamMgr>();
  callForward_ = std::make_unique<CCallForwardMgr>();
  backlight_ = std::make_unique<CBacklightMgr>();
  // After the members: the Wi-Fi manager, the cell history and the schedule engine.
  wifi_ = std::make_unique<CWifiOssVcsMgr>();
  CCellHistory::Instance();
  ScheduleEngineHooks hooks = CScheduleEngine::DefaultHooks();
  hooks.repaintMainWindow = RepaintMainWindow;
  CScheduleEngine::Instance()->SetHooks(hooks);
}

CAppConnMgr::~CAppConnMgr() {
  Trace(TRACE_TRACE, "CAppConnMgr::-CAppConnMgr");
  // The schedule engine goes first: its actions and publications reach the window and the
  // managers.
  CScheduleEngine::DestroyInstance();
  if (window_) {
    SetMainWindow(nullptr);
    window_.reset();
  }
  // The records' and tables' call and instance counters, for diagnosis after the run.
  for (const std::string& line : CDB::CounterReport())
    Trace(TRACE_TRACE, "%s", line.c_str());
  Trace(TRACE_TRACE, "-CAppConnMgr::-CAppConnMgr");
  // Every manager's worker stops before any manager is destroyed, so that no command still
  // running reaches a manager whose own part is already gone.
  for (CMgr* mgr : CMgr::GetAll())
    mgr->Stop();
  CDayTrace::StopWriting();
  // Everything created after the members goes first, then the members in reverse order.
  wifi_.reset();
  backlight_.reset();
  callForward_.reset();
  beam_.reset();
  settings_.reset();
  ril_.reset();
  broker_.reset();
  speaker_.reset();
  band_.reset();
  connections_.reset();
  phone_.reset();
  cpu_.reset();
  message_.reset();
  bt_.reset();
  db_.reset();
}

bool CAppConnMgr::InitGUI() {
  Trace(TRACE_TRACE, "CAppConnMgr::InitGUI");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // 1. Open the database.
  db_->OpenDB();
  // The day's trace follows the phone from before the managers report anything.
  CDayTrace::StartWriting();
  // 2. Initialise the managers in this order: phone radio (3), messaging (10), Wi-Fi (0) with
  //    RefreshStatus(1), data connections (4), power state (9), band (5), call forwarding (51),
  //    speaker (2), cell location (6), backlight (52), infrared beam (50).
  phone_->Initialize();
  message_->Initialize();
  wifi_->Initialize();
  wifi_->RefreshStatus(1);
  connections_->Initialize();
  connections_->SetPlaceActionsSource(
      [this](int mgrId) { return PlaceActionValues(db_.get(), ril_.get(), mgrId); });
  cpu_->Initialize();
  band_->Initialize();
  callForward_->Initialize();
  speaker_->Initialize();
  ril_->Initialize();
  backlight_->Initialize();
  // The infrared beam comes last.
  beam_->Initialize();
  // 3. Create the main window.
  window_ = std::make_unique<CWindowMain>();
  bool ok = window_->InitGUI();
  if (ok) {
    // 4. Initialise the Bluetooth manager (1).
    bt_->Initialize();
    // 5. The band manager listens to the phone-radio manager.
    phone_->AddStatusListener(band_.get());
    // 6. Timer targets in this order: phone radio, Wi-Fi, data connections, band, speaker, cell
    //    location, Bluetooth, schedule engine.
    window_->AddTimerTarget(phone_.get());
    window_->AddTimerTarget(wifi_.get());
    window_->AddTimerTarget(connections_.get());
    window_->AddTimerTarget(band_.get());
    window_->AddTimerTarget(speaker_.get());
    window_->AddTimerTarget(ril_.get());
    window_->AddTimerTarget(bt_.get());
    window_->AddTimerTarget(CScheduleEngine::Instance());
    RegisterCommands();
    // 7. Every manager reads its status and fires its listeners.
    CMgr::RefreshAll();
    SetGuiInitialized();
  }
  QApplication::restoreOverrideCursor();
  Trace(TRACE_TRACE, "-CAppConnMgr::InitGUI(%d)", ok ? 1 : 0);
  return ok;
}

void CAppConnMgr::RegisterCommands() {
  // The refresh button: every manager, the cell location among them, reads its state again.
  window_->RegisterCommand(CWindowMain::CMD_REFRESH, [] { CMgr::RefreshAll(); });
  RegisterLocationCommands();
  // The feature buttons' option dialogs and the remaining commands of the menus.
  CMainCommands::Register(window_.get(), db_.get());
  // New profile data is evaluated again, as after a change made on the settings pages.
  CDataCommands::Register(window_.get(), db_.get(), [] {
    if (CScheduleEngine* engine = CScheduleEngine::GetInstance())
      engine->ChangeInDB();
  });
  // Data connections: the connection manager's status messages and the idle check.
  platform::UINT connectionsMsg = platform::RegisterWindowMessage(platform::kConnMgrStatusMessage);
  if (connectionsMsg == 0) {
    Trace(TRACE_ERROR, "Error creando mensaje de conexiones");
  } else {
    window_->RegisterMessage(connectionsMsg, [this](platform::WPARAM w, platform::LPARAM) {
      connections_->NewEvent(w);
    });
    platform::HRESULT hr =
        platform::ConnMgrRegisterForStatusChangeNotification(1, window_->GetHandle());
    if (hr != platform::S_OK)
      Trace(TRACE_ERROR, "Error suscribiendose a notificaciones de conexiones. %d", hr);
  }
  window_->SetIdleHandler([this] { connections_->ProcessIdleNotification(); });
  // The messaging commands of the "TEST" submenu, with fixed test values.
  constexpr int kCmdTestSendMail = 40116;
  constexpr int kCmdTestListProviders = 40117;
  constexpr int kCmdTestSendSms = 40118;
  window_->RegisterCommand(kCmdTestSendMail, [this] {
    message_->SendMail(
        "test@example.com", "Telvane", "Test message sent by Telvane.",
        static_cast<int>(CRegistrySettings::Instance()->GetDWORD(CMessageMgr::kMailProviderKey)));
  });
  window_->RegisterCommand(kCmdTestListProviders, [this] {
    std::vector<std::string> names;
    message_->ListMailProviders(&names);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
      text += std::to_string(i) + ": " + names[i] + "\n";
    platform::TextBox(window_->GetHandle(), text);
  });
  window_->RegisterCommand(kCmdTestSendSms, [this] {
    message_->SendSms("+10000000000", "Test message sent by Telvane.");
  });
  window_->RegisterMessage(WM_BLUETOOTH_EVENT, [this](platform::WPARAM w, platform::LPARAM l) {
    bt_->OnBluetoothEvent(w, l);
  });
  window_->RegisterCommand(kCmdBeamOn, [this] { beam_->ForceStatus(BEAM_STATUS_ON, 0, 0, 0); });
  window_->RegisterCommand(kCmdBeamOff, [this] { beam_->ForceStatus(BEAM_STATUS_OFF, 0, 0, 0); });
}

void CAppConnMgr::RegisterLocationCommands() {
  auto text = [](const char* id) { return CTexts::GetInstance()->GetText(id); };
  window_->RegisterCommand(kCmdLocationLock, [this, text] {
    CScheduleEngine* engine = CScheduleEngine::Instance();
    // Without a settings page the place is the current location's, or the first place.
    CStrPlace place;
    if (!engine->GetLockCandidate(&place)) {
      platform::TextBox(window_->GetHandle(), text(TEXT_ID("Place not found")));
      return;
    }
    int minutes = kDefaultLockMinutes;
    if (QGuiApplication::platformName() != "offscreen") {
      // With a display the user chooses the place and the time limit.
      CMainCommands ask(window_.get(), db_.get());
      if (!ask.AskLock(&place, &minutes))
        return;
    }
    platform::TextBox(window_->GetHandle(), text("LOCK WARNING"));
    engine->LockToPlace(place);
    engine->SetLockTimeLimit(minutes);
    RepaintMainWindow();
  });
  window_->RegisterCommand(kCmdLocationUnlock, [] { CScheduleEngine::Instance()->EndLock(); });
  window_->RegisterCommand(kCmdLocationReport, [this, text] {
    platform::TextBox(window_->GetHandle(), text("LOCATION REPORT") + "\n" + ril_->GetReportText());
  });
  window_->RegisterCommand(kCmdLocationRefresh, [this] { ril_->RefreshStatus(1); });
  window_->RegisterCommand(kCmdLocationRefreshOther, [this] { ril_->RefreshStatus(1); });
}

int CAppConnMgr::RunMessageLoop() {
  return QApplication::exec();
}
