// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/bmp/bmp_codec.h"

#include <utility>
#include <vector>

#include "core/bmp_decode.h"
#include "formats/decode_guard.h"

namespace inkbrite {

namespace {

int GreyFromBits(int bits) { return bits < 2 ? 1 : 0; }

}  // namespace

int ReadBmpFile(FileProbe& file, DibImage& image, int* greySource) {
  int bits = 0;
  std::vector<uint8_t> bytes;
  if (!file.ReadAll(kMaxBmpFileBytes, bytes) || !LoadBmpFileBytes(std::move(bytes), image, &bits)) {
    return 0;
  }
  if (greySource != nullptr) *greySource = GreyFromBits(bits);
  return 1;
}

int DecodeBmpBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] {
    std::vector<uint8_t> block;
    int bits = 0;
    if (data == nullptr || !DecodeBmp(data, size, block, &bits)) return 0;
    DibImage loaded;
    if (!loaded.Attach(std::move(block)) || !loaded.ConvertTo24Bit()) return 0;
    image = std::move(loaded);
    if (greySource != nullptr) *greySource = GreyFromBits(bits);
    return 1;
  });
}

int WriteBmpFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int /*quality*/) {
  return image.SaveBmp(path, colourMode != 0) ? 1 : 0;
}

}  // namespace inkbrite
