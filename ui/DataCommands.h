// The main window's data menu: back up and restore the database file, check its integrity,
// erase it ("format"), and import and export the XML data file. Each command asks before it
// deletes anything and tells the user the outcome with the utility library's boxes.
//
// Backup and restore ask for a file with a file dialog when the program has a display; without
// one (the offscreen platform, driven by the device console) they use the fixed device file
// kBackupFile instead, so they stay usable and testable.
//
// Threads: user-interface thread only (the commands run from the main window). The integrity
// check alone runs on a thread of its own, so the window stays responsive while it reads the
// tables; its result is posted back to the user-interface thread, and the destructor waits for
// it to end.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

class CDB;
class CWindowMain;
class QWidget;

class CDataCommands {
 public:
  // Command ids of the data menu.
  enum Command {
    CMD_BACKUP = 40047,
    CMD_RESTORE = 40048,
    CMD_CHECK_INTEGRITY = 40049,
    CMD_FORMAT = 40050,
    CMD_XML_IMPORT = 40059,
    CMD_XML_EXPORT = 40060,
  };
  // Backup and restore file when no file dialog can be shown, as a device path.
  static constexpr const char* kBackupFile = "\\tvmgr_backup.db";
  // The event log's CSV export when no file dialog can be shown, as a device path.
  static constexpr const char* kEventLogCsvFile = "\\My Documents\\eventlog.csv";

  // Registers the six commands with `window`; `db` and `window` must outlive the registration.
  // `dataChanged` runs after a restore, format or import replaced the profile data, so that
  // whoever evaluates the data reads it again.
  static void Register(CWindowMain* window, CDB* db, std::function<void()> dataChanged = {});

  CDataCommands(CWindowMain* window, CDB* db, std::function<void()> dataChanged = {})
      : window_(window), db_(db), dataChanged_(std::move(dataChanged)) {}
  ~CDataCommands();
  CDataCommands(const CDataCommands&) = delete;
  CDataCommands& operator=(const CDataCommands&) = delete;

  // The event log's entries with their causes as CSV, into a file the user chooses (over
  // `parent`, the event-log page); the outcome is told in a box.
  static void ExportEventLog(QWidget* parent);

  void Backup();
  void Restore();
  // Starts the check on its own thread and shows a busy cursor; when it ends, "DB NOT ERRORS"
  // when every record's parent exists, else "DB REPORT ERRORS". While one check runs, another
  // is refused ("DB CHECK RUNNING").
  void CheckIntegrity();
  bool IsCheckRunning() const { return checking_; }
  // After the question "OPERATION WILL DELETE RECORDS": the database as a new phone has it.
  void Format();
  // After the same question: the database replaced by the data file. The file is read and
  // checked before anything is deleted, and the replacement is all or nothing.
  void ImportXml();
  void ExportXml();

 private:
  // The file to back up to or restore from: the file dialog's answer (nothing when cancelled)
  // or the fixed backup file.
  std::optional<std::filesystem::path> ChooseFile(bool save);

  void DataChanged();
  // The check's result, on the user-interface thread.
  void CheckDone(bool sound);

  CWindowMain* window_;
  CDB* db_;
  std::function<void()> dataChanged_;
  std::thread checker_;
  bool checking_ = false;  // user-interface thread
};
