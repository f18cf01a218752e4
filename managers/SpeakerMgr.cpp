#include "managers/SpeakerMgr.h"

#include <algorithm>
#include <chrono>

#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"
#include "platform/Sound.h"

namespace {

std::atomic<CSpeakerMgr*> g_instance{nullptr};

constexpr int kLogSeverity = 1;

}  // namespace

CSpeakerMgr::CSpeakerMgr(int pollIntervalMs)
    : CMgr(MGR_ID_SPEAKER), pollIntervalMs_(pollIntervalMs) {
  g_instance.store(this);
  SetStatusValue(STATUS_ON);
  pollThread_ = std::thread([this] { Poll(); });
}

CSpeakerMgr::~CSpeakerMgr() {
  Trace(TRACE_TRACE, "CSpeakerMgr::~CSpeakerMgr");
  {
    std::lock_guard lock(pollMutex_);
    stopPolling_ = true;
  }
  pollWake_.notify_all();
  if (pollThread_.joinable())
    pollThread_.join();
  // The worker's handler calls this class's overrides: it must end while they still exist.
  Stop();
  CSpeakerMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

CSpeakerMgr* CSpeakerMgr::GetInstance() {
  return g_instance.load();
}

platform::DWORD CSpeakerMgr::VolumeForLevel(int level) {
  // Each step is a fifth of the full byte; past the last step the product would wrap round to
  // a quiet volume, so those steps play at full volume.
  int step = std::clamp(level, 0, kMaxVolumeLevel);
  platform::DWORD x = static_cast<platform::DWORD>(step * 51) % 256;
  return x + 256 * x;
}

void CSpeakerMgr::Initialize() {
  if (ConfigChar(GetId()) == '0')
    SetStatusValue(STATUS_DISABLED);
}

void CSpeakerMgr::Poll() {
  std::unique_lock lock(pollMutex_);
  for (;;) {
    if (pollWake_.wait_for(lock, std::chrono::milliseconds(pollIntervalMs_),
                           [this] { return stopPolling_; })) {
      return;
    }
    lock.unlock();
    RefreshStatus(0);
    lock.lock();
  }
}

void CSpeakerMgr::RefreshStatusChild(int force) {
  platform::SNDFILEINFO info;
  if (platform::SndGetSound(platform::SND_EVENT_ALL, &info) != platform::S_OK) {
    platform::LogFormateado(kLogSeverity, "Fracaso");
    return;
  }
  switch (info.sstType) {
    case platform::SND_SOUNDTYPE_ON:
      SetStatusValue(STATUS_ON);
      break;
    case platform::SND_SOUNDTYPE_NONE:
      SetStatusValue(STATUS_SILENT);
      break;
    case platform::SND_SOUNDTYPE_VIBRATE:
      SetStatusValue(STATUS_VIBRATE);
      break;
    default:
      SetStatusValue(STATUS_DISABLED);
      break;
  }
}

void CSpeakerMgr::ForceStatusChild(int status, int minutes) {
  Trace(TRACE_TRACE, "CSpeakerMgr::ForceStatusChild(%d)", status);
  platform::SNDFILEINFO info;
  switch (status) {
    case STATUS_ON:
      ClearTimeLimitNotification(-1);
      info.sstType = platform::SND_SOUNDTYPE_ON;
      break;
    case STATUS_SILENT:
      info.sstType = platform::SND_SOUNDTYPE_NONE;
      break;
    case STATUS_VIBRATE:
      info.sstType = platform::SND_SOUNDTYPE_VIBRATE;
      break;
    default:
      // No sound type stands for any other status: the setting stays as it is.
      Trace(TRACE_WARNING, "CSpeakerMgr::ForceStatusChild: estado desconocido %d", status);
      return;
  }
  bool ok = platform::SndSetSound(platform::SND_EVENT_ALL, info, 1) == platform::S_OK;
  platform::LogFormateado(kLogSeverity, ok ? "Exito" : "Fracaso");
  int level = volumeLevel_.load();
  if (status == STATUS_ON && level > 0)
    platform::waveOutSetVolume(0, VolumeForLevel(level));
}

void CSpeakerMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_DEBUG, "CSpeakerMgr::ProcessTimerNotification(%d)", param);
  ForceStatus(param, 0, 0, 0, TimeLimitCause());
}

std::string CSpeakerMgr::GetName() {
  return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_SPEAKER_NAME");
}

std::string CSpeakerMgr::GetStatusName(int status) {
  switch (status) {
    case STATUS_SILENT:
      return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_SPEAKER_STATUS_OFF");
    case STATUS_VIBRATE:
      return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_SPEAKER_STATUS_VIBRATE");
    case STATUS_ON:
      return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_SPEAKER_STATUS_ON");
    default:
      return "unknown";
  }
}
