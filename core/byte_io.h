// SPDX-License-Identifier: GPL-2.0-or-later
// Field access for file and DIB headers, little-endian (BMP, metafiles) and
// big-endian (PNG, JPEG 2000), independent of the host's byte order and
// alignment.
#pragma once

#include <cstdint>

namespace inkbrite {

inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t ReadLE32s(const uint8_t* p) { return static_cast<int32_t>(ReadLE32(p)); }

inline uint32_t ReadBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t ReadBE64(const uint8_t* p) {
  return (static_cast<uint64_t>(ReadBE32(p)) << 32) | ReadBE32(p + 4);
}

inline void WriteLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace inkbrite
