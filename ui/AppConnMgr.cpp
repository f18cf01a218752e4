#include "ui/AppConnMgr.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Mgr.h"
#include "app/Trace.h"
#include "managers/BTMgr.h"
#include "managers/BeamMgr.h"
#include "managers/WifiOssVcsMgr.h"
#include "platform/Mosutil.h"
#include "ui/WindowMain.h"

namespace {

// The "BEAM" submenu's commands.
constexpr int kCmdBeamOn = 40111;
constexpr int kCmdBeamOff = 40112;

}  // namespace

CAppConnMgr::CAppConnMgr() {
  // Members in construction order (see the header); managers whose features exist join here.
  db_ = std::make_unique<CDB>();
  bt_ = std::make_unique<CBTMgr>();
  broker_ = std::make_unique<CSystemStateBroker>();
  settings_ = std::make_unique<CRegistrySettings>();
  beam_ = std::make_unique<CBeamMgr>();
  // After the members: the Wi-Fi manager, the cell history and the schedule engine.
  wifi_ = std::make_unique<CWifiOssVcsMgr>();
}

CAppConnMgr::~CAppConnMgr() {
  Trace(TRACE_TRACE, "CAppConnMgr::-CAppConnMgr");
  if (window_) {
    SetMainWindow(nullptr);
    window_.reset();
  }
  Trace(TRACE_TRACE, "-CAppConnMgr::-CAppConnMgr");
  // Everything created after the members goes first, then the members in reverse order.
  wifi_.reset();
  beam_.reset();
  settings_.reset();
  broker_.reset();
  bt_.reset();
  db_.reset();
}

bool CAppConnMgr::InitGUI() {
  Trace(TRACE_TRACE, "CAppConnMgr::InitGUI");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // 1. Open the database.
  db_->OpenDB();
  // 2. Initialise the managers in this order: phone radio (3), messaging (10), Wi-Fi (0) with
  //    RefreshStatus(1), data connections (4), power state (9), band (5), call forwarding (51),
  //    speaker (2), cell location (6), backlight (52), infrared beam (50).
  wifi_->Initialize();
  wifi_->RefreshStatus(1);
  // The infrared beam comes last.
  beam_->Initialize();
  // 3. Create the main window.
  window_ = std::make_unique<CWindowMain>();
  bool ok = window_->InitGUI();
  if (ok) {
    // 4. Initialise the Bluetooth manager (1).
    bt_->Initialize();
    // 5. The band manager listens to the phone-radio manager.
    // 6. Timer targets in this order: phone radio, Wi-Fi, data connections, band, speaker, cell
    //    location, Bluetooth, schedule engine.
    window_->AddTimerTarget(wifi_.get());
    window_->AddTimerTarget(bt_.get());
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
  window_->RegisterCommand(CWindowMain::CMD_REFRESH, [] { CMgr::RefreshAll(); });
  window_->RegisterMessage(WM_BLUETOOTH_EVENT, [this](platform::WPARAM w, platform::LPARAM l) {
    bt_->OnBluetoothEvent(w, l);
  });
  window_->RegisterCommand(kCmdBeamOn, [this] { beam_->ForceStatus(BEAM_STATUS_ON, 0, 0, 0); });
  window_->RegisterCommand(kCmdBeamOff, [this] { beam_->ForceStatus(BEAM_STATUS_OFF, 0, 0, 0); });
}

int CAppConnMgr::RunMessageLoop() {
  return QApplication::exec();
}
