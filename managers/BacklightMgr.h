// CBacklightMgr: sets the screen brightness on battery and on external power. A command-only
// manager: it never reads the brightness back, so its status stays at STATUS_UNKNOWN and only
// the requested values matter.
//
// A requested value carries the battery level in its low 16 bits and the external-power level
// in its high 16 bits (MakeStatus). With the setting "backlight_mode" 0 the levels are written
// to the platform's backlight settings and the backlight driver is told to apply them; with
// any other value the manager opens the control panel's backlight page and clicks its two
// sliders as a user would, then closes the page, which saves them.
//
// Threads: ForceStatusChild runs on the worker's command thread. The page-driving path blocks
// that thread for the page's start-up wait plus 40 click pauses; it posts to the page's windows
// without waiting for them, except for the final close.
#pragma once

#include <string>

#include "app/Mgr.h"
#include "platform/Types.h"

class CBacklightMgr final : public CMgr {
 public:
  static constexpr const char* kModeSetting = "backlight_mode";
  static constexpr const char* kTrackbarClass = "msctls_trackbar32";
  static constexpr int kClassNameChars = 100;
  static constexpr int kClicks = 20;
  static constexpr int kClickY = 10;
  // Click positions keep this far from the slider's start (scale 1 and VGA screens).
  static constexpr int kMargin = 14;
  static constexpr int kMarginVga = 16;

  // How long the page-driving path waits; other values than the defaults are for tests.
  struct DialogTiming {
    int panelWaitMs = 5000;  // after starting the control panel
    int clickPauseMs = 100;  // between a button press and its release
  };

  CBacklightMgr();
  explicit CBacklightMgr(DialogTiming timing);
  ~CBacklightMgr() override;

  // The manager constructed last, or null.
  static CBacklightMgr* GetInstance();

  // The value to force for a pair of levels.
  static int MakeStatus(int battery, int external) {
    return static_cast<int>((static_cast<platform::DWORD>(external & 0xFFFF) << 16) |
                            static_cast<platform::DWORD>(battery & 0xFFFF));
  }
  static int BatteryLevel(int status) { return static_cast<int>(status & 0xFFFF); }
  static int ExternalLevel(int status) {
    return static_cast<int>((static_cast<platform::DWORD>(status) >> 16) & 0xFFFF);
  }
  // Where to click a slider `sliderWidth` pixels wide for `level`, on a screen of `screenScale`
  // (2 on VGA screens, 1 otherwise).
  static int ClickPosition(int level, int sliderWidth, int screenScale);
  // 2 when the phone's screen is a VGA one (a side longer than 320 pixels), 1 otherwise.
  static int ScreenScale();

  // No platform watch: a disabled manager shows STATUS_DISABLED.
  void Initialize() override;
  int GetId() const override { return MGR_ID_BACKLIGHT; }
  // The brightness is never read back.
  void RefreshStatusChild(int force) override {}
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  // "[battery-external]".
  std::string GetStatusName(int status) override;
  // Starts the control panel on its backlight page, waits for it and returns the window in
  // front (taken to be the page); 0 when there is none.
  virtual platform::HWND OpenBacklightPanel();

 private:
  void SetThroughRegistry(int battery, int external);
  void SetThroughPanel(int battery, int external);
  void ClickSlider(platform::HWND slider, int level, int scale);

  const DialogTiming timing_;
};
