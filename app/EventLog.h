// The event log: the user-visible history of what the program did (start-up, requested and
// observed status changes, schedule starts and ends, actions run or skipped, messages sent).
//
// Each entry has an origin code, a severity, a summary and a description, both already
// translated. The newest entries stay in memory for the event log screen (newest first, at most
// "events_log_items_screen" of them) and, when "events_log_write_to_file" is on, every entry is
// appended as one line to the log file ("events_log_path", a device path; by default
// "\Program Files\Telvane\log.txt"). The file is UTF-16LE without byte-order mark, with CRLF
// line ends, and is rotated to the same name ending in "bak" when it would grow past
// "events_log_file_max_size" kilobytes.
//
// Threads: Add may be called from any thread and runs on the caller's thread; concurrent calls
// are serialised. Listeners are called on the adding thread, under the log's lock: they must not
// block on another thread that adds entries (a user interface posts to its own thread).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/WorkerThread.h"
#include "platform/Time.h"

// One entry of the log.
struct CEventLogRecord {
  // A manager id, 300 for the start-up entry, or a code of the schedule engine.
  int code = 0;
  // Device local time when the entry was added.
  platform::SYSTEMTIME time;
  int level = 0;
  std::string summary;
  // The full description as the user reads it: the text of the entry, then its cause.
  std::string description;
  // The cause of the change the entry records, translated; empty when it names none.
  std::string cause;
  // Kernel id of the thread that added the entry.
  int threadId = 0;
};

class IEventLogListener {
 public:
  virtual ~IEventLogListener() = default;
  // The log changed; `count` is the number of entries it now holds in memory.
  virtual void OnEventLogChanged(int count) = 0;
};

class CEventLog : public WorkerThread {
 public:
  // Severity levels (index into the level names written to the file).
  static constexpr int LEVEL_TRACE = 0;
  static constexpr int LEVEL_DEBUG = 1;
  static constexpr int LEVEL_INFO = 2;
  static constexpr int LEVEL_WARNING = 3;
  static constexpr int LEVEL_ERROR = 4;
  static constexpr int LEVEL_FATAL = 5;

  // Settings.
  static constexpr const char* kPathKey = "events_log_path";
  static constexpr const char* kWriteToFileKey = "events_log_write_to_file";
  static constexpr const char* kMaxSizeKey = "events_log_file_max_size";  // kilobytes
  static constexpr const char* kItemsScreenKey = "events_log_items_screen";

  // The default file, in the program folder.
  static constexpr const char* kDefaultFileName = "log.txt";
  static constexpr std::size_t kMaxPathChars = 259;
  // A file line holds at most this many characters, its CRLF included.
  static constexpr std::size_t kMaxLineChars = 999;
  // Worker command: add the CEventLogRecord* given as parameter (the log takes it over).
  static constexpr int kAddRecordCommand = 0;
  // Worker command: write the CSV export for the console (parameter: a heap CsvRequest).
  static constexpr int kCsvRequestCommand = 1;

  // Adds an entry to the process-wide log, creating the log on first use.
  static void Add(int code, int level, const std::string& summary, const std::string& description);
  // The same with the cause of the change the entry records (see CChangeCause): the cause is
  // kept in its own field and appended to the description after a blank.
  static void Add(int code, int level, const std::string& summary, const std::string& description,
                  const std::string& cause);
  // The process-wide log, created (its worker thread started) on first use. Thread-safe.
  static CEventLog* GetInstance();
  // End of the program: stops the process-wide log's worker once its queue has run, clears the
  // entries and closes the file. The log stays usable: a later entry reopens the file.
  static void Shutdown();
  // Destroys the process-wide log so that the next use builds it from the current device's
  // settings. For tests only: no other thread may be using the log.
  static void DestroyInstanceForTesting();

  // Builds a log from the current settings (writing the default path back when none is set),
  // opens the file and starts the worker thread. The program uses the process-wide one.
  CEventLog();
  ~CEventLog() override;

  // Adds one entry on the calling thread: writes it to the file, keeps it in memory and tells
  // the listeners.
  void AddEntry(int code, int level, const std::string& summary, const std::string& description,
                const std::string& cause = {});
  // Drops every entry held in memory and tells the listeners (count 0). The file is kept.
  void Clear();

  // Listeners are not owned; removal takes out the first occurrence.
  void AddListener(IEventLogListener* listener);
  void RemoveListener(IEventLogListener* listener);

  // Entries in memory.
  int GetCount();
  // A copy of the entries, newest first.
  std::vector<CEventLogRecord> GetRecords();
  // A copy of entry `index` (0 = newest); false when there is none.
  bool GetRecord(int index, CEventLogRecord* out);

  // "TRACE", "DEBUG", "INFO", "WARNING", "ERROR", "FATAL"; "UNKNOWN" for other values.
  static const char* LevelName(int level);
  // The file line of a record (UTF-8, ending in CRLF, at most kMaxLineChars characters).
  static std::string FormatLine(const CEventLogRecord& record);
  // The rotated file's name: `path` with its last three characters replaced by "bak".
  static std::string BackupPath(const std::string& path);

  // ---- CSV export (RFC 4180: comma separated, CRLF line ends, fields quoted when they hold a
  // comma, a quote, a CR or an LF, quotes doubled) ----------------------------------------------
  // A description holds at most this many characters with its cause appended.
  static constexpr std::size_t kMaxDescriptionWithCauseChars = 599;
  // One field, quoted when it must be.
  static std::string CsvField(const std::string& text);
  // The header line: time, level, code, summary, description, cause.
  static std::string CsvHeader();
  // One record as a CSV line; the description column holds the description without its cause.
  static std::string CsvLine(const CEventLogRecord& record);
  // The header and the entries in memory, oldest first, as UTF-8 CSV text.
  std::string ExportCsv();
  // Writes ExportCsv() to the host file `hostPath` (replaced when it exists); false with `error`
  // set when it cannot be written.
  bool ExportCsvToFile(const std::string& hostPath, std::string* error);
  // The hardware event through which the device console asks the running program for the CSV
  // (payload: the device path of the file to write; answered once it is written).
  static constexpr const char* kCsvRequestEvent = "eventlog_csv";
  // Serves kCsvRequestEvent for this process: each request is written on the log's worker.
  // Returns the subscription, for platform::UnsubscribeHardwareEvent.
  static int ServeCsvRequests();

 protected:
  void HandleCommandWorkerThread(int command, std::intptr_t param) override;
  void DiscardCommand(int command, std::intptr_t param) override;

 private:
  void AddRecord(std::unique_ptr<CEventLogRecord> record);
  void WriteRecord(const CEventLogRecord& record);
  void OpenFile(const std::string& devicePath);
  void CloseFile();
  void Rotate();
  void NotifyListeners(int count);

  // Serialises adding, clearing and the file; recursive so that a listener may read the log.
  std::recursive_mutex mutex_;
  std::deque<std::unique_ptr<CEventLogRecord>> records_;
  std::size_t maxRecords_ = 0;
  std::vector<IEventLogListener*> listeners_;
  // The path the file was opened under (device path), used when the setting is gone.
  std::string devicePath_;
  int fd_ = -1;
  std::int64_t fileSize_ = 0;
};
