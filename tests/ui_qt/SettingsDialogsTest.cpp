// The record dialogs of the settings sheet: what each refuses and what it hands back, the
// weekday boxes against the stored mask, and the split of an overlapping time frame from the
// places page, refused without the user's word.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "app/Ids.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "data/DB.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/ScheduleDecision.h"
#include "location/ScheduleEngine.h"
#include "platform/Mosutil.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"
#include "support/Wait.h"
#include "ui/DataCommands.h"
#include "ui/DlgRecords.h"
#include "ui/PageLists.h"
#include "ui/PageProfiles.h"

namespace fs = std::filesystem;

namespace {

class SettingsDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::HKEY key;
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
        platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    fs::path traductions = dev_.device().ProgramFolder() / "traductions";
    fs::create_directories(traductions);
    fs::copy_file(fs::path(TELVANE_SOURCE_DIR) / "traductions" / "en.xml", traductions / "en.xml");
    CTexts::ResetForTesting();
    CStrLocation::SetCellMode(false);
    platform::SetBoxAnswerMode("yes");
  }
  void TearDown() override {
    CScheduleEngine::DestroyInstance();
    db_.reset();
    CTexts::ResetForTesting();
  }

  CDB& Db() {
    if (!db_) {
      db_ = std::make_unique<CDB>();
      db_->OpenDB();
    }
    return *db_;
  }
  static std::string Text(const char* id) { return CTexts::GetInstance()->GetText(id); }
  // The text of the last box shown, "" when none was.
  static std::string LastBox() {
    auto boxes = platform::ListBoxes();
    return boxes.empty() ? "" : boxes.back().text;
  }
  static std::size_t BoxCount() { return platform::ListBoxes().size(); }

  TestDevice dev_;
  std::unique_ptr<CDB> db_;
};

// Runs `fill` on the next modal dialog and saves it, as the user would.
template <class Dialog>
void WhenDialogOpens(std::function<void(Dialog*)> fill) {
  QTimer::singleShot(0, [fill] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    fill(dialog);
    dialog->TrySave();
    if (dialog->result() != QDialog::Accepted)
      dialog->reject();
  });
}

TEST_F(SettingsDialogsTest, AddLocationNeedsACodeThatFits) {
  CDlgAddLocation dialog(nullptr, false);
  for (const char* bad : {"", "  ", "99999999999"}) {
    dialog.CodeField()->setText(bad);
    std::size_t before = BoxCount();
    dialog.TrySave();
    EXPECT_NE(dialog.result(), QDialog::Accepted) << bad;
    EXPECT_EQ(BoxCount(), before + 1) << bad;
    EXPECT_EQ(LastBox(), Text("ENTER LOCATION"));
  }
  dialog.CodeField()->setText("4711");
  dialog.TrySave();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.GetCode(), 4711);
}

TEST_F(SettingsDialogsTest, PlaceNeedsANameAndKeepsItsIdAndIcon) {
  CStrPlace place("Home", "", "place_home.png", 7);
  CDlgPlace dialog(nullptr, place);
  EXPECT_EQ(dialog.IconField()->currentData().toString(), "place_home.png");
  dialog.NameField()->setText("   ");
  dialog.TrySave();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(LastBox(), Text("PLEASE FILL DATA"));
  dialog.NameField()->setText(" Gym ");
  dialog.DescriptionField()->setText("Evenings");
  dialog.TrySave();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  CStrPlace edited = dialog.GetPlace();
  EXPECT_EQ(edited.GetName(), "Gym");
  EXPECT_EQ(edited.GetDesc(), "Evenings");
  EXPECT_EQ(edited.GetImage(), "place_home.png");
  EXPECT_EQ(edited.GetId(), 7);
}

TEST_F(SettingsDialogsTest, TimeFrameNeedsANameTwoTimesAndAnEndAfterItsStart) {
  CDlgTimeFrame dialog(nullptr, CStrPeriod());
  struct Case {
    const char* name;
    const char* begin;
    const char* end;
    const char* box;  // null: accepted
  } cases[] = {
      {"", "18:00", "20:00", "PLEASE FILL DATA"},
      {"Evening", "", "20:00", "PLEASE FILL DATA"},
      {"Evening", "24:00", "20:00", "PLEASE FILL DATA"},
      {"Evening", "18:00", "20:60", "PLEASE FILL DATA"},
      {"Evening", "18", "20:00", "PLEASE FILL DATA"},
      {"Evening", "20:00", "18:00", "TIME FRAME END BEFORE START"},
      {"Night", "22:00", "00:00", nullptr},
      {"Evening", "8:05", "20:30", nullptr},
  };
  for (const Case& c : cases) {
    dialog.setResult(QDialog::Rejected);
    dialog.NameField()->setText(c.name);
    dialog.BeginField()->setText(c.begin);
    dialog.EndField()->setText(c.end);
    std::size_t before = BoxCount();
    dialog.TrySave();
    if (c.box) {
      EXPECT_NE(dialog.result(), QDialog::Accepted) << c.begin << "-" << c.end;
      EXPECT_EQ(LastBox(), Text(c.box)) << c.begin << "-" << c.end;
    } else {
      EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.begin << "-" << c.end;
      EXPECT_EQ(BoxCount(), before);
    }
  }
  CStrPeriod period = dialog.GetPeriod();
  EXPECT_EQ(period.GetName(), "Evening");
  EXPECT_EQ(period.GetStart().wHour, 8);
  EXPECT_EQ(period.GetStart().wMinute, 5);
  EXPECT_EQ(period.GetEnd().wHour, 20);
  EXPECT_EQ(period.GetEnd().wMinute, 30);
}

TEST_F(SettingsDialogsTest, ActionAsksForWhatItsKindNeeds) {
  CStrAction action;
  action.SetMgrId(MGR_ID_CALL_FORWARD);
  action.SetIntOp1(1);
  CDlgAction dialog(nullptr, action);
  // Forwarding switched on needs its number; switched off it does not.
  dialog.TrySave();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(LastBox(), Text("PLEASE FILL DATA"));
  dialog.StatusField()->setCurrentIndex(dialog.StatusField()->findData(0));
  dialog.TrySave();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  // A text message needs a recipient and its text; an e-mail a recipient.
  dialog.setResult(QDialog::Rejected);
  dialog.KindField()->setCurrentIndex(dialog.KindField()->findData(schedule::kActionSms));
  dialog.ToField()->setText("+34600000000");
  dialog.TrySave();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  dialog.TextField()->setPlainText("On my way");
  dialog.TrySave();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  CStrAction sms = dialog.GetAction();
  EXPECT_EQ(sms.GetMgrId(), schedule::kActionSms);
  EXPECT_EQ(sms.GetSzOp1(), "+34600000000");
  EXPECT_EQ(sms.GetSzOp3(), "On my way");
  EXPECT_EQ(sms.GetSzOp2(), "");

  dialog.setResult(QDialog::Rejected);
  dialog.KindField()->setCurrentIndex(dialog.KindField()->findData(schedule::kActionOpenFile));
  dialog.FileField()->clear();
  dialog.TrySave();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST_F(SettingsDialogsTest, ActionFieldsRoundTripForEachKind) {
  struct Case {
    int mgrId;
    int intOp1;
    int intOp3;
    const char* sz1;
    const char* sz2;
    const char* sz3;
  } cases[] = {
      {MGR_ID_SPEAKER, 1, 3, "", "", ""},
      {MGR_ID_BT, 2, -1, "", "", ""},
      {MGR_ID_BACKLIGHT, 7 * 65536 + 2, -1, "", "", ""},
      {MGR_ID_CALL_FORWARD, 1, -1, "+341234", "", ""},
      {MGR_ID_CPU, static_cast<int>(platform::POWER_STATE_RESET), -1, "", "", ""},
      {schedule::kActionMail, -1, -1, "a@b.example", "Hello", "Body"},
      {schedule::kActionRingTone, 4, -1, "\\Windows\\ring.wav", "vibrate+ring", ""},
      {schedule::kActionTheme, -1, -1, "Night", "", ""},
      {schedule::kActionLed, 0, -1, "", "", ""},
  };
  for (const Case& c : cases) {
    CStrAction action;
    action.SetId(12);
    action.SetIdPeriod(5);
    action.SetMgrId(c.mgrId);
    action.SetType(CStrAction::TYPE_LEAVE);
    action.SetIntOp1(c.intOp1);
    action.SetIntOp2(11000000);
    action.SetIntOp3(c.intOp3);
    action.SetSzOp1(c.sz1);
    action.SetSzOp2(c.sz2);
    action.SetSzOp3(c.sz3);
    CDlgAction dialog(nullptr, action);
    CStrAction back = dialog.GetAction();
    EXPECT_EQ(back.ToString(), action.ToString()) << c.mgrId;
  }
}

TEST_F(SettingsDialogsTest, FileChooserWalksThePhonesFoldersAndNeedsAFile) {
  fs::path root = dev_.device().FsRoot();
  fs::create_directories(root / "Windows");
  fs::create_directories(root / "My Documents");
  for (const char* name : {"Windows/ring.wav", "Windows/notes.txt", "top.wav"})
    std::ofstream(root / name) << "x";
  auto names = [](QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i)
      out.push_back(list->item(i)->text().toStdString());
    return out;
  };
  CDlgChooseFile dialog(nullptr, "\\Windows\\ring.wav", ".wav");
  EXPECT_EQ(dialog.Folder(), "\\Windows\\");
  EXPECT_EQ(names(dialog.Entries()), (std::vector<std::string>{"\\..", "ring.wav"}));
  dialog.TrySave();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(LastBox(), Text("PLEASE FILL DATA"));
  dialog.Open("\\");
  EXPECT_EQ(names(dialog.Entries()), (std::vector<std::string>{"\\My Documents", "\\Program Files",
                                                               "\\Windows", "top.wav"}));
  // A path that climbs out of the phone's file system shows nothing of the host.
  dialog.Open("\\..\\..\\");
  for (const std::string& name : names(dialog.Entries()))
    EXPECT_TRUE(name == "\\.." || name == "\\My Documents" || name == "\\Program Files" ||
                name == "\\Windows" || name == "top.wav")
        << name;
  dialog.Open("\\Windows\\");
  dialog.Entries()->setCurrentRow(1);
  dialog.TrySave();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.GetFile(), "\\Windows\\ring.wav");
}

TEST_F(SettingsDialogsTest, WeekBoxesAndTheStoredMaskAgree) {
  CWeekBoxes boxes(nullptr, true);
  for (std::int32_t mask : {0, 11111111, 11000000, 1, 10000001, 111110, 1000000}) {
    boxes.SetMask(mask);
    CStrAction action;
    action.SetIntOp2(mask);
    for (int day = 0; day < 7; ++day)
      EXPECT_EQ(boxes.Day(day)->isChecked(), action.IsActiveOnDay(day)) << mask << " " << day;
    EXPECT_EQ(boxes.Enabled()->isChecked(), action.IsEnabled()) << mask;
    EXPECT_EQ(boxes.GetMask(), mask);
  }
  // Monday to Friday, enabled: the Sunday and Saturday digits are set.
  boxes.SetMask(0);
  boxes.Day(0)->setChecked(false);
  boxes.Day(6)->setChecked(false);
  EXPECT_EQ(boxes.GetMask(), 11000000);

  // The days dialog keeps the enabled digit it was given.
  CDlgWeek week(nullptr, 1);
  week.Boxes()->Day(0)->setChecked(false);
  EXPECT_EQ(week.GetMask(), 10000001);
}

TEST_F(SettingsDialogsTest, OverlappingFrameIsSplitOnlyWithTheUsersWord) {
  CStrPlace place("Gym", "", "place_sport.png", -1);
  Db().GetTablePlaces()->Insert(place);
  CStrPeriod day;
  day.SetName("Day");
  day.SetIdPlace(place.GetId());
  day.SetStart(8, 0);
  day.SetEnd(20, 0);
  Db().GetTablePeriods()->Insert(day);
  CStrAction action;
  action.SetIdPeriod(day.GetId());
  action.SetMgrId(MGR_ID_WIFI);
  action.SetIntOp1(1);
  Db().GetTableActions()->Insert(action);

  CPageProfiles page;
  page.Shown();
  page.SelectPlace(place.GetId());
  auto lunch = [](CDlgTimeFrame* d) {
    d->NameField()->setText("Lunch");
    d->BeginField()->setText("12:00");
    d->EndField()->setText("13:00");
  };
  auto frames = [&] {
    std::vector<CStrPeriod> list;
    Db().GetTablePeriods()->GetAllRecordsForPlace(&list, place.GetId());
    std::vector<std::string> out;
    for (const CStrPeriod& p : list) {
      out.push_back(p.GetName() + " " + std::to_string(p.GetStart().wHour) + "-" +
                    std::to_string(p.GetEnd().wHour));
    }
    return out;
  };

  platform::SetBoxAnswerMode("no");
  WhenDialogOpens<CDlgTimeFrame>(lunch);
  page.AddFrame();
  EXPECT_EQ(frames(), std::vector<std::string>{"Day 8-20"});

  platform::SetBoxAnswerMode("yes");
  WhenDialogOpens<CDlgTimeFrame>(lunch);
  page.AddFrame();
  EXPECT_EQ(frames(), (std::vector<std::string>{"Day 8-12", "Lunch 12-13", "Day 13-20"}));
  // The part after the new frame runs the same actions.
  std::vector<CStrPeriod> list;
  Db().GetTablePeriods()->GetAllRecordsForPlace(&list, place.GetId());
  std::vector<CStrAction> copied;
  Db().GetTableActions()->GetAllForPeriod(&copied, list.back().GetId());
  ASSERT_EQ(copied.size(), 1u);
  EXPECT_EQ(copied[0].GetMgrId(), MGR_ID_WIFI);
  // The new frame is the one selected.
  EXPECT_EQ(page.SelectedFrame(), list[1].GetId());
}

TEST_F(SettingsDialogsTest, RemovingAPlaceTakesItsFramesActionsAndAreas) {
  CStrPlace place("Gym", "", "place_sport.png", -1);
  Db().GetTablePlaces()->Insert(place);
  CStrLAC lac(4711, place.GetId());
  Db().GetTableLAC()->Insert(lac);
  CStrPeriod frame;
  frame.SetName("Evening");
  frame.SetIdPlace(place.GetId());
  frame.SetStart(18, 0);
  frame.SetEnd(20, 0);
  Db().GetTablePeriods()->Insert(frame);
  CStrAction action;
  action.SetIdPeriod(frame.GetId());
  action.SetMgrId(MGR_ID_SPEAKER);
  action.SetIntOp1(0);
  Db().GetTableActions()->Insert(action);

  CPageProfiles page;
  page.Shown();
  // The place of unknown locations stays.
  page.SelectPlace(CTablePlaces::kUnknownPlaceId);
  page.RemovePlace();
  EXPECT_EQ(LastBox(), Text("REMOVE DEFAULT PROFILE NOT ALLOWED"));
  EXPECT_EQ(Db().GetTablePlaces()->Count(), 2);

  page.SelectPlace(place.GetId());
  page.RemovePlace();
  EXPECT_EQ(Db().GetTablePlaces()->Count(), 1);
  EXPECT_EQ(Db().GetTablePeriods()->Count(), 0);
  EXPECT_EQ(Db().GetTableActions()->Count(), 0);
  EXPECT_EQ(Db().GetTableLAC()->Count(), 0);
  EXPECT_EQ(page.Places()->count(), 1);
}

TEST_F(SettingsDialogsTest, CellHistoryRowIsAssignedToTheChosenPlaceAndTakenBack) {
  CStrPlace place("Gym", "", "place_sport.png", -1);
  Db().GetTablePlaces()->Insert(place);
  CRegistrySettings::Instance()->SetDWORD(CCellHistory::kCapacityKey, 20);
  CCellHistory::Release();
  CCellHistory::Instance()->Add(2001, 4711, true);
  {
    CPageCellHistory page;
    page.Shown();
    ASSERT_EQ(page.List()->topLevelItemCount(), 1);
    // Without a row there is nothing to assign.
    page.AssignSelected();
    EXPECT_EQ(LastBox(), Text("SELECT ROW VALID CELL"));
    page.List()->setCurrentItem(page.List()->topLevelItem(0));
    page.Places()->setCurrentIndex(page.Places()->findData(place.GetId()));
    page.AssignSelected();
    EXPECT_EQ(LastBox(), Text("LOCATION ASSIGNED"));
    // By area, as the location mode says.
    CStrLAC lac;
    lac.SetCode(4711);
    ASSERT_TRUE(Db().GetTableLAC()->FindAndFill(lac));
    EXPECT_EQ(lac.GetPlaceId(), place.GetId());
    EXPECT_EQ(Db().GetTableCell()->Count(), 0);
    page.UnassignSelected();
    EXPECT_FALSE(Db().GetTableLAC()->FindAndFill(lac));
  }
  CCellHistory::Release();
}

TEST_F(SettingsDialogsTest, EventLogPageFollowsEntriesAddedOnOtherThreads) {
  CRegistrySettings::Instance()->SetDWORD(CEventLog::kItemsScreenKey, 100);
  CEventLog::DestroyInstanceForTesting();
  {
    CPageEventLog page;
    page.Shown();
    std::thread writer([] {
      for (int i = 0; i < 30; ++i)
        CEventLog::Add(0, CEventLog::LEVEL_INFO, "entry " + std::to_string(i), "");
    });
    writer.join();
    // The list is refreshed on the user-interface thread, newest first.
    EXPECT_TRUE(testsupport::WaitUntil([&] {
      QCoreApplication::processEvents();
      QTreeWidgetItem* newest = page.List()->topLevelItem(0);
      return page.List()->topLevelItemCount() == 30 && newest && newest->text(1) == "entry 29";
    }));
    page.Clear();
    EXPECT_EQ(page.List()->topLevelItemCount(), 0);
    // Entries keep coming while the page goes away.
    std::thread late([] {
      for (int i = 0; i < 200; ++i)
        CEventLog::Add(0, CEventLog::LEVEL_INFO, "late", "");
    });
    QCoreApplication::processEvents();
    late.join();
  }
  QCoreApplication::processEvents();
  CEventLog::DestroyInstanceForTesting();
}

TEST_F(SettingsDialogsTest, EventLogExportWritesTheCauseInItsOwnColumnAndSaysWhere) {
  CRegistrySettings::Instance()->SetDWORD(CEventLog::kItemsScreenKey, 100);
  CEventLog::DestroyInstanceForTesting();
  CEventLog::Add(MGR_ID_BT, CEventLog::LEVEL_INFO, "Bluetooth is now off", "changed, by hand",
                 "set by hand");
  ASSERT_TRUE(
      testsupport::WaitUntil([] { return !CEventLog::GetInstance()->GetRecords().empty(); }));
  CDataCommands::ExportEventLog(nullptr);
  std::ifstream in(dev_.device().HostPath(CDataCommands::kEventLogCsvFile));
  std::string header, line;
  ASSERT_TRUE(std::getline(in, header));
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(header, "time,level,code,summary,description,cause\r");
  EXPECT_NE(line.find(",Bluetooth is now off,\"changed, by hand\",set by hand"), std::string::npos)
      << line;
  bool told = false;
  for (const auto& box : platform::ListBoxes())
    told = told || box.text.find("\\My Documents\\eventlog.csv") != std::string::npos;
  EXPECT_TRUE(told);
  CEventLog::DestroyInstanceForTesting();
}

}  // namespace
