// Keeps the translation files complete and consistent with the program:
// - every text id the sources use (GetText("..."), TEXT_ID("...") or the common local helper
//   Text("...")) is in every file;
// - the files carry the same ids, and each id has the same printf conversions in every file;
// - texts that callers use as formats have the conversions the callers pass, and no other
//   text contains a '%'.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace fs = std::filesystem;

namespace {

const fs::path kSourceDir = TELVANE_SOURCE_DIR;

// Where the program's own sources live (tests are left out: they look up ids that are missing
// on purpose).
const char* const kProgramFolders[] = {"app", "data", "managers", "location", "ui", "today"};

struct TextIdUse {
  std::string id;
  std::string where;  // "path:line"
};

// The ids of GetText("...") calls, TEXT_ID("...") markers and calls of a local lookup helper
// named Text("...") in `source`. Calls whose argument is not a literal are not seen; such ids
// must be marked with TEXT_ID where they are written.
std::vector<TextIdUse> CollectTextIds(const std::string& source, const std::string& path) {
  static const std::regex kUse(
      R"re(\b(?:GetText|TEXT_ID|Text)\s*\(\s*"((?:[^"\\\n]|\\.)*)"\s*\))re");
  std::vector<TextIdUse> uses;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), kUse);
       it != std::sregex_iterator(); ++it) {
    auto line = 1 + std::count(source.begin(), source.begin() + it->position(0), '\n');
    uses.push_back({(*it)[1].str(), path + ":" + std::to_string(line)});
  }
  return uses;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<TextIdUse> CollectProgramTextIds() {
  std::vector<TextIdUse> uses;
  for (const char* folder : kProgramFolders) {
    fs::path root = kSourceDir / folder;
    if (!fs::is_directory(root))
      continue;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file())
        continue;
      std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp")
        continue;
      std::string relative = fs::relative(entry.path(), kSourceDir).string();
      for (auto& use : CollectTextIds(ReadFile(entry.path()), relative))
        uses.push_back(use);
    }
  }
  return uses;
}

// The printf conversions of a text, each without its '%' ("s", "02d", "zu", ".1f"). "%%" is no
// conversion; a '%' that starts no valid conversion gives "invalid".
std::vector<std::string> Conversions(const std::string& text) {
  static const std::regex kConversion(
      R"(%([-+ #0]*)(\*|[0-9]+)?(?:\.(\*|[0-9]*))?(hh|h|ll|l|j|z|t|L)?([diouxXeEfFgGaAcsp]))");
  std::vector<std::string> result;
  for (std::size_t pos = text.find('%'); pos != std::string::npos; pos = text.find('%', pos)) {
    if (pos + 1 < text.size() && text[pos + 1] == '%') {
      pos += 2;
      continue;
    }
    std::smatch match;
    std::string rest = text.substr(pos);
    if (!std::regex_search(rest, match, kConversion, std::regex_constants::match_continuous)) {
      result.push_back("invalid");
      ++pos;
      continue;
    }
    result.push_back(match.str(0).substr(1));
    pos += match.length(0);
  }
  return result;
}

std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (const auto& item : items)
    joined += (joined.empty() ? "" : " ") + item;
  return "[" + joined + "]";
}

struct TranslationFile {
  std::string name;
  bool parsed = false;
  std::string parseError;
  pugi::xml_node language;
  std::map<std::string, std::string> texts;
  std::vector<std::string> duplicates;
  pugi::xml_document doc;
};

std::vector<std::unique_ptr<TranslationFile>> LoadTranslationFiles() {
  std::vector<std::unique_ptr<TranslationFile>> files;
  for (const auto& entry : fs::directory_iterator(kSourceDir / "traductions")) {
    if (entry.path().extension() != ".xml")
      continue;
    auto file = std::make_unique<TranslationFile>();
    file->name = entry.path().filename().string();
    pugi::xml_parse_result result = file->doc.load_file(entry.path().c_str());
    file->parsed = static_cast<bool>(result);
    file->parseError = result.description();
    file->language = file->doc.select_node("/telvane/languages/language").node();
    for (pugi::xpath_node node : file->doc.select_nodes("/telvane/texts/text")) {
      std::string id = node.node().attribute("id").value();
      if (!file->texts.emplace(id, node.node().text().get()).second) {
        file->duplicates.push_back(id);
      }
    }
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a->name < b->name; });
  return files;
}

// Texts that callers use as formats, with the conversions of the arguments they pass. Texts are
// formatted by FormatText (app/TextFormat.h) or by printf, so only the plain conversions that
// both read alike ("%s", "%d", "%i", "%u") are allowed.
const std::map<std::string, std::vector<std::string>>& FormatTexts() {
  static const std::map<std::string, std::vector<std::string>> formats = {
      {"EVENT_LOG_MGR_CHANGING_STATUS_RESUME", {"s", "s"}},
      {"EVENT_LOG_MGR_CHANGING_STATUS_DESCRIPTION", {"s", "s"}},
      {"EVENT_LOG_MGR_CHANGED_STATUS_RESUME", {"s", "s"}},
      {"EVENT_LOG_MGR_CHANGED_STATUS_DESCRIPTION", {"s", "s", "s"}},
      {"EVENT_LOG_MGR_CHANGE_POS_RESUME", {"u", "u"}},
      {"EVENT_LOG_MGR_CHANGE_POS_DESCRIPTION", {"u", "u", "u", "u"}},
      {"EVENT_LOG_MGR_START_SCHEDULE_RESUME", {"s", "s", "d"}},
      {"EVENT_LOG_MGR_START_SCHEDULE_DESCRIPTION", {"s", "s", "d"}},
      {"EVENT_LOG_MGR_END_SCHEDULE_RESUME", {"s", "s", "d"}},
      {"EVENT_LOG_MGR_END_SCHEDULE_DESCRIPTION", {"s", "s", "d"}},
      {"EVENT_LOG_MGR_ACTION_SKIPPED_RESUME", {"s"}},
      {"EVENT_LOG_MGR_ACTION_SKIPPED_DESCRIPTION", {"s"}},
      {"EVENT_LOG_MGR_ACTION_OPEN_FILE_RESUME", {"s"}},
      {"EVENT_LOG_MGR_ACTION_OPEN_FILE_DESCRIPTION", {"s"}},
      {"EVENT_LOG_MGR_ACTION_RING_TONE_RESUME", {"s"}},
      {"EVENT_LOG_MGR_ACTION_RING_TONE_DESCRIPTION", {"s", "s", "d"}},
      {"EVENT_LOG_MGR_ACTION_THEME_RESUME", {"s"}},
      {"EVENT_LOG_MGR_ACTION_THEME_DESCRIPTION", {"s"}},
      {"EVENT_LOG_MGR_ACTION_SMS_RESUME", {"s"}},
      {"EVENT_LOG_MGR_ACTION_SMS_DESCRIPTION", {"s"}},
      {"EVENT_LOG_MGR_ACTION_MAIL_RESUME", {"s"}},
      {"EVENT_LOG_MGR_ACTION_MAIL_DESCRIPTION", {"s", "s"}},
      {"ERROR OPENING VOLUME", {"d"}},
      {"ERROR DELETEING REGISTRY", {"s"}},
      {"ERROR REGISTRY NOT FOUND KEY", {"d"}},
      {"ERROR UPDATING REGISTRY", {"s"}},
      {"LAC ASSIGNED BUT NO PLACE", {"u", "u"}},
      {"PERIOD INTERSECTS", {"s"}},
      {"CONFIRM PERIOD SPLIT", {"s"}},
      {"DATA EXPORTED TO", {"s"}},
      {"MESSAGE_XML_IMPORT_SUCCESS", {"s"}},
      {"ERROR_XML_EXPORT", {"s"}},
      {"ERROR_XML_IMPORT_PLACE_WITHOUT_ID", {"s"}},
      {"DATA BACKUP DONE", {"s"}},
      {"ERROR DATA BACKUP", {"s"}},
      {"DATA RESTORE DONE", {"s"}},
      {"ERROR DATA RESTORE", {"s"}},
      {"EVENT LOG EXPORTED", {"s"}},
      {"ERROR EVENT LOG EXPORT", {"s"}},
      {"ERROR LOCATING SKIN", {"s"}},
      {"ERROR READING SKIN", {"s"}},
      {"MEMORY REPORT", {"u", "u"}},
      {"ERROR_XML_LINE", {"s", "s"}},
      {"ERROR_XML_WRONG_ROOT", {"s"}},
      {"ERROR_XML_NOT_A_NUMBER", {"s", "s"}},
      {"ERROR_XML_OUT_OF_RANGE", {"s", "s", "s", "s"}},
      {"ERROR_XML_NOT_UTF8", {"s"}},
      {"ERROR_XML_DUPLICATE_CELL", {"s"}},
      {"ERROR_XML_DUPLICATE_LAC", {"s"}},
      {"EVENT_LOG_DATA_EXPORT_DESCRIPTION", {"s"}},
      {"EVENT_LOG_DATA_EXPORT_FAILED_DESCRIPTION", {"s", "s"}},
      {"EVENT_LOG_DATA_IMPORT_DESCRIPTION", {"s"}},
      {"EVENT_LOG_DATA_IMPORT_FAILED_DESCRIPTION", {"s", "s"}},
      {"EVENT_LOG_DATA_BACKUP_DESCRIPTION", {"s"}},
      {"EVENT_LOG_DATA_BACKUP_FAILED_DESCRIPTION", {"s", "s"}},
      {"EVENT_LOG_DATA_RESTORE_DESCRIPTION", {"s"}},
      {"EVENT_LOG_DATA_RESTORE_FAILED_DESCRIPTION", {"s", "s"}},
      {"EVENT_LOG_DATA_FORMAT_DESCRIPTION", {"s"}},
      {"EVENT_LOG_DATA_FORMAT_FAILED_DESCRIPTION", {"s", "s"}},
      {"CAUSE MENU COMMAND", {"s"}},
      {"CAUSE SCHEDULE ENTER", {"s", "s", "s", "s", "s", "s"}},
      {"CAUSE SCHEDULE LEAVE", {"s", "s", "s", "s", "s", "s"}},
      {"CAUSE SCHEDULE ENTER LOCKED", {"s", "s", "s", "s"}},
      {"CAUSE SCHEDULE LEAVE LOCKED", {"s", "s", "s", "s"}},
      {"CAUSE TIME LIMIT", {"s", "s"}},
      {"CAUSE TIME LIMIT SINCE", {"s", "s", "s"}},
      {"EVENT_LOG_LOCATION_FLAP_RESUME", {"s", "s"}},
      {"EVENT_LOG_LOCATION_FLAP_DESCRIPTION", {"s", "s", "s", "s", "s"}},
  };
  return formats;
}

TEST(TextIdsTest, TheCollectorFindsLiteralIdsOnly) {
  const std::string source =
      "auto a = CTexts::GetInstance()->GetText(\"EVENT_LOG_MGR_BT_NAME\");\n"
      "auto b = texts->GetText(\n"
      "    \"LOCK WARNING\");\n"
      "const char* c = TEXT_ID( \"MENU_DATA\" );\n"
      "auto d = texts->GetText(name);\n"
      "auto e = exception.GetText();\n"
      "auto f = MyGetText(\"NOT AN ID\");\n"
      "auto g = GetText(\"SAY \\\"HI\\\"\");\n"
      "throw CBaseException(\"%s\", Text(\"ERROR REGISTERING EVENT\").c_str());\n"
      "label->setText(\"NOT AN ID EITHER\");\n";
  std::vector<TextIdUse> uses = CollectTextIds(source, "x.cpp");
  std::vector<std::string> ids, where;
  for (const auto& use : uses) {
    ids.push_back(use.id);
    where.push_back(use.where);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"EVENT_LOG_MGR_BT_NAME", "LOCK WARNING", "MENU_DATA",
                                           "SAY \\\"HI\\\"", "ERROR REGISTERING EVENT"}));
  EXPECT_EQ(where,
            (std::vector<std::string>{"x.cpp:1", "x.cpp:2", "x.cpp:4", "x.cpp:8", "x.cpp:9"}));
}

TEST(TextIdsTest, ConversionsAreReadAsPrintfReadsThem) {
  EXPECT_EQ(Conversions("no conversions"), std::vector<std::string>{});
  EXPECT_EQ(Conversions("100%% sure"), std::vector<std::string>{});
  EXPECT_EQ(Conversions("%s moved from %02d to %-5lu, %zu bytes in %.1f ms"),
            (std::vector<std::string>{"s", "02d", "-5lu", "zu", ".1f"}));
  EXPECT_EQ(Conversions("%*d"), (std::vector<std::string>{"*d"}));
  EXPECT_EQ(Conversions("50%!"), (std::vector<std::string>{"invalid"}));
  EXPECT_EQ(Conversions("ends with %"), (std::vector<std::string>{"invalid"}));
  // printf reads "% o" as a conversion with the blank flag, so a stray '%' is not harmless.
  EXPECT_EQ(Conversions("50% off"), (std::vector<std::string>{" o"}));
}

TEST(TextIdsTest, EveryIdTheProgramUsesIsInEveryTranslationFile) {
  std::vector<TextIdUse> uses = CollectProgramTextIds();
  auto files = LoadTranslationFiles();
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    ASSERT_TRUE(file->parsed) << file->name << ": " << file->parseError;
    std::set<std::string> reported;
    for (const auto& use : uses) {
      if (file->texts.count(use.id) || !reported.insert(use.id).second)
        continue;
      ADD_FAILURE() << file->name << " lacks the text id \"" << use.id << "\" used at "
                    << use.where;
    }
  }
}

TEST(TextIdsTest, TheFilesDescribeTheirLanguageAndEnglishIsTheDefault) {
  auto files = LoadTranslationFiles();
  std::set<std::string> tags;
  std::string defaultTag;
  for (const auto& file : files) {
    ASSERT_TRUE(file->parsed) << file->name << ": " << file->parseError;
    ASSERT_TRUE(file->language) << file->name << " has no /telvane/languages/language";
    std::string tag = file->language.attribute("tag").value();
    EXPECT_FALSE(tag.empty()) << file->name;
    EXPECT_FALSE(std::string(file->language.attribute("name").value()).empty()) << file->name;
    EXPECT_FALSE(std::string(file->language.attribute("author").value()).empty()) << file->name;
    EXPECT_TRUE(tags.insert(tag).second) << file->name << " repeats the tag " << tag;
    if (std::string(file->language.attribute("default").value()) == "yes") {
      EXPECT_TRUE(defaultTag.empty()) << file->name << " is a second default";
      defaultTag = tag;
    }
    EXPECT_TRUE(file->duplicates.empty())
        << file->name << " repeats the ids " << Join(file->duplicates);
  }
  EXPECT_EQ(defaultTag, "en");
  EXPECT_TRUE(tags.count("es"));
}

TEST(TextIdsTest, AllFilesHaveTheSameIdsAndConversions) {
  auto files = LoadTranslationFiles();
  ASSERT_GE(files.size(), 2u);
  const TranslationFile& reference = *files.front();
  for (const auto& file : files) {
    ASSERT_TRUE(file->parsed) << file->name << ": " << file->parseError;
    for (const auto& [id, text] : reference.texts) {
      auto other = file->texts.find(id);
      if (other == file->texts.end()) {
        ADD_FAILURE() << file->name << " lacks \"" << id << "\" that " << reference.name << " has";
        continue;
      }
      EXPECT_EQ(Join(Conversions(other->second)), Join(Conversions(text)))
          << "\"" << id << "\" in " << file->name << " and " << reference.name;
      EXPECT_FALSE(other->second.empty()) << "\"" << id << "\" is empty in " << file->name;
    }
    for (const auto& [id, text] : file->texts) {
      if (!reference.texts.count(id)) {
        ADD_FAILURE() << file->name << " has \"" << id << "\" that " << reference.name << " lacks";
      }
    }
  }
}

TEST(TextIdsTest, FormatTextsTakeTheCallersArgumentsAndNoOtherTextHasAPercent) {
  auto files = LoadTranslationFiles();
  for (const auto& file : files) {
    for (const auto& [id, text] : file->texts) {
      auto format = FormatTexts().find(id);
      std::vector<std::string> expected =
          format == FormatTexts().end() ? std::vector<std::string>{} : format->second;
      EXPECT_EQ(Join(Conversions(text)), Join(expected)) << "\"" << id << "\" in " << file->name;
      for (const std::string& conversion : Conversions(text)) {
        EXPECT_TRUE(conversion == "s" || conversion == "d" || conversion == "i" ||
                    conversion == "u")
            << "\"" << id << "\" in " << file->name << " uses %" << conversion;
      }
      if (format == FormatTexts().end()) {
        EXPECT_EQ(text.find('%'), std::string::npos)
            << "\"" << id << "\" in " << file->name << " is not a format but holds a '%'";
      }
    }
    for (const auto& [id, conversions] : FormatTexts()) {
      EXPECT_TRUE(file->texts.count(id)) << file->name << " lacks the format text \"" << id << "\"";
    }
  }
}

}  // namespace
