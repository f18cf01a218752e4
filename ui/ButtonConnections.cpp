#include "ui/ButtonConnections.h"

ButtonParams CButtonConnections::Defaults() {
  ButtonParams p;
  p.skinId = "connections";
  p.controlId = 108;
  p.captionId = "CONNECTIONS BUTTON";
  p.off = "connection_des.png";
  p.on = "connection.png";
  p.disabled = "connection_dis.png";
  return p;
}

CButtonConnections::CButtonConnections(QWidget* owner, IOwnerDrawHost* host, CSkin* skin)
    : CButtonOwnDrawImage(owner, host, skin, Defaults()) {}

CButtonOwnDrawImage::Choice CButtonConnections::GetImage(bool pressed) {
  switch (status_) {
    case 1:
      // Disconnected shows the same picture whether pressed or not.
      return Off(false);
    case 2:
      return On(pressed);
    default:
      return Disabled();
  }
}

std::string CButtonConnections::GetTextStatus() {
  switch (status_) {
    case STATUS_DISABLED:
    case 0:
      return StatusText("DISABLED");
    case 1:
      return StatusText("OFF");
    case 2:
      return StatusText("ON");
    default:
      // A status the button has no text for: the caption alone.
      return std::string();
  }
}
