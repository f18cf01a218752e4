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
#include "data/DB.h"

class CWindowMain;
class CConnectionsMgr;
class CMessageMgr;
class CBacklightMgr;
class CCpuMgr;
class CSpeakerMgr;
class CBTMgr;
class CBeamMgr;
class CWifiOssVcsMgr;
class CRilMgr;
class CMobilePhoneMgr;
class CBandMgr;
class CCallForwardMgr;

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
  void RegisterLocationCommands();

  // Construction order (destruction runs in reverse). Each slot is filled when its feature
  // exists; keep one line per slot.
  // 1 database (CDB)
  std::unique_ptr<CDB> db_;
  // 2 Bluetooth manager (id 1)
  std::unique_ptr<CBTMgr> bt_;
  // 3 messaging manager (id 10)
  std::unique_ptr<CMessageMgr> message_;
  // 4 power-state manager (id 9)
  std::unique_ptr<CCpuMgr> cpu_;
  // 5 phone-radio manager (id 3)
  std::unique_ptr<CMobilePhoneMgr> phone_;
  // 6 data-connections manager (id 4)
  std::unique_ptr<CConnectionsMgr> connections_;
  // 7 band manager (id 5)
  std::unique_ptr<CBandMgr> band_;
  // 8 speaker manager (id 2)
  std::unique_ptr<CSpeakerMgr> speaker_;
  // 9 system-state broker
  std::unique_ptr<CSystemStateBroker> broker_;
  // 10 cell-location manager (id 6)
  std::unique_ptr<CRilMgr> ril_;
  // 11 settings store
  std::unique_ptr<CRegistrySettings> settings_;
  // 12 infrared beam manager (id 50)
  std::unique_ptr<CBeamMgr> beam_;
  // 13 call forwarding manager (id 51)
  std::unique_ptr<CCallForwardMgr> callForward_;
  // 14 backlight manager (id 52)
  std::unique_ptr<CBacklightMgr> backlight_;
  // After the members: the Wi-Fi manager (id 0), the cell history, the schedule engine.
  std::unique_ptr<CWifiOssVcsMgr> wifi_;
  std::unique_ptr<CWindowMain> window_;
};
