// SPDX-License-Identifier: GPL-2.0-or-later
// Reading JPEG XL files with libjxl's decoder: basic information (checked
// against the limits), the colour encoding (sRGB asked for, or the profile
// kept for conversion), then the first full frame.
#include <jxl/decode.h>
#include <jxl/encode.h>  // JxlColorEncodingSetToSRGB

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/limits.h"
#include "formats/decode_guard.h"
#include "formats/decoded_samples.h"
#include "formats/jxl/jxl_codec.h"
#include "formats/srgb_convert.h"

namespace inkbrite {

namespace {

// The largest file read into memory: the bound of a picture's pixels.
constexpr uint64_t kMaxJxlFileBytes = kMaxDibBytes;

// libjxl's own allocations, each preceded by its size, counted against a
// budget.
struct Budget {
  uint64_t used = 0;
  uint64_t limit = kMaxDecoderBytes;
};
constexpr size_t kBlockHeader = 64;  // keeps the blocks aligned as malloc's

void* BudgetAlloc(void* opaque, size_t size) {
  auto* budget = static_cast<Budget*>(opaque);
  if (size > budget->limit - budget->used || size > SIZE_MAX - kBlockHeader) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(size + kBlockHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  budget->used += size;
  return block + kBlockHeader;
}

void BudgetFree(void* opaque, void* address) {
  if (address == nullptr) return;
  uint8_t* block = static_cast<uint8_t*>(address) - kBlockHeader;
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  static_cast<Budget*>(opaque)->used -= size;
  std::free(block);
}

struct DecoderDeleter {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

bool IsSrgb(const JxlColorEncoding& e) {
  const bool space = e.color_space == JXL_COLOR_SPACE_GRAY ||
                     (e.color_space == JXL_COLOR_SPACE_RGB && e.primaries == JXL_PRIMARIES_SRGB);
  return space && e.white_point == JXL_WHITE_POINT_D65 &&
         e.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// What one decode learns and holds.
struct Decoding {
  JxlBasicInfo info{};
  JxlPixelFormat format{};
  std::vector<uint8_t> icc;  // the data's profile when it must be converted
  std::vector<uint8_t> pixels;
  int32_t width = 0;  // as shown, after orientation
  int32_t height = 0;
  bool done = false;
};

bool OnBasicInfo(JxlDecoder* decoder, size_t fileSize, Decoding& d) {
  if (JxlDecoderGetBasicInfo(decoder, &d.info) != JXL_DEC_SUCCESS) return false;
  const JxlBasicInfo& info = d.info;
  if (info.num_color_channels != 1 && info.num_color_channels != 3) return false;
  const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
  d.width = static_cast<int32_t>(turned ? info.ysize : info.xsize);
  d.height = static_cast<int32_t>(turned ? info.xsize : info.ysize);
  // libjxl works on 32-bit float planes of every channel; the output holds
  // up to four 16-bit samples a pixel.
  const uint64_t pixels = static_cast<uint64_t>(info.xsize) * info.ysize;
  const uint64_t channels = uint64_t{info.num_color_channels} + info.num_extra_channels;
  if (!DecodeWithinLimits(info.xsize, info.ysize, fileSize, pixels * (channels * 4 + 8))) {
    return false;
  }
  d.format.num_channels = info.num_color_channels + (info.alpha_bits > 0 ? 1 : 0);
  d.format.endianness = JXL_NATIVE_ENDIAN;
  d.format.align = 0;
  return true;
}

bool OnColourEncoding(JxlDecoder* decoder, Decoding& d) {
  const bool grey = d.info.num_color_channels == 1;
  if (!d.info.uses_original_profile) {
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, grey ? JXL_TRUE : JXL_FALSE);
    if (JxlDecoderSetPreferredColorProfile(decoder, &srgb) != JXL_DEC_SUCCESS) return false;
  }
  JxlColorEncoding encoding;
  if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                         &encoding) != JXL_DEC_SUCCESS ||
      !IsSrgb(encoding)) {
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) ==
            JXL_DEC_SUCCESS &&
        size > 0 && size <= (uint64_t{1} << 26)) {
      d.icc.resize(size);
      if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                         d.icc.data(), size) != JXL_DEC_SUCCESS) {
        d.icc.clear();
      }
    }
  }
  const bool eightBits = d.info.bits_per_sample <= 8 && d.info.exponent_bits_per_sample == 0;
  d.format.data_type = eightBits && d.icc.empty() ? JXL_TYPE_UINT8 : JXL_TYPE_UINT16;
  return true;
}

bool OnOutputBuffer(JxlDecoder* decoder, Decoding& d) {
  size_t size = 0;
  if (JxlDecoderImageOutBufferSize(decoder, &d.format, &size) != JXL_DEC_SUCCESS) return false;
  const size_t sample = d.format.data_type == JXL_TYPE_UINT8 ? 1 : 2;
  const size_t expected = static_cast<size_t>(d.width) * d.height * d.format.num_channels * sample;
  if (size != expected) return false;
  d.pixels.resize(size);
  return JxlDecoderSetImageOutBuffer(decoder, &d.format, d.pixels.data(), size) == JXL_DEC_SUCCESS;
}

// Runs the decoder to the end of the first frame.
bool RunDecoder(JxlDecoder* decoder, size_t fileSize, Decoding& d) {
  for (;;) {
    switch (JxlDecoderProcessInput(decoder)) {
      case JXL_DEC_BASIC_INFO:
        if (!OnBasicInfo(decoder, fileSize, d)) return false;
        break;
      case JXL_DEC_COLOR_ENCODING:
        if (!OnColourEncoding(decoder, d)) return false;
        break;
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
        if (!OnOutputBuffer(decoder, d)) return false;
        break;
      case JXL_DEC_FULL_IMAGE: d.done = true; return true;
      default: return false;  // an error, a cut file (more input), or no frame
    }
  }
}

int Decode(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  if (data == nullptr || size == 0 || size > kMaxJxlFileBytes) return 0;
  Budget budget;
  const JxlMemoryManager memory{&budget, BudgetAlloc, BudgetFree};
  std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(&memory));
  if (!decoder) return 0;
  JxlDecoder* dec = decoder.get();
  if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                         JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS) {
    return 0;
  }
  JxlDecoderCloseInput(dec);
  Decoding d;
  if (!RunDecoder(dec, size, d) || !d.done) return 0;
  decoder.reset();
  const bool eight = d.format.data_type == JXL_TYPE_UINT8;
  const DecodedSamples samples{
      d.pixels.data(),
      static_cast<size_t>(d.width) * d.format.num_channels * (eight ? 1 : 2),
      d.width,
      d.height,
      static_cast<int>(d.format.num_channels),
      eight ? 1 : 2,
      eight ? 255u : 65535u};
  // A profile that cannot be used leaves the samples as they are.
  if (!d.icc.empty()) ConvertIccToSrgb(d.icc.data(), d.icc.size(), samples);
  if (!PageFromSamples(samples, image)) return 0;
  if (greySource != nullptr) *greySource = d.info.num_color_channels == 1 ? 1 : 0;
  return 1;
}

}  // namespace

int DecodeJxlBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] { return Decode(data, size, image, greySource); });
}

int ReadJxlFile(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxJxlFileBytes, DecodeJxlBytes, image, greySource);
}

}  // namespace inkbrite
