// SPDX-License-Identifier: GPL-2.0-or-later
// UFO files: JPEG files whose first ten bytes were overwritten. Putting the
// JFIF start back makes them ordinary JPEG data again.
#include <algorithm>
#include <new>
#include <vector>

#include "formats/jpeg/jpeg_codec.h"
#include "platform/read_status.h"

namespace inkbrite {

namespace {

// Start of image, APP0 marker, segment length 16, "JFIF" without its zero.
constexpr uint8_t kJfifStart[10] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};

}  // namespace

int ReadUfoFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadUfoFile(file, image, greySource);
}

int ReadUfoFile(FileProbe& file, DibImage& image, int* greySource) {
  std::vector<uint8_t> bytes;
  // Compressed data larger than the largest picture accepted is not read.
  if (!file.ReadAll(kMaxDibBytes, bytes) || bytes.size() < 11) return 0;
  std::copy(std::begin(kJfifStart), std::end(kJfifStart), bytes.begin());
  return ReadJpegMemory(bytes.data(), bytes.size(), image, greySource);
}

int DecodeUfoBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  if (data == nullptr || size < 11) return 0;
  std::vector<uint8_t> bytes;
  try {
    bytes.assign(data, data + size);
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return 0;
  }
  std::copy(std::begin(kJfifStart), std::end(kJfifStart), bytes.begin());
  return ReadJpegMemory(bytes.data(), bytes.size(), image, greySource);
}

}  // namespace inkbrite
