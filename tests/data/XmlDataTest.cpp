// The XML data file and the whole-database operations: export, import into a fresh and into a
// filled database, integer reading, files that must change nothing, limits on what a file can
// make the program build, dropping and creating the tables, backup and restore.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "data/DB.h"
#include "data/ExceptionDB.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "data/XmlData.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

void WriteFile(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class XmlDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path traductions = dev_.device().ProgramFolder() / "traductions";
    fs::create_directories(traductions);
    fs::copy_file(fs::path(TELVANE_SOURCE_DIR) / "traductions" / "en.xml", traductions / "en.xml");
    CTexts::ResetForTesting();
    CStrLocation::SetCellMode(false);
    db_ = std::make_unique<CDB>();
    db_->OpenDB();
  }
  void TearDown() override {
    db_.reset();
    CTexts::ResetForTesting();
  }

  CTablePlaces& Places() { return *db_->GetTablePlaces(); }
  CTablePeriods& Periods() { return *db_->GetTablePeriods(); }
  CTableActions& Actions() { return *db_->GetTableActions(); }
  CTableCell& Cells() { return *db_->GetTableCell(); }
  CTableLAC& Lacs() { return *db_->GetTableLAC(); }

  CStrPlace AddPlace(const std::string& name) {
    CStrPlace place(name, name + " desc", name + ".png", -1);
    Places().Insert(place);
    return place;
  }
  CStrPeriod AddPeriod(std::int32_t placeId, const std::string& name, int hour) {
    CStrPeriod period;
    period.SetIdPlace(placeId);
    period.SetName(name);
    period.SetStart(hour, 15);
    period.SetEnd(hour + 1, 45);
    Periods().Insert(period);
    return period;
  }
  CStrAction AddAction(std::int32_t periodId, std::int32_t mgrId, const std::string& text) {
    CStrAction action;
    action.SetIdPeriod(periodId);
    action.SetMgrId(mgrId);
    action.SetType(CStrAction::TYPE_LEAVE);
    action.SetSzOp1(text + "1");
    action.SetSzOp2(text + "2");
    action.SetSzOp3(text + "3");
    action.SetIntOp1(7);
    action.SetIntOp2(10);
    action.SetIntOp3(-5);
    SYSTEMTIME st;
    st.wYear = 2031;
    st.wMonth = 4;
    st.wDay = 9;
    st.wHour = 13;
    st.wMinute = 7;
    st.wSecond = 30;
    action.SetStOp1(st);
    st.wYear = 2032;
    action.SetStOp2(st);
    st.wYear = 2033;
    action.SetStOp3(st);
    Actions().Insert(action);
    return action;
  }

  // Everything in the database as one comparable text: places by name with their locations,
  // frames and actions, without the Ids the database assigns.
  std::string Snapshot() {
    pugi::xml_document doc;
    CXmlData::BuildDocument(*db_, &doc);
    for (pugi::xml_node place : doc.document_element().children("place")) {
      if (place.attribute("id").as_int() != 0)
        place.attribute("id").set_value("N");
    }
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw);
    return out.str();
  }

  int Total() {
    return Places().Count() + Periods().Count() + Actions().Count() + Cells().Count() +
           Lacs().Count();
  }

  std::vector<BoxRecord> Boxes() { return ListBoxes(); }

  fs::path XmlFile() { return CXmlData::FilePath(); }

  TestDevice dev_;
  std::unique_ptr<CDB> db_;
};

TEST_F(XmlDataTest, ExportOfTheDefaultPlaceAloneHasOnePlaceWithIdZeroAndItsFrames) {
  AddPeriod(CTablePlaces::kUnknownPlaceId, "Night", 22);
  AddPeriod(CTablePlaces::kUnknownPlaceId, "Morning", 6);
  ASSERT_TRUE(CXmlData::ExportXml(*db_));

  EXPECT_EQ(XmlFile(), dev_.device().FsRoot() / "Telvane.xml");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(XmlFile().c_str()));
  pugi::xml_node root = doc.document_element();
  EXPECT_STREQ(root.name(), "Telvane");
  ASSERT_EQ(std::distance(root.begin(), root.end()), 1);
  pugi::xml_node place = root.child("place");
  EXPECT_STREQ(place.attribute("id").value(), "0");
  EXPECT_EQ(place.attribute("name").value(), CTexts::GetInstance()->GetText("UNKNOWN"));
  EXPECT_STREQ(place.attribute("image").value(), "place_unknown.png");
  std::vector<std::string> attributes;
  for (pugi::xml_attribute a : place.attributes())
    attributes.push_back(a.name());
  EXPECT_EQ(attributes, (std::vector<std::string>{"name", "description", "image", "id"}));
  // Frames by start time.
  std::vector<std::string> frames;
  for (pugi::xml_node s : place.children())
    frames.push_back(std::string(s.name()) + ":" + s.attribute("name").value());
  EXPECT_EQ(frames, (std::vector<std::string>{"schedule:Morning", "schedule:Night"}));
  EXPECT_STREQ(place.child("schedule").attribute("begin_minute").value(), "15");
  EXPECT_STREQ(place.child("schedule").attribute("end_hour").value(), "7");

  ASSERT_FALSE(Boxes().empty());
  EXPECT_EQ(Boxes().back().kind, "text");
  EXPECT_NE(Boxes().back().text.find("\\Telvane.xml"), std::string::npos) << Boxes().back().text;
}

TEST_F(XmlDataTest, ExportWritesChildrenAndActionAttributesInTheirOrder) {
  CStrPlace home = AddPlace("Home");
  CStrLAC lac(300, home.GetId());
  Lacs().Insert(lac);
  CStrCell cell2(20, home.GetId()), cell1(10, home.GetId());
  Cells().Insert(cell2);
  Cells().Insert(cell1);
  CStrPeriod day = AddPeriod(home.GetId(), "Day", 8);
  AddAction(day.GetId(), 1, "a");
  AddAction(day.GetId(), 2, "b");

  pugi::xml_document doc;
  CXmlData::BuildDocument(*db_, &doc);
  pugi::xml_node place = doc.document_element().find_child_by_attribute("place", "name", "Home");
  ASSERT_TRUE(place);
  std::vector<std::string> children;
  for (pugi::xml_node c : place.children())
    children.push_back(std::string(c.name()) + ":" + c.attribute("id").value());
  // Cells in code order, then location areas, then frames.
  EXPECT_EQ(children, (std::vector<std::string>{"cell:10", "cell:20", "lac:300", "schedule:"}));

  pugi::xml_node action = place.child("schedule").child("action");
  std::vector<std::string> names;
  for (pugi::xml_attribute a : action.attributes())
    names.push_back(a.name());
  std::vector<std::string> expected = {"id",        "type",       "arg_int_1",  "arg_int_2",
                                       "arg_int_3", "arg_char_1", "arg_char_2", "arg_char_3"};
  for (int op = 1; op <= 3; ++op) {
    for (const char* f : {"year", "month", "day", "hour", "minute", "second"})
      expected.push_back("arg_time_" + std::to_string(op) + "_" + f);
  }
  EXPECT_EQ(names, expected);
  EXPECT_STREQ(action.attribute("id").value(), "1");
  EXPECT_STREQ(action.attribute("type").value(), "1");
  EXPECT_STREQ(action.attribute("arg_int_2").value(), "10");
  EXPECT_STREQ(action.attribute("arg_int_3").value(), "-5");
  EXPECT_STREQ(action.attribute("arg_time_2_year").value(), "2032");
  EXPECT_STREQ(action.next_sibling("action").attribute("id").value(), "2");
}

TEST_F(XmlDataTest, ReimportIntoAFreshDatabaseUpdatesTheDefaultPlaceOnly) {
  // Given an export of the default place, renamed, with a location and a frame,
  CStrPlace unknown;
  unknown.SetId(CTablePlaces::kUnknownPlaceId);
  ASSERT_TRUE(Places().FindAndFill(unknown));
  unknown.SetName("Anywhere");
  Places().Update(unknown);
  CStrCell cell(77, CTablePlaces::kUnknownPlaceId);
  Cells().Insert(cell);
  CStrPeriod frame = AddPeriod(CTablePlaces::kUnknownPlaceId, "All", 0);
  AddAction(frame.GetId(), 3, "x");
  ASSERT_TRUE(CXmlData::ExportXml(*db_));
  std::string before = Snapshot();

  // a fresh database that imports it
  db_.reset();
  fs::remove(dev_.device().ProgramFolder() / "tvmgr.db");
  db_ = std::make_unique<CDB>();
  db_->OpenDB();
  ASSERT_TRUE(CXmlData::ImportXml(*db_));

  // holds exactly the same, with the default place still Id 0 and no second place.
  EXPECT_EQ(Places().Count(), 1);
  EXPECT_EQ(Snapshot(), before);
  CStrPlace imported;
  imported.SetId(CTablePlaces::kUnknownPlaceId);
  ASSERT_TRUE(Places().FindAndFill(imported));
  EXPECT_EQ(imported.GetName(), "Anywhere");
  std::vector<CStrCell> cells;
  Cells().GetAllForPlace(&cells, CTablePlaces::kUnknownPlaceId);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(cells[0].GetCode(), 77);
  EXPECT_EQ(Boxes().back().kind, "text");
  EXPECT_EQ(Boxes().back().text, "Your data was imported from \\Telvane.xml");
}

TEST_F(XmlDataTest, EveryFieldSurvivesTheRoundTrip) {
  CStrPlace home = AddPlace("Casa <\"&'> ñandú");
  CStrPeriod frame = AddPeriod(home.GetId(), "Mañana\tlarga", 9);
  CStrAction sent = AddAction(frame.GetId(), 10, "línea\nsegunda & <tercera> \"quoted\" ");
  std::string before = Snapshot();

  CXmlProfileSet set;
  pugi::xml_document doc;
  CXmlData::BuildDocument(*db_, &doc);
  std::ostringstream text;
  doc.save(text);
  ASSERT_EQ(CXmlData::Parse(text.str(), &set, nullptr), CXmlData::ReadError::kNone);
  CXmlData::Replace(*db_, set);

  EXPECT_EQ(Snapshot(), before);
  std::vector<CStrPlace> places;
  Places().GetAllRecords(&places);
  ASSERT_EQ(places.size(), 2u);
  const CStrPlace& back = places[0].GetId() == 0 ? places[1] : places[0];
  EXPECT_EQ(back.GetName(), "Casa <\"&'> ñandú");
  EXPECT_EQ(back.GetDesc(), home.GetDesc());
  EXPECT_EQ(back.GetImage(), home.GetImage());
  std::vector<CStrPeriod> periods;
  Periods().GetAllRecordsForPlace(&periods, back.GetId());
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_EQ(periods[0].GetName(), "Mañana\tlarga");
  std::vector<CStrAction> actions;
  Actions().GetAllForPeriod(&actions, periods[0].GetId());
  ASSERT_EQ(actions.size(), 1u);
  const CStrAction& a = actions[0];
  EXPECT_EQ(a.GetSzOp1(), sent.GetSzOp1());
  EXPECT_EQ(a.GetSzOp2(), sent.GetSzOp2());
  EXPECT_EQ(a.GetSzOp3(), sent.GetSzOp3());
  EXPECT_EQ(a.GetMgrId(), 10);
  EXPECT_EQ(a.GetType(), CStrAction::TYPE_LEAVE);
  EXPECT_EQ(a.GetIntOp1(), 7);
  EXPECT_EQ(a.GetIntOp2(), 10);
  EXPECT_EQ(a.GetIntOp3(), -5);
  EXPECT_EQ(a.GetStOp3().wYear, 2033);
  EXPECT_EQ(a.GetStOp1().wSecond, 30);
}

TEST_F(XmlDataTest, IntegersAreReadLikeTheWideToLongConversion) {
  EXPECT_EQ(CXmlData::ReadInt("12abc"), 12);
  EXPECT_EQ(CXmlData::ReadInt("abc"), 0);
  EXPECT_EQ(CXmlData::ReadInt(""), 0);
  EXPECT_EQ(CXmlData::ReadInt("  \t-42 7"), -42);
  EXPECT_EQ(CXmlData::ReadInt("+8"), 8);
  EXPECT_EQ(CXmlData::ReadInt("- 8"), 0);
  EXPECT_EQ(CXmlData::ReadInt("99999999999999999999"), 2147483647);
  EXPECT_EQ(CXmlData::ReadInt("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(CXmlData::ReadInt("-99999999999"), -2147483647 - 1);

  // In a file only clean numbers are read: blanks around them are allowed, and a week mask of
  // -1 is stored as 0.
  WriteFile(XmlFile(),
            "<Telvane><place id=' 0 ' name='Zero'><schedule name='s' begin_hour='\t7 '>"
            "<action id='12' arg_int_2='-1'/></schedule></place></Telvane>");
  ASSERT_TRUE(CXmlData::ImportXml(*db_));
  EXPECT_EQ(Places().Count(), 1);
  std::vector<CStrPeriod> periods;
  Periods().GetAllRecordsForPlace(&periods, 0);
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_EQ(periods[0].GetStart().wHour, 7);
  std::vector<CStrAction> actions;
  Actions().GetAllForPeriod(&actions, periods[0].GetId());
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0].GetMgrId(), 12);
  EXPECT_EQ(actions[0].GetIntOp2(), 0);
  // Absent operands keep a fresh action's values.
  EXPECT_EQ(actions[0].GetIntOp1(), -1);
  EXPECT_EQ(actions[0].GetType(), CStrAction::TYPE_ENTER);
}

// A value the program cannot hold refuses the whole file, and the message names the line and
// what is wrong; the refusal, like every import, is written to the event log.
TEST_F(XmlDataTest, ValuesThatCannotBeHeldRefuseTheFileNamingTheLine) {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  CRegistrySettings::Instance()->SetDWORD(CEventLog::kItemsScreenKey, 50);
  CEventLog::DestroyInstanceForTesting();
  CStrPlace home = AddPlace("Home");
  std::string before = Snapshot();

  const std::string head = "<Telvane>\n<place id='0' name='U'/>\n";
  struct Case {
    std::string body;
    const char* message;  // after "Line 3: "
  };
  const Case cases[] = {
      {"<place id='abc' name='X'/>", "the attribute id holds \"abc\""},
      {"<place id='12abc' name='X'/>", "the attribute id holds \"12abc\""},
      {"<place id='0' name='Again'/>", "a second place carries the id 0"},
      {"<place id='1'><schedule begin_hour='99'/></place>",
       "the attribute begin_hour holds 99, outside the range 0 to 23"},
      {"<place id='1'><schedule end_minute='-7'/></place>", "end_minute holds -7, outside"},
      {"<place id='1'><cell id='4294967297'/></place>", "the attribute id holds \"4294967297\""},
      {"<place id='1' name='Caf\xe9'/>", "the file holds bytes that are not UTF-8"},
      {"<place id='1' name='&#xD800;'/>", "the attribute name is not valid UTF-8"},
      {"<place id='1'><schedule><action arg_time_1_year='70000'/></schedule></place>",
       "arg_time_1_year holds 70000"},
      {"<place id='1'><cell id='5'/><cell id='5'/></place>",
       "the cell 5 is assigned to a place already"},
      {"<place id='1'></Telvane>", "an element is not closed"},
  };
  for (const Case& c : cases) {
    WriteFile(XmlFile(), head + c.body + "\n</Telvane>");
    std::string text;
    try {
      EXPECT_FALSE(CXmlData::Import(*db_, XmlFile(), true, &text)) << c.body;
    } catch (const CExceptionDB& e) {
      text = e.GetMessage();  // the taken cell is found while storing
    }
    EXPECT_EQ(text.rfind("The data file could not be read.\nLine 3: ", 0), 0u) << text;
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    EXPECT_EQ(Snapshot(), before) << c.body;
    CEventLogRecord entry;
    ASSERT_TRUE(CEventLog::GetInstance()->GetRecord(0, &entry));
    EXPECT_EQ(entry.code, CXmlData::kEventLogCode);
    EXPECT_EQ(entry.level, CEventLog::LEVEL_ERROR);
    EXPECT_EQ(entry.summary, "Data import refused");
    EXPECT_EQ(entry.description.rfind("The profile data in \\Telvane.xml was not imported", 0), 0u)
        << entry.description;
  }

  // What the program exports it reads back: the extremes of every range included.
  WriteFile(XmlFile(), head +
                           "<place id='-5' name='Ok'><cell id='-2147483648'/>"
                           "<schedule begin_hour='23' begin_minute='59' end_hour='0'>"
                           "<action id='2147483647' arg_time_1_year='65535'/></schedule>"
                           "</place></Telvane>");
  std::string text;
  ASSERT_TRUE(CXmlData::Import(*db_, XmlFile(), true, &text)) << text;
  CEventLogRecord entry;
  ASSERT_TRUE(CEventLog::GetInstance()->GetRecord(0, &entry));
  EXPECT_EQ(entry.level, CEventLog::LEVEL_INFO);
  EXPECT_EQ(entry.description, "The profile data was imported from \\Telvane.xml");
  std::string error;
  ASSERT_TRUE(CXmlData::Export(*db_, XmlFile(), &error));
  CXmlProfileSet set;
  EXPECT_EQ(CXmlData::Read(XmlFile(), &set, nullptr), CXmlData::ReadError::kNone);
  ASSERT_TRUE(CEventLog::GetInstance()->GetRecord(0, &entry));
  EXPECT_EQ(entry.summary, "Data exported");
  CEventLog::DestroyInstanceForTesting();
}

TEST_F(XmlDataTest, ImportMergesAndImportingTwiceAddsThePlacesTwice) {
  WriteFile(XmlFile(),
            "<Telvane><place id='0' name='U'/><place id='5' name='Work'>"
            "<schedule name='d'><action id='1'/></schedule></place></Telvane>");
  CStrPlace kept = AddPlace("Kept");
  ASSERT_TRUE(CXmlData::ImportXml(*db_));
  ASSERT_TRUE(CXmlData::ImportXml(*db_));
  std::vector<CStrPlace> places;
  Places().GetAllRecords(&places);
  std::vector<std::string> names;
  for (const auto& p : places)
    names.push_back(p.GetName() + "#" + std::to_string(p.GetId()));
  // The file's Id 5 is not kept: each import inserts a new place.
  EXPECT_EQ(names, (std::vector<std::string>{"Kept#1", "U#0", "Work#2", "Work#3"}));
  EXPECT_EQ(Periods().Count(), 2);
  EXPECT_EQ(Actions().Count(), 2);
  int count = 0;
  EXPECT_TRUE(Actions().CheckIntegrity(&count));
  EXPECT_TRUE(Periods().CheckIntegrity(&count));
}

TEST_F(XmlDataTest, UnreadableFilesChangeNothing) {
  CStrPlace home = AddPlace("Home");
  AddPeriod(home.GetId(), "Day", 8);
  std::string before = Snapshot();
  const std::string good =
      "<Telvane><place id='3' name='New'><cell id='5'/><schedule name='s'>"
      "<action id='1' arg_char_1='x'/></schedule></place></Telvane>";

  struct Case {
    const char* what;
    std::string text;
    CXmlData::ReadError error;
  };
  const Case cases[] = {
      {"truncated", good.substr(0, good.size() / 2), CXmlData::ReadError::kUnreadable},
      {"malformed", "<Telvane><place id='1'></Telvane>", CXmlData::ReadError::kUnreadable},
      {"empty", "", CXmlData::ReadError::kUnreadable},
      {"binary", std::string("\x00\xff\xfe<\x01", 5), CXmlData::ReadError::kUnreadable},
      {"other root", "<html><place id='1' name='x'/></html>", CXmlData::ReadError::kNotProfileSet},
      {"place without id",
       "<Telvane><place id='2' name='Fine'/><place name='Orphan'><cell id='9'/></place>"
       "</Telvane>",
       CXmlData::ReadError::kPlaceWithoutId},
  };
  for (const Case& c : cases) {
    WriteFile(XmlFile(), c.text);
    std::size_t boxes = Boxes().size();
    CXmlProfileSet set;
    EXPECT_EQ(CXmlData::Read(XmlFile(), &set, nullptr), c.error) << c.what;
    EXPECT_TRUE(set.places.empty()) << c.what;
    EXPECT_FALSE(CXmlData::ImportXml(*db_)) << c.what;
    EXPECT_EQ(Snapshot(), before) << c.what;
    ASSERT_EQ(Boxes().size(), boxes + 1) << c.what;
    EXPECT_EQ(Boxes().back().kind, "error") << c.what;
    EXPECT_EQ(Boxes().back().text.rfind("The data file could not be read.", 0), 0u)
        << c.what << ": " << Boxes().back().text;
  }
  EXPECT_NE(Boxes().back().text.find("has no id: Orphan"), std::string::npos)
      << Boxes().back().text;

  fs::remove(XmlFile());
  CXmlProfileSet set;
  EXPECT_EQ(CXmlData::Read(XmlFile(), &set, nullptr), CXmlData::ReadError::kNotFound);
  EXPECT_FALSE(CXmlData::ImportXml(*db_));
  EXPECT_EQ(Boxes().back().text, "The data file could not be read.");
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(XmlDataTest, ADatabaseFailureHalfWayLeavesNothingBehind) {
  // The second place's cell is the first one's again: its insert fails after the first place,
  // its cell, a frame and an action went in.
  CStrPlace home = AddPlace("Home");
  std::string before = Snapshot();
  int total = Total();
  WriteFile(XmlFile(),
            "<Telvane><place id='0' name='Renamed'/>"
            "<place id='1' name='A'><cell id='5'/><schedule name='s'><action id='1'/></schedule>"
            "</place><place id='2' name='B'><cell id='5'/></place></Telvane>");
  EXPECT_THROW(CXmlData::ImportXml(*db_), CExceptionDB);
  EXPECT_EQ(Total(), total);
  EXPECT_EQ(Snapshot(), before);

  // The same file replacing the database: the old data stays, and the tables still work.
  CXmlProfileSet set;
  ASSERT_EQ(CXmlData::Read(XmlFile(), &set, nullptr), CXmlData::ReadError::kNone);
  EXPECT_THROW(CXmlData::Replace(*db_, set), CExceptionDB);
  EXPECT_EQ(Snapshot(), before);
  CStrPlace next = AddPlace("Next");
  EXPECT_EQ(next.GetId(), home.GetId() + 1);
}

TEST_F(XmlDataTest, ReplaceStartsFromANewDatabase) {
  CStrPlace old = AddPlace("Old");
  CStrCell cell(5, old.GetId());
  Cells().Insert(cell);
  WriteFile(XmlFile(),
            "<Telvane><place id='0' name='U'/><place id='9' name='New'><cell id='5'/>"
            "<lac id='6'/></place></Telvane>");
  CXmlProfileSet set;
  ASSERT_EQ(CXmlData::Read(XmlFile(), &set, nullptr), CXmlData::ReadError::kNone);
  CXmlData::Replace(*db_, set);

  std::vector<CStrPlace> places;
  Places().GetAllRecords(&places);
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0].GetName() + "#" + std::to_string(places[0].GetId()), "New#1");
  EXPECT_EQ(places[1].GetName() + "#" + std::to_string(places[1].GetId()), "U#0");
  std::vector<CStrCell> cells;
  Cells().GetAllForPlace(&cells, 1);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(Lacs().Count(), 1);
}

TEST_F(XmlDataTest, RecreateTablesBringsBackTheUnknownPlaceWithIdZero) {
  CStrPlace a = AddPlace("A");
  CStrPeriod p = AddPeriod(a.GetId(), "P", 1);
  AddAction(p.GetId(), 1, "x");
  CStrLAC lac(4, a.GetId());
  Lacs().Insert(lac);

  CXmlData::RecreateTables(*db_);
  EXPECT_EQ(Total(), 1);
  CStrPlace unknown;
  unknown.SetId(CTablePlaces::kUnknownPlaceId);
  ASSERT_TRUE(Places().FindAndFill(unknown));
  EXPECT_EQ(unknown.GetImage(), "place_unknown.png");
  EXPECT_EQ(AddPlace("First").GetId(), 1);

  // And it lasts: the volume opened again holds the same.
  db_.reset();
  db_ = std::make_unique<CDB>();
  db_->OpenDB();
  EXPECT_EQ(Places().Count(), 2);
  EXPECT_EQ(Periods().Count(), 0);
}

TEST_F(XmlDataTest, FilesBeyondTheLimitsAreRefusedBeforeTheyAreBuilt) {
  // A million attributes on one element.
  std::string attrs = "<Telvane><place id='1'";
  for (int i = 0; i < 1'000'001; ++i)
    attrs += " a=''";
  attrs += "/></Telvane>";
  CXmlProfileSet set;
  EXPECT_EQ(CXmlData::Parse(attrs, &set, nullptr), CXmlData::ReadError::kTooLarge);

  std::string elements = "<Telvane>";
  for (std::size_t i = 0; i < CXmlData::kMaxElements; ++i)
    elements += "<x/>";
  elements += "</Telvane>";
  EXPECT_EQ(CXmlData::Parse(elements, &set, nullptr), CXmlData::ReadError::kTooLarge);

  // A file too large is refused from its size, and reported.
  { std::ofstream big(XmlFile(), std::ios::binary | std::ios::trunc); }
  fs::resize_file(XmlFile(), CXmlData::kMaxFileBytes + 1);
  EXPECT_EQ(CXmlData::Read(XmlFile(), &set, nullptr), CXmlData::ReadError::kTooLarge);
  EXPECT_FALSE(CXmlData::ImportXml(*db_));
  EXPECT_NE(Boxes().back().text.find("larger than the program can read"), std::string::npos);

  // Deep nesting within the limits is read without recursion: the place is found, the nested
  // elements ignored.
  std::string deep = "<Telvane><place id='1' name='Deep'>";
  for (int i = 0; i < 60'000; ++i)
    deep += "<n>";
  for (int i = 0; i < 60'000; ++i)
    deep += "</n>";
  deep += "<cell id='3'/></place></Telvane>";
  ASSERT_EQ(CXmlData::Parse(deep, &set, nullptr), CXmlData::ReadError::kNone);
  ASSERT_EQ(set.places.size(), 1u);
  EXPECT_EQ(set.places[0].cells, std::vector<std::int32_t>{3});
}

TEST_F(XmlDataTest, ExportReplacesTheFileOnlyWhenTheNewOneIsWritten) {
  WriteFile(XmlFile(), "old");
  // A folder in the way of the temporary file: the export fails and the old file stays.
  fs::create_directory(XmlFile().string() + ".new");
  fs::create_directory(XmlFile().string() + ".new/keep");
  EXPECT_FALSE(CXmlData::ExportXml(*db_));
  EXPECT_EQ(ReadFile(XmlFile()), "old");
  EXPECT_EQ(Boxes().back().kind, "error");
  fs::remove_all(XmlFile().string() + ".new");
  EXPECT_TRUE(CXmlData::ExportXml(*db_));
  EXPECT_NE(ReadFile(XmlFile()).find("<Telvane>"), std::string::npos);
}

TEST_F(XmlDataTest, BackupAndRestoreTheVolumeFile) {
  AddPlace("Saved");
  fs::path backup = dev_.device().HostPath("\\tvmgr_backup.db");
  std::string error;
  ASSERT_TRUE(CXmlData::Backup(*db_, backup, &error)) << error;
  std::string saved = Snapshot();
  AddPlace("Later");
  ASSERT_NE(Snapshot(), saved);

  ASSERT_TRUE(CXmlData::Restore(*db_, backup, &error)) << error;
  EXPECT_EQ(Snapshot(), saved);
  EXPECT_EQ(AddPlace("After").GetId(), 2);

  // A file that is no volume: the database stays as it was and usable.
  std::string now = Snapshot();
  fs::path junk = dev_.device().HostPath("\\junk.db");
  WriteFile(junk, std::string(4096, 'j'));
  EXPECT_FALSE(CXmlData::Restore(*db_, junk, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Snapshot(), now);
  EXPECT_FALSE(CXmlData::Restore(*db_, dev_.device().HostPath("\\missing.db"), &error));
  EXPECT_EQ(Snapshot(), now);
  EXPECT_EQ(AddPlace("Still").GetId(), 3);
}

}  // namespace
