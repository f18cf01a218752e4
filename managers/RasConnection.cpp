#include "managers/RasConnection.h"

#include <vector>

#include "app/Trace.h"
#include "platform/ConnMgr.h"
#include "platform/Registry.h"

using namespace platform;

namespace {

// The dial-up service reports at most this many connections to one enumeration.
constexpr std::size_t kMaxConnections = 10;

bool ReadLinkBytes(HRASCONN handle, DWORD* bytes) {
  RAS_STATS stats;
  stats.dwSize = kRasStatsRecordSize;
  if (RasGetLinkStatistics(handle, 1, &stats) != ERROR_SUCCESS)
    return false;
  *bytes = stats.dwBytesXmited + stats.dwBytesRcved;
  return true;
}

}  // namespace

CRasConnection::CRasConnection(std::string name, std::string keyPath)
    : name_(std::move(name)), keyPath_(std::move(keyPath)) {}

void CRasConnection::ReadConnectionState() {
  active_ = false;
  std::vector<RASCONN> connections;
  RasEnumConnections(&connections, kMaxConnections);
  for (const auto& c : connections) {
    if (c.szEntryName != name_)
      continue;
    connection_ = c;
    RASCONNSTATUS status;
    if (RasGetConnectStatus(c.hrasconn, &status) == ERROR_SUCCESS &&
        status.rasconnstate == RASCS_Connected) {
      active_ = true;
      DWORD bytes = 0;
      bytesNow_ = ReadLinkBytes(c.hrasconn, &bytes) ? bytes : 0;
    } else {
      bytesNow_ = 0;
    }
    return;
  }
  // No link: the handle of an earlier one names nothing any more.
  connection_ = RASCONN{};
  bytesNow_ = 0;
}

bool CRasConnection::Write() {
  HKEY key;
  LONG rc = RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyPath_, &key);
  if (rc != ERROR_SUCCESS) {
    Trace(TRACE_ERROR, "Error cambiando enabled(%d)", rc);
    return false;
  }
  rc = RegSetDWORD(key, "enabled", enabled_ ? 1 : 0);
  if (rc != ERROR_SUCCESS)
    Trace(TRACE_ERROR, "Error cambiando enabled(%d)", rc);
  RegSetDWORD(key, "AlwaysOn", alwaysOn_);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool CRasConnection::Connect() {
  std::string text;
  GUID destination;
  HCONNECTION handle = 0;
  CONNMGR_CONNECTIONINFO info;
  info.cbSize = kConnMgrConnectionInfoSize;
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  info.dwFlags = 0;
  info.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
  if (RegistryGetString(HKEY_LOCAL_MACHINE, keyPath_, "ConnectionGUID", &text) != S_OK ||
      CLSIDFromString(text, &destination) != S_OK) {
    Trace(TRACE_ERROR, "Error conectando");
    return false;
  }
  info.guidDestNet = destination;
  // The connection handle is not kept: the link is followed through the status messages.
  if (ConnMgrEstablishConnection(info, &handle) != S_OK) {
    Trace(TRACE_ERROR, "Error conectando");
    return false;
  }
  return true;
}

void CRasConnection::HangUp() {
  RasHangUp(connection_.hrasconn);
  connection_.hrasconn = 0;
  active_ = false;
  bytesBefore_ = kUnknownBytes;
  bytesChecked_ = kUnknownBytes;
  bytesNow_ = 0;
}

bool CRasConnection::RefreshDataTraffic() {
  DWORD bytes = 0;
  if (!ReadLinkBytes(connection_.hrasconn, &bytes)) {
    Trace(TRACE_DEBUG, "Error refreshing data trafic");
    bytesNow_ = 0;
    bytesBefore_ = kUnknownBytes;
    bytesChecked_ = kUnknownBytes;
    return false;
  }
  bytesBefore_ = bytesChecked_;
  bytesChecked_ = bytes;
  bytesNow_ = bytes;
  Trace(TRACE_DEBUG, "RefreshDataTraffic(%d,%d)", static_cast<int>(bytesBefore_),
        static_cast<int>(bytesNow_));
  return true;
}

bool CRasConnection::HaHabidoTrafico() const {
  if (bytesBefore_ == kUnknownBytes || bytesChecked_ == kUnknownBytes)
    return false;
  // Unsigned 32-bit difference: a counter that wrapped still gives the bytes in between.
  return static_cast<DWORD>(bytesChecked_ - bytesBefore_) > kTrafficThreshold;
}
