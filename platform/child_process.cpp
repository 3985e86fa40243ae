// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace inkbrite {

namespace {

// A file descriptor closed on every way out.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

bool WriteAllTo(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return lseek(fd, 0, SEEK_SET) == 0;
}

bool ReadAllFrom(int fd, uint64_t maxBytes, std::vector<uint8_t>& out) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes) {
    return false;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool RunChildProgram(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments, std::span<const uint8_t> input,
                     const ChildLimits& limits, std::vector<uint8_t>& output) {
  output.clear();
  const Fd in(memfd_create("inkbrite-in", MFD_CLOEXEC));
  const Fd out(memfd_create("inkbrite-out", MFD_CLOEXEC));
  if (in.fd < 0 || out.fd < 0 || !WriteAllTo(in.fd, input)) return false;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_adddup2(&actions, in.fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args{program.string()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  if (limits.cpuSeconds > 0) {
    const rlimit cpu{static_cast<rlim_t>(limits.cpuSeconds),
                     static_cast<rlim_t>(limits.cpuSeconds)};
    prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
  }
  if (WaitFor(pid) != 0) return false;
  const uint64_t most = limits.maxOutputBytes == 0 ? UINT64_MAX : limits.maxOutputBytes;
  if (!ReadAllFrom(out.fd, most, output)) {
    output.clear();
    return false;
  }
  return true;
}

}  // namespace inkbrite
