#include "ui/ButtonWifi.h"

ButtonParams CButtonWifi::Defaults() {
  ButtonParams p;
  p.skinId = "wifi";
  p.controlId = 105;
  p.captionId = "WIFI BUTTON";
  p.off = "wifi_des.png";
  p.on = "wifi.png";
  p.disabled = "wifi_dis.png";
  return p;
}

CButtonWifi::CButtonWifi(QWidget* owner, IOwnerDrawHost* host, CSkin* skin)
    : CButtonOwnDrawImage(owner, host, skin, Defaults()) {}

CButtonOwnDrawImage::Choice CButtonWifi::GetImage(bool pressed) {
  switch (status_) {
    case 0:
      return Off(pressed);
    case 1:
      return On(pressed);
    default:
      return Disabled();
  }
}

std::string CButtonWifi::GetTextStatus() {
  switch (status_) {
    case STATUS_DISABLED:
      return StatusText("DISABLED");
    case 0:
      return StatusText("OFF");
    case 1:
      return StatusText("ON");
    default:
      return StatusText("UNKNOWN");
  }
}
