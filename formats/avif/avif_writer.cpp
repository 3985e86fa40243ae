// SPDX-License-Identifier: GPL-2.0-or-later
// Writing AVIF files with libavif: the page to YUV, encoded into memory,
// then written through a SafeFileWriter.
#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/avif/avif_codec.h"
#include "formats/plain_pixels.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

// The AV1 encoder libavif drives (see avif_codec.h and the README for the
// measurements behind the choice).
constexpr avifCodecChoice kAvifEncoderChoice = AVIF_CODEC_CHOICE_AOM;

struct ImageDeleter {
  void operator()(avifImage* i) const { avifImageDestroy(i); }
};
struct EncoderDeleter {
  void operator()(avifEncoder* e) const { avifEncoderDestroy(e); }
};
struct Output {
  avifRWData data = AVIF_DATA_EMPTY;
  ~Output() { avifRWDataFree(&data); }
};

// The YUV picture of the pixels: 4:0:0 with the grey values as full-range
// luma, or 4:2:0 through libavif's conversion.
std::unique_ptr<avifImage, ImageDeleter> ToYuv(const PlainPixels& pixels) {
  const bool grey = pixels.channels == 1;
  std::unique_ptr<avifImage, ImageDeleter> image(
      avifImageCreate(static_cast<uint32_t>(pixels.width), static_cast<uint32_t>(pixels.height), 8,
                      grey ? AVIF_PIXEL_FORMAT_YUV400 : AVIF_PIXEL_FORMAT_YUV420));
  if (!image) return nullptr;
  image->yuvRange = AVIF_RANGE_FULL;
  image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
  image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
  image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
  if (grey) {
    avifImageAllocatePlanes(image.get(), AVIF_PLANES_YUV);
    uint8_t* luma = image->yuvPlanes[AVIF_CHAN_Y];
    if (luma == nullptr) return nullptr;
    for (int32_t y = 0; y < pixels.height; ++y) {
      std::memcpy(luma + static_cast<size_t>(y) * image->yuvRowBytes[AVIF_CHAN_Y],
                  pixels.bytes.data() + pixels.RowBytes() * static_cast<size_t>(y),
                  pixels.RowBytes());
    }
    return image;
  }
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image.get());
  rgb.format = AVIF_RGB_FORMAT_RGB;
  rgb.depth = 8;
  rgb.pixels = const_cast<uint8_t*>(pixels.bytes.data());  // only read
  rgb.rowBytes = static_cast<uint32_t>(pixels.RowBytes());
  if (avifImageRGBToYUV(image.get(), &rgb) != AVIF_RESULT_OK) return nullptr;
  return image;
}

}  // namespace

int AvifQuantizerForQuality(int quality) {
  quality = std::clamp(quality, 0, 100);
  return ((100 - quality) * 63 + 50) / 100;
}

bool EncodeAvifPixels(const PlainPixels& pixels, int quality, std::vector<uint8_t>& file) {
  const std::unique_ptr<avifImage, ImageDeleter> yuv = ToYuv(pixels);
  if (!yuv) return false;
  std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avifEncoderCreate());
  if (!encoder) return false;
  encoder->codecChoice = kAvifEncoderChoice;
  encoder->maxThreads = 1;
  encoder->speed = kAvifSpeed;
  encoder->minQuantizer = encoder->maxQuantizer = AvifQuantizerForQuality(quality);
  Output output;
  if (avifEncoderWrite(encoder.get(), yuv.get(), &output.data) != AVIF_RESULT_OK) return false;
  file.assign(output.data.data, output.data.data + output.data.size);
  return true;
}

int WriteAvifFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality) {
  try {
    PlainPixels pixels;
    std::vector<uint8_t> file;
    if (!PagePixels(image, colourMode == 1, pixels) || !EncodeAvifPixels(pixels, quality, file)) {
      return 0;
    }
    return WriteFileBytesSafely(path, file.data(), file.size()) ? 1 : 0;
  } catch (...) {  // no memory for the pixels
    return 0;
  }
}

}  // namespace inkbrite
