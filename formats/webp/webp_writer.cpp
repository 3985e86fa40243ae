// SPDX-License-Identifier: GPL-2.0-or-later
// Writing WebP files: lossy pages and lossless colour-reduced pages, encoded
// into memory and then written through a SafeFileWriter.
#include <webp/encode.h>

#include <cstring>
#include <vector>

#include "formats/plain_pixels.h"
#include "formats/webp/webp_codec.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

// A picture and the memory it is encoded into, freed together.
struct Encoding {
  WebPPicture picture;
  WebPMemoryWriter output;
  bool ready = false;
  Encoding() {
    ready = WebPPictureInit(&picture) != 0;
    WebPMemoryWriterInit(&output);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &output;
  }
  ~Encoding() {
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&output);
  }
  Encoding(const Encoding&) = delete;
  Encoding& operator=(const Encoding&) = delete;
};

// A grey page straight into the luma plane (libwebp's limited-range luma of
// the grey value, as its own conversion gives for red = green = blue) with
// neutral chroma.
bool ImportGrey(const PlainPixels& grey, WebPPicture& picture) {
  picture.use_argb = 0;
  picture.colorspace = WEBP_YUV420;
  if (!WebPPictureAlloc(&picture)) return false;
  for (int32_t y = 0; y < grey.height; ++y) {
    const uint8_t* in = grey.bytes.data() + grey.RowBytes() * static_cast<size_t>(y);
    uint8_t* out = picture.y + static_cast<ptrdiff_t>(y) * picture.y_stride;
    for (int32_t x = 0; x < grey.width; ++x) {
      out[x] = static_cast<uint8_t>((56318 * in[x] + (1 << 15) + (16 << 16)) >> 16);
    }
  }
  const int chromaRows = (grey.height + 1) / 2;
  const int chromaWidth = (grey.width + 1) / 2;
  for (int y = 0; y < chromaRows; ++y) {
    std::memset(picture.u + static_cast<ptrdiff_t>(y) * picture.uv_stride, 128,
                static_cast<size_t>(chromaWidth));
    std::memset(picture.v + static_cast<ptrdiff_t>(y) * picture.uv_stride, 128,
                static_cast<size_t>(chromaWidth));
  }
  return true;
}

// Red-green-blue rows of plain pixels (grey ones widened).
std::vector<uint8_t> RgbRows(const PlainPixels& pixels) {
  if (pixels.channels == 3) return pixels.bytes;
  std::vector<uint8_t> rgb(pixels.bytes.size() * 3);
  for (size_t i = 0; i < pixels.bytes.size(); ++i) {
    rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = pixels.bytes[i];
  }
  return rgb;
}

// Encodes the pixels; the file's bytes are left in `encoding.output`.
bool Encode(const PlainPixels& pixels, const WebPConfig& config, Encoding& encoding) {
  if (!encoding.ready || !WebPValidateConfig(&config)) return false;
  WebPPicture& picture = encoding.picture;
  picture.width = pixels.width;
  picture.height = pixels.height;
  if (pixels.width > WEBP_MAX_DIMENSION || pixels.height > WEBP_MAX_DIMENSION) return false;
  if (pixels.channels == 1 && !config.lossless) {
    if (!ImportGrey(pixels, picture)) return false;
  } else {
    picture.use_argb = config.lossless ? 1 : 0;
    const std::vector<uint8_t> rgb = RgbRows(pixels);
    if (!WebPPictureImportRGB(&picture, rgb.data(), pixels.width * 3)) return false;
  }
  return WebPEncode(&config, &picture) != 0;
}

}  // namespace

int WriteWebpFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality) {
  try {
    PlainPixels pixels;
    if (!PagePixels(image, colourMode == 1, pixels)) return 0;
    WebPConfig config;
    if (!WebPConfigInit(&config)) return 0;
    config.quality = static_cast<float>(quality < 0 ? 0 : quality > 100 ? 100 : quality);
    config.method = kWebpLossyMethod;
    Encoding encoding;
    if (!Encode(pixels, config, encoding)) return 0;
    return WriteFileBytesSafely(path, encoding.output.mem, encoding.output.size) ? 1 : 0;
  } catch (...) {  // no memory for the pixels
    return 0;
  }
}

bool EncodeWebp(CxImage& image, std::FILE* file) {
  return EncodeContainer(
      image, file, "WebP", [](const PlainPixels& pixels, std::vector<uint8_t>& bytes) {
        WebPConfig config;
        if (!WebPConfigInit(&config)) return false;
        config.lossless = 1;
        config.exact = 1;
        config.method = kWebpLosslessMethod;
        config.quality = kWebpLosslessEffort;
        Encoding encoding;
        if (!Encode(pixels, config, encoding)) return false;
        bytes.assign(encoding.output.mem, encoding.output.mem + encoding.output.size);
        return true;
      });
}

}  // namespace inkbrite
