// The main window's data commands in the running program, driven by the device console as
// WM_COMMAND messages: XML export and import, integrity check, format, backup and restore. The
// outcome is read from the boxes the program showed and from the database file itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Mosutil.h"
#include "support/Programs.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr const char* kWmCommand = "273";

class DataCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(telvane.Start());
    ASSERT_TRUE(telvane.WaitForWindow());
  }

  fs::path XmlFile() { return dev.folder() / "fs" / "Telvane.xml"; }

  void Command(int id) {
    ASSERT_EQ(dev.Console({"post", "MainWindow", kWmCommand, std::to_string(id), "0"}), 0);
  }
  void Answer(const char* yesOrNo) { ASSERT_EQ(dev.Console({"boxes", "answer", yesOrNo}), 0); }

  // Waits for the next box after the `seen` boxes already shown, and returns it.
  BoxRecord NextBox(std::size_t* seen) {
    BoxRecord box;
    bool shown = WaitUntil([&] {
      auto boxes = ListBoxes();
      if (boxes.size() <= *seen)
        return false;
      box = boxes[*seen];
      return true;
    });
    EXPECT_TRUE(shown) << "no box after " << *seen << "; trace:\n" << telvane.TraceText();
    ++*seen;
    return box;
  }

  std::vector<std::string> Query(const std::string& sql) { return QueryDatabase(dev, sql); }
  std::vector<std::string> Places() {
    return Query("SELECT SYM || '#' || ID FROM places ORDER BY ID");
  }

  void WriteXml(const std::string& text) {
    std::ofstream out(XmlFile(), std::ios::binary | std::ios::trunc);
    out << text;
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

const char* kProfileFile =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Anywhere\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"Work\" image=\"office.png\" id=\"4\"><cell id=\"1234\"/>"
    "<schedule name=\"Day\" begin_hour=\"9\" begin_minute=\"0\" end_hour=\"17\" end_minute=\"30\">"
    "<action id=\"2\" type=\"0\" arg_int_1=\"1\" arg_char_3=\"kept\"/></schedule></place>"
    "</Telvane>";

TEST_F(DataCommandsTest, ExportThenImportReplacesTheDatabase) {
  std::size_t seen = ListBoxes().size();
  Command(40060);
  BoxRecord exported = NextBox(&seen);
  EXPECT_EQ(exported.kind, "text");
  EXPECT_EQ(exported.text, "Your data was exported to \\Telvane.xml");
  std::ifstream in(XmlFile());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("<Telvane>"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("id=\"0\""), std::string::npos) << text.str();

  // Import asks first; the file's places replace the database's.
  WriteXml(kProfileFile);
  Answer("yes");
  Command(40059);
  BoxRecord question = NextBox(&seen);
  EXPECT_EQ(question.kind, "question");
  EXPECT_NE(question.text.find("delete all your places"), std::string::npos) << question.text;
  BoxRecord imported = NextBox(&seen);
  EXPECT_EQ(imported.text, "Your data was imported from \\Telvane.xml");
  EXPECT_EQ(Places(), (std::vector<std::string>{"Anywhere#0", "Office#1"}));
  EXPECT_EQ(Query("SELECT ID_LAC || '>' || ID_PLACE FROM cells"),
            std::vector<std::string>{"1234>1"});
  EXPECT_EQ(Query("SELECT SzOp3 FROM actions"), std::vector<std::string>{"kept"});

  // Imported again, the file still gives the same database: nothing is merged twice.
  Command(40059);
  NextBox(&seen);
  EXPECT_EQ(NextBox(&seen).kind, "text");
  EXPECT_EQ(Places(), (std::vector<std::string>{"Anywhere#0", "Office#1"}));

  Command(40049);
  BoxRecord check = NextBox(&seen);
  EXPECT_EQ(check.kind, "text");
  EXPECT_EQ(check.text, "The database has no errors.");
}

TEST_F(DataCommandsTest, AFileThatCannotBeImportedLeavesTheDatabase) {
  std::size_t seen = ListBoxes().size();
  std::vector<std::string> before = Places();
  ASSERT_EQ(before.size(), 1u);

  // No file: told so, and nothing is asked.
  fs::remove(XmlFile());
  Command(40059);
  BoxRecord missing = NextBox(&seen);
  EXPECT_EQ(missing.kind, "error");
  EXPECT_EQ(missing.text, "The data file \\Telvane.xml was not found.");

  // A file cut short: asked, then told it cannot be read; the database is as it was.
  std::string cut = kProfileFile;
  WriteXml(cut.substr(0, cut.size() - 40));
  Answer("yes");
  Command(40059);
  EXPECT_EQ(NextBox(&seen).kind, "question");
  BoxRecord unreadable = NextBox(&seen);
  EXPECT_EQ(unreadable.kind, "error");
  // The refusal names the line and what is wrong.
  EXPECT_EQ(unreadable.text,
            "The data file could not be read.\nLine 1: an attribute is malformed.");
  EXPECT_EQ(Places(), before);

  // Answered no: nothing happens either.
  WriteXml(kProfileFile);
  Answer("no");
  Command(40059);
  EXPECT_EQ(NextBox(&seen).kind, "question");
  Command(40049);  // a later box shows the import is over
  EXPECT_EQ(NextBox(&seen).text, "The database has no errors.");
  EXPECT_EQ(Places(), before);
}

TEST_F(DataCommandsTest, FormatAndBackupAndRestore) {
  std::size_t seen = ListBoxes().size();
  WriteXml(kProfileFile);
  Answer("yes");
  Command(40059);
  NextBox(&seen);
  ASSERT_EQ(NextBox(&seen).kind, "text");
  ASSERT_EQ(Places().size(), 2u);

  // Backup without a display goes to the fixed file.
  Command(40047);
  BoxRecord backup = NextBox(&seen);
  EXPECT_EQ(backup.text, "The database was copied to \\tvmgr_backup.db");
  EXPECT_TRUE(fs::exists(dev.folder() / "fs" / "tvmgr_backup.db"));

  // Format asks, and answered no keeps everything.
  Answer("no");
  Command(40050);
  EXPECT_EQ(NextBox(&seen).kind, "question");
  Command(40049);
  EXPECT_EQ(NextBox(&seen).text, "The database has no errors.");
  EXPECT_EQ(Places().size(), 2u);

  // Answered yes, the database is as on a new phone: the unknown place alone, with Id 0.
  Answer("yes");
  Command(40050);
  EXPECT_EQ(NextBox(&seen).kind, "question");
  ASSERT_TRUE(WaitUntil([&] { return Places().size() == 1; })) << Places().size();
  EXPECT_EQ(Places()[0].substr(Places()[0].find('#')), "#0");
  EXPECT_TRUE(Query("SELECT Id FROM periods").empty());

  // Restore brings the backup back.
  Command(40048);
  EXPECT_EQ(NextBox(&seen).kind, "question");
  BoxRecord restored = NextBox(&seen);
  EXPECT_EQ(restored.text, "The database was restored from \\tvmgr_backup.db");
  EXPECT_EQ(Places(), (std::vector<std::string>{"Anywhere#0", "Office#1"}));
  Command(40049);
  EXPECT_EQ(NextBox(&seen).text, "The database has no errors.");
}

}  // namespace
