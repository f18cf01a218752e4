// reg get|set|delete|list: the phone's registry from the command line.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "console/Console.h"
#include "platform/Registry.h"

namespace console {
namespace {

using namespace platform;

std::string Hex(const std::vector<BYTE>& data) {
  std::string out;
  char buf[4];
  for (BYTE b : data) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    out += buf;
  }
  return out;
}

bool ParseHex(const std::string& text, std::vector<BYTE>* out) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == ',')
      continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return false;
    digits.push_back(c);
  }
  if (digits.size() % 2)
    return false;
  out->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out->push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

std::string Describe(DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_DWORD && data.size() >= 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    return std::to_string(v);
  }
  if (type == REG_SZ)
    return std::string(data.begin(), data.end());
  return Hex(data);
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_DWORD:
      return "dword";
    case REG_SZ:
      return "string";
    case REG_BINARY:
      return "binary";
    default:
      return "other";
  }
}

int Open(const Args& args, HKEY* key) {
  HKEY root = ParseRoot(args[0]);
  if (!root)
    return Fail("unknown root \"" + args[0] + "\" (HKLM or HKCU)");
  LONG rc = RegOpenKeyEx(root, args[1], key);
  if (rc != ERROR_SUCCESS)
    return Fail("no key " + args[0] + "\\" + args[1]);
  return 0;
}

int Get(const Args& args) {
  if (args.size() != 3)
    return Usage("reg");
  HKEY key;
  if (int rc = Open(args, &key))
    return rc == 2 ? 1 : rc;
  DWORD type;
  std::vector<BYTE> data;
  LONG rc = RegQueryValueEx(key, args[2], &type, &data);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    std::cerr << "telvane-device: no value \"" << args[2] << "\" under " << args[0] << "\\"
              << args[1] << "\n";
    return 1;
  }
  std::cout << Describe(type, data) << "\n";
  return 0;
}

int Set(const Args& args) {
  if (args.size() != 5)
    return Usage("reg");
  HKEY root = ParseRoot(args[0]);
  if (!root)
    return Fail("unknown root \"" + args[0] + "\" (HKLM or HKCU)");
  const std::string& kind = args[3];
  const std::string& text = args[4];
  HKEY key;
  // Someone adding a value by hand expects the key to be created for it.
  if (RegCreateKeyEx(root, args[1], &key) != ERROR_SUCCESS) {
    return Fail("cannot create key " + args[0] + "\\" + args[1]);
  }
  LONG rc;
  if (kind == "dword") {
    auto v = ParseInt(text);
    if (!v || *v < INT32_MIN || *v > static_cast<std::int64_t>(UINT32_MAX)) {
      RegCloseKey(key);
      return Fail("not a 32-bit number: \"" + text + "\"");
    }
    rc = RegSetDWORD(key, args[2], static_cast<DWORD>(*v));
  } else if (kind == "string") {
    rc = RegSetString(key, args[2], text);
  } else if (kind == "binary") {
    std::vector<BYTE> data;
    if (!ParseHex(text, &data)) {
      RegCloseKey(key);
      return Fail("not hexadecimal bytes: \"" + text + "\"");
    }
    rc = RegSetValueEx(key, args[2], REG_BINARY, data.data(), data.size());
  } else {
    RegCloseKey(key);
    return Fail("unknown value kind \"" + kind + "\" (dword, string or binary)");
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    return Fail("cannot write the value (error " + std::to_string(rc) + ")");
  return 0;
}

int Delete(const Args& args) {
  if (args.size() != 2 && args.size() != 3)
    return Usage("reg");
  HKEY root = ParseRoot(args[0]);
  if (!root)
    return Fail("unknown root \"" + args[0] + "\" (HKLM or HKCU)");
  if (args.size() == 2) {
    if (RegDeleteKey(root, args[1]) != ERROR_SUCCESS)
      return Fail("no key " + args[0] + "\\" + args[1]);
    return 0;
  }
  HKEY key;
  if (int rc = Open(args, &key))
    return rc;
  LONG rc = RegDeleteValue(key, args[2]);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    return Fail("no value \"" + args[2] + "\"");
  return 0;
}

int List(const Args& args) {
  if (args.size() != 2)
    return Usage("reg");
  HKEY key;
  if (int rc = Open(args, &key))
    return rc;
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i) {
    std::cout << name << "\\\n";
  }
  DWORD type;
  for (DWORD i = 0; RegEnumValue(key, i, &name, &type) == ERROR_SUCCESS; ++i) {
    std::vector<BYTE> data;
    RegQueryValueEx(key, name, &type, &data);
    std::cout << name << " = " << TypeName(type) << ":" << Describe(type, data) << "\n";
  }
  RegCloseKey(key);
  return 0;
}

int Run(const Args& all) {
  if (all.empty())
    return Usage("reg");
  Args args(all.begin() + 1, all.end());
  const std::string& sub = all[0];
  if (sub == "get")
    return Get(args);
  if (sub == "set")
    return Set(args);
  if (sub == "delete")
    return Delete(args);
  if (sub == "list")
    return List(args);
  return Usage("reg");
}

ConsoleCommand reg(
    "reg",
    "reg get ROOT KEY VALUE | set ROOT KEY VALUE dword N|string S|binary HEX | "
    "delete ROOT KEY [VALUE] | list ROOT KEY",
    "ROOT is HKLM or HKCU. get exits 1 when the value is absent; set creates the key.", Run);

}  // namespace
}  // namespace console
