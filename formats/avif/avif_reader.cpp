// SPDX-License-Identifier: GPL-2.0-or-later
// Reading AVIF files with libavif: parse, check the size, decode the first
// picture, convert to RGB and to sRGB, compose, turn upright.
#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/limits.h"
#include "formats/avif/avif_codec.h"
#include "formats/decode_guard.h"
#include "formats/decoded_samples.h"
#include "formats/srgb_convert.h"

namespace inkbrite {

namespace {

// The largest file read into memory: the bound of a picture's pixels.
constexpr uint64_t kMaxAvifFileBytes = kMaxDibBytes;

struct DecoderDeleter {
  void operator()(avifDecoder* d) const { avifDecoderDestroy(d); }
};

struct RgbPixels {
  avifRGBImage rgb{};
  ~RgbPixels() { avifRGBImageFreePixels(&rgb); }
};

// The pure power-law transfer of CICP transfer 4 (gamma 2.2) or 5 (2.8) on
// BT.709 (or unspecified) primaries; 0 for any other colour description.
double PowerLawGamma(const avifImage& image) {
  if (image.colorPrimaries != AVIF_COLOR_PRIMARIES_BT709 &&
      image.colorPrimaries != AVIF_COLOR_PRIMARIES_UNSPECIFIED) {
    return 0;
  }
  switch (image.transferCharacteristics) {
    case AVIF_TRANSFER_CHARACTERISTICS_BT470M: return 2.2;
    case AVIF_TRANSFER_CHARACTERISTICS_BT470BG: return 2.8;
    default: return 0;
  }
}

// The decoded picture's samples, in sRGB where the file says how.
bool ToPage(const avifImage& image, bool alpha, DibImage& page) {
  const double gamma = image.icc.size > 0 ? 0 : PowerLawGamma(image);
  const bool convert = image.icc.size > 0 || gamma > 0;
  RgbPixels pixels;
  avifRGBImageSetDefaults(&pixels.rgb, &image);
  pixels.rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
  pixels.rgb.depth = image.depth == 8 && !convert ? 8 : 16;
  avifRGBImageAllocatePixels(&pixels.rgb);
  if (pixels.rgb.pixels == nullptr) return false;
  if (avifImageYUVToRGB(&image, &pixels.rgb) != AVIF_RESULT_OK) return false;
  const DecodedSamples samples{pixels.rgb.pixels,
                               pixels.rgb.rowBytes,
                               static_cast<int32_t>(pixels.rgb.width),
                               static_cast<int32_t>(pixels.rgb.height),
                               alpha ? 4 : 3,
                               pixels.rgb.depth == 8 ? 1 : 2,
                               pixels.rgb.depth == 8 ? 255u : 65535u};
  // A profile that cannot be used leaves the samples as they are.
  if (image.icc.size > 0) {
    ConvertIccToSrgb(image.icc.data, image.icc.size, samples);
  } else if (gamma > 0) {
    ConvertGammaToSrgb(gamma, samples);
  }
  return PageFromSamples(samples, page);
}

// irot (quarter turns anticlockwise), then imir (mode 0: top and bottom
// exchanged, 1: left and right).
bool TurnUpright(const avifImage& image, DibImage& page) {
  if ((image.transformFlags & AVIF_TRANSFORM_IROT) != 0) {
    const int turns = image.irot.angle & 3;
    for (int i = 0; i < turns; ++i) {
      if (!page.Rotate90(false)) return false;
    }
  }
  if ((image.transformFlags & AVIF_TRANSFORM_IMIR) != 0) {
    if (image.imir.mode == 0) {
      MirrorVertical(page);
    } else if (!page.MirrorHorizontal()) {
      return false;
    }
  }
  return true;
}

int Decode(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  if (data == nullptr || size == 0 || size > kMaxAvifFileBytes) return 0;
  std::unique_ptr<avifDecoder, DecoderDeleter> decoder(avifDecoderCreate());
  if (!decoder) return 0;
  decoder->maxThreads = 1;
  decoder->imageSizeLimit = static_cast<uint32_t>(kMaxImagePixels);
  decoder->imageDimensionLimit = static_cast<uint32_t>(kMaxDibDimension);
  decoder->strictFlags = AVIF_STRICT_CLAP_VALID;
  decoder->ignoreExif = AVIF_TRUE;
  decoder->ignoreXMP = AVIF_TRUE;
  if (avifDecoderSetIOMemory(decoder.get(), data, size) != AVIF_RESULT_OK) return 0;
  if (avifDecoderParse(decoder.get()) != AVIF_RESULT_OK) return 0;
  const avifImage& header = *decoder->image;
  // YUV planes and alpha of up to 16 bits, and the RGBA samples.
  const uint64_t pixels = static_cast<uint64_t>(header.width) * header.height;
  if (!DecodeWithinLimits(header.width, header.height, size, pixels * 16)) return 0;
  if (avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK) return 0;
  const avifImage& picture = *decoder->image;
  if (!ImageSizeWithinLimits(picture.width, picture.height)) return 0;
  const bool alpha = picture.alphaPlane != nullptr;
  if (!ToPage(picture, alpha, image) || !TurnUpright(picture, image)) return 0;
  if (greySource != nullptr) *greySource = picture.yuvFormat == AVIF_PIXEL_FORMAT_YUV400 ? 1 : 0;
  return 1;
}

}  // namespace

int DecodeAvifBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] { return Decode(data, size, image, greySource); });
}

int ReadAvifFile(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxAvifFileBytes, DecodeAvifBytes, image, greySource);
}

}  // namespace inkbrite
