// SPDX-License-Identifier: GPL-2.0-or-later
// Writing JPEG XL files with libjxl's encoder into memory, then through a
// SafeFileWriter.
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "formats/jxl/jxl_codec.h"
#include "formats/plain_pixels.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

struct EncoderDeleter {
  void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); }
};
struct RunnerDeleter {
  void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); }
};

// Encodes the pixels (8-bit sRGB, grey or colour) as one frame: lossless
// (distance < 0) or at a distance, with `effort`, on `threads` threads (the
// file is the same for any number).
bool Encode(const PlainPixels& pixels, float distance, int effort, int threads,
            std::vector<uint8_t>& out) {
  std::unique_ptr<JxlEncoder, EncoderDeleter> owner(JxlEncoderCreate(nullptr));
  JxlEncoder* encoder = owner.get();
  if (encoder == nullptr) return false;
  std::unique_ptr<void, RunnerDeleter> runner;
  if (threads > 1) {
    runner.reset(JxlThreadParallelRunnerCreate(nullptr, static_cast<size_t>(threads)));
    if (!runner || JxlEncoderSetParallelRunner(encoder, JxlThreadParallelRunner, runner.get()) !=
                       JXL_ENC_SUCCESS) {
      return false;
    }
  }
  const bool lossless = distance < 0;
  const bool grey = pixels.channels == 1;
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<uint32_t>(pixels.width);
  info.ysize = static_cast<uint32_t>(pixels.height);
  info.bits_per_sample = 8;
  info.exponent_bits_per_sample = 0;
  info.num_color_channels = grey ? 1 : 3;
  info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
  if (JxlEncoderSetBasicInfo(encoder, &info) != JXL_ENC_SUCCESS) return false;
  JxlColorEncoding colour;
  JxlColorEncodingSetToSRGB(&colour, grey ? JXL_TRUE : JXL_FALSE);
  if (JxlEncoderSetColorEncoding(encoder, &colour) != JXL_ENC_SUCCESS) return false;
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
  if (settings == nullptr ||
      JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, effort) !=
          JXL_ENC_SUCCESS) {
    return false;
  }
  const JxlEncoderStatus set = lossless ? JxlEncoderSetFrameLossless(settings, JXL_TRUE)
                                        : JxlEncoderSetFrameDistance(settings, distance);
  if (set != JXL_ENC_SUCCESS) return false;
  const JxlPixelFormat format{static_cast<uint32_t>(pixels.channels), JXL_TYPE_UINT8,
                              JXL_NATIVE_ENDIAN, 0};
  if (JxlEncoderAddImageFrame(settings, &format, pixels.bytes.data(), pixels.bytes.size()) !=
      JXL_ENC_SUCCESS) {
    return false;
  }
  JxlEncoderCloseInput(encoder);
  out.resize(std::max<size_t>(pixels.bytes.size() / 8, 4096));
  uint8_t* next = out.data();
  size_t avail = out.size();
  for (;;) {
    const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &avail);
    if (status == JXL_ENC_SUCCESS) break;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) return false;
    const size_t written = static_cast<size_t>(next - out.data());
    out.resize(out.size() * 2);
    next = out.data() + written;
    avail = out.size() - written;
  }
  out.resize(static_cast<size_t>(next - out.data()));
  return true;
}

}  // namespace

float JxlDistanceForQuality(int quality) {
  quality = std::clamp(quality, 0, 100);
  if (quality >= 30) return 0.1f + static_cast<float>(100 - quality) * 0.09f;
  return 6.4f + static_cast<float>(std::pow(2.5, (30 - quality) / 5.0)) / 6.25f;
}

bool EncodeJxlPixelsWithEffort(const PlainPixels& pixels, int quality, bool lossless, int effort,
                               int threads, std::vector<uint8_t>& file) {
  return Encode(pixels, lossless ? -1 : JxlDistanceForQuality(quality), effort, threads, file);
}

bool EncodeJxlPixels(const PlainPixels& pixels, int quality, bool lossless,
                     std::vector<uint8_t>& file) {
  return lossless ? Encode(pixels, -1, kJxlLosslessEffort, 1, file)
                  : Encode(pixels, JxlDistanceForQuality(quality), kJxlEffort, 1, file);
}

int WriteJxlFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int quality) {
  try {
    PlainPixels pixels;
    if (!PagePixels(image, colourMode == 1, pixels)) return 0;
    std::vector<uint8_t> file;
    if (!Encode(pixels, JxlDistanceForQuality(quality), kJxlEffort, 1, file)) return 0;
    return WriteFileBytesSafely(path, file.data(), file.size()) ? 1 : 0;
  } catch (...) {  // no memory for the pixels or the output
    return 0;
  }
}

bool EncodeJxl(CxImage& image, std::FILE* file) {
  return EncodeContainer(image, file, "JPEG XL",
                         [](const PlainPixels& pixels, std::vector<uint8_t>& bytes) {
                           return Encode(pixels, -1, kJxlLosslessEffort, 1, bytes);
                         });
}

}  // namespace inkbrite
