// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/apart_server.h"

#include <cstring>

#include "core/dib_image.h"
#include "core/limits.h"
#include "formats/apart_protocol.h"
#include "formats/avif/avif_codec.h"
#include "formats/jxl/jxl_codec.h"
#include "formats/plain_pixels.h"

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
