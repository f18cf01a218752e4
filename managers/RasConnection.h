// One data-connection entry: a dial-up entry of the phone book together with its connection
// manager provider key, its last known state and its traffic counters.
//
// Entries are created and owned by the data-connections manager (CConnectionsMgr), which walks
// them only while it holds its entry-list lock; an entry itself has no lock.
#pragma once

#include <string>

#include "platform/Ras.h"
#include "platform/Types.h"

class CRasConnection {
 public:
  // Traffic above this many bytes between two checks counts as traffic.
  static constexpr platform::DWORD kTrafficThreshold = 1024;
  // A byte count that is not known (after a hang-up or a failed read).
  static constexpr platform::DWORD kUnknownBytes = 0xFFFFFFFF;

  // `keyPath`: the full path (under HKEY_LOCAL_MACHINE) of the entry's provider key.
  CRasConnection(std::string name, std::string keyPath);

  const std::string& GetName() const { return name_; }
  const std::string& GetKeyPath() const { return keyPath_; }
  bool IsActive() const { return active_; }
  void SetActive(bool active) { active_ = active; }
  bool IsEnabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool IsPreferred() const { return preferred_; }
  void SetPreferred(bool preferred) { preferred_ = preferred; }
  platform::DWORD GetAlwaysOn() const { return alwaysOn_; }
  void SetAlwaysOn(platform::DWORD alwaysOn) { alwaysOn_ = alwaysOn; }
  // Bytes sent plus received at the last reading of the link.
  platform::DWORD GetBytesNow() const { return bytesNow_; }
  // Bytes at the traffic check before the last one; kUnknownBytes when that check had none.
  platform::DWORD GetBytesBefore() const { return bytesBefore_; }
  const platform::RASCONN& GetConnection() const { return connection_; }

  // Reads the entry's link from the dial-up service: active when it is connected, with its
  // byte counters; inactive (and 0 bytes) otherwise. The caller has checked the phone radio.
  void ReadConnectionState();
  // Writes "enabled" and "AlwaysOn" to the provider key; false when "enabled" was not written.
  bool Write();
  // Asks the connection manager for the entry's destination network ("ConnectionGUID"). The
  // link comes up asynchronously; false when the request was refused.
  bool Connect();
  // Ends the entry's link; the traffic counters start again from nothing.
  void HangUp();
  // Reads the link's counters for a traffic check. On failure the counters start again from
  // nothing. Returns whether the read succeeded.
  bool RefreshDataTraffic();
  // Whether more than kTrafficThreshold bytes went over the link between the last two checks.
  // Never true for the first check after a hang-up, a failed read or a new entry.
  bool HaHabidoTrafico() const;

 private:
  std::string name_;
  std::string keyPath_;
  bool active_ = false;
  bool enabled_ = false;
  platform::RASCONN connection_;
  platform::DWORD bytesNow_ = 0;
  // Bytes at the last traffic check, and at the check before it.
  platform::DWORD bytesChecked_ = kUnknownBytes;
  platform::DWORD bytesBefore_ = kUnknownBytes;
  bool preferred_ = true;
  platform::DWORD alwaysOn_ = 0;
};
