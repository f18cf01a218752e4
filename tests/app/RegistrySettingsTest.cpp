// The settings store over the simulated phone's registry.
#include <gtest/gtest.h>

#include "app/RegistrySettings.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class RegistrySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  TestDevice dev;
};

TEST_F(RegistrySettingsTest, ValuesNeverWrittenReadAsZeroAndEmpty) {
  CRegistrySettings settings;
  EXPECT_EQ(settings.GetDWORD("never_written"), 0u);
  EXPECT_EQ(settings.GetString("never_written"), "");
  // A value of the other kind is not mistaken for the requested one.
  settings.SetString("a_string", "12");
  EXPECT_EQ(settings.GetDWORD("a_string"), 0u);
}

TEST_F(RegistrySettingsTest, WrittenValuesAreSeenUnderTheHomeScreenItemsSpellingOfTheKey) {
  CRegistrySettings settings;
  settings.SetString("current_place", "Oficina \xC3\xB1");
  settings.SetDWORD("today_print_place", 7);
  EXPECT_EQ(settings.GetString("current_place"), "Oficina \xC3\xB1");
  EXPECT_EQ(settings.GetDWORD("today_print_place"), 7u);

  std::string text;
  DWORD number = 0;
  ASSERT_EQ(
      RegistryGetString(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "current_place", &text),
      S_OK);
  ASSERT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "today_print_place",
                             &number),
            S_OK);
  EXPECT_EQ(text, "Oficina \xC3\xB1");
  EXPECT_EQ(number, 7u);

  // Another writer is seen at once: nothing is cached.
  ASSERT_EQ(
      RegistrySetDWORD(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "today_print_place", 9),
      S_OK);
  EXPECT_EQ(settings.GetDWORD("today_print_place"), 9u);
}

TEST_F(RegistrySettingsTest, StringIsCutAtItsFirstZeroCharacter) {
  CRegistrySettings settings;
  settings.SetString("theme", std::string_view("abc\0def", 7));
  EXPECT_EQ(settings.GetString("theme"), "abc");
}

TEST_F(RegistrySettingsTest, DebugInfoFlagIsSetOnlyByTheValueOne) {
  CRegistrySettings writer;
  writer.SetDWORD(CRegistrySettings::kDebugInfo, 1);
  {
    CRegistrySettings settings;
    EXPECT_TRUE(CRegistrySettings::DebugInfo());
  }
  writer.SetDWORD(CRegistrySettings::kDebugInfo, 2);
  {
    CRegistrySettings settings;
    EXPECT_FALSE(CRegistrySettings::DebugInfo());
  }
  writer.SetDWORD(CRegistrySettings::kDebugInfo, 1);
  { CRegistrySettings settings; }
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key), ERROR_SUCCESS);
  RegDeleteValue(key, CRegistrySettings::kDebugInfo);
  RegCloseKey(key);
  CRegistrySettings settings;
  EXPECT_FALSE(CRegistrySettings::DebugInfo());
}

TEST_F(RegistrySettingsTest, BinaryValuesRoundTripAndReportTheNeededSize) {
  CRegistrySettings settings;
  const BYTE pin[] = {0x00, 0x9F, 0x31, 0x00, 0xFE};
  ASSERT_EQ(settings.SetBinary("pin", pin, sizeof pin), ERROR_SUCCESS);

  BYTE small[2] = {};
  DWORD length = sizeof small;
  EXPECT_EQ(settings.GetBinary("pin", small, &length), ERROR_MORE_DATA);
  EXPECT_EQ(length, sizeof pin);

  BYTE buffer[16] = {};
  length = sizeof buffer;
  ASSERT_EQ(settings.GetBinary("pin", buffer, &length), ERROR_SUCCESS);
  ASSERT_EQ(length, sizeof pin);
  EXPECT_EQ(std::vector<BYTE>(buffer, buffer + length), std::vector<BYTE>(pin, pin + 5));

  length = sizeof buffer;
  EXPECT_NE(settings.GetBinary("no_pin", buffer, &length), ERROR_SUCCESS);
}

TEST_F(RegistrySettingsTest, WritesWithoutTheRootKeyDoNothingAndDoNotCreateIt) {
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\Orvella"), ERROR_SUCCESS);
  CRegistrySettings settings;
  settings.SetDWORD("events_log_items_screen", 25);
  settings.SetString("language", "es");
  const BYTE blob[] = {1, 2};
  EXPECT_NE(settings.SetBinary("pin", blob, sizeof blob), ERROR_SUCCESS);
  EXPECT_EQ(settings.GetDWORD("events_log_items_screen"), 0u);
  EXPECT_EQ(settings.GetString("language"), "");

  HKEY key = 0;
  EXPECT_NE(RegOpenKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key), ERROR_SUCCESS);
}

TEST_F(RegistrySettingsTest, LatestStoreIsCurrentAndAFirstUseStoreOutlivesIt) {
  CRegistrySettings* firstUse = CRegistrySettings::Instance();
  ASSERT_NE(firstUse, nullptr);
  EXPECT_EQ(CRegistrySettings::Instance(), firstUse);
  {
    CRegistrySettings member;
    EXPECT_EQ(CRegistrySettings::Instance(), &member);
  }
  // The member is gone: Instance() must not hand it out any longer.
  EXPECT_EQ(CRegistrySettings::Instance(), firstUse);
  EXPECT_EQ(firstUse->GetRootPath(), "\\SOFTWARE\\Orvella\\Telvane");
}

}  // namespace
