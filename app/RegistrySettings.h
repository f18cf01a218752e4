// The settings store: every persistent setting of the program, and every value it publishes for
// the home-screen item, is a named value under one registry key, HKEY_LOCAL_MACHINE
// "\SOFTWARE\Orvella\Telvane".
//
// Each operation opens the key, reads or writes one value and closes the key again: nothing is
// cached, so a value written anywhere is seen by the next read in any thread or process. Absent
// values read as 0 or as the empty string. Writes never create the key (installing the program
// does); with the key missing, writes do nothing.
//
// Thread-safety: every operation may be called from any thread; the store holds no mutable state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Types.h"

// The operations of a settings store over any key under HKEY_LOCAL_MACHINE.
class CBaseRegistrySettings {
 public:
  explicit CBaseRegistrySettings(std::string rootPath);
  CBaseRegistrySettings(const CBaseRegistrySettings&) = delete;
  CBaseRegistrySettings& operator=(const CBaseRegistrySettings&) = delete;

  // The string value, cut at its first zero character; empty when absent or not a string.
  virtual std::string GetString(std::string_view name);
  virtual void SetString(std::string_view name, std::string_view value);
  // The number; 0 when absent or not a number.
  virtual platform::DWORD GetDWORD(std::string_view name);
  virtual void SetDWORD(std::string_view name, platform::DWORD value);
  virtual ~CBaseRegistrySettings();

  // Raw bytes (REG_BINARY). `length` holds the buffer's size on entry and the value's size on
  // return; when the buffer is too small nothing is copied and ERROR_MORE_DATA is returned.
  // Returns the registry's status code (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...).
  platform::LONG GetBinary(std::string_view name, platform::BYTE* buffer, platform::DWORD* length);
  platform::LONG SetBinary(std::string_view name, const platform::BYTE* data,
                           platform::DWORD length);

  const std::string& GetRootPath() const { return rootPath_; }

 private:
  std::string rootPath_;
};

// The program's settings store. `Instance()` gives the current one: the most recently
// constructed store, or one created on first use when none was constructed yet.
class CRegistrySettings : public CBaseRegistrySettings {
 public:
  static constexpr const char* kRootPath = "\\SOFTWARE\\Orvella\\Telvane";
  // Diagnostic flag: 1 switches the program's extra diagnostics on.
  static constexpr const char* kDebugInfo = "debug_info";

  // Becomes the current store and reads "debug_info" into the process-wide diagnostic flag.
  CRegistrySettings();
  // When this is the current store, the store created on first use (if any) becomes current
  // again, so Instance() never hands out a destroyed store.
  ~CRegistrySettings() override;

  // The current store, created on the first call when none exists. Thread-safe.
  static CRegistrySettings* Instance();
  // True when "debug_info" was 1 when the current store was created.
  static bool DebugInfo();
};
