#include "support/TestDevice.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TestDevice::TestDevice() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "telvane-test-XXXXXX").string();
  char* dir = mkdtemp(tmpl.data());
  folder_ = dir ? dir : tmpl;
  device_ = &platform::Device::Open(folder_);
}

TestDevice::~TestDevice() {
  platform::Device::Close();
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

int TestDevice::Console(const std::vector<std::string>& args, std::string* output,
                        std::string* stderrOut) {
  std::vector<std::string> argv{TELVANE_DEVICE_TOOL, "--device", folder_.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  // What the console writes into the user's configuration (the user services of a Linux phone)
  // stays in the test's folder.
  return RunCommand(argv, {"XDG_CONFIG_HOME=" + (folder_ / "xdg-config").string()}, output,
                    stderrOut);
}

int RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* out, std::string* err) {
  auto outFile = std::filesystem::temp_directory_path() /
                 ("telvane-cmd-" + std::to_string(getpid()) + "-" + std::to_string(rand()));
  auto errFile = outFile;
  errFile += ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> cargv;
  for (const auto& a : argv)
    cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  // A variable given in `env` replaces the inherited one of the same name.
  auto overridden = [&](const char* entry) {
    for (const auto& e : env) {
      size_t eq = e.find('=');
      if (eq != std::string::npos && std::strncmp(entry, e.c_str(), eq + 1) == 0)
        return true;
    }
    return false;
  };
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e)
    if (!overridden(*e))
      envStore.emplace_back(*e);
  envStore.insert(envStore.end(), env.begin(), env.end());
  std::vector<char*> cenv;
  for (auto& e : envStore)
    cenv.push_back(e.data());
  cenv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (out)
    *out = ReadAll(outFile);
  if (err)
    *err = ReadAll(errFile);
  std::filesystem::remove(outFile);
  std::filesystem::remove(errFile);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ReadColumn(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    // A running program may hold the write lock for a moment.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(st, 0);
        out.emplace_back(t ? reinterpret_cast<const char*>(t) : "<null>");
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}
