// Draws the main window's battery and signal bars from their skin configurations: the frame,
// the fill (a vertical gradient, or the lower part of the "bar" image), the percentage and the
// bar's icon (the battery bar shows its "AC" icon while the phone runs on external power).
//
// Threading: user-interface thread only (it loads skin images).
#pragma once

#include <QRect>

#include "ui/BarConfigXML.h"

class QPainter;

class CBarPainter {
 public:
  // Where the last paint put the frame and the icon (for taps).
  struct Rects {
    QRect frame;
    QRect icon;
  };

  // `percent` is clamped to 0..100. `iconFile` names the icon to show ("" for the default
  // `defaultIcon`).
  static Rects Draw(QPainter& p, const CBarConfigXML& bar, int percent, const SkinImage& icon,
                    const char* defaultIcon);
  static Rects DrawBattery(QPainter& p, const CBarBatteryConfigXML& bar, int percent,
                           bool onExternalPower);
  static Rects DrawSignal(QPainter& p, const CBarSignalConfigXML& bar, int percent);
};
