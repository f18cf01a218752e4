#include "ui/AppConnMgr.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Mgr.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"
#include "ui/WindowMain.h"

CAppConnMgr::CAppConnMgr() {
  broker_ = std::make_unique<CSystemStateBroker>();
  settings_ = std::make_unique<CRegistrySettings>();
}

CAppConnMgr::~CAppConnMgr() {
  Trace(TRACE_TRACE, "CAppConnMgr::-CAppConnMgr");
  if (window_) {
    SetMainWindow(nullptr);
    window_.reset();
  }
  Trace(TRACE_TRACE, "-CAppConnMgr::-CAppConnMgr");
  settings_.reset();
  broker_.reset();
}

bool CAppConnMgr::InitGUI() {
  Trace(TRACE_TRACE, "CAppConnMgr::InitGUI");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  window_ = std::make_unique<CWindowMain>();
  bool ok = window_->InitGUI();
  if (ok) {
    RegisterCommands();
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
