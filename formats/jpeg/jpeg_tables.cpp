// SPDX-License-Identifier: GPL-2.0-or-later
// The luminance quantisation table of a JPEG file, from its DQT segments
// (the markers before the first scan), for the JPEG clean-up step.
#include <array>
#include <span>
#include <vector>

#include "formats/jpeg/jpeg_codec.h"

namespace inkbrite {

namespace {

// The zig-zag order of the coefficients in a DQT segment: entry i holds the
// frequency at natural (row) index kZigZag[i].
constexpr std::array<uint8_t, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Reads the tables of one DQT segment's body into `out` (table 0, the
// luminance's; `found` set when it was there); false for a damaged segment.
bool ReadDqt(const uint8_t* p, size_t size, JpegQuantisers& out, bool& found) {
  if (size == 0) return false;
  while (size > 0) {
    const int precision = p[0] >> 4, id = p[0] & 15;
    const size_t bytes = 1 + 64 * (precision != 0 ? 2 : 1);
    if (precision > 1 || size < bytes) return false;
    if (id == 0) {
      for (size_t i = 0; i < 64; ++i) {
        const uint16_t v =
            precision != 0 ? static_cast<uint16_t>(p[1 + 2 * i] << 8 | p[2 + 2 * i]) : p[1 + i];
        out.steps[kZigZag[i]] = v;
      }
      found = true;
    }
    p += bytes;
    size -= bytes;
  }
  return true;
}

}  // namespace

bool ReadJpegQuantisers(const uint8_t* data, size_t size, JpegQuantisers& out) {
  if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  JpegQuantisers tables;
  bool found = false;
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the first scan: no more tables before it
    const size_t length = static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
    if (length < 2 || at + 2 + length > size) return false;
    if (marker == 0xDB && !ReadDqt(data + at + 4, length - 2, tables, found)) return false;
    at += 2 + length;
  }
  if (!found) return false;
  for (uint16_t v : tables.steps) {
    if (v == 0) return false;  // a step of 0 is no table
  }
  out = tables;
  return true;
}

bool ReadJpegQuantisers(FileProbe& file, JpegQuantisers& out) {
  // The tables come before the first scan, in the file's first kilobytes.
  const std::span<const uint8_t> head = file.Head(size_t{64} << 10);
  return ReadJpegQuantisers(head.data(), head.size(), out);
}

bool ReadJpegQuantisers(const std::filesystem::path& path, JpegQuantisers& out) {
  FileProbe file(path);
  return ReadJpegQuantisers(file, out);
}

}  // namespace inkbrite
