// CTexts: choosing the translation file, looking texts up, listing the languages, and what
// happens with broken files.
#include "app/Texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"

namespace fs = std::filesystem;

namespace {

// A translation file with one language element and the given texts (id, text).
std::string TranslationXml(const std::string& name, const std::string& tag, bool isDefault,
                           const std::vector<std::pair<std::string, std::string>>& texts,
                           const std::string& author = "someone") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<telvane><languages>";
  xml += "<language name=\"" + name + "\" tag=\"" + tag + "\" author=\"" + author +
         "\" default=\"" + (isDefault ? "yes" : "no") + "\"/></languages><texts>";
  for (const auto& [id, text] : texts)
    xml += "<text id=\"" + id + "\">" + text + "</text>";
  xml += "</texts></telvane>\n";
  return xml;
}

class TextsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTexts::ResetForTesting();
    folder_ = dev_.device().ProgramFolder() / "traductions";
    fs::create_directories(folder_);
  }
  void TearDown() override { CTexts::ResetForTesting(); }

  void WriteFile(const std::string& name, const std::string& content) {
    std::ofstream out(folder_ / name, std::ios::binary);
    out << content;
  }

  void CopyShippedFile(const std::string& name) {
    fs::copy_file(fs::path(TELVANE_SOURCE_DIR) / "traductions" / name, folder_ / name,
                  fs::copy_options::overwrite_existing);
  }

  void SetLanguage(const std::string& tag) {
    platform::HKEY key = 0;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvella\\Telvane",
                                       &key),
              platform::ERROR_SUCCESS);
    ASSERT_EQ(platform::RegSetString(key, "language", tag), platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
  }

  TestDevice dev_;
  fs::path folder_;
};

TEST_F(TextsTest, TheFileWhoseTagMatchesTheSettingIsUsed) {
  CopyShippedFile("en.xml");
  CopyShippedFile("es.xml");
  SetLanguage("es");

  CTexts* texts = CTexts::GetInstance();
  EXPECT_EQ(texts, CTexts::GetInstance());
  EXPECT_EQ(texts->GetLanguage(), "es");
  EXPECT_EQ(texts->GetLoadedTag(), "es");
  EXPECT_EQ(texts->GetAuthor(), "El equipo de Telvane");
  EXPECT_EQ(texts->GetText("EVENT_LOG_MGR_PHONE_NAME"), "Teléfono");
  EXPECT_EQ(texts->GetText("EVENT_LOG_MGR_BT_STATUS_OFF"), "apagado");
  EXPECT_TRUE(platform::ListBoxes().empty());
}

TEST_F(TextsTest, AnEmptyOrUnknownSettingFallsBackToTheDefaultFile) {
  WriteFile("de.xml", TranslationXml("Deutsch", "de", false, {{"HELLO", "Hallo"}}, "Anna"));
  WriteFile("en.xml", TranslationXml("English", "en", true, {{"HELLO", "Hello"}}, "Bob"));
  WriteFile("fr.xml", TranslationXml("Français", "fr", false, {{"HELLO", "Bonjour"}}, "Chloé"));

  // No setting at all: the default file, and its author rather than the last file's.
  EXPECT_EQ(CTexts::GetInstance()->GetText("HELLO"), "Hello");
  EXPECT_EQ(CTexts::GetInstance()->GetLoadedTag(), "en");
  EXPECT_EQ(CTexts::GetInstance()->GetAuthor(), "Bob");

  CTexts::ResetForTesting();
  SetLanguage("pt");
  EXPECT_EQ(CTexts::GetInstance()->GetText("HELLO"), "Hello");

  // The tag must match exactly: case counts.
  CTexts::ResetForTesting();
  SetLanguage("DE");
  EXPECT_EQ(CTexts::GetInstance()->GetText("HELLO"), "Hello");

  CTexts::ResetForTesting();
  SetLanguage("de");
  EXPECT_EQ(CTexts::GetInstance()->GetText("HELLO"), "Hallo");
}

TEST_F(TextsTest, WithNoMatchAndNoDefaultEveryLookupIsMissing) {
  WriteFile("de.xml", TranslationXml("Deutsch", "de", false, {{"HELLO", "Hallo"}}, "Anna"));
  WriteFile("fr.xml", TranslationXml("Français", "fr", false, {{"HELLO", "Bonjour"}}, "Chloé"));
  SetLanguage("pt");

  CTexts* texts = CTexts::GetInstance();
  EXPECT_EQ(texts->GetText("HELLO"), "????");
  EXPECT_EQ(texts->GetLoadedTag(), "");
  // With nothing chosen, the author is that of the last file examined.
  EXPECT_EQ(texts->GetAuthor(), "Chloé");
}

TEST_F(TextsTest, OfTwoFilesWithTheSameTagTheFirstByNameWins) {
  // Written in the opposite order to their names, so that creation order cannot decide.
  WriteFile("b.xml", TranslationXml("Second", "xx", false, {{"WHO", "second"}}));
  WriteFile("a.xml", TranslationXml("First", "xx", false, {{"WHO", "first"}}));
  SetLanguage("xx");

  EXPECT_EQ(CTexts::GetInstance()->GetText("WHO"), "first");
}

TEST_F(TextsTest, OnlyTheFirstBackslashNBecomesALineBreak) {
  WriteFile("en.xml", TranslationXml("English", "en", true, {{"THREE", "one\\ntwo\\nthree"}}));

  CTexts* texts = CTexts::GetInstance();
  EXPECT_EQ(texts->GetText("THREE"), "one\ntwo\\nthree");
  // The second lookup comes from the cache, which must hold the text as written.
  EXPECT_EQ(texts->GetText("THREE"), "one\ntwo\\nthree");
}

TEST_F(TextsTest, FoundTextsAreCachedAndMissingOnesQueriedEachTime) {
  WriteFile("en.xml", TranslationXml("English", "en", true, {{"HELLO", "Hello"}, {"EMPTY", ""}}));
  CTexts* texts = CTexts::GetInstance();

  EXPECT_EQ(texts->GetText("HELLO"), "Hello");
  EXPECT_EQ(texts->GetText("HELLO"), "Hello");
  EXPECT_EQ(texts->DocumentQueries(), 1u);

  EXPECT_EQ(texts->GetText("NOT THERE"), "????");
  EXPECT_EQ(texts->GetText("NOT THERE"), "????");
  EXPECT_EQ(texts->DocumentQueries(), 3u);

  // An element with no text is a found, empty text, not a missing one.
  EXPECT_EQ(texts->GetText("EMPTY"), "");
  EXPECT_EQ(texts->GetText("EMPTY"), "");
  EXPECT_EQ(texts->DocumentQueries(), 4u);
}

TEST_F(TextsTest, AnIdIsMatchedLiterallyNeverAsPartOfTheQuery) {
  WriteFile("en.xml", TranslationXml("English", "en", true,
                                     {{"IT'S", "quoted"}, {"PLAIN", "plain"}, {"A]B", "bracket"}}));
  CTexts* texts = CTexts::GetInstance();

  EXPECT_EQ(texts->GetText("IT'S"), "quoted");
  EXPECT_EQ(texts->GetText("A]B"), "bracket");
  EXPECT_EQ(texts->GetText("X' or @id='PLAIN"), "????");
  EXPECT_EQ(texts->GetText("X\" or @id=\"PLAIN"), "????");
  EXPECT_EQ(texts->GetText(std::string("PLAIN\0X", 7)), "????");
}

TEST_F(TextsTest, AFileWithoutLanguagesLoadsButIsNeitherChosenNorListed) {
  WriteFile("bare.xml", "<telvane><texts><text id=\"HELLO\">bare</text></texts></telvane>");
  WriteFile("en.xml", TranslationXml("English", "en", false, {{"HELLO", "Hello"}}));
  SetLanguage("");

  EXPECT_EQ(CTexts::GetInstance()->GetText("HELLO"), "????");
  std::map<std::string, std::string> languages;
  CTexts::GetInstance()->ListLanguages(&languages, nullptr);
  EXPECT_EQ(languages, (std::map<std::string, std::string>{{"English", "en"}}));
  EXPECT_TRUE(platform::ListBoxes().empty());
}

TEST_F(TextsTest, ListLanguagesGivesEveryNamedLanguageAndTheLastDefault) {
  WriteFile("1.xml", TranslationXml("English", "en", true, {}));
  WriteFile("2.xml", TranslationXml("Español", "es", false, {}));
  WriteFile("3.xml", TranslationXml("Deutsch", "de", true, {}));
  WriteFile("4.xml", TranslationXml("English", "en-gb", false, {}));
  WriteFile("notes.txt", "not a translation");
  fs::create_directories(folder_ / "old.xml");  // a directory is never a file
  WriteFile("5.xml", "<telvane><languages>");   // broken: skipped, and no box
  SetLanguage("en");

  std::map<std::string, std::string> languages;
  std::string defaultTag = "unchanged";
  CTexts::GetInstance()->ListLanguages(&languages, &defaultTag);

  EXPECT_EQ(languages, (std::map<std::string, std::string>{
                           {"Deutsch", "de"}, {"English", "en"}, {"Español", "es"}}));
  EXPECT_EQ(defaultTag, "de");

  fs::remove(folder_ / "1.xml");
  fs::remove(folder_ / "3.xml");
  defaultTag = "unchanged";
  CTexts::GetInstance()->ListLanguages(nullptr, &defaultTag);
  EXPECT_EQ(defaultTag, "unchanged");
  EXPECT_TRUE(platform::ListBoxes().empty());
}

TEST_F(TextsTest, ABrokenFileBesideTheChosenLanguageIsSkippedSilently) {
  WriteFile("aa.xml", "<telvane><languages><language tag=\"aa\"></telvane>");
  CopyShippedFile("en.xml");
  SetLanguage("en");

  EXPECT_EQ(CTexts::GetInstance()->GetText("EXIT"), "Exit");
  EXPECT_TRUE(platform::ListBoxes().empty());
}

TEST_F(TextsTest, ABrokenFileThatMayBeTheChosenLanguageIsReportedAndTheDefaultUsed) {
  CopyShippedFile("en.xml");
  WriteFile("es.xml", "<telvane><languages><language tag=\"es\"/></languages><texts>");
  SetLanguage("es");

  EXPECT_EQ(CTexts::GetInstance()->GetText("EXIT"), "Exit");
  auto boxes = platform::ListBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, "error");
  EXPECT_EQ(boxes[0].text,
            "Error reading texts file \\Program Files\\Telvane\\traductions\\es.xml. ");
}

TEST_F(TextsTest, WithNoReadableFileTheProgramStopsWithAnErrorBox) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WriteFile("en.xml", "<telvane><languages>");
  SetLanguage("en");

  EXPECT_EXIT(
      {
        platform::SetBoxAnswerMode("ui");
        platform::SetBoxHook([](int, platform::HWND, const std::string& text) {
          std::fprintf(stderr, "BOX[%s]\n", text.c_str());
          return 1;
        });
        CTexts::GetInstance();
      },
      ::testing::ExitedWithCode(0),
      "BOX\\[Error reading texts file .Program Files.Telvane.traductions.en\\.xml\\. \\]");
}

TEST_F(TextsTest, WithoutTranslationFilesTextsAreMissingButTheProgramRuns) {
  fs::remove_all(folder_);
  EXPECT_EQ(CTexts::GetInstance()->GetText("EXIT"), "????");
  EXPECT_TRUE(platform::ListBoxes().empty());
}

TEST_F(TextsTest, ConcurrentFirstUseAndLookupsAgree) {
  CopyShippedFile("en.xml");
  const std::vector<std::string> ids = {"EXIT", "MENU_MENU", "EVENT_LOG_MGR_BT_NAME", "MISSING ONE",
                                        "EVENT_LOG_MGR_WIFI_NAME"};
  std::vector<CTexts*> instances(8, nullptr);
  std::vector<std::vector<std::string>> results(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      instances[t] = CTexts::GetInstance();
      for (int round = 0; round < 50; ++round) {
        for (const auto& id : ids)
          results[t].push_back(instances[t]->GetText(id));
      }
    });
  }
  for (auto& thread : threads)
    thread.join();

  for (int t = 0; t < 8; ++t) {
    EXPECT_EQ(instances[t], instances[0]);
    ASSERT_EQ(results[t].size(), ids.size() * 50);
    for (std::size_t i = 0; i < results[t].size(); ++i) {
      const std::string& id = ids[i % ids.size()];
      EXPECT_EQ(results[t][i], instances[0]->GetText(id)) << id;
    }
  }
  EXPECT_EQ(instances[0]->GetText("EXIT"), "Exit");
  EXPECT_EQ(instances[0]->GetText("MISSING ONE"), "????");
}

}  // namespace
