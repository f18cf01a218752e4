// The home screen's themes. A theme is a file "\Windows\NAME.tsk" on the phone, chosen by HKCU
// "Software\Microsoft\Today" "Skin" (platform/Shell.h). Its text is one "key=value" a line:
//   background_top, background_bottom   the watermark's gradient, top to bottom (#rrggbb)
//   title_background, title_text        the title bar
//   text                                the text colour the items draw with
//   watermark                           an optional picture (device path) laid over the
//                                       gradient at the bottom of the screen
// Lines starting with '#' and unknown keys are ignored; a key that is missing or not a colour
// keeps the default theme's value, so an empty or unreadable file gives the default look.
//
// Threads: plain values; loading reads the current device.
#pragma once

#include <QColor>
#include <QImage>

#include <string>

namespace home {

struct HomeTheme {
  QColor backgroundTop{233, 241, 250};
  QColor backgroundBottom{176, 201, 230};
  QColor titleBackground{26, 62, 114};
  QColor titleText{255, 255, 255};
  QColor text{16, 32, 56};
  QImage watermark;
};

// Reads the theme file at `devicePath`; the default theme when it cannot be read.
HomeTheme LoadTheme(const std::string& devicePath);
// Parses a theme file's text.
HomeTheme ParseTheme(const std::string& text);
// The theme the phone has chosen (the "Skin" value).
HomeTheme LoadCurrentTheme();

// Puts the themes the phone comes with into "\Windows" when they are not there yet.
void InstallStockThemes();

}  // namespace home
