#include "managers/BacklightMgr.h"

#include <atomic>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Backlight.h"
#include "platform/ControlPanel.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "platform/Window.h"

namespace {

std::atomic<CBacklightMgr*> g_instance{nullptr};

constexpr int kDefaultScreenWidth = 240;
constexpr int kDefaultScreenHeight = 320;
constexpr int kVgaSide = 320;

}  // namespace

CBacklightMgr::CBacklightMgr() : CBacklightMgr(DialogTiming()) {}

CBacklightMgr::CBacklightMgr(DialogTiming timing) : CMgr(MGR_ID_BACKLIGHT), timing_(timing) {
  g_instance.store(this);
}

CBacklightMgr::~CBacklightMgr() {
  // The worker's handler calls this class's overrides: it must end while they still exist.
  Stop();
  CBacklightMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

CBacklightMgr* CBacklightMgr::GetInstance() {
  return g_instance.load();
}

int CBacklightMgr::ClickPosition(int level, int sliderWidth, int screenScale) {
  int step = sliderWidth / 10;
  int margin = screenScale == 2 ? kMarginVga : kMargin;
  if (level == 0)
    return margin;
  int x = level * step;
  // The third tick of the page's slider is hit short of its nominal place.
  if (level == 3)
    x -= margin;
  return x;
}

int CBacklightMgr::ScreenScale() {
  platform::Device* dev = platform::Device::Current();
  if (!dev)
    return 1;
  auto width = dev->GetStateInt("screen_width", kDefaultScreenWidth);
  auto height = dev->GetStateInt("screen_height", kDefaultScreenHeight);
  return (width > kVgaSide || height > kVgaSide) ? 2 : 1;
}

void CBacklightMgr::Initialize() {
  if (ConfigChar(GetId()) == '0')
    SetStatusValue(STATUS_DISABLED);
}

void CBacklightMgr::ForceStatusChild(int status, int minutes) {
  int battery = BatteryLevel(status);
  int external = ExternalLevel(status);
  Trace(TRACE_TRACE, "CBacklightMgr::ForceStatusChild(%d, %d)", battery, external);
  if (CRegistrySettings::Instance()->GetDWORD(kModeSetting) == 0)
    SetThroughRegistry(battery, external);
  else
    SetThroughPanel(battery, external);
  Trace(TRACE_TRACE, "CBacklightMgr::-ForceStatusChild");
}

void CBacklightMgr::SetThroughRegistry(int battery, int external) {
  // Failures are not reported: the next change simply tries again.
  platform::RegistrySetDWORD(platform::HKEY_CURRENT_USER, platform::kBacklightKey,
                             platform::kAcBrightnessValue, static_cast<platform::DWORD>(external));
  platform::RegistrySetDWORD(platform::HKEY_CURRENT_USER, platform::kBacklightKey,
                             platform::kBatteryBrightnessValue,
                             static_cast<platform::DWORD>(battery));
  platform::SetNamedEvent(platform::kBackLightChangeEvent);
}

platform::HWND CBacklightMgr::OpenBacklightPanel() {
  platform::HKEY key;
  const char* page = platform::kStandardBacklightPage;
  if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, platform::kMakerAppletKey, &key) ==
      platform::ERROR_SUCCESS) {
    platform::RegCloseKey(key);
    page = platform::kMakerBacklightPage;
  }
  Trace(TRACE_DEBUG, "CBacklightMgr::OpenBacklightPanel(%s)", page);
  platform::StartDeviceProgram(platform::kControlPanelImage, page);
  platform::Sleep(static_cast<platform::DWORD>(timing_.panelWaitMs));
  return platform::GetForegroundWindow();
}

void CBacklightMgr::SetThroughPanel(int battery, int external) {
  platform::HWND panel = OpenBacklightPanel();
  if (!panel) {
    Trace(TRACE_WARNING, "CBacklightMgr: no hay ventana de panel");
    return;
  }
  platform::HWND slider =
      platform::GetWindow(platform::GetWindow(panel, platform::GW_CHILD), platform::GW_CHILD);
  std::string cls;
  while (slider) {
    platform::GetClassName(slider, &cls, kClassNameChars);
    if (cls == kTrackbarClass)
      break;
    slider = platform::GetWindow(slider, platform::GW_HWNDNEXT);
  }
  if (!slider) {
    platform::TextBox(0, CTexts::GetInstance()->GetText("BACKLIGHT DIALOG NOT FOUND"));
    return;
  }
  int scale = ScreenScale();
  ClickSlider(slider, battery, scale);
  ClickSlider(platform::GetWindow(slider, platform::GW_HWNDNEXT), external, scale);
  platform::SendMessage(panel, platform::WM_CLOSE, 0, 0);
}

void CBacklightMgr::ClickSlider(platform::HWND slider, int level, int scale) {
  platform::RECT rect;
  if (!slider || !platform::GetWindowRect(slider, &rect))
    return;
  int x = ClickPosition(level, rect.right - rect.left, scale);
  platform::LPARAM position = platform::MakeLParam(x, kClickY);
  for (int i = 0; i < kClicks; ++i) {
    platform::PostMessage(slider, platform::WM_LBUTTONDOWN, platform::MK_LBUTTON, position);
    platform::Sleep(static_cast<platform::DWORD>(timing_.clickPauseMs));
    platform::PostMessage(slider, platform::WM_LBUTTONUP, platform::MK_LBUTTON, position);
  }
}

std::string CBacklightMgr::GetName() {
  return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_BACKLIGHT_NAME");
}

std::string CBacklightMgr::GetStatusName(int status) {
  // Before the first change the levels are not known; the unknown and disabled markers are not
  // level pairs.
  if (status < 0)
    return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_UNKNOWN_STATUS");
  return platform::Format("[%d-%d]", BatteryLevel(status), ExternalLevel(status));
}
