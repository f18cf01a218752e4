// telvane-device: the console of the simulated phone, for people and for tests.
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "console/Console.h"
#include "platform/Device.h"
#include "platform/Store.h"

namespace console {

std::map<std::string, Command>& Commands() {
  static std::map<std::string, Command> commands;
  return commands;
}

ConsoleCommand::ConsoleCommand(std::string name, std::string usage, std::string help, Handler run,
                               bool needsDevice) {
  Commands()[name] = Command{name, std::move(usage), std::move(help), std::move(run), needsDevice};
}

std::string ReadHostFile(const std::filesystem::path& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int Fail(const std::string& message) {
  std::cerr << "telvane-device: " << message << "\n";
  return 2;
}

int Usage(const std::string& command) {
  auto it = Commands().find(command);
  return Fail("usage: telvane-device " + (it != Commands().end() ? it->second.usage : command));
}

std::optional<std::int64_t> ParseInt(const std::string& text) {
  if (text.empty())
    return std::nullopt;
  try {
    std::size_t used = 0;
    std::int64_t v;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      v = static_cast<std::int64_t>(std::stoull(text.substr(2), &used, 16));
      used += 2;
    } else {
      v = std::stoll(text, &used, 10);
    }
    if (used != text.size())
      return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool TakeFlag(Args& args, const std::string& flag) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == flag) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

std::optional<std::string> TakeOption(Args& args, const std::string& option, bool* missing) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == option) {
      if (it + 1 == args.end()) {
        if (missing)
          *missing = true;
        args.erase(it);
        return std::nullopt;
      }
      std::string value = *(it + 1);
      args.erase(it, it + 2);
      return value;
    }
  }
  return std::nullopt;
}

namespace {

void PrintHelp() {
  std::cout << "usage: telvane-device [--device DIR] COMMAND [ARGS...]\n\n"
               "The console of the simulated phone. DIR defaults to $TELVANE_DEVICE, else\n"
               "$XDG_DATA_HOME/telvane/device.\n\nCommands:\n";
  for (const auto& [name, cmd] : Commands()) {
    std::cout << "  " << cmd.usage << "\n";
    if (!cmd.help.empty())
      std::cout << "      " << cmd.help << "\n";
  }
}

}  // namespace

}  // namespace console

int main(int argc, char** argv) {
  using namespace console;
  Args args(argv + 1, argv + argc);
  bool missing = false;
  auto device = TakeOption(args, "--device", &missing);
  if (missing)
    return Fail("--device needs a folder");
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    PrintHelp();
    return args.empty() ? 2 : 0;
  }
  std::string name = args[0];
  args.erase(args.begin());
  auto it = Commands().find(name);
  if (it == Commands().end())
    return Fail("unknown command \"" + name + "\" (see telvane-device help)");
  try {
    if (it->second.needsDevice) {
      if (device) {
        platform::Device::Open(*device);
      } else {
        platform::Device::OpenDefault();
      }
    }
    int rc = it->second.run(args);
    std::cout.flush();
    platform::Device::Close();
    return rc;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
