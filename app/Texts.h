// Translated texts. No user-visible sentence is compiled into the program: every caption, menu
// entry, message and event-log text is named by a text id ("EVENT_LOG_MGR_BT_NAME", "LOCK
// WARNING") and looked up at run time in one translation file, "<program folder>/traductions/
// <any name>.xml":
//
//   <telvane>
//     <languages><language name="English" tag="en" author="..." default="yes"/></languages>
//     <texts><text id="EVENT_LOG_MGR_BT_NAME">Bluetooth</text> ...</texts>
//   </telvane>
//
// The file whose tag equals the "language" setting is chosen once per process; when the setting
// is empty or names no file, the file marked default="yes" is used instead. A text may hold the
// two characters backslash and 'n': the first such pair comes back as a line break.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Marks a string literal as a text id where the id is passed through a variable or a table
// instead of straight to GetText, e.g. `const char* key = TEXT_ID("EVENT_LOG_MGR_BT_NAME");`.
// It expands to the literal itself. The text-id check of the test suite collects the literal
// ids of every GetText call, TEXT_ID marker and call of a local helper named exactly Text in
// the sources, and requires each of them in every translation file.
#define TEXT_ID(id) id

class CTexts {
 public:
  // What GetText answers for an id that the chosen file lacks (or when no file was chosen).
  static constexpr const char* kMissingText = "????";

  // The process's translation object, created and loaded on the first call. Thread-safe. The
  // first call shows an error box for a broken file that may be the chosen language; when
  // translation files exist but none can be read, it shows the box and ends the process.
  static CTexts* GetInstance();
  // Destroys the instance so that the next GetInstance loads afresh (the language is otherwise
  // fixed for the life of the process). Tests only: no other thread may be using the instance.
  static void ResetForTesting();

  virtual ~CTexts();
  CTexts(const CTexts&) = delete;
  CTexts& operator=(const CTexts&) = delete;

  // The translation of `id`, or "????" when there is none. The first backslash-n pair of the
  // text is returned as a line feed; later ones stay as typed. Found texts are cached, so each
  // id is queried in the document at most once; a missing id is queried again every time.
  // Any thread; serialised by one lock.
  std::string GetText(const std::string& id);

  // The author credited by the chosen file (when no file was chosen, the author of the last
  // file examined). Fixed after loading.
  const std::string& GetAuthor() const { return author_; }
  // The "language" setting as it was read at creation.
  const std::string& GetLanguage() const { return language_; }
  // The tag of the file in use; empty when no file is in use.
  const std::string& GetLoadedTag() const { return loadedTag_; }

  // Lists every translation file that names its language: inserts (name, tag) into `nameToTag`
  // (a name already present keeps its first tag, in file-name order) and sets `defaultTag` to
  // the tag of the last file marked default="yes" (untouched when none is). Files that cannot
  // be read are skipped. Either pointer may be null.
  void ListLanguages(std::map<std::string, std::string>* nameToTag, std::string* defaultTag);

  // Number of document queries GetText has made (diagnostics: shows the cache at work).
  std::uint64_t DocumentQueries() const { return documentQueries_.load(); }

 protected:
  CTexts();
  // Reads the "language" setting, walks the translation folder and keeps the chosen file.
  // Runs once, from GetInstance, before any lookup. Broken files are noted for
  // ReportLoadErrors.
  virtual void LoadTexts();

 private:
  struct Document;

  // Shows an error box for each broken file noted by LoadTexts, and ends the process when
  // translation files exist but none of them could be read. Called by the creating thread
  // once the instance is published, without holding the creation lock.
  void ReportLoadErrors();

  std::unique_ptr<Document> document_;  // absent until a file was chosen
  std::string language_;
  std::string author_;
  std::string loadedTag_;
  std::vector<std::string> loadErrors_;  // boxes still to show
  bool unusable_ = false;                // files exist, none could be read

  std::mutex mutex_;  // guards cache_ and the document queries
  std::map<std::string, std::string> cache_;
  std::atomic<std::uint64_t> documentQueries_{0};
};
