#include "platform/file_io.h"

#include <fstream>
#include <random>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace inkbrite {

bool ReadFileBytes(const std::filesystem::path& path, uint64_t maxBytes,
                   std::vector<uint8_t>& bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0 || static_cast<uint64_t>(end) > maxBytes) return false;
  in.seekg(0, std::ios::beg);
  std::vector<uint8_t> data;
  try {
    data.resize(static_cast<size_t>(end));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (end > 0 && !in.read(reinterpret_cast<char*>(data.data()), end)) return false;
  bytes = std::move(data);
  return true;
}

SafeFileWriter::SafeFileWriter(std::filesystem::path target) : m_target(std::move(target)) {}

SafeFileWriter::~SafeFileWriter() { Discard(); }

namespace {

std::string RandomSuffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s(8, 'x');
  for (char& c : s) c = kDigits[rng() % (sizeof(kDigits) - 1)];
  return s;
}

}  // namespace

bool SafeFileWriter::Open() {
  Discard();
  m_failed = false;
  if (m_target.empty() || !m_target.has_filename()) return false;
  const std::filesystem::path folder = m_target.parent_path();
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path temp =
        folder / ("." + m_target.filename().string() + "." + RandomSuffix() + ".inkbrite-tmp");
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
    if (::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
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
    std::filesystem::rename(m_temp, m_target, ec);
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

bool WriteFileBytesSafely(const std::filesystem::path& target, const void* data, size_t size) {
  SafeFileWriter writer(target);
  return writer.Open() && writer.Write(data, size) && writer.Commit();
}

}  // namespace inkbrite
