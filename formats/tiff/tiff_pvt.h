// SPDX-License-Identifier: GPL-2.0-or-later
// What the TIFF reader and writer share: the memory stream libtiff reads
// from and writes to, and opening a libtiff handle on it with every library
// message silenced.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace inkbrite::tiff {

// A client stream for libtiff. An input stream (fixed = 1) wraps bytes the
// caller owns and never grows nor accepts writes; an output stream
// (fixed = 0) owns its bytes in `storage` and grows as libtiff writes.
// Reads and writes never touch memory outside [data, data + size).
struct TiffMemoryStream {
  uint8_t* data = nullptr;
  uint32_t position = 0;
  uint32_t size = 0;
  int fixed = 1;
  std::vector<uint8_t> storage;  // the bytes of an output stream

  static TiffMemoryStream Input(const uint8_t* bytes, size_t count);
  static TiffMemoryStream Output() {
    TiffMemoryStream stream;
    stream.fixed = 0;
    return stream;
  }
  // Appends through the stream's own write procedure. False on failure.
  bool Append(const uint8_t* bytes, size_t count);
};

// The largest stream: offsets are 32-bit and no picture may exceed 2^31
// bytes.
inline constexpr uint64_t kMaxStreamBytes = uint64_t{1} << 31;

// Opens libtiff on `stream` under `name` ("(FakeInput)", "(FakeOutput)")
// with `mode` ("r", "w"). Warnings and errors are swallowed by the handle's
// own handlers; libtiff's process-wide ones are set to none once, at the
// first open, and never touched again. Single allocations are capped so that a damaged header
// cannot make libtiff take gigabytes. Null on failure.
TIFF* OpenStream(TiffMemoryStream& stream, const char* name, const char* mode);

// Builds a JPEG interchange stream from an old-style JPEG TIFF (compression
// 6) held in `file` and appends it to `out`. Only the first image is used.
// 0 on success, 1 when the tags are missing, damaged or not understood (the
// caller then falls back on libtiff's own decoder). Every table, strip and
// offset is checked against the file's bounds.
int ExtractOJpegStream(const uint8_t* file, size_t fileSize, TiffMemoryStream& out);

}  // namespace inkbrite::tiff
