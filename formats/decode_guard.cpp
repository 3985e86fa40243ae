// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/decode_guard.h"

#include <vector>

#include "formats/file_probe.h"

namespace inkbrite {

int ReadFileAndDecode(FileProbe& file, uint64_t maxBytes,
                      int (*decode)(const uint8_t*, size_t, DibImage&, int*), DibImage& image,
                      int* greySource) {
  std::vector<uint8_t> bytes;
  const int read =
      GuardedDecode(image, [&] { return file.ReadAll(maxBytes, bytes) && !bytes.empty() ? 1 : 0; });
  if (read == 0) return 0;
  return decode(bytes.data(), bytes.size(), image, greySource);
}

}  // namespace inkbrite
