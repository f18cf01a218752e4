#include "replay/Replay.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>

#include "app/BaseException.h"
#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "data/DB.h"
#include "data/StrCell.h"
#include "data/StrLAC.h"
#include "data/StrLocation.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "data/XmlData.h"
#include "location/CellHistory.h"
#include "location/LocationLookup.h"
#include "location/RilMgr.h"
#include "location/ScheduleDecision.h"
#include "location/ScheduleEngine.h"
#include "managers/BTMgr.h"
#include "managers/BacklightMgr.h"
#include "managers/BandMgr.h"
#include "managers/BeamMgr.h"
#include "managers/CallForwardMgr.h"
#include "managers/ConnectionsMgr.h"
#include "managers/CpuMgr.h"
#include "managers/MessageMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/SpeakerMgr.h"
#include "managers/WifiMgr.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/NotificationRunner.h"
#include "platform/Notify.h"
#include "platform/Registry.h"
#include "platform/Ril.h"
#include "platform/Text.h"

namespace fs = std::filesystem;
using platform::DWORD;

namespace replay {

namespace {

constexpr const char* kSettingsKey = "\\SOFTWARE\\Orvella\\Telvane";
constexpr const char* kPhoneStateKey = "System\\State\\Phone";
constexpr DWORD kRadioOffBit = 0x10;
constexpr const char* kMarkerEvent = "replay_marker";
// Limits that only a fault reaches: a step that never settles, a boundary that fires for ever.
constexpr int kSettleLimitMs = 30000;
constexpr int kSettleRounds = 1000;
constexpr int kFiringsPerStep = 100000;
constexpr std::int64_t kDayMs = 24LL * 60 * 60 * 1000;
// How soon after a start the answer to the program's first request for the cell is noted.
constexpr std::int64_t kStartAnswerMs = 2000;
// A speaker stand-in's namer never polls.
constexpr int kNeverPollMs = 24 * 60 * 60 * 1000;

// Settings of the private device before the traces' own: the installed defaults that the
// tracker and the engine read, and an event log kept neither on screen nor in a file.
struct DefaultSetting {
  const char* name;
  DWORD number;
  const char* text;
};
const DefaultSetting kDefaults[] = {
    {"language", 0, "en"},
    {"location_mode", 0, nullptr},
    {"refresh_location", 0, nullptr},
    {"awake_to_refresh_location", 0, nullptr},
    {"cell_history_list_number", 20, nullptr},
    {"intelligent_lac_mode", 1, nullptr},
    {"profile_change_mode", 0, nullptr},
    {"awake_to_execute_actions", 0, nullptr},
    {"events_log_write_to_file", 0, nullptr},
    {"events_log_items_screen", 0, nullptr},
    {"mail_provider", 0, nullptr},
};
// Traced settings kept as texts; the others are numbers.
const std::set<std::string> kTextSettings = {"language", "mgr_config"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool ParseUnsigned(const std::string& text, std::uint32_t* out) {
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return false;
  }
  unsigned long long v = std::stoull(text);
  if (v > 0xFFFFFFFFULL)
    return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseInt(const std::string& text, int* out) {
  std::string digits = !text.empty() && text[0] == '-' ? text.substr(1) : text;
  std::uint32_t v;
  if (!ParseUnsigned(digits, &v) || v > 1000000)
    return false;
  *out = text[0] == '-' ? -static_cast<int>(v) : static_cast<int>(v);
  return true;
}

// Copies a database volume file, with its write-ahead log when there is one, and checks that the
// copy is a database. Only the copy is ever opened: reading the phone's own volume this way
// leaves its folder as it was, which opening it in place (even read-only) would not.
void CopyVolume(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::is_regular_file(from, ec))
    throw ReplayError("cannot read the profile database " + from.string() + ": no such file");
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  fs::path wal = from.string() + "-wal";
  if (!ec && fs::is_regular_file(wal))
    fs::copy_file(wal, to.string() + "-wal", fs::copy_options::overwrite_existing, ec);
  if (ec)
    throw ReplayError("cannot read the profile database " + from.string() + ": " + ec.message());
  sqlite3* db = nullptr;
  std::string error;
  if (sqlite3_open(to.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
          SQLITE_OK) {
    error = sqlite3_errmsg(db);
  }
  sqlite3_close(db);
  if (!error.empty())
    throw ReplayError("cannot read the profile database " + from.string() + ": " + error);
}

// Where the private device lives: $TMPDIR when set, else memory (/dev/shm) when the system has
// it, since the device is scratch and its store is written at every step, else /tmp.
fs::path ScratchFolder() {
  std::error_code ec;
  if (!std::getenv("TMPDIR") && fs::is_directory("/dev/shm", ec) &&
      access("/dev/shm", W_OK | X_OK) == 0) {
    return "/dev/shm";
  }
  return fs::temp_directory_path();
}

}  // namespace

// ---- Trace files -------------------------------------------------------------------------

std::vector<DayTraceRow> ReadTrace(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw ReplayError("cannot read the trace " + file.string());
  std::vector<DayTraceRow> rows;
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& what) {
    throw ReplayError(file.string() + ":" + std::to_string(number) + ": " + what);
  };
  std::vector<std::string> f;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (number == 1) {
      if (line != CDayTrace::kHeader)
        fail("not a day trace (the first line must be \"" + std::string(CDayTrace::kHeader) +
             "\")");
      continue;
    }
    if (line.empty())
      continue;
    if (!CDayTrace::SplitLine(line, &f))
      fail("a quoted text is not closed");
    if (f.size() != 9)
      fail("9 fields expected, " + std::to_string(f.size()) + " found");
    DayTraceRow row;
    if (!platform::ParseSystemTime(f[0], &row.time))
      fail("bad time \"" + f[0] + "\"");
    if (!CDayTrace::ParseEvent(f[1], &row.event))
      fail("unknown event \"" + f[1] + "\"");
    std::uint32_t cell, lac;
    if (!ParseUnsigned(f[2], &cell))
      fail("bad cell \"" + f[2] + "\"");
    if (!ParseUnsigned(f[3], &lac))
      fail("bad area \"" + f[3] + "\"");
    row.cellId = static_cast<std::int32_t>(cell);
    row.lac = static_cast<std::int32_t>(lac);
    if (!ParseInt(f[4], &row.signal))
      fail("bad signal \"" + f[4] + "\"");
    if (f[5] != "on" && f[5] != "off")
      fail("radio must be on or off, not \"" + f[5] + "\"");
    row.radioOn = f[5] == "on";
    row.place = f[6];
    row.frame = f[7];
    row.detail = f[8];
    rows.push_back(std::move(row));
  }
  if (number == 0)
    fail("empty file");
  return rows;
}

// ---- The session -------------------------------------------------------------------------

namespace {

// A manager that only records what it is asked to set. Its name and the names of its states
// come from the program's own manager of that id (`namer`, built but never started, and taken
// out of the manager list so that only the stand-in is found).
class CRecordingMgr : public CMgr {
 public:
  using Recorder = std::function<void(CRecordingMgr*, int status, int delayMs)>;
  CRecordingMgr(int id, std::unique_ptr<CMgr> namer, Recorder recorder)
      : CMgr(id), namer_(std::move(namer)), recorder_(std::move(recorder)) {}
  ~CRecordingMgr() override { Stop(); }

  void Initialize() override {}
  void RefreshStatusChild(int) override {}
  void ForceStatus(int status, int minutes, int param, int delayMs) override {
    recorder_(this, status, delayMs);
  }
  void ForceStatusChild(int, int) override {}
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int, int) override {}
  void ProcessTimerNotification(int) override {}
  std::string GetName() override {
    return namer_ ? namer_->GetName() : "manager " + std::to_string(GetId());
  }
  std::string GetStatusName(int status) override {
    std::string name = namer_ ? namer_->GetStatusName(status) : "";
    return name.empty() || name == "unknown" ? std::to_string(status) : name;
  }

 private:
  std::unique_ptr<CMgr> namer_;
  Recorder recorder_;
};

template <class M, class... Args>
std::unique_ptr<CMgr> Namer(Args... args) {
  std::unique_ptr<CMgr> mgr = std::make_unique<M>(args...);
  CMgr::RemoveMgr(mgr.get());
  return mgr;
}

}  // namespace

struct CReplaySession::Impl : public IDayTraceSink {
  Options options;
  std::vector<DayTraceRow> rows;
  fs::path folder;
  std::unique_ptr<CDB> db;
  std::vector<std::unique_ptr<CRecordingMgr>> standIns;
  CRecordingMgr* phone = nullptr;
  std::unique_ptr<CRilMgr> ril;
  CScheduleEngine* engine = nullptr;
  bool started = false;
  // A stop row ended the program; only a start brings it back.
  bool stopped = false;
  // The virtual time of the step under way; read by the radio's and the engine's threads.
  std::atomic<std::int64_t> nowMs{0};
  platform::NotificationRunner runner{[this](const std::string&, const std::string& args) {
    Dispatch(args);
    return true;
  }};

  // The radio barrier: a marker sent to this process's endpoint, answered by a request of the
  // replay's own radio handle, whose answer comes after everything the radio had to do before.
  platform::HRIL barrierRil = 0;
  int markerSubscription = 0;
  std::mutex barrierMutex;
  std::condition_variable barrierCv;
  std::int64_t markersSent = 0;
  std::int64_t markersAnswered = 0;
  std::map<platform::HRESULT, std::int64_t> markerRequests;
  // The request of the last barrier; the radio numbers every request of the process in order.
  platform::HRESULT lastBarrierRequest = 0;

  // The timeline, and the run whose actions are being recorded.
  std::mutex eventsMutex;
  ReplayResult result;
  std::atomic<bool> carrying{false};
  TimelineEvent run;

  ~Impl() override { Teardown(); }

  // ---- Set-up ----------------------------------------------------------------------------

  void Setup() {
    fs::path base = ScratchFolder() / "telvane-replay-XXXXXX";
    std::string pattern = base.string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
      throw ReplayError("cannot create a private device in " + ScratchFolder().string());
    folder = buffer.data();
    platform::Device& dev = platform::Device::Open(folder);
    fs::path program = dev.ProgramFolder();
    fs::create_directories(program);
    CopyTranslations(program / "traductions");

    platform::HKEY key;
    if (platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, kSettingsKey, &key) !=
        platform::ERROR_SUCCESS) {
      throw ReplayError("cannot create the settings of the private device");
    }
    for (const auto& s : kDefaults) {
      if (s.text)
        platform::RegSetString(key, s.name, s.text);
      else
        platform::RegSetDWORD(key, s.name, s.number);
    }
    platform::RegSetString(key, "mgr_config", std::string(CMgr::kMgrConfigChars, '2'));
    platform::RegCloseKey(key);
    for (const DayTraceRow& row : rows) {
      if (row.event == DayTraceRow::kStart || row.event == DayTraceRow::kDay) {
        ApplySettings(row.detail);
        break;
      }
    }
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
    CCellHistory::Release();
    LoadProfiles(program);
    BuildManagers();
    OpenBarrier();
    CDayTrace::SetSink(this);
  }

  void CopyTranslations(const fs::path& to) {
    std::error_code ec;
    fs::path phone =
        platform::Device::DefaultFolder() / "fs" / "Program Files" / "Telvane" / "traductions";
    fs::path from = fs::is_directory(phone, ec) ? phone : options.assetDir / "traductions";
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec)
      throw ReplayError("cannot read the translations in " + from.string() + ": " + ec.message());
  }

  void ApplySettings(const std::string& detail) {
    CRegistrySettings* settings = CRegistrySettings::Instance();
    std::size_t at = 0;
    while (at <= detail.size() && !detail.empty()) {
      std::size_t end = detail.find(';', at);
      std::string pair = detail.substr(at, end == std::string::npos ? end : end - at);
      std::size_t eq = pair.find('=');
      if (eq != std::string::npos) {
        std::string name = Lower(pair.substr(0, eq));
        std::string value = pair.substr(eq + 1);
        std::uint32_t number;
        if (kTextSettings.count(name))
          settings->SetString(name, value);
        else if (ParseUnsigned(value, &number))
          settings->SetDWORD(name, number);
      }
      if (end == std::string::npos)
        break;
      at = end + 1;
    }
    CMgr::LoadConfig();
  }

  void LoadProfiles(const fs::path& program) {
    fs::path volume = program / CDB::kVolumeFileName;
    if (!options.profilesXml.empty()) {
      std::error_code ec;
      if (!fs::is_regular_file(options.profilesXml, ec))
        throw ReplayError("cannot read the profile set " + options.profilesXml.string());
    } else {
      fs::path source = options.database;
      if (source.empty()) {
        source = platform::Device::DefaultFolder() / "fs" / "Program Files" / "Telvane" /
                 CDB::kVolumeFileName;
        std::error_code ec;
        if (!fs::exists(source, ec)) {
          throw ReplayError(
              "no profile set: give --profiles FILE.xml or --db FILE (the phone has "
              "no database at " +
              source.string() + ")");
        }
      }
      CopyVolume(source, volume);
    }
    db = std::make_unique<CDB>();
    try {
      db->OpenDB();
      if (!options.profilesXml.empty()) {
        std::string error;
        if (!CXmlData::Import(*db, options.profilesXml, true, &error))
          throw ReplayError(options.profilesXml.string() + ": " + error);
      }
    } catch (const CBaseException& e) {
      throw ReplayError("cannot open the profile set: " + std::string(e.what()));
    }
  }

  void BuildManagers() {
    auto recorder = [this](CRecordingMgr* mgr, int status, int delayMs) {
      std::string text = mgr->GetName() + ": " + mgr->GetStatusName(status);
      if (delayMs > 0)
        text += " (after " + std::to_string(delayMs / 1000) + " s)";
      RecordAction(text, CMgr::ConfigChar(mgr->GetId()) != '2');
    };
    auto add = [&](int id, std::unique_ptr<CMgr> namer) {
      standIns.push_back(std::make_unique<CRecordingMgr>(id, std::move(namer), recorder));
      return standIns.back().get();
    };
    add(MGR_ID_WIFI, Namer<CWifiMgr>());
    add(MGR_ID_BT, Namer<CBTMgr>());
    add(MGR_ID_SPEAKER, Namer<CSpeakerMgr>(kNeverPollMs));
    phone = add(MGR_ID_PHONE, Namer<CMobilePhoneMgr>());
    add(MGR_ID_CONNECTIONS, Namer<CConnectionsMgr>());
    add(MGR_ID_BAND, Namer<CBandMgr>());
    add(MGR_ID_CPU, Namer<CCpuMgr>());
    add(MGR_ID_MESSAGE, Namer<CMessageMgr>());
    add(MGR_ID_BEAM, Namer<CBeamMgr>());
    add(MGR_ID_CALL_FORWARD, Namer<CCallForwardMgr>());
    add(MGR_ID_BACKLIGHT, Namer<CBacklightMgr>());
    phone->SetStatusValue(platform::ril::RadioIsOn() ? 0 : 1);
  }

  void OpenBarrier() {
    platform::HRESULT hr = platform::RIL_Initialize(
        1,
        [this](DWORD, platform::HRESULT id, const void*, std::size_t, DWORD) {
          std::lock_guard lock(barrierMutex);
          auto it = markerRequests.find(id);
          if (it == markerRequests.end())
            return;
          markersAnswered = std::max(markersAnswered, it->second);
          markerRequests.erase(it);
          barrierCv.notify_all();
        },
        [](DWORD, const void*, std::size_t, DWORD) {}, 0, 0, &barrierRil);
    if (hr != platform::S_OK)
      throw ReplayError("cannot open the private device's radio");
    markerSubscription =
        platform::SubscribeHardwareEvent(kMarkerEvent, [this](const auto&, const auto& payload) {
          std::lock_guard lock(barrierMutex);
          platform::HRESULT id = platform::RIL_GetSignalQuality(barrierRil);
          markerRequests[id] = std::stoll(payload);
          lastBarrierRequest = id;
        });
  }

  void Teardown() {
    CDayTrace::SetSink(nullptr);
    if (started)
      StopProgram();
    for (auto& m : standIns)
      m->Stop();
    standIns.clear();
    if (markerSubscription)
      platform::UnsubscribeHardwareEvent(markerSubscription);
    markerSubscription = 0;
    if (barrierRil)
      platform::RIL_Deinitialize(barrierRil);
    barrierRil = 0;
    db.reset();
    CEventLog::DestroyInstanceForTesting();
    CCellHistory::Release();
    if (platform::Device::Current())
      platform::Device::Close();
    platform::Clock::UseReal();
    std::error_code ec;
    if (!folder.empty())
      fs::remove_all(folder, ec);
    folder.clear();
  }

  // ---- The program: the cell tracker and the schedule engine -----------------------------

  void StartProgram() {
    ril = std::make_unique<CRilMgr>();
    engine = CScheduleEngine::Instance();
    engine->SetPauseAfterCommand(0);
    engine->SetRecheckWaits(0, 0);
    ScheduleEngineHooks hooks;
    hooks.setVolumeLevel = [this](CMgr* mgr, int level) {
      // A negative step leaves the volume as it is.
      if (level < 0)
        return;
      RecordAction(mgr->GetName() + ": volume " + std::to_string(level),
                   CMgr::ConfigChar(mgr->GetId()) != '2');
    };
    hooks.setForwardNumber = [this](CMgr* mgr, const std::string& number) {
      RecordAction((mgr ? mgr->GetName() : std::string("call forwarding")) + ": number " + number,
                   false);
    };
    hooks.bandForceSwitch = [] { return false; };
    hooks.phoneManualOff = [] { return false; };
    hooks.sendSms = [this](const std::string& number, const std::string& text) {
      RecordAction("SMS to " + number + ": " + text, false);
    };
    hooks.sendMail = [this](const std::string& to, const std::string& subject, const std::string&,
                            int account) {
      RecordAction("e-mail to " + to + " (account " + std::to_string(account) + "): " + subject,
                   false);
    };
    hooks.builtInAction = [this](const schedule::RunStep& step) {
      switch (step.kind) {
        case schedule::RunStep::kOpenFile:
          RecordAction("open file " + step.text, false);
          break;
        case schedule::RunStep::kTheme:
          RecordAction("home-screen theme " + step.text, false);
          break;
        default:
          RecordAction(
              "ring tone " + step.text +
                  (step.status >= 1 && step.status <= 5 ? ", volume " + std::to_string(step.status)
                                                        : ""),
              false);
          break;
      }
    };
    engine->SetHooks(hooks);
    started = true;
    ril->Initialize();
    Settle();
  }

  // As the program's exit: the engine first, then the tracker; the program's notifications go.
  void StopProgram() {
    CScheduleEngine::DestroyInstance();
    engine = nullptr;
    if (ril)
      ril->Stop();
    ril.reset();
    timernotification::ClearAllOfThisProgram(100000);
    for (int id : {MGR_ID_RIL, MGR_ID_SCHEDULE_PERIOD, MGR_ID_SCHEDULE_LOCK})
      CLimitNotifications::Take(id);
    started = false;
  }

  // ---- Driving -----------------------------------------------------------------------------

  void SetClock(std::int64_t ms) {
    nowMs = ms;
    platform::Clock::UseVirtual(ms);
  }

  void SetRadio(bool on) {
    if (platform::ril::RadioIsOn() == on && phone->GetStatus() == (on ? 0 : 1))
      return;
    platform::RegistrySetDWORD(platform::HKEY_LOCAL_MACHINE, kPhoneStateKey, "Status",
                               on ? 0 : kRadioOffBit);
    phone->SetStatusValue(on ? 0 : 1);
    phone->FireStatusChanged(0);
  }

  // Waits until the radio has delivered everything it was given and the engine has run
  // everything that caused. A marker through this process's endpoint comes after every event the
  // step sent there; the request it makes comes after every task those events gave the radio.
  // Then, as long as someone (the engine's second look at a lost location) asked the radio for
  // more since the last barrier, which the radio's request numbers tell, the next barrier waits
  // for those answers and the work they cause.
  void Settle() {
    std::int64_t marker;
    {
      std::lock_guard lock(barrierMutex);
      marker = ++markersSent;
    }
    platform::SendHardwareEvent(static_cast<int>(getpid()), kMarkerEvent, std::to_string(marker));
    WaitForBarrier(marker);
    for (int round = 0; round < kSettleRounds; ++round) {
      if (engine && !engine->WaitUntilDrained(kSettleLimitMs))
        throw ReplayError("the schedule engine did not finish a step");
      bool quiet;
      {
        std::lock_guard lock(barrierMutex);
        platform::HRESULT id = platform::RIL_GetSignalQuality(barrierRil);
        marker = ++markersSent;
        markerRequests[id] = marker;
        quiet = id == lastBarrierRequest + 1;
        lastBarrierRequest = id;
      }
      if (quiet)
        return;
      WaitForBarrier(marker);
    }
    throw ReplayError("the replay does not settle");
  }

  void WaitForBarrier(std::int64_t marker) {
    std::unique_lock lock(barrierMutex);
    if (!barrierCv.wait_for(lock, std::chrono::milliseconds(kSettleLimitMs),
                            [&] { return markersAnswered >= marker; })) {
      throw ReplayError("the private device's radio did not answer");
    }
  }

  void Dispatch(const std::string& args) {
    if (args.rfind(timernotification::kTimerMarker, 0) != 0)
      return;
    int id = 0, param = 0;
    timernotification::ParseTimerArgument(args, &id, &param);
    if (engine)
      engine->DispatchTimerNotification(id, param);
    for (CMgr* mgr : CMgr::GetAll())
      mgr->DispatchTimerNotification(id, param);
  }

  std::optional<std::int64_t> NextDue() {
    std::vector<platform::HNOTIFY> handles;
    platform::CeGetUserNotificationHandles(&handles, 100000);
    std::optional<std::int64_t> next;
    for (platform::HNOTIFY h : handles) {
      platform::CE_NOTIFICATION_TRIGGER t;
      if (!platform::CeGetUserNotification(h, &t))
        continue;
      std::int64_t due = platform::SystemTimeToMs(t.stStartTime);
      if (!next || due < *next)
        next = due;
    }
    return next;
  }

  // Fires, in time order, every notification due up to `limitMs`.
  void FireDue(std::int64_t limitMs) {
    for (int n = 0; n < kFiringsPerStep; ++n) {
      std::optional<std::int64_t> due = NextDue();
      if (!due || *due > limitMs)
        return;
      if (*due > nowMs)
        SetClock(*due);
      runner.RunDue(nowMs.load());
      Settle();
    }
    throw ReplayError("timed notifications keep firing at " + DateTimeText(nowMs.load()));
  }

  void Replay() {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const DayTraceRow& row = rows[i];
      std::int64_t t = platform::SystemTimeToMs(row.time);
      if (started && (row.event == DayTraceRow::kClock || t < nowMs)) {
        // The clock was set (a row earlier than the one before is taken the same way).
        SetClock(t);
        Push(TimelineEvent::kClock, {});
        engine->TimeChanged();
        Settle();
        FireDue(t);
        continue;
      }
      if (started)
        FireDue(t);
      SetClock(t);
      if (!started && row.event != DayTraceRow::kStart && row.event != DayTraceRow::kDay &&
          row.event != DayTraceRow::kStop && !stopped) {
        // A trace without its beginning: the program starts with the first row.
        StartProgram();
      }
      const DayTraceRow* next = i + 1 < rows.size() ? &rows[i + 1] : nullptr;
      switch (row.event) {
        case DayTraceRow::kStart:
          stopped = false;
          if (started)
            StopProgram();
          ApplySettings(row.detail);
          SetRadio(row.radioOn);
          // The program asks for the cell at start: a location noted at once is its answer.
          if (next && next->event == DayTraceRow::kLocation &&
              platform::SystemTimeToMs(next->time) - t <= kStartAnswerMs)
            platform::ril::SetServingCell(static_cast<DWORD>(next->cellId),
                                          static_cast<DWORD>(next->lac), false);
          Push(TimelineEvent::kStart, {});
          StartProgram();
          break;
        case DayTraceRow::kStop:
          // Until the next start nothing runs: no boundary fires, no location counts.
          if (started) {
            StopProgram();
            Push(TimelineEvent::kStop, {});
          }
          stopped = true;
          break;
        case DayTraceRow::kDay:
          if (started)
            break;
          ApplySettings(row.detail);
          SetRadio(row.radioOn);
          platform::ril::SetServingCell(static_cast<DWORD>(row.cellId), static_cast<DWORD>(row.lac),
                                        false);
          carrying = true;
          StartProgram();
          carrying = false;
          break;
        case DayTraceRow::kLocation:
          platform::ril::SetServingCell(static_cast<DWORD>(row.cellId), static_cast<DWORD>(row.lac),
                                        true);
          Settle();
          break;
        case DayTraceRow::kRadio:
          SetRadio(row.radioOn);
          Settle();
          break;
        case DayTraceRow::kLock: {
          // Between a stop and the next start nothing runs (a hand-made trace may say otherwise).
          if (!engine)
            break;
          std::optional<CStrPlace> place = PlaceNamed(row.place);
          if (!place) {
            TimelineEvent e;
            e.place = row.place;
            e.text = "not in this profile set, left out";
            Push(TimelineEvent::kLock, e);
            break;
          }
          // The next day's file of a replay that goes on over midnight tells of the lock again.
          if (engine->IsLocked() && engine->GetLockedPlace().GetId() == place->GetId())
            break;
          // The lock a day's file begins in was there before the trace: what it changes at
          // once was in force already.
          const DayTraceRow* before = i > 0 ? &rows[i - 1] : nullptr;
          carrying = before && before->event == DayTraceRow::kDay &&
                     platform::SystemTimeToMs(before->time) == t;
          engine->LockToPlace(*place);
          Settle();
          carrying = false;
          break;
        }
        case DayTraceRow::kUnlock:
          if (engine) {
            engine->EndLock();
            Settle();
          }
          break;
        case DayTraceRow::kData:
          if (engine) {
            engine->ChangeInDB();
            Settle();
          }
          break;
        case DayTraceRow::kEnter:
        case DayTraceRow::kLeave: {
          std::lock_guard lock(eventsMutex);
          result.recorded.push_back(row);
          break;
        }
        default:
          break;
      }
    }
    if (!rows.empty()) {
      // The rest of the last day: its frame boundaries still come.
      platform::SYSTEMTIME last = rows.back().time;
      last.wHour = last.wMinute = last.wSecond = last.wMilliseconds = 0;
      std::int64_t end = platform::SystemTimeToMs(last) + kDayMs - 1;
      if (started && end > nowMs) {
        FireDue(end);
        SetClock(end);
      }
    }
  }

  // ---- The timeline ------------------------------------------------------------------------

  void Push(TimelineEvent::Kind kind, TimelineEvent e) {
    e.kind = kind;
    e.timeMs = nowMs.load();
    std::lock_guard lock(eventsMutex);
    result.events.push_back(std::move(e));
  }

  void RecordAction(const std::string& text, bool refused) {
    TimelineEvent e;
    {
      std::lock_guard lock(eventsMutex);
      e = run;
    }
    e.text = text;
    e.refused = refused;
    e.carried = false;
    Push(TimelineEvent::kAction, e);
  }

  std::optional<CStrPlace> PlaceNamed(const std::string& name) {
    std::vector<CStrPlace> places;
    db->GetTablePlaces()->GetAllRecords(&places);
    for (const CStrPlace& p : places) {
      if (p.GetName() == name)
        return p;
    }
    return std::nullopt;
  }

  static std::string PlaceName(std::int32_t placeId) {
    std::optional<CStrPlace> place = locationlookup::FindPlace(placeId);
    return place ? place->GetName() : CTexts::GetInstance()->GetText("UNKNOWN");
  }

  void OnDayTraceRow(const DayTraceRow& row) override {
    TimelineEvent e;
    e.cellId = row.cellId;
    e.lac = row.lac;
    switch (row.event) {
      case DayTraceRow::kLocation: {
        std::int32_t code = CStrLocation::IsCellMode() ? row.cellId : row.lac;
        e.placeId = locationlookup::PlaceIdOfCode(code).value_or(schedule::kUnknownPlaceId);
        e.place = PlaceName(e.placeId);
        Push(TimelineEvent::kLocation, e);
        break;
      }
      case DayTraceRow::kRadio:
        e.text = row.radioOn ? "on" : "off";
        Push(TimelineEvent::kRadio, e);
        break;
      case DayTraceRow::kEnter:
      case DayTraceRow::kLeave: {
        CStrPeriod frame;
        frame.SetId(row.frameId);
        if (db && db->GetTablePeriods()->FindAndFill(frame))
          e.placeId = frame.GetIdPlace();
        e.place = row.place;
        e.frameId = row.frameId;
        e.frame = row.frame;
        e.carried = carrying;
        {
          std::lock_guard lock(eventsMutex);
          run = e;
        }
        Push(row.event == DayTraceRow::kEnter ? TimelineEvent::kEnter : TimelineEvent::kLeave, e);
        break;
      }
      case DayTraceRow::kFlap: {
        e.place = row.place;
        e.text = row.detail;
        Push(TimelineEvent::kFlap, e);
        break;
      }
      case DayTraceRow::kLock:
        e.place = row.place;
        Push(TimelineEvent::kLock, e);
        break;
      case DayTraceRow::kUnlock:
        Push(TimelineEvent::kUnlock, e);
        break;
      case DayTraceRow::kData:
        Push(TimelineEvent::kData, e);
        break;
      default:
        break;
    }
  }
};

CReplaySession::CReplaySession(const Options& options, const std::vector<DayTraceRow>& rows)
    : impl_(std::make_unique<Impl>()) {
  if (platform::Device::Current())
    throw ReplayError("a replay needs a process of its own (a device is open)");
  impl_->options = options;
  impl_->rows = rows;
  try {
    impl_->Setup();
  } catch (...) {
    impl_->Teardown();
    throw;
  }
}

CReplaySession::~CReplaySession() = default;

ReplayResult CReplaySession::Run() {
  Impl& s = *impl_;
  std::set<std::string> days;
  for (const DayTraceRow& row : s.rows)
    days.insert(platform::FormatSystemTime(row.time).substr(0, 10));
  s.Replay();
  std::lock_guard lock(s.eventsMutex);
  ReplayResult out = s.result;
  out.days.assign(days.begin(), days.end());
  if (!s.rows.empty())
    out.recordedUntilMs = platform::SystemTimeToMs(s.rows.back().time);
  return out;
}

std::vector<std::string> CReplaySession::Check(const ReplayResult& result) {
  CDB& db = *impl_->db;
  std::vector<std::string> out;
  std::vector<CStrPlace> places;
  db.GetTablePlaces()->GetAllRecords(&places);
  std::vector<CStrPeriod> frames;
  db.GetTablePeriods()->GetAllRecords(&frames);
  std::map<std::int32_t, std::vector<CStrPeriod>> framesOf;
  for (const CStrPeriod& f : frames)
    framesOf[f.GetIdPlace()].push_back(f);
  std::map<std::int32_t, std::string> placeNames;
  for (const CStrPlace& p : places)
    placeNames[p.GetId()] = p.GetName();
  auto label = [&](const CStrPeriod& f) {
    return placeNames[f.GetIdPlace()] + " " + schedule::FrameLabel(f);
  };

  for (auto& [placeId, list] : framesOf) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      for (std::size_t j = i + 1; j < list.size(); ++j) {
        if (schedule::Intersects(list[i], list[j]))
          out.push_back("overlapping frames: " + label(list[i]) + " and " + label(list[j]));
      }
    }
  }

  std::set<std::int32_t> located;
  std::vector<CStrLAC> lacs;
  db.GetTableLAC()->GetAllRecords(&lacs);
  for (const CStrLAC& l : lacs)
    located.insert(l.GetPlaceId());
  std::vector<CStrCell> cells;
  db.GetTableCell()->GetAllRecords(&cells);
  for (const CStrCell& c : cells)
    located.insert(c.GetPlaceId());
  for (const CStrPlace& p : places) {
    if (p.GetId() != schedule::kUnknownPlaceId && !located.count(p.GetId()))
      out.push_back("place without locations: " + p.GetName());
  }

  std::set<std::int32_t> entered;
  for (const TimelineEvent& e : result.events) {
    if (e.kind == TimelineEvent::kEnter)
      entered.insert(e.frameId);
  }
  for (const CStrPeriod& f : frames) {
    if (!entered.count(f.GetId()))
      out.push_back("frame never reached in the traces: " + label(f));
  }

  std::map<std::int32_t, CMgr*> managers;
  for (CMgr* m : CMgr::GetAll())
    managers[m->GetId()] = m;
  std::map<std::int32_t, CStrPeriod> frameById;
  for (const CStrPeriod& f : frames)
    frameById[f.GetId()] = f;
  std::vector<CStrAction> actions;
  db.GetTableActions()->GetAllRecords(&actions);
  for (const CStrAction& a : actions) {
    auto m = managers.find(a.GetMgrId());
    if (m == managers.end() || a.GetMgrId() == MGR_ID_RIL)
      continue;
    char c = CMgr::ConfigChar(a.GetMgrId());
    if (c == '2')
      continue;
    auto f = frameById.find(a.GetIdPeriod());
    std::string where =
        f == frameById.end() ? "frame " + std::to_string(a.GetIdPeriod()) : label(f->second);
    out.push_back("action for a manager switched off in mgr_config: " + where + ", " +
                  m->second->GetName() + " (" +
                  (c == '0' ? std::string("off") : "'" + std::string(1, c) + "'") + ")");
  }
  return out;
}

}  // namespace replay
