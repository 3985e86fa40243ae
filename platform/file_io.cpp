// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file_io.h"

#include "platform/read_status.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace inkbrite {

namespace {
std::atomic<uint64_t> g_regularFileOpens{0};
}  // namespace

uint64_t RegularFileOpens() { return g_regularFileOpens.load(std::memory_order_relaxed); }

std::FILE* OpenRegularFile(const std::filesystem::path& path) {
  g_regularFileOpens.fetch_add(1, std::memory_order_relaxed);
#ifdef _WIN32
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  return _wfopen(path.c_str(), L"rb");
#else
  // Non-blocking, so that a FIFO is refused rather than waited on; a regular
  // file reads the same either way, but the flag is cleared all the same.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    NoteReadFailure(ReadError::kIoError, errno);
    return nullptr;
  }
  struct stat st {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    // A folder, FIFO, socket or device is no file to read.
    NoteReadFailure(ReadError::kIoError, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    NoteReadFailure(ReadError::kIoError, errno);
    ::close(fd);
  }
  return file;
#endif
}

bool ReadFileBytes(const std::filesystem::path& path, uint64_t maxBytes,
                   std::vector<uint8_t>& bytes) {
  std::FILE* file = OpenRegularFile(path);
  if (file == nullptr) return false;
  std::vector<uint8_t> data;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long end = ok ? std::ftell(file) : -1;
  if (ok && end >= 0 && static_cast<uint64_t>(end) > maxBytes) {
    NoteReadFailure(ReadError::kOverByteLimit);
    ok = false;
  }
  ok = ok && end >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
  try {
    if (ok) data.resize(static_cast<size_t>(end));
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    ok = false;
  }
  if (ok && end > 0) {
    ok = std::fread(data.data(), 1, data.size(), file) == data.size();
    // Shorter than it was a moment ago: cut short while being read.
    if (!ok) NoteReadFailure(std::ferror(file) ? ReadError::kIoError : ReadError::kDamaged, errno);
  }
  std::fclose(file);
  if (!ok) return false;
  bytes = std::move(data);
  return true;
}

namespace {

constexpr std::string_view kTempMarker = ".inkbrite-tmp";
constexpr size_t kRandomChars = 8;
constexpr size_t kMachineChars = 8;

std::string RandomSuffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s(kRandomChars, 'x');
  for (char& c : s) c = kDigits[rng() % (sizeof(kDigits) - 1)];
  return s;
}

int64_t CurrentProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return ::getpid();
#endif
}

// The first `limit` bytes of `name` or fewer, never ending inside a UTF-8
// sequence (a cut before a continuation byte moves back to its lead byte).
std::string_view Utf8Prefix(std::string_view name, size_t limit) {
  if (name.size() <= limit) return name;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

bool IsMachinePart(std::string_view s) {
  if (s.size() != kMachineChars) return false;
  for (char c : s) {
    if (!((c >= 'a' && c <= 'f') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

bool IsRandomPart(std::string_view s) {
  if (s.size() != kRandomChars) return false;
  for (char c : s) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace

const std::string& ThisMachineTag() {
  static const std::string tag = [] {
    std::string identity;
#ifndef _WIN32
    std::ifstream boot("/proc/sys/kernel/random/boot_id");
    std::string bootId;
    if (boot && std::getline(boot, bootId)) identity += bootId;
    char ns[128];
    const ssize_t got = ::readlink("/proc/self/ns/pid", ns, sizeof ns);
    if (got > 0) identity += "|" + std::string(ns, static_cast<size_t>(got));
#endif
    if (identity.empty()) return std::string();
    uint32_t hash = 2166136261u;  // FNV-1a, 32 bits
    for (const char c : identity) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 16777619u;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(kMachineChars, '0');
    for (size_t i = 0; i < kMachineChars; ++i) text[i] = kHex[(hash >> (28 - 4 * i)) & 0xF];
    return text;
  }();
  return tag;
}

std::string TempFileName(std::string_view targetName, int64_t pid, std::string_view random,
                         std::string_view machine) {
  std::string tail = "." + std::to_string(pid);
  if (!machine.empty()) tail += "@" + std::string(machine);
  tail += "." + std::string(random);
  const size_t fixed = 1 + tail.size() + kTempMarker.size();
  const size_t room = kMaxFileNameBytes > fixed ? kMaxFileNameBytes - fixed : 0;
  return "." + std::string(Utf8Prefix(targetName, room)) + tail + std::string(kTempMarker);
}

std::optional<TempFileOrigin> TempFileOriginOf(std::string_view fileName) {
  if (fileName.size() < kTempMarker.size() || fileName.front() != '.' ||
      fileName.substr(fileName.size() - kTempMarker.size()) != kTempMarker) {
    return std::nullopt;
  }
  std::string_view rest = fileName.substr(1, fileName.size() - 1 - kTempMarker.size());
  const size_t randomDot = rest.rfind('.');
  if (randomDot == std::string_view::npos || !IsRandomPart(rest.substr(randomDot + 1))) {
    return std::nullopt;
  }
  rest = rest.substr(0, randomDot);
  const size_t pidDot = rest.rfind('.');
  if (pidDot == std::string_view::npos) return std::nullopt;
  std::string_view digits = rest.substr(pidDot + 1);
  TempFileOrigin origin;
  if (const size_t at = digits.find('@'); at != std::string_view::npos) {
    if (!IsMachinePart(digits.substr(at + 1))) return std::nullopt;
    origin.machine = std::string(digits.substr(at + 1));
    digits = digits.substr(0, at);
  }
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), origin.pid);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
      origin.pid <= 0) {
    return std::nullopt;
  }
  return origin;
}

std::optional<int64_t> TempFileOwner(std::string_view fileName) {
  const std::optional<TempFileOrigin> origin = TempFileOriginOf(fileName);
  if (!origin) return std::nullopt;
  return origin->pid;
}

bool IsStaleTempFile(const std::filesystem::path& path) {
  const std::optional<TempFileOrigin> origin = TempFileOriginOf(path.filename().native());
  std::error_code ec;
  if (!origin || std::filesystem::is_symlink(path, ec) ||
      !std::filesystem::is_regular_file(path, ec)) {
    return false;
  }
  if (origin->machine.empty() || origin->machine == ThisMachineTag()) {
    return !ProcessIsRunning(origin->pid);
  }
  const auto written = std::filesystem::last_write_time(path, ec);
  if (ec) return false;
  const auto age = std::filesystem::file_time_type::clock::now() - written;
  return age > std::chrono::seconds(kForeignTempFileAgeSeconds);
}

bool ProcessIsRunning(int64_t pid) {
  if (pid <= 0) return false;
#ifdef _WIN32
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
#else
  if (pid > INT32_MAX) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

std::optional<std::filesystem::path> ResolveLinks(const std::filesystem::path& path) {
  std::filesystem::path current = path;
  for (int hops = 0; hops <= 40; ++hops) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(current, ec)) return current;
    const std::filesystem::path next = std::filesystem::read_symlink(current, ec);
    if (ec) return std::nullopt;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return std::nullopt;
}

SafeFileWriter::SafeFileWriter(std::filesystem::path target) : m_target(std::move(target)) {}

SafeFileWriter::~SafeFileWriter() { Discard(); }

bool SafeFileWriter::Open() {
  Discard();
  m_failed = false;
  if (m_target.empty() || !m_target.has_filename()) return false;
  const std::optional<std::filesystem::path> real = ResolveLinks(m_target);
  if (!real || !real->has_filename()) return false;
  m_real = *real;
  const std::filesystem::path folder = m_real.parent_path();
  const std::string name = m_real.filename().string();
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path temp =
        folder / TempFileName(name, CurrentProcessId(), RandomSuffix(), ThisMachineTag());
#ifdef _WIN32
    std::FILE* f = _wfopen(temp.c_str(), L"wbx");
    if (f == nullptr) {
      if (errno == EEXIST) continue;
      return false;
    }
#else
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    // Keep the permissions of a file that is being replaced.
    struct stat st {};
    if (::stat(m_real.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      (void)::fchmod(fd, st.st_mode & 07777);
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
      ::close(fd);
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      return false;
    }
#endif
    m_temp = std::move(temp);
    m_file = f;
    return true;
  }
  return false;
}

bool SafeFileWriter::Write(const void* data, size_t size) {
  if (m_file == nullptr || m_failed) return false;
  if (size != 0 && std::fwrite(data, 1, size, m_file) != size) m_failed = true;
  return !m_failed;
}

bool SafeFileWriter::Commit() {
  if (m_file == nullptr) return false;
  bool ok = !m_failed && std::fflush(m_file) == 0 && std::ferror(m_file) == 0;
#ifndef _WIN32
  if (ok && ::fsync(::fileno(m_file)) != 0) ok = false;
#endif
  if (std::fclose(m_file) != 0) ok = false;
  m_file = nullptr;
  if (ok) {
    std::error_code ec;
    std::filesystem::rename(m_temp, m_real, ec);
    ok = !ec;
  }
  if (!ok) {
    std::error_code ec;
    std::filesystem::remove(m_temp, ec);
  }
  m_temp.clear();
  return ok;
}

void SafeFileWriter::Discard() {
  if (m_file != nullptr) {
    std::fclose(m_file);
    m_file = nullptr;
  }
  if (!m_temp.empty()) {
    std::error_code ec;
    std::filesystem::remove(m_temp, ec);
    m_temp.clear();
  }
}

bool SafeFileWriter::Retarget(std::filesystem::path target) {
  const std::optional<std::filesystem::path> real = ResolveLinks(target);
  if (!real || !real->has_filename() || real->parent_path() != m_real.parent_path()) return false;
  m_target = std::move(target);
  m_real = *real;
  return true;
}

bool WriteFileBytesSafely(const std::filesystem::path& target, const void* data, size_t size) {
  SafeFileWriter writer(target);
  return writer.Open() && writer.Write(data, size) && writer.Commit();
}

}  // namespace inkbrite
