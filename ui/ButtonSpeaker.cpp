#include "ui/ButtonSpeaker.h"

ButtonParams CButtonSpeaker::Defaults() {
  ButtonParams p;
  p.skinId = "speaker";
  p.controlId = 104;
  p.captionId = "SOUND BUTTON";
  p.off = "speaker_des.png";
  p.on = "speaker.png";
  p.disabled = "speaker_dis.png";
  p.extra = "speaker_vibrate.png";
  return p;
}

CButtonSpeaker::CButtonSpeaker(QWidget* owner, IOwnerDrawHost* host, CSkin* skin)
    : CButtonExtraPair(owner, host, skin, Defaults(), "vibrate") {}

CButtonOwnDrawImage::Choice CButtonSpeaker::GetImage(bool pressed) {
  switch (status_) {
    case 0:
      return Off(pressed);
    case 1:
      return Extra(pressed);
    case 2:
      return On(pressed);
    default:
      return Disabled();
  }
}

std::string CButtonSpeaker::GetTextStatus() {
  switch (status_) {
    case STATUS_DISABLED:
      return StatusText("DISABLED");
    case 0:
      return StatusText("OFF");
    case 1:
      return StatusText("VIBRATE");
    case 2:
      return StatusText("ON");
    default:
      // A status the button has no text for: the caption alone.
      return std::string();
  }
}
