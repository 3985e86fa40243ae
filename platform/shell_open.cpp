// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/shell_open.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

extern char** environ;

namespace inkbrite {

bool OpenWithShell(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return false;
  const std::string file = std::filesystem::absolute(path, ec).string();
  if (ec) return false;
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(file.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  // xdg-open returns once the application is started (or at once); a
  // detached thread reaps it so no zombie is left and the caller never waits.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace inkbrite
