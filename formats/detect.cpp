// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/detect.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "platform/ascii_case.h"

namespace inkbrite {
namespace {

// The bytes of the signatures: every signature lies within them.
constexpr size_t kHeadBytes = 16;

// The signatures (within the first kHeadBytes) and the content tests
// (given every byte there is, from kHeadBytes on) of the format table, row
// by row, against the first `size` bytes; signatures that do not fit are not
// compared. The first match wins.
ImageFormat FromHead(const uint8_t* head, size_t size) {
  const size_t signatureBytes = std::min(size, kHeadBytes);
  for (const FileFormat& f : FileFormats()) {
    for (const FormatSignature& s : f.signatures) {
      if (s.length > 0 && s.offset + s.length <= signatureBytes &&
          std::memcmp(head + s.offset, s.bytes.data(), s.length) == 0)
        return f.code;
    }
    if (f.contentTest != nullptr && size >= kHeadBytes && f.contentTest(head, size)) {
      return f.code;
    }
  }
  return kFormatUnknown;
}

// The text from the last "." to its end, against the extensions the table
// knows by name, row by row.
ImageFormat FromName(std::string_view text) {
  const size_t dot = text.rfind('.');
  if (dot == std::string_view::npos) return kFormatUnknown;
  const std::string_view ext = text.substr(dot);
  for (const FileFormat& f : FileFormats()) {
    for (const FormatExtension& e : f.extensions) {
      const bool named = e.use == NameUse::kByName || e.use == NameUse::kByNameInBatch;
      if (named && EqualsIgnoringAsciiCase(ext, e.text)) return f.code;
    }
  }
  return kFormatUnknown;
}

}  // namespace

ImageFormat DetectImageFormat(const std::filesystem::path& path, bool probeContent) {
  if (probeContent) {
    FileProbe file(path);
    return DetectImageFormat(file);
  }
  // The whole path's text: a dot in a folder name counts as in the name.
  return FromName(path.native());
}

ImageFormat DetectImageFormat(FileProbe& file) {
  // A file shorter than the signatures' bytes is judged by its name.
  const std::span<const uint8_t> head = file.Head(kContentTestBytes);
  if (head.size() >= kHeadBytes) {
    const ImageFormat f = FromHead(head.data(), head.size());
    if (f != kFormatUnknown) return f;
  }
  return FromName(file.Path().native());
}

ImageFormat DetectImageFormatInMemory(const uint8_t* data, size_t size, std::string_view nameHint) {
  if (data != nullptr) {
    const ImageFormat f = FromHead(data, std::min(size, kContentTestBytes));
    if (f != kFormatUnknown) return f;
  }
  return FromName(nameHint);
}

}  // namespace inkbrite
