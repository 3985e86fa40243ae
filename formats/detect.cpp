// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/detect.h"
#include "platform/ascii_case.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace inkbrite {
namespace {

struct Signature {
  size_t offset;
  std::array<uint8_t, 12> bytes;
  size_t length;
  ImageFormat format;
};

// Tested in this order against the first 16 bytes; the first match wins. A
// TIFF is known by its byte-order mark alone and a placeable metafile by the
// first half of its key; enhanced metafiles and UFO files have no signature.
constexpr Signature kSignatures[] = {
    {0, {0xFF, 0xD8}, 2, kFormatJpeg},
    {0, {'G', 'I', 'F'}, 3, kFormatGif},
    {0, {'B', 'M'}, 2, kFormatBmp},
    {1, {'P', 'N', 'G'}, 3, kFormatPng},
    {0, {'I', 'I'}, 2, kFormatTiff},
    {0, {'M', 'M'}, 2, kFormatTiff},
    {0, {0xD7, 0xCD}, 2, kFormatMetafile},
    {0, {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A}, 12, kFormatJp2},
    {0, {0xFF, 0x4F, 0xFF, 0x51}, 4, kFormatJ2kStream},
};

struct Extension {
  const char* text;
  ImageFormat format;
};

constexpr Extension kExtensions[] = {
    {".jpg", kFormatJpeg},      {".jpeg", kFormatJpeg},     {".gif", kFormatGif},
    {".ufo", kFormatUfo},       {".bmp", kFormatBmp},       {".dib", kFormatBmp},
    {".png", kFormatPng},       {".tif", kFormatTiff},      {".tiff", kFormatTiff},
    {".wmf", kFormatMetafile},  {".emf", kFormatMetafile},  {".jp2", kFormatJp2},
    {".j2k", kFormatJ2kStream}, {".jpc", kFormatJ2kStream},
};

ImageFormat FromSignature(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return kFormatUnknown;
  uint8_t head[16];
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return kFormatUnknown;
  for (const Signature& s : kSignatures) {
    if (std::memcmp(head + s.offset, s.bytes.data(), s.length) == 0) return s.format;
  }
  return kFormatUnknown;
}

}  // namespace

ImageFormat DetectImageFormat(const std::filesystem::path& path, bool probeContent) {
  if (probeContent) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      const ImageFormat f = FromSignature(path);
      if (f != kFormatUnknown) return f;
    }
  }
  // The text from the last "." of the whole path to its end.
  const std::string text = path.string();
  const size_t dot = text.rfind('.');
  if (dot == std::string::npos) return kFormatUnknown;
  const std::string ext = text.substr(dot);
  for (const Extension& e : kExtensions) {
    if (EqualsIgnoringAsciiCase(ext, e.text)) return e.format;
  }
  return kFormatUnknown;
}

}  // namespace inkbrite
