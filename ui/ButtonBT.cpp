#include "ui/ButtonBT.h"

ButtonParams CButtonBT::Defaults() {
  ButtonParams p;
  p.skinId = "bt";
  p.controlId = 103;
  p.captionId = "BT BUTTON";
  p.off = "bluetooth_des.png";
  p.on = "bluetooth.png";
  p.disabled = "bluetooth_dis.png";
  p.extra = "bluetooth_discoverable.png";
  return p;
}

CButtonBT::CButtonBT(QWidget* owner, IOwnerDrawHost* host, CSkin* skin)
    : CButtonExtraPair(owner, host, skin, Defaults(), "discoverable") {}

CButtonOwnDrawImage::Choice CButtonBT::GetImage(bool pressed) {
  switch (status_) {
    case 0:
      return Off(pressed);
    case 1:
      return On(pressed);
    case 2:
      return Extra(pressed);
    default:
      return Disabled();
  }
}

std::string CButtonBT::GetTextStatus() {
  switch (status_) {
    case STATUS_DISABLED:
      return StatusText("DISABLED");
    case 0:
      return StatusText("OFF");
    case 1:
      return StatusText("ON");
    case 2:
      return StatusText("DISCOVERABLE");
    default:
      // A status the button has no text for: the caption alone.
      return std::string();
  }
}
