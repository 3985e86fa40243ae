// SPDX-License-Identifier: GPL-2.0-or-later
// A file opened once for everything that looks at it.
//
// Whether a file is a book, which format it holds, the picture's size and
// its decoding all start from the file's first bytes. A FileProbe opens the
// file once (OpenRegularFile: a FIFO or device is refused), keeps it open,
// and reads its first bytes once; the book test (sources/page_source.h),
// detection (formats/detect.h), the size reader (formats/picture_size.h)
// and the readers of the format table all take the probe, so a loose file
// is opened once for one use, however many of them look at it.
//
// A probe belongs to one thread at a time. A file that cannot be opened
// keeps the reason (OpenStatus); every reader given such a probe notes it
// as the reason of its failure (platform/read_status.h), as it would have
// had it opened the file itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <vector>

#include "platform/read_status.h"

namespace inkbrite {

class FileProbe {
 public:
  // The head first read: every signature, a tar file's mark at byte 257 and
  // most headers lie within it; more is read when a reader asks for it.
  static constexpr size_t kFirstHeadBytes = 4096;

  explicit FileProbe(std::filesystem::path path);
  ~FileProbe();
  FileProbe(const FileProbe&) = delete;
  FileProbe& operator=(const FileProbe&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  bool IsOpen() const { return m_file != nullptr; }
  // Why the file could not be opened (kIoError and errno); kNone when open.
  ReadStatus OpenStatus() const { return m_openStatus; }
  // Notes OpenStatus for the read under way; false when the file is not
  // open (the caller then fails).
  bool NoteIfClosed() const;
  // The file's size when it was opened; 0 when it is not open.
  uint64_t Size() const { return m_size; }

  // The first min(count, Size()) bytes (fewer when the file could not be
  // read so far), read once: a longer head is read on from the bytes held.
  std::span<const uint8_t> Head(size_t count = kFirstHeadBytes);
  // Up to `count` bytes from `offset` into `out`; the count read.
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t count);
  // The stream at the start of the file, for a decoder that reads through
  // stdio; null when the file is not open. Reading it leaves the head held.
  std::FILE* Rewound();
  // The whole file, when it holds at most `maxBytes` (else kOverByteLimit is
  // noted): the rules of ReadFileBytes (platform/file_io.h), from the open
  // file. False, `bytes` untouched, on any failure (its reason noted).
  bool ReadAll(uint64_t maxBytes, std::vector<uint8_t>& bytes);

 private:
  std::filesystem::path m_path;
  std::FILE* m_file = nullptr;
  ReadStatus m_openStatus;
  uint64_t m_size = 0;
  std::vector<uint8_t> m_head;
  bool m_headEnded = false;  // a read of the head stopped short
};

}  // namespace inkbrite
