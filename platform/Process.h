// Starting programs and learning about the running one.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Full path of the running executable (the "module file name").
std::string CurrentExecutablePath();

// Starts `path` with `args` as a new, detached process (it is not a child that must be waited
// for) whose environment is this process's plus `extraEnv` ("NAME=value"). The started process
// uses the current device. Returns false, with a reason in `error`, when it could not be run.
bool SpawnDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv = {}, std::string* error = nullptr);

}  // namespace platform
