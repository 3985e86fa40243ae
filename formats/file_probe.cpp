// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/file_probe.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <utility>

#include "platform/file_io.h"

namespace inkbrite {

FileProbe::FileProbe(std::filesystem::path path) : m_path(std::move(path)) {
  {
    // The reason of a failed open is the probe's own, noted again by each
    // reader given the probe.
    ReadNotes notes;
    m_file = OpenRegularFile(m_path);
    m_openStatus = notes.Status();
  }
  if (m_file == nullptr) {
    if (!m_openStatus.Failed()) m_openStatus = {ReadError::kIoError, ENOENT};
    return;
  }
  m_openStatus = {};
  const long end = std::fseek(m_file, 0, SEEK_END) == 0 ? std::ftell(m_file) : -1;
  m_size = end > 0 ? static_cast<uint64_t>(end) : 0;
  std::rewind(m_file);
}

FileProbe::~FileProbe() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool FileProbe::NoteIfClosed() const {
  if (m_file != nullptr) return true;
  NoteReadFailure(m_openStatus.error, m_openStatus.errorNumber);
  return false;
}

std::span<const uint8_t> FileProbe::Head(size_t count) {
  count = static_cast<size_t>(std::min<uint64_t>(count, m_size));
  if (m_file != nullptr && m_head.size() < count && !m_headEnded) {
    const size_t held = m_head.size();
    m_head.resize(count);
    const size_t got = ReadAt(held, m_head.data() + held, count - held);
    m_head.resize(held + got);
    m_headEnded = got < count - held;
  }
  return {m_head.data(), std::min(count, m_head.size())};
}

size_t FileProbe::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
  if (m_file == nullptr || count == 0 || offset > static_cast<uint64_t>(LONG_MAX)) return 0;
  if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) return 0;
  return std::fread(out, 1, count, m_file);
}

std::FILE* FileProbe::Rewound() {
  if (m_file == nullptr) return nullptr;
  std::rewind(m_file);
  return m_file;
}

bool FileProbe::ReadAll(uint64_t maxBytes, std::vector<uint8_t>& bytes) {
  if (!NoteIfClosed()) return false;
  if (m_size > maxBytes) {
    NoteReadFailure(ReadError::kOverByteLimit);
    return false;
  }
  std::vector<uint8_t> data;
  try {
    data.resize(static_cast<size_t>(m_size));
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return false;
  }
  // The head held already, then the rest.
  const size_t held = std::min(m_head.size(), data.size());
  std::copy_n(m_head.begin(), held, data.begin());
  if (held < data.size()) {
    const size_t want = data.size() - held;
    if (ReadAt(held, data.data() + held, want) != want) {
      // Shorter than it was when opened: cut short while being read.
      NoteReadFailure(std::ferror(m_file) ? ReadError::kIoError : ReadError::kDamaged, errno);
      return false;
    }
  }
  bytes = std::move(data);
  return true;
}

}  // namespace inkbrite
