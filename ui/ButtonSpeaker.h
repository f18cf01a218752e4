// The speaker button: silent (0), vibrate (1, the extra image pair), sound on (2).
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonSpeaker : public CButtonExtraPair {
 public:
  CButtonSpeaker(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  // The construction values of the main window's button.
  static ButtonParams Defaults();

  Choice GetImage(bool pressed) override;
  std::string GetTextStatus() override;
};
