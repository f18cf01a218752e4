// The band button: automatic (0, the extra image pair), 2G (1, "off"), 3G (2, "on").
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonBand : public CButtonExtraPair {
 public:
  CButtonBand(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  // The construction values of the main window's button.
  static ButtonParams Defaults();

  Choice GetImage(bool pressed) override;
  std::string GetTextStatus() override;
};
