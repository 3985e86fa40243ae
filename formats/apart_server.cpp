// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/apart_server.h"

#include <cstring>

#include "core/dib_image.h"
#include "core/limits.h"
#include "formats/apart_protocol.h"
#include "formats/avif/avif_codec.h"
#include "formats/jxl/jxl_codec.h"
#include "formats/plain_pixels.h"
#include "learned/waifu2x.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace {

bool AnswerDecoded(const DibImage& image, int grey, std::vector<uint8_t>& output) {
  apart::DecodedHeader header;
  header.width = static_cast<uint32_t>(image.Width());
  header.height = static_cast<uint32_t>(image.Height());
  header.greySource = grey != 0 ? 1 : 0;
  const size_t rowBytes = static_cast<size_t>(image.Width()) * 3;
  output.resize(sizeof header + rowBytes * static_cast<size_t>(image.Height()));
  std::memcpy(output.data(), &header, sizeof header);
  for (int32_t y = 0; y < image.Height(); ++y) {
    std::memcpy(output.data() + sizeof header + rowBytes * static_cast<size_t>(y), image.Row(y),
                rowBytes);
  }
  return true;
}

// The pixels of an encode request, checked against its header.
bool ReadEncodeRequest(std::span<const uint8_t> input, apart::EncodeHeader& header,
                       PlainPixels& pixels) {
  if (input.size() < sizeof header) return false;
  std::memcpy(&header, input.data(), sizeof header);
  if (header.magic != apart::kEncodeMagic || (header.channels != 1 && header.channels != 3) ||
      header.quality > 100 || !ImageSizeWithinLimits(header.width, header.height)) {
    return false;
  }
  pixels.width = static_cast<int32_t>(header.width);
  pixels.height = static_cast<int32_t>(header.height);
  pixels.channels = static_cast<int>(header.channels);
  const size_t bytes = pixels.RowBytes() * static_cast<size_t>(pixels.height);
  if (input.size() - sizeof header != bytes) return false;
  pixels.bytes.assign(input.begin() + sizeof header, input.end());
  return true;
}

// A learned request: the page through the chosen waifu2x network.
bool ServeLearned(std::span<const uint8_t> input, std::vector<uint8_t>& output) {
  apart::LearnedHeader h;
  if (input.size() < sizeof h) return false;
  std::memcpy(&h, input.data(), sizeof h);
  if (h.magic != apart::kLearnedMagic || h.model > 1 || h.noise < -1 || h.noise > 3 ||
      (h.scale != 1 && h.scale != 2) || h.threads < 1 || h.threads > 1024 ||
      !ImageSizeWithinLimits(h.width, h.height) ||
      !ImageSizeWithinLimits(int64_t{h.width} * h.scale, int64_t{h.height} * h.scale)) {
    return false;
  }
  const size_t rowBytes = size_t{h.width} * 3;
  if (input.size() - sizeof h != rowBytes * h.height) return false;
  apart::DecodedHeader answer;
  answer.width = h.width * h.scale;
  answer.height = h.height * h.scale;
  output.resize(sizeof answer + size_t{answer.width} * 3 * answer.height);
  std::memcpy(output.data(), &answer, sizeof answer);
  const learned::PixelRows in{const_cast<uint8_t*>(input.data() + sizeof h),
                              static_cast<int>(h.width), static_cast<int>(h.height), rowBytes,
                              true};
  const learned::PixelRows out{output.data() + sizeof answer, static_cast<int>(answer.width),
                               static_cast<int>(answer.height), size_t{answer.width} * 3, true};
  return learned::RunWaifu2x(
      learned::ModelsFolder(ExecutableFolder()), static_cast<learned::Waifu2xModel>(h.model),
      h.noise, static_cast<int>(h.scale), static_cast<int>(h.threads), in, out, nullptr);
}

}  // namespace

bool ServeCodecRequest(std::string_view operation, std::span<const uint8_t> input,
                       std::vector<uint8_t>& output) {
  output.clear();
  if (operation == apart::kDecodeAvif || operation == apart::kDecodeJxl) {
    DibImage image;
    int grey = 0;
    const int ok = operation == apart::kDecodeAvif
                       ? DecodeAvifBytes(input.data(), input.size(), image, &grey)
                       : DecodeJxlBytes(input.data(), input.size(), image, &grey);
    return ok != 0 && AnswerDecoded(image, grey, output);
  }
  if (operation == apart::kLearned) return ServeLearned(input, output);
  apart::EncodeHeader header;
  PlainPixels pixels;
  if (!ReadEncodeRequest(input, header, pixels)) return false;
  const int quality = static_cast<int>(header.quality);
  if (operation == apart::kEncodeAvif) return EncodeAvifPixels(pixels, quality, output);
  if (operation == apart::kEncodeJxl) return EncodeJxlPixels(pixels, quality, false, output);
  if (operation == apart::kEncodeJxlLossless) return EncodeJxlPixels(pixels, quality, true, output);
  return false;
}

}  // namespace inkbrite
