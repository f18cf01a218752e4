// `cmake --install` of this build tree into a temporary prefix, then the installed console: it
// must take the files it installs onto a device from the prefix, and the installed programs must
// find their private libraries there.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/TestDevice.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every file under `shipped` must be in `copy` with the same contents.
void ExpectCopied(const fs::path& shipped, const fs::path& copy) {
  ASSERT_TRUE(fs::is_directory(shipped)) << shipped;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(shipped)) {
    if (!entry.is_regular_file())
      continue;
    ++files;
    fs::path copied = copy / fs::relative(entry.path(), shipped);
    EXPECT_EQ(ReadAll(copied), ReadAll(entry.path())) << copied;
  }
  EXPECT_GT(files, 0) << shipped;
}

class InstallPrefixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "telvane-prefix-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    prefix_ = fs::canonical(tmpl);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(prefix_, ec);
  }
  fs::path prefix_;
};

TEST_F(InstallPrefixTest, InstalledConsoleTakesItsAssetsFromThePrefix) {
  std::string out;
  std::string err;
  ASSERT_EQ(RunCommand({TELVANE_CMAKE_COMMAND, "--install", TELVANE_BUILD_DIR, "--prefix",
                        prefix_.string()},
                       {}, &out, &err),
            0)
      << out << err;
  const fs::path bin = prefix_ / "bin";
  const fs::path share = prefix_ / "share" / "telvane";
  for (const char* program : {"telvane", "telvane-device", "telvane-replay", "telvane-today"})
    EXPECT_TRUE(fs::is_regular_file(bin / program)) << program;

  // The packaged user service runs the installed console.
  EXPECT_NE(ReadAll(prefix_ / "lib" / "systemd" / "user" / "telvane-runner.service")
                .find("ExecStart=\"" + (bin / "telvane-device").string() + "\" serve\n"),
            std::string::npos);

  // The installed home screen loads the phone's system library from the prefix.
  ASSERT_EQ(RunCommand({"/usr/bin/ldd", (bin / "telvane-today").string()}, {}, &out, &err), 0)
      << err;
  const std::string needed = "libtelvane-phone.so => ";
  const size_t at = out.find(needed);
  ASSERT_NE(at, std::string::npos) << out;
  const size_t from = at + needed.size();
  const fs::path found = out.substr(from, out.find(" (", from) - from);
  std::error_code ec;
  EXPECT_EQ(fs::canonical(found, ec), prefix_ / "lib" / "telvane" / "libtelvane-phone.so") << out;

  TestDevice dev;
  ASSERT_EQ(
      RunCommand({(bin / "telvane-device").string(), "--device", dev.folder().string(), "install"},
                 {"XDG_CONFIG_HOME=" + (dev.folder() / "xdg-config").string()}, &out, &err),
      0)
      << err;
  EXPECT_NE(out.find("assets from " + share.string() + "\n"), std::string::npos) << out;
  const fs::path program = dev.device().ProgramFolder();
  ExpectCopied(share / "traductions", program / "traductions");
  ExpectCopied(share / "themes", program / "themes");
  ExpectCopied(share / "images", program);
  ExpectCopied(share / "help", program);
  EXPECT_EQ(ReadAll(program / "libTodayTelvane.so"),
            ReadAll(prefix_ / "lib" / "telvane" / "libTodayTelvane.so"));
}

}  // namespace
