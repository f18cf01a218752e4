// Where the tools find the files Telvane ships with. A program run from the build tree takes them
// from the sources and the build tree, as compiled in; an installed program (PREFIX/bin/...)
// takes them from PREFIX/share/telvane and its private libraries from PREFIX/lib/telvane, found
// from its own location, so an installed copy never reads a source tree that may be gone.
#pragma once

#include <filesystem>
#include <system_error>

namespace assets {

inline constexpr const char* kShareFolder = "share/telvane";
inline constexpr const char* kLibFolder = "lib/telvane";
inline constexpr const char* kTodayItemFile = "libTodayTelvane.so";

struct Locations {
  std::filesystem::path sources;  // themes/, traductions/, help/
  std::filesystem::path images;   // the images drawn at build time, laid out as the program folder
  std::filesystem::path units;    // the user-service templates (*.service.in)
  std::filesystem::path todayItem;  // the home-screen item library (empty: none was built)
  bool installed = false;
};

// The locations for the executable at `exe`: the installed layout when PREFIX/share/telvane
// exists beside its bin folder, else `buildTree`.
inline Locations Find(const std::filesystem::path& exe, const Locations& buildTree) {
  namespace fs = std::filesystem;
  if (exe.empty())
    return buildTree;
  fs::path prefix = exe.parent_path().parent_path();
  fs::path share = prefix / kShareFolder;
  std::error_code ec;
  if (!fs::is_directory(share, ec))
    return buildTree;
  Locations found;
  found.sources = share;
  found.images = share / "images";
  found.units = share / "systemd";
  found.todayItem = prefix / kLibFolder / kTodayItemFile;
  found.installed = true;
  return found;
}

}  // namespace assets
