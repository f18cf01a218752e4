#include "ui/AppConnMgr.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Mgr.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"
#include "ui/WindowMain.h"

CAppConnMgr::CAppConnMgr() {
  // Members in construction order (see the header); managers whose features exist join here.
  db_ = std::make_unique<CDB>();
  broker_ = std::make_unique<CSystemStateBroker>();
  settings_ = std::make_unique<CRegistrySettings>();
  // After the members: the Wi-Fi manager, the cell history and the schedule engine.
}

CAppConnMgr::~CAppConnMgr() {
  Trace(TRACE_TRACE, "CAppConnMgr::-CAppConnMgr");
  if (window_) {
    SetMainWindow(nullptr);
    window_.reset();
  }
  Trace(TRACE_TRACE, "-CAppConnMgr::-CAppConnMgr");
  // Everything created after the members goes first, then the members in reverse order.
  settings_.reset();
  broker_.reset();
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
  // 3. Create the main window.
  window_ = std::make_unique<CWindowMain>();
  bool ok = window_->InitGUI();
  if (ok) {
    // 4. Initialise the Bluetooth manager (1).
    // 5. The band manager listens to the phone-radio manager.
    // 6. Timer targets in this order: phone radio, Wi-Fi, data connections, band, speaker, cell
    //    location, Bluetooth, schedule engine.
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
}

int CAppConnMgr::RunMessageLoop() {
  return QApplication::exec();
}
