// SPDX-License-Identifier: GPL-2.0-or-later
// A small zip writer for e-books (EPUB's container): every entry's local
// header carries no extra field, so the "mimetype" entry written first and
// stored is what readers look for at byte 30; names are flagged UTF-8; every
// entry is dated 1980-01-01 00:00 (the zip format's first day), so the same
// entries always give the same bytes. Entries are stored or deflated
// (zlib, level 6). A book beyond what a zip without ZIP64 records holds
// (4 GiB, 65535 entries) fails rather than being written half right.
//
// Threads: one writer, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace inkbrite {

class SafeFileWriter;

class OcfZipWriter {
 public:
  // Writes into `out`, which must be open; the caller commits or discards it.
  explicit OcfZipWriter(SafeFileWriter& out) : m_out(out) {}

  // False on a write error, a name above 65535 bytes, or a book too large.
  bool Add(const std::string& name, const uint8_t* data, size_t size, bool deflate);
  bool Add(const std::string& name, const std::string& text, bool deflate) {
    return Add(name, reinterpret_cast<const uint8_t*>(text.data()), text.size(), deflate);
  }
  // Writes the central directory. False on any error so far.
  bool Close();

 private:
  struct Entry {
    std::string name;
    uint32_t crc = 0;
    uint32_t packed = 0;
    uint32_t size = 0;
    uint32_t offset = 0;
    uint16_t method = 0;
  };
  bool Put(const std::vector<uint8_t>& bytes);

  SafeFileWriter& m_out;
  std::vector<Entry> m_entries;
  uint64_t m_offset = 0;
  bool m_failed = false;
};

}  // namespace inkbrite
