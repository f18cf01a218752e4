// The phone-radio button: the radio on (0) or off (1 and every other value).
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonPhone : public CButtonOwnDrawImage {
 public:
  CButtonPhone(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  // The construction values of the main window's button.
  static ButtonParams Defaults();

  Choice GetImage(bool pressed) override;
  std::string GetTextStatus() override;
};
