// The cell history: the most recent location changes, newest first, with the place each one
// was recognised as, for the cell-history dialog.
//
// One history exists per process, created on first use; its capacity is the setting
// "cell_history_list_number" read at creation. Each entry keeps the place it was recognised as
// when it was added; after the profile data changes the places are marked as no longer known
// (PlaceId -1) rather than looked up again.
//
// Threads: Add runs on the radio's callback thread, the dialog reads from the user-interface
// thread and the schedule engine invalidates from its worker; every operation takes the
// history's lock. Listeners are called on the adding thread, outside the lock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Time.h"

class ICellHistoryListener {
 public:
  virtual ~ICellHistoryListener() = default;
  // The history changed; it now holds `count` entries.
  virtual void OnHistoryChanged(int count) = 0;
};

struct CCellHistoryEntry {
  std::int32_t CellId = 0;
  std::int32_t Lac = 0;
  // Local time of the change.
  platform::SYSTEMTIME Time;
  // The recognised place; 0 when the location is unknown, -1 once the data changed.
  std::int32_t PlaceId = 0;
  // The place's name, or the translation of "UNKNOWN".
  std::string PlaceName;
  // 1 when the change came from an unsolicited notification, 0 from the answer to a request.
  std::int32_t FromNotification = 0;
};

class CCellHistory {
 public:
  static constexpr const char* kCapacityKey = "cell_history_list_number";

  // The process's history, created on first use.
  static CCellHistory* Instance();
  // Releases the history at the end of the program (and between tests); the next Instance()
  // creates a new one that reads its capacity again. No other thread may use it meanwhile.
  static void Release();

  // Records a location change: looks the location code (the cell in cell mode, else the area)
  // up in the profile database for its place, puts the entry first, drops the oldest beyond
  // the capacity and tells the listeners.
  void Add(std::int32_t cellId, std::int32_t lac, bool fromNotification);
  // Marks the place of every entry as no longer known (PlaceId -1).
  void InvalidatePlaces();

  // Listeners are not owned; removal takes out the first occurrence and waits for a delivery
  // under way, so the listener may be destroyed once it returns.
  void AddListener(ICellHistoryListener* listener);
  void RemoveListener(ICellHistoryListener* listener);

  // A copy of the entries, newest first.
  std::vector<CCellHistoryEntry> GetEntries();
  int GetCount();
  int GetCapacity() const { return capacity_; }

 private:
  CCellHistory();

  const int capacity_;
  std::mutex mutex_;
  std::recursive_mutex deliveryMutex_;  // held while listeners are called
  std::deque<CCellHistoryEntry> entries_;
  std::vector<ICellHistoryListener*> listeners_;
};
