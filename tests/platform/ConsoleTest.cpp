// The device console as scripts use it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Json.h"
#include "platform/Messaging.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(ConsoleTest, RegistryCommands) {
  std::string out, err;
  EXPECT_EQ(dev.Console({"reg", "get", "HKLM", "Software\\Orvella\\Telvane", "theme"}, &out, &err),
            1);
  EXPECT_FALSE(err.empty());
  ASSERT_EQ(dev.Console({"reg", "set", "HKLM", "\\SOFTWARE\\Orvella\\Telvane", "theme", "string",
                         "night sky"}),
            0);
  ASSERT_EQ(
      dev.Console({"reg", "set", "HKLM", "Software\\Orvella\\Telvane", "count", "dword", "0x20"}),
      0);
  ASSERT_EQ(dev.Console({"reg", "set", "HKCU", "Blob", "b", "binary", "00ff10"}), 0);
  ASSERT_EQ(dev.Console({"reg", "get", "HKLM", "software\\orvella\\telvane", "THEME"}, &out), 0);
  EXPECT_EQ(out, "night sky\n");
  ASSERT_EQ(dev.Console({"reg", "get", "HKLM", "Software\\Orvella\\Telvane", "count"}, &out), 0);
  EXPECT_EQ(out, "32\n");
  ASSERT_EQ(dev.Console({"reg", "get", "HKCU", "Blob", "b"}, &out), 0);
  EXPECT_EQ(out, "00ff10\n");
  ASSERT_EQ(dev.Console({"reg", "list", "HKLM", "Software\\Orvella"}, &out), 0);
  EXPECT_EQ(out, "Telvane\\\n");
  ASSERT_EQ(dev.Console({"reg", "list", "HKLM", "Software\\Orvella\\Telvane"}, &out), 0);
  EXPECT_EQ(out, "theme = string:night sky\ncount = dword:32\n");
  EXPECT_EQ(dev.Console({"reg", "delete", "HKLM", "Software\\Orvella\\Telvane", "count"}), 0);
  EXPECT_EQ(dev.Console({"reg", "get", "HKLM", "Software\\Orvella\\Telvane", "count"}), 1);
  EXPECT_EQ(dev.Console({"reg", "delete", "HKLM", "Software\\Orvella"}), 0);
  EXPECT_EQ(dev.Console({"reg", "get", "HKLM", "Software\\Orvella\\Telvane", "theme"}), 1);
  // Bad input is one clear line on stderr and a non-zero exit.
  EXPECT_NE(dev.Console({"reg", "set", "HKXX", "A", "v", "dword", "1"}, nullptr, &err), 0);
  EXPECT_NE(err.find("HKXX"), std::string::npos);
  EXPECT_NE(dev.Console({"reg", "set", "HKLM", "A", "v", "dword", "12abc"}, nullptr, &err), 0);
  EXPECT_NE(dev.Console({"reg", "set", "HKLM", "A", "v", "binary", "0g"}, nullptr, &err), 0);
  EXPECT_NE(dev.Console({"frobnicate"}, nullptr, &err), 0);
  EXPECT_NE(err.find("frobnicate"), std::string::npos);
}

TEST_F(ConsoleTest, FilesGoOntoThePhoneAndBackWithoutLeavingItsFileSystem) {
  namespace fs = std::filesystem;
  fs::path host = dev.folder() / "host.txt";
  std::ofstream(host, std::ios::binary) << "agenda";
  ASSERT_EQ(dev.Console({"file", "put", host.string(), "\\My Documents\\agenda.txt"}), 0);
  EXPECT_TRUE(fs::exists(dev.folder() / "fs" / "My Documents" / "agenda.txt"));
  std::string out, err;
  ASSERT_EQ(dev.Console({"file", "ls", "\\My Documents"}, &out), 0);
  EXPECT_EQ(out, "agenda.txt  6\n");
  ASSERT_EQ(dev.Console({"file", "ls"}, &out), 0);
  EXPECT_NE(out.find("My Documents\\\n"), std::string::npos);

  // A path climbing out of the phone's root stays inside it.
  ASSERT_EQ(dev.Console({"file", "put", host.string(), "\\..\\..\\escaped.txt"}), 0);
  EXPECT_FALSE(fs::exists(dev.folder().parent_path() / "escaped.txt"));
  EXPECT_TRUE(fs::exists(dev.folder() / "fs" / "escaped.txt"));

  fs::path back = dev.folder() / "back.txt";
  ASSERT_EQ(dev.Console({"file", "get", "\\My Documents\\agenda.txt", back.string()}), 0);
  std::stringstream text;
  text << std::ifstream(back).rdbuf();
  EXPECT_EQ(text.str(), "agenda");

  EXPECT_EQ(dev.Console({"file", "get", "\\missing.txt", back.string()}, &out, &err), 2);
  EXPECT_NE(err.find("no such file"), std::string::npos);
  EXPECT_EQ(dev.Console({"file", "rm", "\\My Documents\\agenda.txt"}), 0);
  EXPECT_EQ(dev.Console({"file", "rm", "\\My Documents\\agenda.txt"}), 2);
  EXPECT_EQ(dev.Console({"file", "put", host.string()}), 2) << "usage error";
}

TEST_F(ConsoleTest, FilesBehindLinksOutOfThePhoneAreRefused) {
  namespace fs = std::filesystem;
  fs::path outside = dev.folder() / "outside";
  fs::path phone = dev.folder() / "fs";
  fs::create_directories(outside);
  fs::create_directories(phone / "My Documents");
  std::ofstream(outside / "secret.txt") << "secret";
  fs::create_directory_symlink(outside, phone / "out");
  fs::create_symlink(outside / "secret.txt", phone / "secret.txt");
  fs::create_symlink(outside / "none.txt", phone / "dangling.txt");
  fs::create_directory_symlink(phone / "My Documents", phone / "docs");
  fs::path host = dev.folder() / "host.txt";
  std::ofstream(host) << "agenda";
  fs::path back = dev.folder() / "back.txt";

  const std::vector<std::vector<std::string>> refused = {
      {"file", "get", "\\secret.txt", back.string()},
      {"file", "get", "\\out\\secret.txt", back.string()},
      {"file", "put", host.string(), "\\out\\new.txt"},
      {"file", "put", host.string(), "\\out\\deeper\\new.txt"},
      {"file", "put", host.string(), "\\secret.txt"},
      {"file", "put", host.string(), "\\dangling.txt"},
      {"file", "rm", "\\secret.txt"},
      {"file", "rm", "\\out\\secret.txt"},
  };
  for (const auto& args : refused) {
    std::string err;
    EXPECT_EQ(dev.Console(args, nullptr, &err), 2) << args[1] << " " << args[2];
    EXPECT_NE(err.find("out of the phone's file system"), std::string::npos) << err;
  }
  EXPECT_FALSE(fs::exists(back));
  EXPECT_FALSE(fs::exists(outside / "new.txt"));
  EXPECT_FALSE(fs::exists(outside / "deeper"));
  EXPECT_FALSE(fs::exists(outside / "none.txt"));
  EXPECT_TRUE(fs::is_symlink(phone / "secret.txt"));
  std::stringstream secret;
  secret << std::ifstream(outside / "secret.txt").rdbuf();
  EXPECT_EQ(secret.str(), "secret");

  // A link that stays on the phone is followed as before.
  EXPECT_EQ(dev.Console({"file", "put", host.string(), "\\docs\\agenda.txt"}), 0);
  EXPECT_TRUE(fs::exists(phone / "My Documents" / "agenda.txt"));
}

TEST_F(ConsoleTest, JsonReportsCarryAnyTextUnchanged) {
  const std::string tricky = "say \"hi\" \\ back\nbell\x07 caf\xC3\xA9 \xE2\x82\xAC";
  SMS_HANDLE sms;
  ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms), S_OK);
  SMS_ADDRESS to;
  to.ptsAddress = tricky;
  std::vector<BYTE> text;
  for (char16_t unit : Utf8ToUtf16(tricky)) {
    text.push_back(static_cast<BYTE>(unit & 0xFF));
    text.push_back(static_cast<BYTE>(unit >> 8));
  }
  TEXT_PROVIDER_SPECIFIC_DATA data;
  ASSERT_EQ(SmsSendMessage(sms, nullptr, &to, nullptr, text.data(), text.size(), &data,
                           kTextProviderDataSize, 0, 0, nullptr),
            S_OK);
  SmsClose(sms);
  dev.device().SetState("note", tricky);
  // Bytes that are not UTF-8 cannot be carried; the report stays valid JSON all the same.
  dev.device().SetState("raw",
                        "a\xFF"
                        "b");

  std::string out, err;
  ASSERT_EQ(dev.Console({"outbox", "--json"}, &out, &err), 0) << err;
  auto outbox = ParseJson(out);
  ASSERT_TRUE(outbox && outbox->size() == 1) << out;
  EXPECT_EQ((*outbox)[0]["to"], tricky);
  EXPECT_EQ((*outbox)[0]["text"], tricky);
  ASSERT_EQ(dev.Console({"state", "--json"}, &out, &err), 0) << err;
  auto state = ParseJson(out);
  ASSERT_TRUE(state) << out;
  EXPECT_EQ((*state)["hardware"]["note"], tricky);
  EXPECT_EQ((*state)["hardware"]["raw"],
            "a\xEF\xBF\xBD"
            "b");
}

TEST_F(ConsoleTest, InstallCreatesTheProgramAndKeepsUserSettings) {
  ASSERT_EQ(dev.Console({"install"}), 0);
  std::string config;
  ASSERT_EQ(
      RegistryGetString(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "mgr_config", &config),
      S_OK);
  EXPECT_EQ(config, std::string(53, '2'));
  EXPECT_TRUE(std::filesystem::is_directory(dev.device().ProgramFolder()));
  ASSERT_EQ(RegistrySetString(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "language", "es"),
            S_OK);
  ASSERT_EQ(dev.Console({"install"}), 0);
  std::string language;
  RegistryGetString(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "language", &language);
  EXPECT_EQ(language, "es");
}

TEST_F(ConsoleTest, StateReportsWindowsNotificationsAndHardware) {
  dev.device().SetState("cell_id", "1234");
  std::string out;
  ASSERT_EQ(dev.Console({"state", "--json"}, &out), 0);
  EXPECT_NE(out.find("\"cell_id\":\"1234\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"runner\":false"), std::string::npos);
  ASSERT_EQ(dev.Console({"state"}, &out), 0);
  EXPECT_NE(out.find("cell_id = 1234"), std::string::npos) << out;
}

}  // namespace
