// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/picture_size.h"

#include "formats/detect.h"
#include "formats/file_probe.h"
#include "formats/format_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace inkbrite {

namespace {

// The bytes read from the start of a file.
constexpr size_t kHeadBytes = size_t{256} << 10;
// The bytes read at a TIFF directory that lies beyond them.
constexpr size_t kDirectoryBytes = size_t{64} << 10;
constexpr uint64_t kMaxSide = 65535;

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Be32(const uint8_t* p) { return (Be16(p) << 16) | Be16(p + 2); }
uint32_t Le16(const uint8_t* p) { return (uint32_t{p[1]} << 8) | p[0]; }
uint32_t Le32(const uint8_t* p) { return (Le16(p + 2) << 16) | Le16(p); }

bool StartsWith(const uint8_t* data, size_t size, std::string_view magic) {
  return size >= magic.size() && std::memcmp(data, magic.data(), magic.size()) == 0;
}

bool Set(uint64_t width, uint64_t height, PictureSize& out) {
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
  out = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
  return true;
}

bool JpegSize(const uint8_t* data, size_t size, PictureSize& out) {
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    const size_t length = Be16(data + at + 2);
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (at + 9 > size || length < 7) return false;
      return Set(Be16(data + at + 7), Be16(data + at + 5), out);
    }
    if (marker == 0xDA || marker == 0xD9 || length < 2) return false;
    at += 2 + length;
  }
  return false;
}

// A TIFF directory's width and height (tags 256 and 257) from `ifd`, its
// bytes up to `end`.
bool TiffDirectorySize(const uint8_t* ifd, const uint8_t* end, bool big, PictureSize& out) {
  auto u16 = [big](const uint8_t* p) { return big ? Be16(p) : Le16(p); };
  auto u32 = [big](const uint8_t* p) { return big ? Be32(p) : Le32(p); };
  if (end - ifd < 2) return false;
  const uint32_t count = u16(ifd);
  uint64_t width = 0, height = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = ifd + 2 + size_t{12} * i;
    if (end - entry < 12) break;
    const uint32_t tag = u16(entry), type = u16(entry + 2);
    if (tag != 256 && tag != 257) continue;
    uint64_t value = 0;
    if (type == 3) {
      value = u16(entry + 8);
    } else if (type == 4) {
      value = u32(entry + 8);
    } else {
      return false;
    }
    (tag == 256 ? width : height) = value;
  }
  return Set(width, height, out);
}

bool WebpSize(const uint8_t* data, size_t size, PictureSize& out) {
  if (size < 30) return false;
  const uint8_t* chunk = data + 12;
  const uint8_t* body = data + 20;
  if (StartsWith(chunk, 4, "VP8X"))
    return Set(1 + (Le32(body + 4) & 0xFFFFFF), 1 + (Le32(body + 7) & 0xFFFFFF), out);
  if (StartsWith(chunk, 4, "VP8L")) {
    if (body[0] != 0x2F) return false;
    const uint32_t bits = Le32(body + 1);
    return Set(1 + (bits & 0x3FFF), 1 + ((bits >> 14) & 0x3FFF), out);
  }
  if (StartsWith(chunk, 4, "VP8 ")) {
    if (body[3] != 0x9D || body[4] != 0x01 || body[5] != 0x2A) return false;
    return Set(Le16(body + 6) & 0x3FFF, Le16(body + 8) & 0x3FFF, out);
  }
  return false;
}

// The largest "ispe" property of an AVIF (ISO base media) file's head.
bool AvifSize(const uint8_t* data, size_t size, PictureSize& out) {
  uint64_t best = 0;
  bool found = false;
  for (size_t at = 4; at + 16 <= size; ++at) {
    if (std::memcmp(data + at, "ispe", 4) != 0) continue;
    PictureSize extent;
    if (Set(Be32(data + at + 8), Be32(data + at + 12), extent) && extent.Pixels() > best) {
      best = extent.Pixels();
      out = extent;
      found = true;
    }
  }
  return found;
}

// Reads a JPEG XL code stream's bits, least significant first.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint64_t Read(int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i, ++m_bit) {
      if (m_bit / 8 >= m_size) {
        m_short = true;
        return 0;
      }
      value |= uint64_t{(m_data[m_bit / 8] >> (m_bit % 8)) & 1U} << i;
    }
    return value;
  }
  // A side minus one in one of four widths, plus one.
  uint64_t Side() {
    static constexpr std::array<int, 4> kBits = {9, 13, 18, 30};
    return 1 + Read(kBits[Read(2)]);
  }
  bool Short() const { return m_short; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_bit = 0;
  bool m_short = false;
};

bool JxlCodestreamSize(const uint8_t* data, size_t size, PictureSize& out) {
  if (size < 2 || data[0] != 0xFF || data[1] != 0x0A) return false;
  BitReader bits(data + 2, size - 2);
  const bool small = bits.Read(1) != 0;
  const uint64_t height = small ? (bits.Read(5) + 1) * 8 : bits.Side();
  const uint64_t ratio = bits.Read(3);
  // Width over height for ratios 1 to 7.
  static constexpr std::array<std::array<uint64_t, 2>, 8> kRatios = {
      {{0, 1}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}}};
  uint64_t width = 0;
  if (ratio == 0) {
    width = small ? (bits.Read(5) + 1) * 8 : bits.Side();
  } else {
    width = height * kRatios[ratio][0] / kRatios[ratio][1];
  }
  return !bits.Short() && Set(width, height, out);
}

// The code stream in a JPEG XL container: the "jxlc" box, or the first
// "jxlp" box (after its part number).
bool JxlContainerSize(const uint8_t* data, size_t size, PictureSize& out) {
  size_t at = 0;
  while (at + 8 <= size) {
    uint64_t length = Be32(data + at);
    size_t header = 8;
    if (length == 1) {
      if (at + 16 > size) return false;
      length = (uint64_t{Be32(data + at + 8)} << 32) | Be32(data + at + 12);
      header = 16;
    }
    const uint8_t* type = data + at + 4;
    if (std::memcmp(type, "jxlc", 4) == 0) {
      return JxlCodestreamSize(data + at + header, size - at - header, out);
    }
    if (std::memcmp(type, "jxlp", 4) == 0 && at + header + 4 <= size) {
      return JxlCodestreamSize(data + at + header + 4, size - at - header - 4, out);
    }
    if (length == 0 || length < header || length > size - at) return false;
    at += length;
  }
  return false;
}

bool Jp2Size(const uint8_t* data, size_t size, PictureSize& out) {
  for (size_t at = 4; at + 12 <= size; ++at) {
    if (std::memcmp(data + at, "ihdr", 4) == 0) {
      return Set(Be32(data + at + 8), Be32(data + at + 4), out);
    }
  }
  return false;
}

bool J2kSize(const uint8_t* data, size_t size, PictureSize& out) {
  // SOC, then SIZ: Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz.
  if (size < 24 || data[2] != 0xFF || data[3] != 0x51) return false;
  const uint32_t x = Be32(data + 8), y = Be32(data + 12);
  const uint32_t x0 = Be32(data + 16), y0 = Be32(data + 20);
  if (x <= x0 || y <= y0) return false;
  return Set(x - x0, y - y0, out);
}

bool BmpSize(const uint8_t* data, size_t size, PictureSize& out) {
  if (size < 26) return false;
  if (Le32(data + 14) == 12) return Set(Le16(data + 18), Le16(data + 20), out);
  const auto height = static_cast<int32_t>(Le32(data + 22));
  const auto width = static_cast<int32_t>(Le32(data + 18));
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  return Set(static_cast<uint64_t>(width), static_cast<uint64_t>(height < 0 ? -height : height),
             out);
}

bool IsTiff(const uint8_t* data, size_t size, bool& big) {
  big = StartsWith(data, size, std::string_view("MM\0*", 4));
  return big || StartsWith(data, size, std::string_view("II*\0", 4));
}

bool TiffSize(const uint8_t* data, size_t size, PictureSize& out) {
  bool big = false;
  if (!IsTiff(data, size, big) || size < 8) return false;
  const uint32_t ifd = big ? Be32(data + 4) : Le32(data + 4);
  if (ifd < 8 || ifd >= size) return false;
  return TiffDirectorySize(data + ifd, data + size, big, out);
}

}  // namespace

namespace picture_size {

bool Jpeg(const uint8_t* data, size_t size, PictureSize& out) {
  return size >= 2 && data[0] == 0xFF && data[1] == 0xD8 && JpegSize(data, size, out);
}
bool Gif(const uint8_t* data, size_t size, PictureSize& out) {
  return StartsWith(data, size, "GIF8") && size >= 10 && Set(Le16(data + 6), Le16(data + 8), out);
}
bool Bmp(const uint8_t* data, size_t size, PictureSize& out) {
  return StartsWith(data, size, "BM") && BmpSize(data, size, out);
}
bool Png(const uint8_t* data, size_t size, PictureSize& out) {
  return StartsWith(data, size, "\x89PNG\r\n\x1A\n") && size >= 24 &&
         std::memcmp(data + 12, "IHDR", 4) == 0 && Set(Be32(data + 16), Be32(data + 20), out);
}
bool Tiff(const uint8_t* data, size_t size, PictureSize& out) { return TiffSize(data, size, out); }
bool Jp2(const uint8_t* data, size_t size, PictureSize& out) {
  return size >= 8 && std::memcmp(data + 4, "jP  ", 4) == 0 && Jp2Size(data, size, out);
}
bool J2k(const uint8_t* data, size_t size, PictureSize& out) {
  return size >= 2 && data[0] == 0xFF && data[1] == 0x4F && J2kSize(data, size, out);
}
bool Webp(const uint8_t* data, size_t size, PictureSize& out) {
  return StartsWith(data, size, "RIFF") && size >= 12 && std::memcmp(data + 8, "WEBP", 4) == 0 &&
         WebpSize(data, size, out);
}
bool Avif(const uint8_t* data, size_t size, PictureSize& out) {
  return size >= 8 && std::memcmp(data + 4, "ftyp", 4) == 0 && AvifSize(data, size, out);
}
bool Jxl(const uint8_t* data, size_t size, PictureSize& out) {
  if (size >= 2 && data[0] == 0xFF && data[1] == 0x0A) return JxlCodestreamSize(data, size, out);
  return size >= 12 && std::memcmp(data + 4, "JXL ", 4) == 0 && JxlContainerSize(data, size, out);
}

}  // namespace picture_size

bool ReadPictureSize(const uint8_t* data, size_t size, PictureSize& out) {
  out = {};
  if (data == nullptr || size < 8) return false;
  // The format as detection knows it by content, and its row's reader.
  const FileFormat* format = FindFileFormat(DetectImageFormatInMemory(data, size, {}));
  return format != nullptr && format->readSize != nullptr && format->readSize(data, size, out);
}

bool ReadPictureFileSize(const std::filesystem::path& path, PictureSize& out) {
  FileProbe file(path);
  return ReadPictureFileSize(file, out);
}

bool ReadPictureFileSize(FileProbe& file, PictureSize& out) {
  out = {};
  if (!file.IsOpen()) return false;
  const std::span<const uint8_t> head = file.Head(kHeadBytes);
  bool found = ReadPictureSize(head.data(), head.size(), out);
  // A TIFF directory written after the pixels.
  bool big = false;
  if (!found && head.size() >= 8 && IsTiff(head.data(), head.size(), big)) {
    const uint32_t ifd = big ? Be32(head.data() + 4) : Le32(head.data() + 4);
    if (ifd >= head.size()) {
      std::vector<uint8_t> directory(kDirectoryBytes);
      directory.resize(file.ReadAt(ifd, directory.data(), directory.size()));
      found = TiffDirectorySize(directory.data(), directory.data() + directory.size(), big, out);
    }
  }
  return found;
}

}  // namespace inkbrite
