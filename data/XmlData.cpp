#include "data/XmlData.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <system_error>

#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/ExceptionDB.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// Element and attribute names of the file.
constexpr const char* kRoot = "Telvane";
constexpr const char* kPlace = "place";
constexpr const char* kCell = "cell";
constexpr const char* kLac = "lac";
constexpr const char* kSchedule = "schedule";
constexpr const char* kAction = "action";

// The six SYSTEMTIME fields an action's time operand is written with, in file order.
struct TimeField {
  const char* suffix;
  WORD SYSTEMTIME::*field;
};
constexpr TimeField kTimeFields[] = {
    {"year", &SYSTEMTIME::wYear},     {"month", &SYSTEMTIME::wMonth},
    {"day", &SYSTEMTIME::wDay},       {"hour", &SYSTEMTIME::wHour},
    {"minute", &SYSTEMTIME::wMinute}, {"second", &SYSTEMTIME::wSecond},
};

std::string TimeAttribute(int operand, const char* suffix) {
  return "arg_time_" + std::to_string(operand) + "_" + suffix;
}

void AddInt(pugi::xml_node& element, const char* name, std::int32_t value) {
  element.append_attribute(name).set_value(static_cast<long long>(value));
}

void AddText(pugi::xml_node& element, const char* name, const std::string& value) {
  element.append_attribute(name).set_value(value.c_str());
}

void AddTime(pugi::xml_node& element, int operand, const SYSTEMTIME& st) {
  for (const TimeField& f : kTimeFields)
    AddInt(element, TimeAttribute(operand, f.suffix).c_str(), st.*f.field);
}

void WriteAction(pugi::xml_node& schedule, const CStrAction& action) {
  pugi::xml_node element = schedule.append_child(kAction);
  AddInt(element, "id", action.GetMgrId());
  AddInt(element, "type", action.GetType());
  AddInt(element, "arg_int_1", action.GetIntOp1());
  AddInt(element, "arg_int_2", action.GetIntOp2());
  AddInt(element, "arg_int_3", action.GetIntOp3());
  AddText(element, "arg_char_1", action.GetSzOp1());
  AddText(element, "arg_char_2", action.GetSzOp2());
  AddText(element, "arg_char_3", action.GetSzOp3());
  AddTime(element, 1, action.GetStOp1());
  AddTime(element, 2, action.GetStOp2());
  AddTime(element, 3, action.GetStOp3());
}

// Reads an integer attribute; `absent` when the element lacks it.
std::int32_t IntAttr(const pugi::xml_node& element, const char* name, std::int32_t absent) {
  pugi::xml_attribute a = element.attribute(name);
  return a ? CXmlData::ReadInt(a.value()) : absent;
}

// Reads a text attribute; empty when the element lacks it.
std::string TextAttr(const pugi::xml_node& element, const char* name) {
  return element.attribute(name).value();
}

void ReadTime(const pugi::xml_node& element, int operand, SYSTEMTIME* st) {
  for (const TimeField& f : kTimeFields) {
    pugi::xml_attribute a = element.attribute(TimeAttribute(operand, f.suffix).c_str());
    if (a)
      st->*f.field = static_cast<WORD>(CXmlData::ReadInt(a.value()));
  }
}

// `fresh` is an action as constructed: attributes the element lacks keep its values. (One
// fresh action serves the whole file, since constructing one reads the phone's clock.)
CStrAction ReadAction(const pugi::xml_node& element, const CStrAction& fresh) {
  CStrAction action = fresh;
  action.SetMgrId(IntAttr(element, "id", action.GetMgrId()));
  action.SetType(IntAttr(element, "type", action.GetType()));
  action.SetIntOp1(IntAttr(element, "arg_int_1", action.GetIntOp1()));
  action.SetIntOp2(IntAttr(element, "arg_int_2", action.GetIntOp2()));
  action.SetIntOp3(IntAttr(element, "arg_int_3", action.GetIntOp3()));
  action.SetSzOp1(TextAttr(element, "arg_char_1"));
  action.SetSzOp2(TextAttr(element, "arg_char_2"));
  action.SetSzOp3(TextAttr(element, "arg_char_3"));
  SYSTEMTIME st = action.GetStOp1();
  ReadTime(element, 1, &st);
  action.SetStOp1(st);
  st = action.GetStOp2();
  ReadTime(element, 2, &st);
  action.SetStOp2(st);
  st = action.GetStOp3();
  ReadTime(element, 3, &st);
  action.SetStOp3(st);
  return action;
}

CXmlSchedule ReadSchedule(const pugi::xml_node& element, const CStrAction& fresh) {
  CXmlSchedule schedule;
  schedule.period.SetName(TextAttr(element, "name"));
  schedule.period.SetStart(IntAttr(element, "begin_hour", 0), IntAttr(element, "begin_minute", 0));
  schedule.period.SetEnd(IntAttr(element, "end_hour", 0), IntAttr(element, "end_minute", 0));
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && std::strcmp(child.name(), kAction) == 0)
      schedule.actions.push_back(ReadAction(child, fresh));
  }
  return schedule;
}

// Counts what the parser would build from `text`, without building it. Each element starts
// with '<' and each attribute has one '='; both may also occur in texts, so the counts are upper
// bounds.
bool WithinLimits(std::string_view text) {
  std::size_t elements = 0;
  std::size_t attributes = 0;
  for (char c : text) {
    if (c == '<' && ++elements > CXmlData::kMaxElements)
      return false;
    if (c == '=' && ++attributes > CXmlData::kMaxAttributes)
      return false;
  }
  return true;
}

// The database's lock and one transaction over the whole volume, rolled back unless committed.
// A rollback also reopens every table, since a rolled-back drop and create leaves the tables'
// handles on databases that no longer exist.
class ReopenOnRollback {
 public:
  explicit ReopenOnRollback(CDB& db) : m_Db(db) {}
  ~ReopenOnRollback() {
    if (m_Armed)
      Reopen(m_Db);
  }
  void Disarm() { m_Armed = false; }

  static void Reopen(CDB& db) {
    CTableBase* tables[] = {db.GetTablePlaces(), db.GetTableLAC(), db.GetTableCell(),
                            db.GetTablePeriods(), db.GetTableActions()};
    for (CTableBase* table : tables) {
      try {
        table->CloseTable();
        table->OpenTable();
      } catch (const CExceptionDB& e) {
        Trace(TRACE_ERROR, "CXmlData::Reopen(%s) %s", table->GetName().c_str(),
              e.GetMessage().c_str());
      }
    }
  }

 private:
  CDB& m_Db;
  bool m_Armed = true;
};

void StoreSet(CDB& db, const CXmlProfileSet& set) {
  CTablePlaces* places = db.GetTablePlaces();
  CTablePeriods* periods = db.GetTablePeriods();
  CTableActions* actions = db.GetTableActions();
  CTableCell* cells = db.GetTableCell();
  CTableLAC* lacs = db.GetTableLAC();
  for (const CXmlPlace& in : set.places) {
    CStrPlace place = in.place;
    place.SetOid(0);
    if (place.GetId() == CTablePlaces::kUnknownPlaceId) {
      places->Update(place);
    } else {
      places->Insert(place);
    }
    Trace(TRACE_DEBUG, "CXmlData::Store place %d", place.GetId());
    for (std::int32_t code : in.cells) {
      CStrCell cell(code, place.GetId());
      cells->Insert(cell);
    }
    for (std::int32_t code : in.lacs) {
      CStrLAC lac(code, place.GetId());
      lacs->Insert(lac);
    }
    for (const CXmlSchedule& schedule : in.schedules) {
      CStrPeriod period = schedule.period;
      period.SetIdPlace(place.GetId());
      periods->Insert(period);
      for (const CStrAction& a : schedule.actions) {
        CStrAction action = a;
        action.SetIdPeriod(period.GetId());
        actions->Insert(action);
      }
    }
  }
}

// Drops and creates every table again, inside the caller's transaction.
void DropAndCreate(CDB& db) {
  CTableBase* tables[] = {db.GetTablePlaces(), db.GetTableLAC(), db.GetTableCell(),
                          db.GetTablePeriods(), db.GetTableActions()};
  for (CTableBase* table : tables) {
    table->CloseTable();
    LONG rc = CeDeleteDatabase(db.GetVolumeGuid(), table->GetName());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      Trace(TRACE_ERROR, "CXmlData::RecreateTables(%s) %d", table->GetName().c_str(),
            static_cast<int>(rc));
      throw CExceptionDB(CTexts::GetInstance()->GetText("DB NOT ERASED"));
    }
  }
  // Opening a missing table creates it with its default rows.
  for (CTableBase* table : tables)
    table->OpenTable();
}

}  // namespace

// ---- The place's own part of the export ---------------------------------------------------

void CStrPlace::WriteXml(pugi::xml_node& element, CDB& db) const {
  AddText(element, "name", m_Name);
  AddText(element, "description", m_Desc);
  AddText(element, "image", m_Image);
  AddInt(element, "id", m_Id);
  // Both kinds of location are written whatever the tracking mode, so a file carries both.
  std::vector<CStrCell> cells;
  db.GetTableCell()->GetAllForPlace(&cells, m_Id);
  for (const CStrCell& cell : cells) {
    pugi::xml_node child = element.append_child(kCell);
    AddInt(child, "id", cell.GetCode());
  }
  std::vector<CStrLAC> lacs;
  db.GetTableLAC()->GetAllForPlace(&lacs, m_Id);
  for (const CStrLAC& lac : lacs) {
    pugi::xml_node child = element.append_child(kLac);
    AddInt(child, "id", lac.GetCode());
  }
  std::vector<CStrPeriod> periods;
  db.GetTablePeriods()->GetAllRecordsForPlace(&periods, m_Id);
  for (const CStrPeriod& period : periods) {
    pugi::xml_node child = element.append_child(kSchedule);
    AddText(child, "name", period.GetName());
    AddInt(child, "begin_hour", period.GetStart().wHour);
    AddInt(child, "begin_minute", period.GetStart().wMinute);
    AddInt(child, "end_hour", period.GetEnd().wHour);
    AddInt(child, "end_minute", period.GetEnd().wMinute);
    std::vector<CStrAction> actions;
    db.GetTableActions()->GetAllForPeriod(&actions, period.GetId());
    for (const CStrAction& action : actions)
      WriteAction(child, action);
  }
}

// ---- CXmlData -------------------------------------------------------------------------------

fs::path CXmlData::FilePath() {
  Device* device = Device::Current();
  return device ? device->HostPath(kFileName) : fs::path();
}

std::int32_t CXmlData::ReadInt(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // One past the largest magnitude a 32-bit value holds, so that saturating stays cheap.
  constexpr std::int64_t kCap = static_cast<std::int64_t>(INT32_MAX) + 2;
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    value = std::min(value * 10 + (*p - '0'), kCap);
  if (negative)
    value = -value;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

void CXmlData::BuildDocument(CDB& db, pugi::xml_document* doc) {
  std::lock_guard lock(db.Lock());
  doc->reset();
  std::vector<CStrPlace> places;
  db.GetTablePlaces()->GetAllRecords(&places);
  pugi::xml_node root = doc->append_child(kRoot);
  for (const CStrPlace& place : places) {
    pugi::xml_node element = root.append_child(kPlace);
    place.WriteXml(element, db);
  }
}

bool CXmlData::Export(CDB& db, const fs::path& file, std::string* error) {
  Trace(TRACE_TRACE, "CXmlData::Export(%s)", file.c_str());
  pugi::xml_document doc;
  BuildDocument(db, &doc);
  // Written beside the old file and renamed over it, so a failed save leaves the old one.
  fs::path temporary = file;
  temporary += ".new";
  std::error_code ec;
  if (!doc.save_file(temporary.c_str(), "\t", pugi::format_default, pugi::encoding_utf8)) {
    fs::remove(temporary, ec);
    *error = "cannot write " + temporary.string();
    return false;
  }
  fs::rename(temporary, file, ec);
  if (ec) {
    fs::remove(temporary, ec);
    *error = ec.message();
    return false;
  }
  return true;
}

CXmlData::ReadError CXmlData::Parse(std::string_view text, CXmlProfileSet* out,
                                    std::string* detail) {
  out->places.clear();
  if (text.size() > kMaxFileBytes || !WithinLimits(text))
    return ReadError::kTooLarge;
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size(), pugi::parse_default);
  if (!parsed) {
    if (detail)
      *detail = std::string(parsed.description()) + " at " + std::to_string(parsed.offset);
    return ReadError::kUnreadable;
  }
  pugi::xml_node root = doc.document_element();
  if (!root || std::strcmp(root.name(), kRoot) != 0)
    return ReadError::kNotProfileSet;

  CXmlProfileSet set;
  const CStrAction fresh;
  for (pugi::xml_node element = root.first_child(); element; element = element.next_sibling()) {
    if (element.type() != pugi::node_element || std::strcmp(element.name(), kPlace) != 0)
      continue;
    CXmlPlace place;
    place.place.SetName(TextAttr(element, "name"));
    place.place.SetDesc(TextAttr(element, "description"));
    place.place.SetImage(TextAttr(element, "image"));
    pugi::xml_attribute id = element.attribute("id");
    if (!id) {
      // Its cells and frames would refer to no place.
      if (detail)
        *detail = place.place.GetName();
      return ReadError::kPlaceWithoutId;
    }
    // Only the unknown place keeps its Id; every other place gets a new one when stored.
    place.place.SetId(
        ReadInt(id.value()) == CTablePlaces::kUnknownPlaceId ? CTablePlaces::kUnknownPlaceId : -1);
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element)
        continue;
      if (std::strcmp(child.name(), kCell) == 0) {
        place.cells.push_back(IntAttr(child, "id", 0));
      } else if (std::strcmp(child.name(), kLac) == 0) {
        place.lacs.push_back(IntAttr(child, "id", 0));
      } else if (std::strcmp(child.name(), kSchedule) == 0) {
        place.schedules.push_back(ReadSchedule(child, fresh));
      }
    }
    set.places.push_back(std::move(place));
  }
  *out = std::move(set);
  return ReadError::kNone;
}

CXmlData::ReadError CXmlData::Read(const fs::path& file, CXmlProfileSet* out, std::string* detail) {
  out->places.clear();
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    return fs::exists(file, ec) ? ReadError::kUnreadable : ReadError::kNotFound;
  std::uintmax_t size = fs::file_size(file, ec);
  if (ec)
    return ReadError::kUnreadable;
  if (size > kMaxFileBytes)
    return ReadError::kTooLarge;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return ReadError::kUnreadable;
  std::string text(static_cast<std::size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(size));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad())
    return ReadError::kUnreadable;
  return Parse(text, out, detail);
}

std::string CXmlData::ErrorText(ReadError error, const std::string& detail) {
  CTexts* texts = CTexts::GetInstance();
  switch (error) {
    case ReadError::kNone:
      return std::string();
    case ReadError::kNotFound:
      return texts->GetText("ERROR_XML_IMPORT_FILE_NOT_FOUND");
    case ReadError::kTooLarge:
      return texts->GetText("ERROR READING FILE") + "\n" +
             texts->GetText("ERROR_XML_IMPORT_TOO_LARGE");
    case ReadError::kPlaceWithoutId:
      return texts->GetText("ERROR READING FILE") + "\n" +
             FormatText(texts->GetText("ERROR_XML_IMPORT_PLACE_WITHOUT_ID"), {detail});
    case ReadError::kUnreadable:
    case ReadError::kNotProfileSet:
      break;
  }
  return texts->GetText("ERROR READING FILE");
}

void CXmlData::Store(CDB& db, const CXmlProfileSet& set) {
  std::lock_guard lock(db.Lock());
  CDB::Transaction transaction(db);
  StoreSet(db, set);
  transaction.Commit();
}

void CXmlData::Replace(CDB& db, const CXmlProfileSet& set) {
  std::lock_guard lock(db.Lock());
  ReopenOnRollback reopen(db);
  {
    CDB::Transaction transaction(db);
    DropAndCreate(db);
    StoreSet(db, set);
    transaction.Commit();
  }
  reopen.Disarm();
}

void CXmlData::RecreateTables(CDB& db) {
  std::lock_guard lock(db.Lock());
  ReopenOnRollback reopen(db);
  {
    CDB::Transaction transaction(db);
    DropAndCreate(db);
    transaction.Commit();
  }
  reopen.Disarm();
}

bool CXmlData::Backup(CDB& db, const fs::path& file, std::string* error) {
  std::lock_guard lock(db.Lock());
  // The flush moves everything written so far into the volume file itself.
  CeFlushDBVol(db.GetVolumeGuid());
  std::error_code ec;
  fs::path temporary = file;
  temporary += ".new";
  fs::copy_file(db.GetPath(), temporary, fs::copy_options::overwrite_existing, ec);
  if (!ec)
    fs::rename(temporary, file, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    *error = ec.message();
    return false;
  }
  return true;
}

bool CXmlData::Restore(CDB& db, const fs::path& file, std::string* error) {
  std::lock_guard lock(db.Lock());
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    *error = "not a file: " + file.string();
    return false;
  }
  const fs::path volume = db.GetPath();
  fs::path previous = volume;
  previous += ".previous";
  db.CloseDB();
  // Journal files left beside the old volume would be read as part of the restored one.
  for (const char* suffix : {"-wal", "-shm"}) {
    fs::path journal = volume;
    journal += suffix;
    fs::remove(journal, ec);
  }
  fs::rename(volume, previous, ec);
  bool restored = !ec;
  if (restored) {
    fs::copy_file(file, volume, fs::copy_options::overwrite_existing, ec);
    restored = !ec;
    if (!restored)
      *error = ec.message();
  } else {
    *error = ec.message();
  }
  if (restored) {
    try {
      db.OpenDB();
    } catch (const CExceptionDB& e) {
      *error = e.GetMessage();
      db.CloseDB();
      restored = false;
    }
  }
  if (!restored) {
    std::error_code ignored;
    if (fs::exists(previous, ignored)) {
      fs::remove(volume, ignored);
      fs::rename(previous, volume, ignored);
    }
    db.OpenDB();
    return false;
  }
  fs::remove(previous, ec);
  return true;
}

bool CXmlData::ExportXml(CDB& db) {
  std::string error;
  fs::path file = FilePath();
  if (!Export(db, file, &error)) {
    Trace(TRACE_ERROR, "CXmlData::ExportXml %s", error.c_str());
    ErrorBox(0, "%s",
             FormatText(CTexts::GetInstance()->GetText("ERROR_XML_EXPORT"), {kFileName}).c_str());
    return false;
  }
  TextBox(0, FormatText(CTexts::GetInstance()->GetText("DATA EXPORTED TO"), {kFileName}));
  return true;
}

bool CXmlData::ImportXml(CDB& db) {
  CXmlProfileSet set;
  std::string detail;
  ReadError error = Read(FilePath(), &set, &detail);
  if (error != ReadError::kNone) {
    Trace(TRACE_ERROR, "CXmlData::ImportXml %d %s", static_cast<int>(error), detail.c_str());
    // A file that cannot be loaded, for whatever reason, is reported as unreadable.
    std::string text = error == ReadError::kNotFound
                           ? CTexts::GetInstance()->GetText("ERROR READING FILE")
                           : ErrorText(error, detail);
    ErrorBox(0, "%s", text.c_str());
    return false;
  }
  Store(db, set);
  TextBox(0, FormatText(CTexts::GetInstance()->GetText("MESSAGE_XML_IMPORT_SUCCESS"), {kFileName}));
  return true;
}
