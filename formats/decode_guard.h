// SPDX-License-Identifier: GPL-2.0-or-later
// The guard around every reader's decoder, and reading a whole file for a
// decoder that works on bytes in memory.
//
// A reader never lets an exception out (std::bad_alloc for a picture's
// memory, a codec library's error turned into an exception) and never hands
// back half a picture: any failure gives 0 with the image cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include <new>

#include "core/dib_image.h"
#include "platform/read_status.h"

namespace inkbrite {

// Runs `decode` (returning 1 or 0); an exception counts as 0 (noted as out
// of memory for std::bad_alloc, as damage for any other). On 0 the image is
// cleared.
template <class Decode>
int GuardedDecode(DibImage& image, Decode&& decode) noexcept {
  int result = 0;
  try {
    result = decode();
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
  } catch (...) {
    NoteReadFailure(ReadError::kDamaged);
  }
  if (result == 0) image.Clear();
  return result;
}

class FileProbe;

// Reads the whole probed file, if it holds at most `maxBytes`, and decodes
// it with `decode`. 0 with the image cleared when the file cannot be read,
// is empty or too large, or does not decode.
int ReadFileAndDecode(FileProbe& file, uint64_t maxBytes,
                      int (*decode)(const uint8_t*, size_t, DibImage&, int*), DibImage& image,
                      int* greySource);

}  // namespace inkbrite
