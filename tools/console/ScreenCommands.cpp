// screen, rotate, screenshot: the phone's screen size and orientation, and pictures of a
// running program's window.
#include <filesystem>
#include <iostream>
#include <string>

#include "console/Console.h"
#include "platform/Screen.h"

namespace console {
namespace {

using namespace platform;

void Show() {
  ScreenSize size = GetScreenSize();
  std::cout << size.width << "x" << size.height << "\n";
}

int RunScreen(const Args& args) {
  if (args.empty()) {
    Show();
    return 0;
  }
  if (args.size() != 1)
    return Usage("screen");
  const std::string& text = args[0];
  std::size_t x = text.find('x');
  if (x == std::string::npos)
    return Usage("screen");
  auto width = ParseInt(text.substr(0, x));
  auto height = ParseInt(text.substr(x + 1));
  if (!width || !height || !SetScreenSize({static_cast<int>(*width), static_cast<int>(*height)}))
    return Fail("not a screen size \"" + text + "\" (WIDTHxHEIGHT, 100 to 4000 pixels a side)");
  Show();
  return 0;
}

int RunRotate(const Args& args) {
  if (!args.empty())
    return Usage("rotate");
  if (!RotateScreen())
    return Fail("cannot turn the screen");
  Show();
  return 0;
}

int RunScreenshot(const Args& all) {
  Args args = all;
  bool missing = false;
  bool wholeScreen = TakeFlag(args, "--screen");
  auto windowClass = TakeOption(args, "--class", &missing);
  if (missing || args.size() != 1 || (wholeScreen && windowClass))
    return Usage("screenshot");
  std::filesystem::path file = std::filesystem::absolute(args[0]);
  std::string error;
  bool saved = wholeScreen ? RequestScreenPicture(file.string(), 10000, &error)
                           : RequestScreenshot(windowClass.value_or("MainWindow"), file.string(),
                                               10000, &error);
  if (!saved)
    return Fail(error);
  std::cout << file.string() << "\n";
  return 0;
}

ConsoleCommand screen("screen", "screen [WIDTHxHEIGHT]",
                      "Shows or changes the phone's screen size; running programs lay their "
                      "windows out again.",
                      RunScreen);
ConsoleCommand rotate("rotate", "rotate",
                      "Turns the phone a quarter (width and height swap) and shows the new size.",
                      RunRotate);
ConsoleCommand screenshot("screenshot", "screenshot [--class CLASS | --screen] FILE",
                          "Saves the window of CLASS (MainWindow unless given), or with --screen "
                          "the whole screen (every visible window in stacking order), as a PNG "
                          "file on the host; prints the file.",
                          RunScreenshot);

}  // namespace
}  // namespace console
