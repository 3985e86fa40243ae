// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/detect.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/format_table.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"

namespace inkbrite {
namespace {

// The signatures of the format table, row by row, against the first 16
// bytes; the first match wins.
// Only a regular file is probed: opening a FIFO could wait forever.
ImageFormat FromSignature(const std::filesystem::path& path) {
  std::FILE* file = OpenRegularFile(path);
  if (file == nullptr) return kFormatUnknown;
  uint8_t head[16];
  const size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  if (got != sizeof head) return kFormatUnknown;
  for (const FileFormat& f : FileFormats()) {
    for (const FormatSignature& s : f.signatures) {
      if (s.length > 0 && s.offset + s.length <= sizeof head &&
          std::memcmp(head + s.offset, s.bytes.data(), s.length) == 0)
        return f.code;
    }
  }
  return kFormatUnknown;
}

}  // namespace

ImageFormat DetectImageFormat(const std::filesystem::path& path, bool probeContent) {
  if (probeContent) {
    const ImageFormat f = FromSignature(path);
    if (f != kFormatUnknown) return f;
  }
  // The text from the last "." of the whole path to its end, against the
  // extensions the table knows by name, row by row.
  const std::string text = path.string();
  const size_t dot = text.rfind('.');
  if (dot == std::string::npos) return kFormatUnknown;
  const std::string ext = text.substr(dot);
  for (const FileFormat& f : FileFormats()) {
    for (const FormatExtension& e : f.extensions) {
      const bool named = e.use == NameUse::kByName || e.use == NameUse::kByNameInBatch;
      if (named && EqualsIgnoringAsciiCase(ext, e.text)) return f.code;
    }
  }
  return kFormatUnknown;
}

}  // namespace inkbrite
