// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

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

std::atomic<bool> g_stopping{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Waits for `pid`, ending it when the wall clock or the stop request says
// so. A helper blocked in the kernel or spinning in a library ends the same
// way: SIGKILL cannot be caught.
ChildOutcome WaitFor(pid_t pid, std::chrono::milliseconds wallClock) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + wallClock;
  ChildEnd ending = ChildEnd::kExited;
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(pid, &status, ending == ChildEnd::kExited ? WNOHANG : 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {ChildEnd::kSignalled, SIGKILL};
    if (got == pid) {
      if (ending != ChildEnd::kExited) return {ending, 0};
      if (WIFEXITED(status)) return {ChildEnd::kExited, WEXITSTATUS(status)};
      const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL;
      // SIGXCPU at the soft CPU limit, SIGKILL at the hard one.
      if (signal == SIGXCPU) return {ChildEnd::kOverCpu, signal};
      return {ChildEnd::kSignalled, signal};
    }
    if (g_stopping.load()) {
      ending = ChildEnd::kStopped;
    } else if (wallClock.count() > 0 && Clock::now() > deadline) {
      ending = ChildEnd::kOverTime;
    } else {
      std::this_thread::sleep_for(pause);
      pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
      continue;
    }
    kill(pid, SIGKILL);
  }
}

void SetLimit(pid_t pid, __rlimit_resource resource, uint64_t value) {
  const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  prlimit(pid, resource, &limit, nullptr);
}

}  // namespace

ChildOutcome RunChild(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments, const ChildRun& run) {
  if (g_stopping.load()) return {ChildEnd::kStopped, 0};
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return {};
  auto attach = [&actions](int fd, int to, int flags) {
    if (fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, fd, to);
    } else {
      posix_spawn_file_actions_addopen(&actions, to, "/dev/null", flags, 0);
    }
  };
  attach(run.inputFd, STDIN_FILENO, O_RDONLY);
  attach(run.outputFd, STDOUT_FILENO, O_WRONLY);
  attach(-1, STDERR_FILENO, O_WRONLY);
  std::vector<std::string> args{program.string()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {};
  if (run.cpuSeconds > 0) {
    // The soft limit sends SIGXCPU, the hard one a second later SIGKILL.
    const rlimit cpu{static_cast<rlim_t>(run.cpuSeconds), static_cast<rlim_t>(run.cpuSeconds + 1)};
    prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
  }
  if (run.addressSpaceBytes > 0 && AddressSpaceLimitsHold()) {
    SetLimit(pid, RLIMIT_AS, run.addressSpaceBytes);
  }
  return WaitFor(pid, run.wallClock);
}

bool RunChildProgram(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments, std::span<const uint8_t> input,
                     const ChildLimits& limits, std::vector<uint8_t>& output) {
  output.clear();
  const Fd in(MemoryFileWith(input));
  const Fd out(memfd_create("inkbrite-out", MFD_CLOEXEC));
  if (in.fd < 0 || out.fd < 0) return false;
  ChildRun run;
  run.inputFd = in.fd;
  run.outputFd = out.fd;
  run.cpuSeconds = limits.cpuSeconds;
  const ChildOutcome outcome = RunChild(program, arguments, run);
  if (outcome.end != ChildEnd::kExited || outcome.code != 0) return false;
  const uint64_t most = limits.maxOutputBytes == 0 ? UINT64_MAX : limits.maxOutputBytes;
  if (!ReadAllFrom(out.fd, most, output)) {
    output.clear();
    return false;
  }
  return true;
}

int MemoryFileWith(std::span<const uint8_t> bytes) {
  const int fd = memfd_create("inkbrite-in", MFD_CLOEXEC);
  if (fd >= 0 && !WriteAllTo(fd, bytes)) {
    close(fd);
    return -1;
  }
  return fd;
}

void StopChildPrograms() { g_stopping.store(true); }
void AllowChildPrograms() { g_stopping.store(false); }

bool AddressSpaceLimitsHold() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return false;
#else
  return true;
#endif
#else
  return true;
#endif
}

}  // namespace inkbrite
