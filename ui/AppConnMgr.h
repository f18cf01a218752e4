// The application object of the program: owns the long-lived objects in their construction
// order, initialises them and the main window in InitGUI, and runs the Qt message loop.
//
// Members whose features have not been built yet are absent; each joins at its place in the
// construction order.
#pragma once

#include <memory>

#include "app/App.h"
#include "app/RegistrySettings.h"
#include "app/SystemStateBroker.h"

class CWindowMain;

class CAppConnMgr : public CApp {
 public:
  CAppConnMgr();
  ~CAppConnMgr() override;

  CRegistrySettings* GetSettings() override { return settings_.get(); }
  bool InitGUI() override;

  CWindowMain* GetWindow() const { return window_.get(); }

 protected:
  int RunMessageLoop() override;

 private:
  void RegisterCommands();

  // Construction order (destruction runs in reverse).
  std::unique_ptr<CSystemStateBroker> broker_;
  std::unique_ptr<CRegistrySettings> settings_;
  std::unique_ptr<CWindowMain> window_;
};
