#include "app/EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "app/RegistrySettings.h"
#include "app/Trace.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Requests.h"
#include "platform/Text.h"

namespace {

constexpr const char* kProgramFolder = "\\Program Files\\Telvane";

std::mutex g_instanceMutex;
std::atomic<CEventLog*> g_instance{nullptr};

CRegistrySettings& Settings() {
  return *CRegistrySettings::Instance();
}

// The program folder's device path followed by the default file name.
std::string DefaultPath() {
  std::string folder = kProgramFolder;
  if (platform::Device* dev = platform::Device::Current()) {
    folder = dev->DevicePath(dev->ProgramFolder()).value_or(folder);
  }
  return platform::Utf8Truncate(folder + "\\" + CEventLog::kDefaultFileName,
                                CEventLog::kMaxPathChars);
}

// The UTF-16LE bytes of `text`.
std::string Utf16LeBytes(const std::string& text) {
  std::u16string wide = platform::Utf8ToUtf16(text);
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t unit : wide) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace

void CEventLog::Add(int code, int level, const std::string& summary,
                    const std::string& description) {
  GetInstance()->AddEntry(code, level, summary, description);
}

void CEventLog::Add(int code, int level, const std::string& summary, const std::string& description,
                    const std::string& cause) {
  GetInstance()->AddEntry(code, level, summary, description, cause);
}

CEventLog* CEventLog::GetInstance() {
  if (CEventLog* log = g_instance.load())
    return log;
  std::lock_guard lock(g_instanceMutex);
  if (!g_instance.load())
    g_instance = new CEventLog();
  return g_instance.load();
}

void CEventLog::Shutdown() {
  CEventLog* log = g_instance.load();
  if (!log)
    return;
  log->Stop();
  log->Clear();
  std::lock_guard lock(log->mutex_);
  log->CloseFile();
}

void CEventLog::DestroyInstanceForTesting() {
  std::lock_guard lock(g_instanceMutex);
  delete g_instance.exchange(nullptr);
}

CEventLog::CEventLog() : WorkerThread(STOP_WHEN_DRAINED) {
  SetName("CEventLog");
  std::string path = Settings().GetString(kPathKey);
  if (path.empty()) {
    path = DefaultPath();
    Settings().SetString(kPathKey, path);
  }
  maxRecords_ = Settings().GetDWORD(kItemsScreenKey);
  {
    std::lock_guard lock(mutex_);
    OpenFile(path);
  }
  Start();
}

CEventLog::~CEventLog() {
  SetStop();
  std::lock_guard lock(mutex_);
  CloseFile();
  records_.clear();
}

void CEventLog::AddEntry(int code, int level, const std::string& summary,
                         const std::string& description, const std::string& cause) {
  auto record = std::make_unique<CEventLogRecord>();
  record->code = code;
  record->level = level;
  platform::Clock::GetLocalTime(&record->time);
  record->summary = summary;
  record->description = description;
  if (!cause.empty()) {
    record->cause = cause;
    record->description =
        platform::Utf8Truncate(description + " " + cause, kMaxDescriptionWithCauseChars);
  }
  record->threadId = static_cast<int>(gettid());
  Trace(TRACE_INFO, "%s-%s", summary.c_str(), description.c_str());
  AddRecord(std::move(record));
}

void CEventLog::AddRecord(std::unique_ptr<CEventLogRecord> record) {
  std::lock_guard lock(mutex_);
  WriteRecord(*record);
  records_.push_front(std::move(record));
  while (records_.size() > maxRecords_)
    records_.pop_back();
  NotifyListeners(static_cast<int>(records_.size()));
}

void CEventLog::Clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
  NotifyListeners(0);
}

void CEventLog::AddListener(IEventLogListener* listener) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(listener);
}

void CEventLog::RemoveListener(IEventLogListener* listener) {
  std::lock_guard lock(mutex_);
  auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it != listeners_.end())
    listeners_.erase(it);
}

int CEventLog::GetCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(records_.size());
}

std::vector<CEventLogRecord> CEventLog::GetRecords() {
  std::lock_guard lock(mutex_);
  std::vector<CEventLogRecord> copy;
  copy.reserve(records_.size());
  for (const auto& record : records_)
    copy.push_back(*record);
  return copy;
}

bool CEventLog::GetRecord(int index, CEventLogRecord* out) {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= records_.size() || !out)
    return false;
  *out = *records_[index];
  return true;
}

const char* CEventLog::LevelName(int level) {
  static constexpr const char* kNames[] = {"TRACE", "DEBUG", "INFO", "WARNING", "ERROR", "FATAL"};
  if (level < LEVEL_TRACE || level > LEVEL_FATAL)
    return "UNKNOWN";
  return kNames[level];
}

std::string CEventLog::FormatLine(const CEventLogRecord& record) {
  const platform::SYSTEMTIME& t = record.time;
  std::string text = platform::Format(
      "%04d-%02d-%02d %02d:%02d:%02d   %s. %s. %s.", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
      t.wSecond, LevelName(record.level), record.summary.c_str(), record.description.c_str());
  // A long entry is cut before its line end, never through it: every entry stays one line.
  return platform::Utf8Truncate(text, kMaxLineChars - 2) + "\r\n";
}

std::string CEventLog::BackupPath(const std::string& path) {
  std::size_t chars = platform::Utf8Length(path);
  std::string backup = platform::Utf8Truncate(path, chars >= 3 ? chars - 3 : 0) + "bak";
  // A log whose own name ends in "bak" must not be rotated onto itself.
  if (backup == path)
    backup += ".bak";
  return backup;
}

// ---- CSV export ----------------------------------------------------------------------------

namespace {

// A console's request for the CSV: where to write it, and the id to answer.
struct CsvRequest {
  std::uint64_t id = 0;
  std::string devicePath;
};

}  // namespace

std::string CEventLog::CsvField(const std::string& text) {
  // Place names, message texts and recipients are the user's own: a field that a spreadsheet
  // would take for a formula is opened as text by a leading apostrophe.
  std::string field = text;
  if (!field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos)
    field.insert(0, 1, '\'');
  if (field.find_first_of(",\"\r\n") == std::string::npos)
    return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"')
      quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::string CEventLog::CsvHeader() {
  return "time,level,code,summary,description,cause\r\n";
}

std::string CEventLog::CsvLine(const CEventLogRecord& record) {
  const platform::SYSTEMTIME& t = record.time;
  std::string time = platform::Format("%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                                      t.wHour, t.wMinute, t.wSecond);
  // The description column holds the entry's own text; its cause has a column of its own.
  std::string description = record.description;
  std::string suffix = " " + record.cause;
  if (!record.cause.empty() && description.size() >= suffix.size() &&
      description.compare(description.size() - suffix.size(), suffix.size(), suffix) == 0) {
    description.resize(description.size() - suffix.size());
  }
  return CsvField(time) + "," + CsvField(LevelName(record.level)) + "," +
         std::to_string(record.code) + "," + CsvField(record.summary) + "," +
         CsvField(description) + "," + CsvField(record.cause) + "\r\n";
}

std::string CEventLog::ExportCsv() {
  std::vector<CEventLogRecord> records = GetRecords();
  std::string csv = CsvHeader();
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    csv += CsvLine(*it);
  return csv;
}

bool CEventLog::ExportCsvToFile(const std::string& hostPath, std::string* error) {
  std::string csv = ExportCsv();
  int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + hostPath + ": " + std::strerror(errno);
    return false;
  }
  std::size_t written = 0;
  while (written < csv.size()) {
    ssize_t n = ::write(fd, csv.data() + written, csv.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      *error = "cannot write " + hostPath + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    *error = "cannot write " + hostPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int CEventLog::ServeCsvRequests() {
  return platform::ServeRequests(kCsvRequestEvent, [](std::uint64_t id,
                                                      const std::string& payload) {
    // The endpoint thread only hands the request on; the log's worker writes the file.
    auto* request = new CsvRequest{id, payload};
    GetInstance()->PostCommand(kCsvRequestCommand, 10000, reinterpret_cast<std::intptr_t>(request));
  });
}

void CEventLog::HandleCommandWorkerThread(int command, std::intptr_t param) {
  if (!param)
    return;
  if (command == kCsvRequestCommand) {
    std::unique_ptr<CsvRequest> request(reinterpret_cast<CsvRequest*>(param));
    std::string error;
    // The console names a file of the phone's file system; a path that leads out of it is
    // refused.
    platform::Device* dev = platform::Device::Current();
    std::optional<std::filesystem::path> host;
    if (dev)
      host = dev->ConfinedHostPath(request->devicePath);
    if (!host)
      error = "the file " + request->devicePath + " is not on the phone";
    else
      ExportCsvToFile(host->string(), &error);
    platform::AnswerRequest(kCsvRequestEvent, request->id, error);
    return;
  }
  if (command != kAddRecordCommand)
    return;
  AddRecord(std::unique_ptr<CEventLogRecord>(reinterpret_cast<CEventLogRecord*>(param)));
}

void CEventLog::DiscardCommand(int command, std::intptr_t param) {
  if (command == kAddRecordCommand)
    delete reinterpret_cast<CEventLogRecord*>(param);
  else if (command == kCsvRequestCommand)
    delete reinterpret_cast<CsvRequest*>(param);
}

void CEventLog::WriteRecord(const CEventLogRecord& record) {
  if (Settings().GetDWORD(kWriteToFileKey) == 0)
    return;
  std::string bytes = Utf16LeBytes(FormatLine(record));
  std::int64_t maxBytes = static_cast<std::int64_t>(Settings().GetDWORD(kMaxSizeKey)) * 1024;
  if (fd_ < 0) {
    std::string path = Settings().GetString(kPathKey);
    OpenFile(path.empty() ? devicePath_ : path);
  }
  // An empty file is never rotated: that would only replace the previous backup with nothing.
  if (fileSize_ > 0 && fileSize_ + static_cast<std::int64_t>(bytes.size()) > maxBytes)
    Rotate();
  if (fd_ < 0)
    return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  fileSize_ += static_cast<std::int64_t>(done);
}

void CEventLog::OpenFile(const std::string& devicePath) {
  CloseFile();
  devicePath_ = devicePath;
  platform::Device* dev = platform::Device::Current();
  if (!dev || devicePath.empty())
    return;
  std::filesystem::path host = dev->HostPath(devicePath);
  std::error_code ec;
  std::filesystem::create_directories(host.parent_path(), ec);
  fd_ = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    Trace(TRACE_WARNING, "CEventLog::OpenFile(%s) error %d", host.c_str(), errno);
    return;
  }
  struct stat st {};
  fileSize_ = ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
  ::lseek(fd_, 0, SEEK_END);
}

void CEventLog::CloseFile() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  fileSize_ = 0;
}

void CEventLog::Rotate() {
  CloseFile();
  std::string path = Settings().GetString(kPathKey);
  if (path.empty())
    path = devicePath_;
  if (platform::Device* dev = platform::Device::Current()) {
    std::filesystem::path current = dev->HostPath(path);
    std::filesystem::path backup = dev->HostPath(BackupPath(path));
    std::error_code ec;
    std::filesystem::remove(backup, ec);
    std::filesystem::rename(current, backup, ec);
  }
  OpenFile(path);
}

void CEventLog::NotifyListeners(int count) {
  // A copy: a listener may remove itself while it is told.
  std::vector<IEventLogListener*> listeners = listeners_;
  for (IEventLogListener* listener : listeners)
    listener->OnEventLogChanged(count);
}
