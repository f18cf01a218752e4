#include "location/CellHistory.h"

#include <algorithm>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/ExceptionDB.h"
#include "data/StrLocation.h"
#include "location/LocationLookup.h"

namespace {

std::mutex g_instanceMutex;
CCellHistory* g_instance = nullptr;

}  // namespace

CCellHistory* CCellHistory::Instance() {
  std::lock_guard lock(g_instanceMutex);
  if (!g_instance)
    g_instance = new CCellHistory();
  return g_instance;
}

void CCellHistory::Release() {
  std::lock_guard lock(g_instanceMutex);
  delete g_instance;
  g_instance = nullptr;
}

CCellHistory::CCellHistory()
    : capacity_(static_cast<int>(CRegistrySettings::Instance()->GetDWORD(kCapacityKey))) {}

void CCellHistory::Add(std::int32_t cellId, std::int32_t lac, bool fromNotification) {
  CCellHistoryEntry entry;
  entry.CellId = cellId;
  entry.Lac = lac;
  entry.FromNotification = fromNotification ? 1 : 0;
  platform::Clock::GetLocalTime(&entry.Time);
  entry.PlaceName = CTexts::GetInstance()->GetText("UNKNOWN");
  try {
    std::int32_t code = CStrLocation::IsCellMode() ? cellId : lac;
    if (auto placeId = locationlookup::PlaceIdOfCode(code)) {
      if (auto place = locationlookup::FindPlace(*placeId)) {
        entry.PlaceId = place->GetId();
        entry.PlaceName = place->GetName();
      }
    }
  } catch (const CExceptionDB& e) {
    // The entry is still worth keeping; it shows the location as unknown.
    Trace(TRACE_ERROR, "CCellHistory::Add %s", e.GetMessage().c_str());
  }
  int count;
  std::vector<ICellHistoryListener*> listeners;
  {
    std::lock_guard lock(mutex_);
    entries_.push_front(std::move(entry));
    if (entries_.size() > static_cast<std::size_t>(std::max(capacity_, 0)))
      entries_.pop_back();
    count = static_cast<int>(entries_.size());
    listeners = listeners_;
  }
  // Deliveries hold their own lock, so that a removed listener is never called afterwards.
  std::lock_guard delivery(deliveryMutex_);
  for (ICellHistoryListener* l : listeners) {
    bool present;
    {
      std::lock_guard lock(mutex_);
      present = std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end();
    }
    if (present)
      l->OnHistoryChanged(count);
  }
}

void CCellHistory::InvalidatePlaces() {
  std::lock_guard lock(mutex_);
  for (auto& e : entries_)
    e.PlaceId = -1;
}

void CCellHistory::AddListener(ICellHistoryListener* listener) {
  std::lock_guard lock(mutex_);
  listeners_.push_back(listener);
}

void CCellHistory::RemoveListener(ICellHistoryListener* listener) {
  std::lock_guard delivery(deliveryMutex_);
  std::lock_guard lock(mutex_);
  auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it != listeners_.end())
    listeners_.erase(it);
}

std::vector<CCellHistoryEntry> CCellHistory::GetEntries() {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

int CCellHistory::GetCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(entries_.size());
}
