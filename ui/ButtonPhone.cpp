#include "ui/ButtonPhone.h"

ButtonParams CButtonPhone::Defaults() {
  ButtonParams p;
  p.skinId = "phone";
  p.controlId = 107;
  p.captionId = "PHONE BUTTON";
  p.off = "mobilephone_des.png";
  p.on = "mobilephone.png";
  p.disabled = "mobilephone_dis.png";
  return p;
}

CButtonPhone::CButtonPhone(QWidget* owner, IOwnerDrawHost* host, CSkin* skin)
    : CButtonOwnDrawImage(owner, host, skin, Defaults()) {}

CButtonOwnDrawImage::Choice CButtonPhone::GetImage(bool pressed) {
  switch (status_) {
    case STATUS_DISABLED:
      return Disabled();
    case 1:
      return Off(pressed);
    default:
      // The radio is on (0) or in a state of its own: the "on" picture, pressed or not.
      return On(false);
  }
}

std::string CButtonPhone::GetTextStatus() {
  switch (status_) {
    case STATUS_DISABLED:
      return StatusText("DISABLED");
    case 0:
      return StatusText("ON");
    default:
      return StatusText("OFF");
  }
}
