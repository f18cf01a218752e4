// file: copies files onto the phone's file system and back, and lists its folders, so that a
// profile set or a document can be put where the program looks for it.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "console/Console.h"
#include "platform/Device.h"

namespace console {
namespace {

namespace fs = std::filesystem;

// Copies `from` over `to` through a temporary file beside it, so a reader never sees half a file.
int Copy(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::is_regular_file(from, ec))
    return Fail("no such file \"" + from.string() + "\"");
  fs::create_directories(to.parent_path(), ec);
  if (ec)
    return Fail("cannot create \"" + to.parent_path().string() + "\": " + ec.message());
  fs::path temporary = to;
  temporary += ".part";
  // A leftover at the temporary's name (possibly a link) is replaced, never written through.
  fs::remove(temporary, ec);
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
  if (!ec)
    fs::rename(temporary, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return Fail("cannot copy \"" + from.string() + "\" to \"" + to.string() +
                "\": " + ec.message());
  }
  return 0;
}

// The host path of a device path that stays on the phone's file system once links are followed;
// nullopt (with the error printed) for one that leaves it.
std::optional<fs::path> OnPhone(const platform::Device& dev, const std::string& devicePath) {
  auto host = dev.ConfinedHostPath(devicePath);
  if (!host)
    Fail("\"" + devicePath + "\" leads out of the phone's file system");
  return host;
}

int Run(const Args& args) {
  platform::Device* dev = platform::Device::Current();
  if (args.size() == 3 && args[0] == "put") {
    auto to = OnPhone(*dev, args[2]);
    return to ? Copy(args[1], *to) : 2;
  }
  if (args.size() == 3 && args[0] == "get") {
    auto from = OnPhone(*dev, args[1]);
    return from ? Copy(*from, args[2]) : 2;
  }
  if (args.size() == 2 && args[0] == "rm") {
    std::error_code ec;
    auto confined = OnPhone(*dev, args[1]);
    if (!confined)
      return 2;
    const fs::path& target = *confined;
    if (target == dev->FsRoot() || !fs::is_regular_file(target, ec))
      return Fail("no such file \"" + args[1] + "\"");
    if (!fs::remove(target, ec))
      return Fail("cannot remove \"" + args[1] + "\": " + ec.message());
    return 0;
  }
  if ((args.size() == 1 || args.size() == 2) && args[0] == "ls") {
    auto confined = OnPhone(*dev, args.size() == 2 ? args[1] : "\\");
    if (!confined)
      return 2;
    const fs::path& folder = *confined;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
      return Fail("no such folder \"" + (args.size() == 2 ? args[1] : std::string("\\")) + "\"");
    std::vector<std::string> lines;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      std::string name = entry.path().filename().string();
      if (entry.is_directory(ec))
        lines.push_back(name + "\\");
      else
        lines.push_back(name + "  " + std::to_string(entry.file_size(ec)));
    }
    if (ec)
      return Fail("cannot list \"" + folder.string() + "\": " + ec.message());
    std::sort(lines.begin(), lines.end());
    for (const auto& line : lines)
      std::cout << line << "\n";
    return 0;
  }
  return Usage("file");
}

ConsoleCommand file("file",
                    "file put HOSTFILE DEVICEPATH | get DEVICEPATH HOSTFILE | rm DEVICEPATH | "
                    "ls [DEVICEFOLDER]",
                    "Copies a file onto the phone (folders are created) or back, removes one, or "
                    "lists a folder (sub-folders end in \\, files show their size).",
                    Run);

}  // namespace
}  // namespace console
