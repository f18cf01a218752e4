// The Wi-Fi button: off (0), on (1).
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonWifi : public CButtonOwnDrawImage {
 public:
  CButtonWifi(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  // The construction values of the main window's button.
  static ButtonParams Defaults();

  Choice GetImage(bool pressed) override;
  std::string GetTextStatus() override;
};
