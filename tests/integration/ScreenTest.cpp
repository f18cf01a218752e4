// The running telvane and the phone's screen: pictures of its window taken through the device
// console, and the window following the screen when it turns or changes size.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "support/Programs.h"

namespace fs = std::filesystem;

namespace {

// Width and height from a PNG file's header; (0, 0) when the file is not a PNG.
std::pair<int, int> PngSize(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char header[24] = {};
  if (!in.read(reinterpret_cast<char*>(header), sizeof header))
    return {0, 0};
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (!std::equal(signature, signature + 8, header) ||
      std::string(header + 12, header + 16) != "IHDR")
    return {0, 0};
  auto word = [&](int at) {
    return (header[at] << 24) | (header[at + 1] << 16) | (header[at + 2] << 8) | header[at + 3];
  };
  return {word(16), word(20)};
}

TEST(ScreenTest, ScreenshotsFollowTheScreenAsItTurnsAndChangesSize) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_TRUE(telvane.Start());
  ASSERT_TRUE(telvane.WaitForWindow());
  fs::path shot = dev.folder() / "shot.png";
  std::string out, err;
  ASSERT_TRUE(WaitUntil([&] {
    return dev.Console({"screenshot", shot.string()}, &out) == 0;
  })) << telvane.TraceText();
  EXPECT_EQ(out, shot.string() + "\n");
  EXPECT_EQ(PngSize(shot), std::make_pair(240, 320));

  ASSERT_EQ(dev.Console({"rotate"}, &out), 0);
  EXPECT_EQ(out, "320x240\n");
  EXPECT_TRUE(WaitUntil([&] {
    return dev.Console({"screenshot", shot.string()}) == 0 &&
           PngSize(shot) == std::make_pair(320, 240);
  })) << telvane.TraceText();

  ASSERT_EQ(dev.Console({"screen", "480x640"}, &out), 0);
  EXPECT_TRUE(WaitUntil([&] {
    return dev.Console({"screenshot", shot.string()}) == 0 &&
           PngSize(shot) == std::make_pair(480, 640);
  }));

  // Refusals are one line on stderr with a non-zero exit and change nothing.
  EXPECT_EQ(dev.Console({"screen", "10x10"}, &out, &err), 2);
  EXPECT_NE(err.find("not a screen size"), std::string::npos);
  EXPECT_EQ(dev.Console({"screenshot", "--class", "Nobody", shot.string()}, &out, &err), 2);
  EXPECT_NE(err.find("no window of class Nobody"), std::string::npos);
  EXPECT_EQ(dev.Console({"screenshot", (dev.folder() / "missing" / "x.png").string()}, &out, &err),
            2);
  EXPECT_NE(err.find("cannot write"), std::string::npos);
  ASSERT_EQ(dev.Console({"screen"}, &out), 0);
  EXPECT_EQ(out, "480x640\n");
}

}  // namespace
