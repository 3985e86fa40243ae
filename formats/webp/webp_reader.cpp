// SPDX-License-Identifier: GPL-2.0-or-later
// Reading WebP files: still pictures with WebPDecode, animations with the
// animation decoder (first frame only).
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/limits.h"
#include "formats/decode_guard.h"
#include "formats/decoded_samples.h"
#include "formats/webp/webp_codec.h"

namespace inkbrite {

namespace {

// The largest file read into memory: the bound of a picture's pixels.
constexpr uint64_t kMaxWebpFileBytes = kMaxDibBytes;

struct AnimDecoderDeleter {
  void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

// The bytes a still picture is made from: its VP8 or VP8L chunk and the ALPH
// chunk before it, as their headers declare them (in a RIFF file, or a bare
// chunk). Whatever else the file holds is never decoded, so the limit of
// pixels per byte counts only these. The whole input when there is no such
// chunk at the top (an animation, whose frames sit inside ANMF chunks, or a
// bare bitstream).
uint64_t CodedPictureBytes(const uint8_t* data, size_t size) {
  uint64_t at = size >= 12 && std::memcmp(data, "RIFF", 4) == 0 ? 12 : 0;
  uint64_t alpha = 0;
  while (at + 8 <= size) {
    const uint8_t* chunk = data + at;
    const uint64_t bytes = uint64_t{chunk[4]} | uint64_t{chunk[5]} << 8 | uint64_t{chunk[6]} << 16 |
                           uint64_t{chunk[7]} << 24;
    if (std::memcmp(chunk, "ALPH", 4) == 0) alpha = bytes;
    if (std::memcmp(chunk, "VP8 ", 4) == 0 || std::memcmp(chunk, "VP8L", 4) == 0) {
      return std::min<uint64_t>(alpha + bytes, size);
    }
    at += 8 + bytes + (bytes & 1);
  }
  return size;
}

// The first frame of an animation, composed on the canvas.
bool DecodeFirstFrame(const uint8_t* data, size_t size, DibImage& image) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return false;
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  const WebPData bytes{data, size};
  std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
      WebPAnimDecoderNew(&bytes, &options));
  WebPAnimInfo info;
  if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info)) return false;
  uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) {
    return false;
  }
  const DecodedSamples samples{canvas, static_cast<size_t>(info.canvas_width) * 4,
                               static_cast<int32_t>(info.canvas_width),
                               static_cast<int32_t>(info.canvas_height), 4};
  return PageFromSamples(samples, image);
}

struct DecBufferFree {
  WebPDecBuffer* buffer;
  ~DecBufferFree() { WebPFreeDecBuffer(buffer); }
};

bool DecodeStill(const uint8_t* data, size_t size, bool alpha, DibImage& image) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return false;
  config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
  const DecBufferFree release{&config.output};
  if (WebPDecode(data, size, &config) != VP8_STATUS_OK) return false;
  const WebPRGBABuffer& rgba = config.output.u.RGBA;
  const DecodedSamples samples{rgba.rgba, static_cast<size_t>(rgba.stride), config.output.width,
                               config.output.height, alpha ? 4 : 3};
  return PageFromSamples(samples, image);
}

int Decode(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  if (data == nullptr || size == 0 || size > kMaxWebpFileBytes) return 0;
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) return 0;
  // The canvas (the picture's size for a still file) against the limits
  // before anything of its size is taken: the RGBA output, and for an
  // animation the decoder's two canvases besides.
  const uint64_t pixels = static_cast<uint64_t>(features.width) * features.height;
  const uint64_t working = pixels * (features.has_animation ? 12 : 6);
  if (!DecodeWithinLimits(features.width, features.height, size, working)) return 0;
  if (!features.has_animation &&
      !DecodeWithinLimits(features.width, features.height, CodedPictureBytes(data, size))) {
    return 0;
  }
  // Lossless data may carry alpha values even when its header's hint says
  // it uses none (pixels beyond a palette are transparent black): such
  // pixels are composited like any others.
  const bool alpha = features.has_alpha != 0 || features.format == 2;
  const bool ok = features.has_animation ? DecodeFirstFrame(data, size, image)
                                         : DecodeStill(data, size, alpha, image);
  if (!ok) return 0;
  // A grey page comes back as grey as it went in: lossy data of neutral
  // chroma decodes with red = blue and green up to one level below.
  const bool grey = PageIsNeutral(image, 1);
  if (grey) GreyFromRed(image);
  if (greySource != nullptr) *greySource = grey ? 1 : 0;
  return 1;
}

}  // namespace

bool IsWebpHead(const uint8_t* head, size_t size) {
  return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

int DecodeWebpBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] { return Decode(data, size, image, greySource); });
}

int ReadWebpFile(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxWebpFileBytes, DecodeWebpBytes, image, greySource);
}

}  // namespace inkbrite
