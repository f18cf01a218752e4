// The profile set as an XML file, and the whole-database operations of the data menu.
//
// The file is "\Telvane.xml" in the root folder of the phone. Its root element "Telvane" holds
// one "place" per place (by name, the unknown place included) with the place's "cell", "lac"
// and "schedule" elements; each "schedule" holds its "action" elements. Every value is an
// attribute.
//
// Importing reads and checks the whole file into a CXmlProfileSet first, then stores it in one
// transaction, so a file that cannot be read, or a database failure half-way, changes nothing.
// A file may not make the program allocate without bound: its size, its number of elements and
// its number of attributes are limited before the document is built, and nothing here recurses
// over the document.
//
// Threads: every operation holds the database's lock (CDB::Lock) for its duration; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "data/StrAction.h"
#include "data/StrPeriod.h"
#include "data/StrPlace.h"

class CDB;

namespace pugi {
class xml_document;
}  // namespace pugi

// One time frame of an imported place with its actions.
struct CXmlSchedule {
  CStrPeriod period;
  std::vector<CStrAction> actions;
};

// One imported place with everything that belongs to it. The records do not refer to the
// database yet: the place and frame Ids they will refer to are assigned when they are stored.
struct CXmlPlace {
  CStrPlace place;  // Id 0 stands for the unknown place, which is updated rather than inserted
  std::vector<std::int32_t> cells;
  std::vector<std::int32_t> lacs;
  std::vector<CXmlSchedule> schedules;
  // Lines of the file where the place and each of its cells and location areas stand (0 or
  // absent: not known), for the messages that refuse them.
  int line = 0;
  std::vector<int> cellLines;
  std::vector<int> lacLines;
};

// A profile set read from a file and checked, in file order.
struct CXmlProfileSet {
  std::vector<CXmlPlace> places;
};

class CXmlData {
 public:
  // The data file, as a path of the phone's file system.
  static constexpr const char* kFileName = "\\Telvane.xml";

  // What a file may make the program allocate. An exported file of a thousand places, each
  // with three frames of five actions, is about 11 MB with some 20,000 elements and 450,000
  // attributes.
  static constexpr std::uintmax_t kMaxFileBytes = 32u * 1024 * 1024;
  static constexpr std::size_t kMaxElements = 200'000;
  static constexpr std::size_t kMaxAttributes = 1'000'000;

  // Why a file could not be imported.
  enum class ReadError {
    kNone,
    kNotFound,        // there is no such file
    kUnreadable,      // it cannot be read or is not well-formed XML
    kNotProfileSet,   // its root element is not "Telvane"
    kTooLarge,        // beyond the limits above
    kPlaceWithoutId,  // a "place" element lacks its "id"
    kInvalidValue,    // a value the program cannot hold, text that is not UTF-8, or a second
                      // place with the unknown place's id
  };

  // The host path of the data file on the current device.
  static std::filesystem::path FilePath();

  // Reads a number as the C library's wide-to-long conversion reads it: leading blanks, an
  // optional sign, then the digits up to the first other character ("12abc" is 12, "abc" and ""
  // are 0). Values beyond 32 bits saturate. (The import itself accepts clean numbers only.)
  static std::int32_t ReadInt(const char* text);

  // ---- Export -------------------------------------------------------------------------------

  // Fills `doc` with the whole database: the root "Telvane" and one "place" per place.
  static void BuildDocument(CDB& db, pugi::xml_document* doc);
  // Writes the database to `file`, replacing it only once the new file is complete. False with
  // `error` set when the file cannot be written. Database failures throw CExceptionDB. The
  // outcome goes to the event log.
  static bool Export(CDB& db, const std::filesystem::path& file, std::string* error);

  // ---- Import -------------------------------------------------------------------------------

  // Reads and checks a document without touching the database. Number attributes must be
  // decimal 32-bit integers (blanks around them allowed), the hours and minutes of a frame
  // 0..23 and 0..59, the fields of an action's times 16-bit, and every text valid UTF-8; only
  // one place may carry the unknown place's id 0. On failure `out` is empty and `detail`
  // (optional) is the translated text of what is wrong, naming the line where it is.
  static ReadError Parse(std::string_view text, CXmlProfileSet* out, std::string* detail);
  // The same for a file.
  static ReadError Read(const std::filesystem::path& file, CXmlProfileSet* out,
                        std::string* detail);
  // The translated text of a read failure, as the user sees it.
  static std::string ErrorText(ReadError error, const std::string& detail);

  // Reads and checks `file`, then stores it (`replace`: Replace, else Store). A file that is
  // refused changes nothing: false with `errorText` set to the text the user is shown.
  // Database failures throw CExceptionDB. The outcome goes to the event log.
  static bool Import(CDB& db, const std::filesystem::path& file, bool replace,
                     std::string* errorText);

  // Adds the set to the database: the place with Id 0 takes the texts of a file place whose
  // "id" is 0; every other place is inserted with a new Id, followed by its cells, location
  // areas, frames and actions. Nothing is deleted first, so the same file imported twice adds
  // its places twice. All or nothing: a database failure throws CExceptionDB and leaves the
  // database as it was.
  static void Store(CDB& db, const CXmlProfileSet& set);
  // Replaces the whole database by the set: RecreateTables and Store in one transaction.
  static void Replace(CDB& db, const CXmlProfileSet& set);

  // ---- Whole database -----------------------------------------------------------------------

  // Brings the database back to what a new phone starts with: every table is dropped and
  // created again with its default rows, so the unknown place has Id 0 again (record numbers
  // are never reused within a table, so deleting the records alone would lose it). All or
  // nothing; throws CExceptionDB with the translated "DB NOT ERASED" text when a table cannot
  // be dropped. This is the data menu's format; its outcome goes to the event log.
  static void RecreateTables(CDB& db);
  // Copies the volume file, with everything written so far, to `file`. False with `error` set
  // when it cannot be copied. The outcome goes to the event log.
  static bool Backup(CDB& db, const std::filesystem::path& file, std::string* error);
  // Replaces the volume file by `file` and opens it. When `file` cannot be copied or opened as
  // a volume, the previous file is put back and opened again, and false is returned with
  // `error` set. The outcome goes to the event log.
  static bool Restore(CDB& db, const std::filesystem::path& file, std::string* error);

  // ---- Event log ----------------------------------------------------------------------------

  // Origin code of the entries of the operations below.
  static constexpr int kEventLogCode = 302;
  static constexpr std::size_t kSummaryChars = 99;
  static constexpr std::size_t kDescriptionChars = 299;
  enum class Operation { kExport, kImport, kBackup, kRestore, kFormat };
  // Writes the entry of one operation on `file`: done (level INFO), or failed (level ERROR)
  // with `error`, the reason. Texts in the current language.
  static void LogOperation(Operation operation, const std::filesystem::path& file, bool done,
                           const std::string& error);

  // ---- With the user's boxes ----------------------------------------------------------------

  // Writes the data file and tells the user where ("DATA EXPORTED TO"), or why it failed.
  static bool ExportXml(CDB& db);
  // Adds the data file to the database ("MESSAGE_XML_IMPORT_SUCCESS"); a file that cannot be
  // loaded is reported ("ERROR READING FILE" and, when it was read, the line and what is wrong)
  // and changes nothing.
  static bool ImportXml(CDB& db);

 private:
  static bool WriteFile(CDB& db, const std::filesystem::path& file, std::string* error);
  static bool CopyVolume(CDB& db, const std::filesystem::path& file, std::string* error);
  static bool ReplaceVolume(CDB& db, const std::filesystem::path& file, std::string* error);
};
