// The Bluetooth button: off (0), on (1), discoverable (2, the extra image pair).
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonBT : public CButtonExtraPair {
 public:
  CButtonBT(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  // The construction values of the main window's button.
  static ButtonParams Defaults();

  Choice GetImage(bool pressed) override;
  std::string GetTextStatus() override;
};
