// The device console's command table. Each command lives in its own source file and registers
// itself with a static `ConsoleCommand` object:
//
//   static ConsoleCommand clock("clock", "clock [+N(s|m|h|d)|set TIME|reset]", "...", RunClock);
//
// A command gets its arguments (without the command word and the global options) and returns
// the process exit code. Errors are one line on stderr through `Fail`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace console {

using Args = std::vector<std::string>;
using Handler = std::function<int(const Args& args)>;

struct Command {
  std::string name;
  std::string usage;
  std::string help;
  Handler run;
  bool needsDevice = true;
};

std::map<std::string, Command>& Commands();

struct ConsoleCommand {
  ConsoleCommand(std::string name, std::string usage, std::string help, Handler run,
                 bool needsDevice = true);
};

// Writes "telvane-device: <message>" to stderr and returns the exit code 2.
int Fail(const std::string& message);
// The usage line of a command as an error.
int Usage(const std::string& command);

// The whole of a file of the host; `ok` says whether it could be opened.
std::string ReadHostFile(const std::filesystem::path& path, bool* ok);

// Parses a decimal or 0x-prefixed integer; nullopt when the text is not one.
std::optional<std::int64_t> ParseInt(const std::string& text);
// Removes "--flag" from args; true when it was there.
bool TakeFlag(Args& args, const std::string& flag);
// Removes "--option VALUE" from args; nullopt when absent. Sets `missing` when the value is.
std::optional<std::string> TakeOption(Args& args, const std::string& option, bool* missing);

}  // namespace console
