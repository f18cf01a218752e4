// The option dialogs' answers: which button answers what (the time limits and their custom
// duration, cancel), the names the buttons carry, the feature image an option is drawn with, and
// the help file of a language.
#include <QApplication>
#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"
#include "ui/OptionDialog.h"
#include "ui/SkinDraw.h"
#include "ui/SmallDialogs.h"

namespace fs = std::filesystem;

namespace {

class OptionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTexts::ResetForTesting();
    platform::HKEY key;
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
        platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    fs::path program = dev_.device().ProgramFolder();
    fs::create_directories(program);
    fs::copy(fs::path(TELVANE_SOURCE_DIR) / "traductions", program / "traductions",
             fs::copy_options::recursive);
  }
  void TearDown() override { CTexts::ResetForTesting(); }

  // Runs `act` once the dialog's own loop is running.
  static void Then(std::function<void()> act) { QTimer::singleShot(0, std::move(act)); }

  TestDevice dev_;
};

TEST_F(OptionDialogTest, TimeLimitButtonsAnswerTheirMinutes) {
  COptionDialogTimeLimit dialog(nullptr, nullptr);
  const auto& buttons = dialog.Buttons();
  ASSERT_EQ(buttons.size(), 9u);
  // Cancel first, then the durations, each named as it reads.
  std::vector<QString> names;
  for (auto* b : buttons)
    names.push_back(b->accessibleName());
  EXPECT_EQ(names,
            (std::vector<QString>{"Cancel", "No limit", "1 minute", "5 minutes", "10 minutes",
                                  "30 minutes", "1 hour", "2 hours", "Other time..."}));

  Then([&] { buttons[3]->click(); });
  EXPECT_EQ(dialog.ShowModal(), 5);
  EXPECT_EQ(dialog.Minutes(), 5);

  Then([&] { buttons[1]->click(); });
  EXPECT_EQ(dialog.ShowModal(), COptionDialogTimeLimit::kNoLimit);
  EXPECT_EQ(dialog.Minutes(), 0);

  Then([&] { buttons[0]->click(); });
  EXPECT_EQ(dialog.ShowModal(), COptionDialog::kCancel);
}

TEST_F(OptionDialogTest, CustomTimeAnswersHoursAndMinutesAndItsCancelCancels) {
  COptionDialogTimeLimit dialog(nullptr, nullptr);
  auto custom = [&](std::function<void(CDialogCustomTime*)> act) {
    Then([&dialog, act] {
      dialog.Buttons().back()->click();
      Then([act] {
        auto* form = qobject_cast<CDialogCustomTime*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        act(form);
      });
    });
  };
  // 1 h 49 min: a number of minutes that is also the cancel id must not read as cancel.
  custom([](CDialogCustomTime* form) {
    form->SetTime(1, 49);
    form->accept();
  });
  EXPECT_NE(dialog.ShowModal(), COptionDialog::kCancel);
  EXPECT_EQ(dialog.Minutes(), 109);

  custom([](CDialogCustomTime* form) { form->reject(); });
  EXPECT_EQ(dialog.ShowModal(), COptionDialog::kCancel);
}

TEST_F(OptionDialogTest, AStateIsDrawnWithTheFeatureImage) {
  QImage image(60, 65, QImage::Format_ARGB32);
  image.fill(QColor(10, 200, 30));
  SkinImage record;
  record.colorKey = {255, 0, 255};
  COptionDialog dialog(nullptr, nullptr, TEXT_ID("SELECT OPTION"));
  dialog.AddOption(1001, "bt", TEXT_ID("BT ON"), {&record, &image});
  ASSERT_EQ(dialog.Buttons().size(), 2u);
  auto* state = dialog.Buttons()[1];
  EXPECT_EQ(state->accessibleName(), "On");
  EXPECT_EQ(dialog.accessibleName(), "Choose an option");
  state->resize(60, 65);
  QImage shot = state->grab().toImage();
  EXPECT_EQ(shot.pixelColor(30, 30), QColor(10, 200, 30));
  Then([state] { state->click(); });
  EXPECT_EQ(dialog.ShowModal(), 1001);
}

TEST_F(OptionDialogTest, HelpIsTheLanguagesFileOfTheProgramFolder) {
  fs::path program = dev_.device().ProgramFolder();
  fs::copy_file(fs::path(TELVANE_SOURCE_DIR) / "help" / "en.txt", program / "en.txt");
  auto en = CDialogHelp::ReadHelp("en");
  ASSERT_TRUE(en.has_value());
  EXPECT_NE(en->find("TELVANE HELP"), std::string::npos);
  EXPECT_FALSE(CDialogHelp::ReadHelp("fr").has_value());
  // A setting that names a path is no language.
  EXPECT_FALSE(CDialogHelp::ReadHelp("../Telvane/en").has_value());
  EXPECT_FALSE(CDialogHelp::ReadHelp("").has_value());
  // Every shipped language has its help.
  for (const char* language : {"en", "es"})
    EXPECT_TRUE(
        fs::exists(fs::path(TELVANE_SOURCE_DIR) / "help" / (std::string(language) + ".txt")));
}

}  // namespace
