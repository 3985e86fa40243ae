// File reading and crash-safe file writing.
//
// Nothing in Inkbrite writes a file in place. SafeFileWriter writes to a new
// temporary file in the target's folder and renames it over the target only
// when every byte was written and flushed to disk; a failed or interrupted
// write leaves the previous file (possibly the source page itself) intact and
// never leaves a half-written file under the target's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace inkbrite {

// Reads a whole file. False when it cannot be opened or read, or when it is
// larger than maxBytes (nothing is read then).
bool ReadFileBytes(const std::filesystem::path& path, uint64_t maxBytes,
                   std::vector<uint8_t>& bytes);

class SafeFileWriter {
 public:
  explicit SafeFileWriter(std::filesystem::path target);
  ~SafeFileWriter();  // discards the temporary file unless committed
  SafeFileWriter(const SafeFileWriter&) = delete;
  SafeFileWriter& operator=(const SafeFileWriter&) = delete;

  // Creates the temporary file beside the target. False when the folder is
  // missing or not writable.
  bool Open();
  // Appends bytes; false (and the writer is failed) on any error.
  bool Write(const void* data, size_t size);
  // The open stream, for codec libraries that write to a FILE*. Errors they
  // hit show in ferror() and make Commit fail.
  std::FILE* Stream() { return m_file; }
  // Flushes, syncs, closes and renames over the target. False on any error,
  // in which case the target is unchanged and the temporary file removed.
  bool Commit();
  // Closes and removes the temporary file; the target is unchanged.
  void Discard();

  const std::filesystem::path& Target() const { return m_target; }
  const std::filesystem::path& TempPath() const { return m_temp; }

 private:
  std::filesystem::path m_target;
  std::filesystem::path m_temp;
  std::FILE* m_file = nullptr;
  bool m_failed = false;
};

// Writes a whole buffer to `target` through a SafeFileWriter.
bool WriteFileBytesSafely(const std::filesystem::path& target, const void* data, size_t size);

}  // namespace inkbrite
