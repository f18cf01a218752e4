#include "app/Texts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include <pugixml.hpp>

#include "app/RegistrySettings.h"
#include "app/Trace.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLanguageSetting = "language";
constexpr const char* kFolderName = "traductions";

// Literal on purpose: these boxes appear when no translation can be trusted.
constexpr const char* kErrorLocating = "Error locating texts file %s. ";
constexpr const char* kErrorReading = "Error reading texts file %s. ";

std::mutex g_instanceMutex;
std::atomic<CTexts*> g_instance{nullptr};

// What a translation file says about its language (its first "language" element).
struct LanguageInfo {
  std::string name;
  std::string tag;
  std::string author;
  bool isDefault = false;
};

enum class LoadResult { kLoaded, kNotLocated, kUnreadable };

struct BrokenFile {
  fs::path path;
  LoadResult result;
};

// The translation folder on the host; empty when no device (and so no program folder) is open.
fs::path TranslationFolder() {
  std::string programFolder = platform::GetCurrentDirectory();
  if (programFolder.empty())
    return {};
  return fs::path(programFolder) / kFolderName;
}

bool HasXmlExtension(const fs::path& name) {
  return platform::EqualsNoCase(name.extension().string(), ".xml");
}

// The "*.xml" entries of the folder that are not directories, sorted by name so that the walk
// (and with it "the first file wins") does not depend on the file system's order.
std::vector<fs::path> TranslationFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  if (folder.empty())
    return files;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError))
      continue;
    if (!HasXmlExtension(it->path().filename()))
      continue;
    files.push_back(it->path());
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  return files;
}

// No validation, no external entities, white-space-only text nodes dropped.
LoadResult LoadFile(const fs::path& path, pugi::xml_document* doc) {
  pugi::xml_parse_result parsed = doc->load_file(path.c_str(), pugi::parse_default);
  if (parsed)
    return LoadResult::kLoaded;
  Trace(TRACE_WARNING, "CTexts::LoadFile(%s) %s", path.c_str(), parsed.description());
  if (parsed.status == pugi::status_file_not_found || parsed.status == pugi::status_io_error) {
    return LoadResult::kNotLocated;
  }
  return LoadResult::kUnreadable;
}

std::optional<LanguageInfo> ReadLanguage(const pugi::xml_document& doc) {
  pugi::xml_node node = doc.select_node("/telvane/languages/language").node();
  if (!node)
    return std::nullopt;
  LanguageInfo info;
  info.name = node.attribute("name").value();
  info.tag = node.attribute("tag").value();
  info.author = node.attribute("author").value();
  info.isDefault = std::string(node.attribute("default").value()) == "yes";
  return info;
}

// The path as the user knows it on the phone ("\Program Files\Telvane\traductions\es.xml").
std::string DisplayPath(const fs::path& hostPath) {
  if (platform::Device* device = platform::Device::Current()) {
    if (auto devicePath = device->DevicePath(hostPath))
      return *devicePath;
  }
  return hostPath.string();
}

std::string FileErrorText(const BrokenFile& file) {
  return platform::Format(file.result == LoadResult::kNotLocated ? kErrorLocating : kErrorReading,
                          DisplayPath(file.path).c_str());
}

// Ends the process at once, as the phone's TerminateProcess on itself does.
[[noreturn]] void TerminateSelf() {
  std::fflush(nullptr);
  std::_Exit(0);
}

void ReplaceFirstLineBreak(std::string* text) {
  std::size_t pos = text->find("\\n");
  if (pos != std::string::npos)
    text->replace(pos, 2, "\n");
}

}  // namespace

// The chosen file, with the precompiled lookup query bound to its variable.
struct CTexts::Document {
  pugi::xml_document doc;
  pugi::xpath_variable_set variables;
  pugi::xpath_query query;

  Document() : variables(MakeVariables()), query("/telvane/texts/text[@id=$id]", &variables) {}

  static pugi::xpath_variable_set MakeVariables() {
    pugi::xpath_variable_set set;
    set.add("id", pugi::xpath_type_string);
    return set;
  }

  // The id goes in as a variable, never into the query text, so quotes or brackets in an id
  // cannot change the query.
  pugi::xml_node Find(const std::string& id) {
    variables.set("id", id.c_str());
    return query.evaluate_node(doc).node();
  }
};

CTexts* CTexts::GetInstance() {
  CTexts* texts = g_instance.load(std::memory_order_acquire);
  if (texts)
    return texts;
  bool created = false;
  {
    std::lock_guard lock(g_instanceMutex);
    texts = g_instance.load(std::memory_order_relaxed);
    if (!texts) {
      texts = new CTexts();
      texts->LoadTexts();
      g_instance.store(texts, std::memory_order_release);
      created = true;
    }
  }
  // Outside the lock: a box may wait for the user-interface thread, which may itself be asking
  // for the texts meanwhile.
  if (created)
    texts->ReportLoadErrors();
  return texts;
}

void CTexts::ResetForTesting() {
  std::lock_guard lock(g_instanceMutex);
  delete g_instance.exchange(nullptr);
}

CTexts::CTexts() = default;

CTexts::~CTexts() = default;

void CTexts::LoadTexts() {
  language_ = CRegistrySettings::Instance()->GetString(kLanguageSetting);
  fs::path folder = TranslationFolder();
  Trace(TRACE_TRACE, "CTexts::LoadTexts(%s, %s)", language_.c_str(), folder.c_str());

  std::vector<BrokenFile> broken;
  std::unique_ptr<Document> fallback;  // the last file marked default="yes"
  LanguageInfo fallbackInfo;

  for (const fs::path& path : TranslationFiles(folder)) {
    auto candidate = std::make_unique<Document>();
    LoadResult result = LoadFile(path, &candidate->doc);
    if (result != LoadResult::kLoaded) {
      broken.push_back({path, result});
      continue;
    }
    std::optional<LanguageInfo> info = ReadLanguage(candidate->doc);
    if (!info)
      continue;  // a file without a language can never be chosen
    author_ = info->author;
    if (info->tag == language_) {
      document_ = std::move(candidate);
      loadedTag_ = info->tag;
      break;
    }
    if (info->isDefault) {
      fallback = std::move(candidate);
      fallbackInfo = *info;
    }
  }

  bool matched = document_ != nullptr;
  if (!matched && fallback) {
    Trace(TRACE_INFO, "CTexts::LoadTexts() language '%s' not found, using '%s'", language_.c_str(),
          fallbackInfo.tag.c_str());
    document_ = std::move(fallback);
    loadedTag_ = fallbackInfo.tag;
    author_ = fallbackInfo.author;
  }

  // A broken file only matters when it may be the language the user asked for, that is when
  // no readable file carries that tag. With another file to fall back on, the user is told and
  // the program goes on; with none, there is nothing to show texts from.
  if (!matched && !broken.empty()) {
    if (document_) {
      for (const BrokenFile& file : broken)
        loadErrors_.push_back(FileErrorText(file));
    } else {
      loadErrors_.push_back(FileErrorText(broken.front()));
      unusable_ = true;
    }
  }
  Trace(TRACE_TRACE, "CTexts::-LoadTexts(%s)", loadedTag_.c_str());
}

void CTexts::ReportLoadErrors() {
  for (const std::string& message : loadErrors_)
    platform::ErrorBox(0, "%s", message.c_str());
  if (unusable_)
    TerminateSelf();
}

std::string CTexts::GetText(const std::string& id) {
  std::string result = kMissingText;
  {
    std::lock_guard lock(mutex_);
    if (auto it = cache_.find(id); it != cache_.end()) {
      result = it->second;
    } else if (document_ && id.find('\0') == std::string::npos) {
      ++documentQueries_;
      if (pugi::xml_node node = document_->Find(id)) {
        result = node.text().get();
        cache_.emplace(id, result);
      }
    }
  }
  ReplaceFirstLineBreak(&result);
  return result;
}

void CTexts::ListLanguages(std::map<std::string, std::string>* nameToTag, std::string* defaultTag) {
  for (const fs::path& path : TranslationFiles(TranslationFolder())) {
    pugi::xml_document doc;
    if (LoadFile(path, &doc) != LoadResult::kLoaded)
      continue;
    std::optional<LanguageInfo> info = ReadLanguage(doc);
    if (!info)
      continue;
    if (nameToTag)
      nameToTag->emplace(info->name, info->tag);
    if (info->isDefault && defaultTag)
      *defaultTag = info->tag;
  }
}
