#include "today/ItemState.h"

namespace today {

const char* ImageFor(int slot, int state) {
  constexpr const char* kUnknown = "td_unknown.png";
  // The images of states 0, 1 and 2 of each slot.
  static constexpr const char* kImages[kSlotCount][3] = {
      {"td_wifi_des.png", "td_wifi.png", kUnknown},
      {"td_bluetooth_des.png", "td_bluetooth.png", "td_bluetooth_discoverable.png"},
      {"td_speaker_des.png", "td_speaker_vibrate.png", "td_speaker.png"},
      {"td_mobilephone.png", "td_mobilephone_des.png", "td_mobilephone.png"},
      {"td_connection_dis.png", "td_connection_des.png", "td_connection.png"},
      {"td_auto.png", "td_2g.png", "td_3g.png"},
  };
  if (slot < 0 || slot >= kSlotCount)
    return kUnknown;
  // The phone is on in every state but "off" (1); only a state that could not be read is unknown.
  if (slot == kSlotPhone && state != kStateUnknown && (state < 0 || state > 2))
    return "td_mobilephone.png";
  if (state < 0 || state > 2)
    return kUnknown;
  return kImages[slot][state];
}

std::string ResolutionFolder(int width, int height) {
  if ((width == 240 && height == 320) || (width == 320 && height == 240))
    return "qvga";
  if (width == height)
    return "square";
  if (width > 320 || height > 320)
    return "vga";
  return "";
}

std::string ImageFolder(const std::string& libraryPath, const std::string& theme,
                        const std::string& resolution) {
  std::size_t cut = libraryPath.find_last_of('\\');
  std::string folder = cut == std::string::npos ? std::string() : libraryPath.substr(0, cut);
  folder += "\\themes\\" + theme;
  if (!resolution.empty())
    folder += "\\" + resolution;
  return folder;
}

CItemState::QueryAnswer CItemState::OnRefreshQuery(platform::HWND mainWindow) {
  QueryAnswer answer;
  if (mainWindow) {
    mainWindowPresent_ = true;
    if (mainWindow != mainWindow_ || firstRegistrationPending_) {
      firstRegistrationPending_ = false;
      mainWindow_ = mainWindow;
      answer.postRegister = true;
    } else if (dirty_) {
      answer.refresh = true;
    } else if (states_[kSlotSpeaker] == kStateUnknown) {
      // The main window has not pushed its states yet (it was still starting): ask again.
      answer.postRegister = true;
    }
    return answer;
  }
  if (mainWindowPresent_) {
    // The main program ended: what it told is no longer known.
    mainWindowPresent_ = false;
    states_.fill(kStateUnknown);
    answer.refresh = true;
  }
  return answer;
}

void CItemState::OnFeatureState(platform::WPARAM slot, platform::LPARAM state) {
  if (slot < kSlotCount)
    states_[slot] = static_cast<int>(state);
  dirty_ = true;
}

void CItemState::OnLocation(platform::WPARAM first, platform::LPARAM second) {
  first_ = static_cast<int>(first);
  second_ = static_cast<int>(second);
  dirty_ = true;
}

bool CItemState::BeginPaint() {
  if (!mainWindow_) {
    dirty_ = true;
    return false;
  }
  dirty_ = false;
  return true;
}

}  // namespace today
