#include "data/XmlData.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "app/EventLog.h"
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
#include "platform/Text.h"

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

// The names of the time operands' attributes, by operand (1 to 3) and field.
const std::string& TimeAttributeName(int operand, std::size_t field) {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (int o = 1; o <= 3; ++o) {
      for (const TimeField& f : kTimeFields)
        all.push_back(TimeAttribute(o, f.suffix));
    }
    return all;
  }();
  return names[static_cast<std::size_t>(operand - 1) * std::size(kTimeFields) + field];
}

void AddTime(pugi::xml_node& element, int operand, const SYSTEMTIME& st) {
  for (std::size_t i = 0; i < std::size(kTimeFields); ++i)
    AddInt(element, TimeAttributeName(operand, i).c_str(), st.*kTimeFields[i].field);
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

// The offset of the first byte of `text` that is not part of a valid UTF-8 sequence (overlong
// forms, surrogates and code points beyond U+10FFFF included), or npos.
std::size_t InvalidUtf8At(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0)
        low = 0xA0;
      if (c == 0xED)
        high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0)
        low = 0x90;
      if (c == 0xF4)
        high = 0x8F;
    } else {
      return i;
    }
    if (i + length > n || p[i + 1] < low || p[i + 1] > high)
      return i;
    for (std::size_t k = 2; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80)
        return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A number attribute as the program writes it: an optional minus sign and decimal digits that
// fit 32 bits, with blanks around them and nothing else.
bool ParseInt32(const char* text, std::int32_t* out) {
  const char* p = text;
  while (IsBlank(*p))
    ++p;
  bool negative = *p == '-';
  if (negative)
    ++p;
  if (*p < '0' || *p > '9')
    return false;
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1)
      return false;
  }
  while (IsBlank(*p))
    ++p;
  if (*p != '\0')
    return false;
  if (negative)
    value = -value;
  if (value > INT32_MAX)
    return false;
  *out = static_cast<std::int32_t>(value);
  return true;
}

// What an attribute of a known element is read into.
enum class Field {
  kIgnored,
  kPlaceName,
  kPlaceDesc,
  kPlaceImage,
  kId,
  kType,
  kInt1,
  kInt2,
  kInt3,
  kChar1,
  kChar2,
  kChar3,
  kTime,  // one SYSTEMTIME field of an action's time operand
  kBeginHour,
  kBeginMinute,
  kEndHour,
  kEndMinute,
  kScheduleName,
};

struct FieldSpec {
  Field field = Field::kIgnored;
  int operand = 0;                        // kTime: 1 to 3
  WORD SYSTEMTIME::*timeField = nullptr;  // kTime
};

using FieldTable = std::unordered_map<std::string_view, FieldSpec>;

const FieldTable& ActionFields() {
  static const FieldTable table = [] {
    static std::vector<std::string> names;  // owns the time attributes' names
    names.reserve(3 * std::size(kTimeFields));
    FieldTable t = {
        {"id", {Field::kId}},
        {"type", {Field::kType}},
        {"arg_int_1", {Field::kInt1}},
        {"arg_int_2", {Field::kInt2}},
        {"arg_int_3", {Field::kInt3}},
        {"arg_char_1", {Field::kChar1}},
        {"arg_char_2", {Field::kChar2}},
        {"arg_char_3", {Field::kChar3}},
    };
    for (int operand = 1; operand <= 3; ++operand) {
      for (const TimeField& f : kTimeFields) {
        names.push_back(TimeAttribute(operand, f.suffix));
        t.emplace(names.back(), FieldSpec{Field::kTime, operand, f.field});
      }
    }
    return t;
  }();
  return table;
}

const FieldTable& PlaceFields() {
  static const FieldTable table = {{"name", {Field::kPlaceName}},
                                   {"description", {Field::kPlaceDesc}},
                                   {"image", {Field::kPlaceImage}},
                                   {"id", {Field::kId}}};
  return table;
}

const FieldTable& ScheduleFields() {
  static const FieldTable table = {{"name", {Field::kScheduleName}},
                                   {"begin_hour", {Field::kBeginHour}},
                                   {"begin_minute", {Field::kBeginMinute}},
                                   {"end_hour", {Field::kEndHour}},
                                   {"end_minute", {Field::kEndMinute}}};
  return table;
}

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// A value as it may be shown in a message: valid UTF-8, at most 24 characters.
std::string Shown(const char* value) {
  std::string_view text(value);
  std::size_t bad = InvalidUtf8At(text);
  std::string shown(text.substr(0, bad));
  if (bad != std::string_view::npos || Utf8Length(shown) > 24)
    shown = Utf8Truncate(shown, 24) + "...";
  return shown;
}

// Reads and checks the elements of a parsed document. On the first problem it stops and keeps
// the problem's text, naming the line of the element where it was found.
class CFileReader {
 public:
  explicit CFileReader(std::string_view text) : m_Text(text) {}

  // Line number (from 1) of a byte offset of the file; 0 when the offset is unknown. The
  // elements are visited in file order, so the count goes on from the last offset asked for.
  int LineAt(std::ptrdiff_t offset) {
    if (offset < 0)
      return 0;
    // The parser may place an error just past the end of a text cut short.
    std::size_t at = std::min(static_cast<std::size_t>(offset), m_Text.size());
    if (at < m_LineOffset) {
      m_LineOffset = 0;
      m_Line = 1;
    }
    m_Line +=
        static_cast<int>(std::count(m_Text.begin() + static_cast<std::ptrdiff_t>(m_LineOffset),
                                    m_Text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    m_LineOffset = at;
    return m_Line;
  }

  // The problem's text with the line in front of it.
  std::string AtLine(int line, const std::string& problem) {
    if (line <= 0)
      return problem;
    return FormatText(Text("ERROR_XML_LINE"), {std::to_string(line), problem});
  }

  bool Fail(CXmlData::ReadError error, std::ptrdiff_t offset, const std::string& problem) {
    m_Error = error;
    m_Problem = AtLine(LineAt(offset), problem);
    return false;
  }
  bool Fail(const pugi::xml_node& node, const std::string& problem) {
    return Fail(CXmlData::ReadError::kInvalidValue, node.offset_debug(), problem);
  }

  CXmlData::ReadError Error() const { return m_Error; }
  const std::string& Problem() const { return m_Problem; }

  bool Int(const pugi::xml_node& node, const pugi::xml_attribute& a, std::int32_t min,
           std::int32_t max, std::int32_t* out) {
    std::int32_t value = 0;
    if (!ParseInt32(a.value(), &value)) {
      if (InvalidUtf8At(a.value()) != std::string_view::npos)
        return Fail(node, FormatText(Text("ERROR_XML_NOT_UTF8"), {a.name()}));
      return Fail(node, FormatText(Text("ERROR_XML_NOT_A_NUMBER"), {a.name(), Shown(a.value())}));
    }
    if (value < min || value > max) {
      return Fail(node, FormatText(Text("ERROR_XML_OUT_OF_RANGE"),
                                   {a.name(), std::to_string(value), std::to_string(min),
                                    std::to_string(max)}));
    }
    *out = value;
    return true;
  }
  bool Int(const pugi::xml_node& node, const pugi::xml_attribute& a, std::int32_t* out) {
    return Int(node, a, INT32_MIN, INT32_MAX, out);
  }

  bool TextAttr(const pugi::xml_node& node, const pugi::xml_attribute& a, std::string* out) {
    std::string_view value(a.value());
    if (InvalidUtf8At(value) != std::string_view::npos)
      return Fail(node, FormatText(Text("ERROR_XML_NOT_UTF8"), {a.name()}));
    out->assign(value);
    return true;
  }

  bool Place(const pugi::xml_node& element, CXmlPlace* place) {
    bool hasId = false;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
      auto it = PlaceFields().find(a.name());
      if (it == PlaceFields().end())
        continue;
      std::string text;
      std::int32_t id = 0;
      switch (it->second.field) {
        case Field::kPlaceName:
          if (!TextAttr(element, a, &text))
            return false;
          place->place.SetName(text);
          break;
        case Field::kPlaceDesc:
          if (!TextAttr(element, a, &text))
            return false;
          place->place.SetDesc(text);
          break;
        case Field::kPlaceImage:
          if (!TextAttr(element, a, &text))
            return false;
          place->place.SetImage(text);
          break;
        case Field::kId:
          if (!Int(element, a, &id))
            return false;
          hasId = true;
          // Only the unknown place keeps its Id; every other place gets a new one when stored.
          place->place.SetId(id == CTablePlaces::kUnknownPlaceId ? CTablePlaces::kUnknownPlaceId
                                                                 : -1);
          break;
        default:
          break;
      }
    }
    if (!hasId) {
      // Its cells and frames would refer to no place.
      return Fail(CXmlData::ReadError::kPlaceWithoutId, element.offset_debug(),
                  FormatText(Text("ERROR_XML_IMPORT_PLACE_WITHOUT_ID"), {place->place.GetName()}));
    }
    if (place->place.GetId() == CTablePlaces::kUnknownPlaceId) {
      if (m_UnknownPlaceSeen)
        return Fail(element, Text("ERROR_XML_SECOND_UNKNOWN_PLACE"));
      m_UnknownPlaceSeen = true;
    }
    place->line = LineAt(element.offset_debug());
    return true;
  }

  bool Location(const pugi::xml_node& element, std::vector<std::int32_t>* codes,
                std::vector<int>* lines) {
    std::int32_t code = 0;
    if (pugi::xml_attribute a = element.attribute("id")) {
      if (!Int(element, a, &code))
        return false;
    }
    codes->push_back(code);
    lines->push_back(LineAt(element.offset_debug()));
    return true;
  }

  bool Schedule(const pugi::xml_node& element, CXmlSchedule* schedule) {
    std::int32_t hours[2] = {0, 0}, minutes[2] = {0, 0};
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
      auto it = ScheduleFields().find(a.name());
      if (it == ScheduleFields().end())
        continue;
      bool ok = true;
      std::string name;
      switch (it->second.field) {
        case Field::kScheduleName:
          ok = TextAttr(element, a, &name);
          schedule->period.SetName(name);
          break;
        case Field::kBeginHour:
          ok = Int(element, a, 0, 23, &hours[0]);
          break;
        case Field::kBeginMinute:
          ok = Int(element, a, 0, 59, &minutes[0]);
          break;
        case Field::kEndHour:
          ok = Int(element, a, 0, 23, &hours[1]);
          break;
        case Field::kEndMinute:
          ok = Int(element, a, 0, 59, &minutes[1]);
          break;
        default:
          break;
      }
      if (!ok)
        return false;
    }
    schedule->period.SetStart(hours[0], minutes[0]);
    schedule->period.SetEnd(hours[1], minutes[1]);
    return true;
  }

  // `fresh` is an action as constructed: attributes the element lacks keep its values. (One
  // fresh action serves the whole file, since constructing one reads the phone's clock.)
  bool Action(const pugi::xml_node& element, const CStrAction& fresh, CStrAction* action) {
    *action = fresh;
    SYSTEMTIME times[3] = {fresh.GetStOp1(), fresh.GetStOp2(), fresh.GetStOp3()};
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
      auto it = ActionFields().find(a.name());
      if (it == ActionFields().end())
        continue;
      const FieldSpec& field = it->second;
      std::int32_t value = 0;
      std::string text;
      bool ok = true;
      switch (field.field) {
        case Field::kId:
          if ((ok = Int(element, a, &value)))
            action->SetMgrId(value);
          break;
        case Field::kType:
          if ((ok = Int(element, a, &value)))
            action->SetType(value);
          break;
        case Field::kInt1:
          if ((ok = Int(element, a, &value)))
            action->SetIntOp1(value);
          break;
        case Field::kInt2:
          if ((ok = Int(element, a, &value)))
            action->SetIntOp2(value);
          break;
        case Field::kInt3:
          if ((ok = Int(element, a, &value)))
            action->SetIntOp3(value);
          break;
        case Field::kChar1:
          if ((ok = TextAttr(element, a, &text)))
            action->SetSzOp1(text);
          break;
        case Field::kChar2:
          if ((ok = TextAttr(element, a, &text)))
            action->SetSzOp2(text);
          break;
        case Field::kChar3:
          if ((ok = TextAttr(element, a, &text)))
            action->SetSzOp3(text);
          break;
        case Field::kTime:
          // A field of a date and time holds 16 bits.
          if ((ok = Int(element, a, 0, 0xFFFF, &value)))
            times[field.operand - 1].*field.timeField = static_cast<WORD>(value);
          break;
        default:
          break;
      }
      if (!ok)
        return false;
    }
    action->SetStOp1(times[0]);
    action->SetStOp2(times[1]);
    action->SetStOp3(times[2]);
    return true;
  }

 private:
  std::string_view m_Text;
  std::size_t m_LineOffset = 0;
  int m_Line = 1;
  bool m_UnknownPlaceSeen = false;
  CXmlData::ReadError m_Error = CXmlData::ReadError::kNone;
  std::string m_Problem;
};

// The translated text of a parser failure.
std::string SyntaxProblem(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_no_document_element:
      return Text("ERROR_XML_NO_ROOT");
    case pugi::status_bad_start_element:
    case pugi::status_bad_end_element:
    case pugi::status_unrecognized_tag:
      return Text("ERROR_XML_BAD_TAG");
    case pugi::status_end_element_mismatch:
      return Text("ERROR_XML_END_MISMATCH");
    case pugi::status_bad_attribute:
      return Text("ERROR_XML_BAD_ATTRIBUTE");
    default:
      return Text("ERROR_XML_SYNTAX");
  }
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
  // A cell or location area belongs to one place: one that is taken already, in the database
  // or earlier in the file, refuses the file with its line rather than with the engine's code.
  std::unordered_set<std::int32_t> takenCells, takenLacs;
  {
    std::vector<CStrCell> existingCells;
    cells->GetAllRecords(&existingCells);
    for (const CStrCell& c : existingCells)
      takenCells.insert(c.GetCode());
    std::vector<CStrLAC> existingLacs;
    lacs->GetAllRecords(&existingLacs);
    for (const CStrLAC& l : existingLacs)
      takenLacs.insert(l.GetCode());
  }
  auto refuse = [](const char* textId, std::int32_t code, const std::vector<int>& lines,
                   std::size_t i) {
    std::string problem = FormatText(Text(textId), {std::to_string(code)});
    int line = i < lines.size() ? lines[i] : 0;
    if (line > 0)
      problem = FormatText(Text("ERROR_XML_LINE"), {std::to_string(line), problem});
    throw CExceptionDB(Text("ERROR READING FILE") + "\n" + problem);
  };
  for (const CXmlPlace& in : set.places) {
    CStrPlace place = in.place;
    place.SetOid(0);
    if (place.GetId() == CTablePlaces::kUnknownPlaceId) {
      places->Update(place);
    } else {
      places->Insert(place);
    }
    Trace(TRACE_DEBUG, "CXmlData::Store place %d", place.GetId());
    for (std::size_t i = 0; i < in.cells.size(); ++i) {
      if (!takenCells.insert(in.cells[i]).second)
        refuse("ERROR_XML_DUPLICATE_CELL", in.cells[i], in.cellLines, i);
      CStrCell cell(in.cells[i], place.GetId());
      cells->Insert(cell);
    }
    for (std::size_t i = 0; i < in.lacs.size(); ++i) {
      if (!takenLacs.insert(in.lacs[i]).second)
        refuse("ERROR_XML_DUPLICATE_LAC", in.lacs[i], in.lacLines, i);
      CStrLAC lac(in.lacs[i], place.GetId());
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

// How a file is named in the event log: as a path of the phone when it lies on the phone.
std::string Named(const fs::path& file) {
  if (Device* device = Device::Current()) {
    if (auto devicePath = device->DevicePath(file))
      return *devicePath;
  }
  return file.string();
}

// The event-log texts of each operation: summary and description of success, then of failure.
struct OperationTexts {
  const char* summary;
  const char* description;
  const char* failedSummary;
  const char* failedDescription;
};

OperationTexts TextsOf(CXmlData::Operation operation) {
  switch (operation) {
    case CXmlData::Operation::kExport:
      return {TEXT_ID("EVENT_LOG_DATA_EXPORT_RESUME"), TEXT_ID("EVENT_LOG_DATA_EXPORT_DESCRIPTION"),
              TEXT_ID("EVENT_LOG_DATA_EXPORT_FAILED_RESUME"),
              TEXT_ID("EVENT_LOG_DATA_EXPORT_FAILED_DESCRIPTION")};
    case CXmlData::Operation::kImport:
      return {TEXT_ID("EVENT_LOG_DATA_IMPORT_RESUME"), TEXT_ID("EVENT_LOG_DATA_IMPORT_DESCRIPTION"),
              TEXT_ID("EVENT_LOG_DATA_IMPORT_FAILED_RESUME"),
              TEXT_ID("EVENT_LOG_DATA_IMPORT_FAILED_DESCRIPTION")};
    case CXmlData::Operation::kBackup:
      return {TEXT_ID("EVENT_LOG_DATA_BACKUP_RESUME"), TEXT_ID("EVENT_LOG_DATA_BACKUP_DESCRIPTION"),
              TEXT_ID("EVENT_LOG_DATA_BACKUP_FAILED_RESUME"),
              TEXT_ID("EVENT_LOG_DATA_BACKUP_FAILED_DESCRIPTION")};
    case CXmlData::Operation::kRestore:
      return {TEXT_ID("EVENT_LOG_DATA_RESTORE_RESUME"),
              TEXT_ID("EVENT_LOG_DATA_RESTORE_DESCRIPTION"),
              TEXT_ID("EVENT_LOG_DATA_RESTORE_FAILED_RESUME"),
              TEXT_ID("EVENT_LOG_DATA_RESTORE_FAILED_DESCRIPTION")};
    case CXmlData::Operation::kFormat:
      break;
  }
  return {TEXT_ID("EVENT_LOG_DATA_FORMAT_RESUME"), TEXT_ID("EVENT_LOG_DATA_FORMAT_DESCRIPTION"),
          TEXT_ID("EVENT_LOG_DATA_FORMAT_FAILED_RESUME"),
          TEXT_ID("EVENT_LOG_DATA_FORMAT_FAILED_DESCRIPTION")};
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

void CXmlData::LogOperation(Operation operation, const fs::path& file, bool done,
                            const std::string& error) {
  OperationTexts texts = TextsOf(operation);
  std::string summary = Text(done ? texts.summary : texts.failedSummary);
  std::string description = done ? FormatText(Text(texts.description), {Named(file)})
                                 : FormatText(Text(texts.failedDescription), {Named(file), error});
  CEventLog::Add(kEventLogCode, done ? CEventLog::LEVEL_INFO : CEventLog::LEVEL_ERROR,
                 Utf8Truncate(summary, kSummaryChars),
                 Utf8Truncate(description, kDescriptionChars));
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
  bool written = false;
  try {
    written = WriteFile(db, file, error);
  } catch (const CExceptionDB& e) {
    LogOperation(Operation::kExport, file, false, e.GetMessage());
    throw;
  }
  LogOperation(Operation::kExport, file, written, written ? std::string() : *error);
  return written;
}

bool CXmlData::WriteFile(CDB& db, const fs::path& file, std::string* error) {
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
  CFileReader reader(text);
  auto refuse = [&](ReadError error) {
    if (detail)
      *detail = reader.Problem();
    return error;
  };
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size(), pugi::parse_default);
  if (!parsed) {
    reader.Fail(ReadError::kUnreadable, parsed.offset, SyntaxProblem(parsed.status));
    return refuse(ReadError::kUnreadable);
  }
  // A file read as UTF-8 must be UTF-8 throughout (one in another encoding was converted).
  if (parsed.encoding == pugi::encoding_utf8) {
    std::size_t bad = InvalidUtf8At(text);
    if (bad != std::string_view::npos) {
      reader.Fail(ReadError::kInvalidValue, static_cast<std::ptrdiff_t>(bad),
                  Text("ERROR_XML_FILE_NOT_UTF8"));
      return refuse(ReadError::kInvalidValue);
    }
  }
  pugi::xml_node root = doc.document_element();
  if (!root || std::strcmp(root.name(), kRoot) != 0) {
    reader.Fail(ReadError::kNotProfileSet, root ? root.offset_debug() : -1,
                FormatText(Text("ERROR_XML_WRONG_ROOT"), {root ? Shown(root.name()) : ""}));
    return refuse(ReadError::kNotProfileSet);
  }

  CXmlProfileSet set;
  const CStrAction fresh;
  for (pugi::xml_node element = root.first_child(); element; element = element.next_sibling()) {
    if (element.type() != pugi::node_element || std::strcmp(element.name(), kPlace) != 0)
      continue;
    CXmlPlace place;
    if (!reader.Place(element, &place))
      return refuse(reader.Error());
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element)
        continue;
      bool ok = true;
      if (std::strcmp(child.name(), kCell) == 0) {
        ok = reader.Location(child, &place.cells, &place.cellLines);
      } else if (std::strcmp(child.name(), kLac) == 0) {
        ok = reader.Location(child, &place.lacs, &place.lacLines);
      } else if (std::strcmp(child.name(), kSchedule) == 0) {
        CXmlSchedule schedule;
        ok = reader.Schedule(child, &schedule);
        for (pugi::xml_node a = child.first_child(); ok && a; a = a.next_sibling()) {
          if (a.type() != pugi::node_element || std::strcmp(a.name(), kAction) != 0)
            continue;
          CStrAction action = fresh;
          ok = reader.Action(a, fresh, &action);
          schedule.actions.push_back(std::move(action));
        }
        place.schedules.push_back(std::move(schedule));
      }
      if (!ok)
        return refuse(reader.Error());
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
  switch (error) {
    case ReadError::kNone:
      return std::string();
    case ReadError::kNotFound:
      return Text("ERROR_XML_IMPORT_FILE_NOT_FOUND");
    case ReadError::kTooLarge:
      return Text("ERROR READING FILE") + "\n" + Text("ERROR_XML_IMPORT_TOO_LARGE");
    case ReadError::kUnreadable:
    case ReadError::kNotProfileSet:
    case ReadError::kPlaceWithoutId:
    case ReadError::kInvalidValue:
      break;
  }
  std::string text = Text("ERROR READING FILE");
  if (!detail.empty())
    text += "\n" + detail;
  return text;
}

bool CXmlData::Import(CDB& db, const fs::path& file, bool replace, std::string* errorText) {
  Trace(TRACE_TRACE, "CXmlData::Import(%s, %d)", file.c_str(), replace ? 1 : 0);
  CXmlProfileSet set;
  std::string detail;
  ReadError error = Read(file, &set, &detail);
  if (error != ReadError::kNone) {
    Trace(TRACE_ERROR, "CXmlData::Import %d %s", static_cast<int>(error), detail.c_str());
    *errorText = ErrorText(error, detail);
    LogOperation(Operation::kImport, file, false, *errorText);
    return false;
  }
  try {
    if (replace) {
      Replace(db, set);
    } else {
      Store(db, set);
    }
  } catch (const CExceptionDB& e) {
    LogOperation(Operation::kImport, file, false, e.GetMessage());
    throw;
  }
  LogOperation(Operation::kImport, file, true, std::string());
  return true;
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
  try {
    ReopenOnRollback reopen(db);
    {
      CDB::Transaction transaction(db);
      DropAndCreate(db);
      transaction.Commit();
    }
    reopen.Disarm();
  } catch (const CExceptionDB& e) {
    LogOperation(Operation::kFormat, db.GetPath(), false, e.GetMessage());
    throw;
  }
  LogOperation(Operation::kFormat, db.GetPath(), true, std::string());
}

bool CXmlData::Backup(CDB& db, const fs::path& file, std::string* error) {
  bool copied = CopyVolume(db, file, error);
  LogOperation(Operation::kBackup, file, copied, copied ? std::string() : *error);
  return copied;
}

bool CXmlData::CopyVolume(CDB& db, const fs::path& file, std::string* error) {
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
  bool restored = false;
  try {
    restored = ReplaceVolume(db, file, error);
  } catch (const CExceptionDB& e) {
    LogOperation(Operation::kRestore, file, false, e.GetMessage());
    throw;
  }
  LogOperation(Operation::kRestore, file, restored, restored ? std::string() : *error);
  return restored;
}

bool CXmlData::ReplaceVolume(CDB& db, const fs::path& file, std::string* error) {
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
  fs::path file = FilePath();
  std::error_code ec;
  std::string text;
  if (!Import(db, file, false, &text)) {
    // A file that cannot be loaded, for whatever reason, is reported as unreadable.
    if (!fs::exists(file, ec))
      text = Text("ERROR READING FILE");
    ErrorBox(0, "%s", text.c_str());
    return false;
  }
  TextBox(0, FormatText(Text("MESSAGE_XML_IMPORT_SUCCESS"), {kFileName}));
  return true;
}
