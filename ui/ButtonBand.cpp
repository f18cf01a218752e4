#include "ui/ButtonBand.h"

ButtonParams CButtonBand::Defaults() {
  ButtonParams p;
  p.skinId = "band";
  p.controlId = 110;
  p.captionId = "BAND BUTTON";
  p.off = "2g.png";
  p.on = "3g.png";
  p.disabled = "2g_dis.png";
  p.extra = "auto.png";
  return p;
}

CButtonBand::CButtonBand(QWidget* owner, IOwnerDrawHost* host, CSkin* skin)
    : CButtonExtraPair(owner, host, skin, Defaults(), "auto") {}

CButtonOwnDrawImage::Choice CButtonBand::GetImage(bool pressed) {
  switch (status_) {
    case STATUS_DISABLED:
      return Disabled();
    case 0:
      return Extra(pressed);
    case 1:
      return Off(pressed);
    case 2:
      return On(pressed);
    default:
      // The disabled bitmap without the skin geometry of its image.
      return {nullptr, bmpDisabled_};
  }
}

std::string CButtonBand::GetTextStatus() {
  switch (status_) {
    case STATUS_DISABLED:
      return StatusText("DISABLED");
    case 0:
      return StatusText("BAND AUTO");
    case 1:
      return StatusText("BAND 2G");
    case 2:
      return StatusText("BAND 3G");
    default:
      // A status the button has no text for: the caption alone.
      return std::string();
  }
}
