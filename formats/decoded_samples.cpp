// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/decoded_samples.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace inkbrite {

namespace {

// 8-bit value of a sample.
struct Scale {
  uint32_t max;
  uint8_t operator()(uint32_t v) const {
    if (max == 255) return static_cast<uint8_t>(v);
    v = std::min(v, max);
    return static_cast<uint8_t>((v * 255u + max / 2) / max);
  }
};

// A colour value over white through alpha, both 8 bits.
uint8_t OverWhite(uint32_t c, uint32_t a) {
  return static_cast<uint8_t>((a * c + (255 - a) * 255 + 127) / 255);
}

uint32_t SampleAt(const uint8_t* row, size_t index, int bytes) {
  if (bytes == 1) return row[index];
  uint16_t v;
  std::memcpy(&v, row + 2 * index, sizeof v);
  return v;
}

}  // namespace

bool PageFromSamples(const DecodedSamples& s, DibImage& page) {
  if (s.data == nullptr || s.width <= 0 || s.height <= 0 || s.channels < 1 || s.channels > 4 ||
      (s.bytesPerSample != 1 && s.bytesPerSample != 2) || s.maxValue == 0 ||
      s.maxValue > (s.bytesPerSample == 1 ? 255u : 65535u) ||
      s.rowBytes < static_cast<size_t>(s.width) * s.channels * s.bytesPerSample ||
      !page.Create(s.width, s.height, 24)) {
    page.Clear();
    return false;
  }
  const Scale scale{s.maxValue};
  const bool grey = s.channels <= 2;
  const bool alpha = s.channels == 2 || s.channels == 4;
  const int n = s.channels;
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* in = s.data + static_cast<size_t>(y) * s.rowBytes;
    uint8_t* out = page.Row(y);
    for (int32_t x = 0; x < s.width; ++x) {
      const size_t i = static_cast<size_t>(x) * n;
      std::array<uint8_t, 3> rgb;
      if (grey) {
        rgb.fill(scale(SampleAt(in, i, s.bytesPerSample)));
      } else {
        for (int c = 0; c < 3; ++c) rgb[c] = scale(SampleAt(in, i + c, s.bytesPerSample));
      }
      if (alpha) {
        const uint32_t a = scale(SampleAt(in, i + n - 1, s.bytesPerSample));
        for (uint8_t& c : rgb) c = OverWhite(c, a);
      }
      uint8_t* pixel = out + 3 * static_cast<size_t>(x);
      pixel[0] = rgb[2];
      pixel[1] = rgb[1];
      pixel[2] = rgb[0];
    }
  }
  return true;
}

bool PageIsNeutral(const DibImage& page, int slack) {
  if (!page.Is24Bit()) return false;
  for (int32_t y = 0; y < page.Height(); ++y) {
    const uint8_t* row = page.Row(y);
    for (int32_t x = 0; x < page.Width(); ++x) {
      const uint8_t* pixel = row + 3 * static_cast<size_t>(x);
      const int b = pixel[0], g = pixel[1], r = pixel[2];
      if (std::max({b, g, r}) - std::min({b, g, r}) > slack) return false;
    }
  }
  return true;
}

void GreyFromRed(DibImage& page) {
  if (!page.Is24Bit()) return;
  for (int32_t y = 0; y < page.Height(); ++y) {
    uint8_t* row = page.Row(y);
    for (uint8_t* pixel = row; pixel < row + 3 * static_cast<size_t>(page.Width()); pixel += 3) {
      pixel[0] = pixel[1] = pixel[2];
    }
  }
}

void MirrorVertical(DibImage& page) {
  if (page.IsEmpty()) return;
  const size_t bytes = static_cast<size_t>(page.RowBytes());
  std::vector<uint8_t> spare(bytes);
  for (int32_t top = 0, bottom = page.Height() - 1; top < bottom; ++top, --bottom) {
    std::memcpy(spare.data(), page.Row(top), bytes);
    std::memcpy(page.Row(top), page.Row(bottom), bytes);
    std::memcpy(page.Row(bottom), spare.data(), bytes);
  }
}

}  // namespace inkbrite
