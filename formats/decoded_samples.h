// SPDX-License-Identifier: GPL-2.0-or-later
// Turning the samples a codec library delivers into a 24-bit page, the one
// way for every reader that gets interleaved samples (WebP, AVIF, JPEG XL):
// grey or colour, with or without alpha, 8 or 16 bits a sample.
//
// - Samples above 8 bits become 8 bits rounded to nearest: v * 255 / max.
// - Alpha is composited over white after that:
//   out = (a * c + (255 - a) * 255) / 255, rounded to nearest.
// - A grey sample gives (v, v, v).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/dib_image.h"

namespace inkbrite {

// Interleaved samples, top row first: 1 (grey), 2 (grey, alpha), 3 (red,
// green, blue) or 4 (red, green, blue, alpha) channels of 8-bit or native
// 16-bit samples, whose largest value is `maxValue`.
struct DecodedSamples {
  const uint8_t* data = nullptr;
  size_t rowBytes = 0;
  int32_t width = 0;
  int32_t height = 0;
  int channels = 0;
  int bytesPerSample = 1;  // 1 or 2
  uint32_t maxValue = 255;
};

// Replaces `page` by the 24-bit picture of the samples. False (page
// cleared) for samples that do not describe a picture or no memory; the
// caller has already held the size to the limits.
bool PageFromSamples(const DecodedSamples& samples, DibImage& page);

// True when every pixel of a 24-bit page is neutral: red, green and blue at
// most `slack` apart.
bool PageIsNeutral(const DibImage& page, int slack);

// Makes every pixel of a 24-bit page (r, r, r) from its red value.
void GreyFromRed(DibImage& page);

// Exchanges the page's top and bottom rows (a mirror about the horizontal
// axis).
void MirrorVertical(DibImage& page);

}  // namespace inkbrite
