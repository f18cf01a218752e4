// The data-connections button: disabled (0), disconnected (1), connected (2).
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonConnections : public CButtonOwnDrawImage {
 public:
  CButtonConnections(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  // The construction values of the main window's button.
  static ButtonParams Defaults();

  Choice GetImage(bool pressed) override;
  std::string GetTextStatus() override;
};
