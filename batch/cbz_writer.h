// SPDX-License-Identifier: GPL-2.0-or-later
// Writes a CBZ (a zip archive) through a SafeFileWriter: entries in the
// order they are added, each stored (for pages a deflate cannot shrink) or
// deflated, with the modification time given and nothing else that varies:
// no access or change times, owner 0, fixed permissions. The same entries
// always give the same bytes. ZIP64 records are written where sizes or
// offsets need them. Names are UTF-8; a name that is not plain ASCII sets
// the entry's UTF-8 flag (general purpose bit 11).
//
// Threads: one writer, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace inkbrite {

class SafeFileWriter;

class CbzWriter {
 public:
  // Writes into `out`, which must be open; the caller commits or discards it.
  explicit CbzWriter(SafeFileWriter& out);
  ~CbzWriter();
  CbzWriter(const CbzWriter&) = delete;
  CbzWriter& operator=(const CbzWriter&) = delete;

  // False when the archive cannot be started.
  bool Open();
  // A file entry (name with '/'), modified at `mtime` (seconds since 1970;
  // 0: none given), stored or deflated.
  bool AddFile(const std::string& name, const uint8_t* data, size_t size, int64_t mtime,
               bool store);
  // A folder entry ("name/").
  bool AddFolder(const std::string& name, int64_t mtime);
  // Writes the central directory. False on any error so far.
  bool Close();

 private:
  struct Archive;
  Archive* m_archive;
  bool m_failed = false;
};

}  // namespace inkbrite
