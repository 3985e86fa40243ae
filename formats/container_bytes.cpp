// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/container_bytes.h"

#include "platform/file_io.h"

namespace inkbrite {

bool WriteEncodedContainer(CxImage& image, std::FILE* file, ContainerByteEncoder encode,
                           const char* writeError) {
  if (file == nullptr) {
    image.SetLastError("Encode: no file");
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!encode(image, bytes)) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    image.SetLastError(writeError);
    return false;
  }
  return true;
}

int WriteThroughContainer(const std::filesystem::path& path, const DibImage& image, int colourMode,
                          int quality, ContainerByteEncoder encode) {
  try {
    if (!image.Is24Bit()) return 0;
    CxImage container;
    if (!image.ToContainer(colourMode != 0, container)) return 0;
    container.SetJpegQuality(quality);
    std::vector<uint8_t> bytes;
    if (!encode(container, bytes)) return 0;
    return WriteFileBytesSafely(path, bytes.data(), bytes.size()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace inkbrite
