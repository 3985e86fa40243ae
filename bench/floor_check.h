// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark floors decode with the library alone, set up as our readers
// set it up. This check holds them to it: a floor that decodes other pixels
// than the reader it stands beside (a setting changed in one place only)
// would measure other work, so it stops the program with a message instead
// of printing figures. Each floor program runs it at start-up, and with
// --check only it (CTest runs that).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite::bench {

// What a floor loop decoded: rows top first, `channels` bytes a pixel (3, or
// 1 for grey), colour in blue-green-red or red-green-blue order.
struct FloorPixels {
  int width = 0;
  int height = 0;
  int channels = 3;
  bool bgr = true;
  std::vector<unsigned char> bytes;
};

// Empty when the floor's pixels are our reader's picture exactly, else where
// they first differ.
inline std::string FloorDifference(const DibImage& ours, const FloorPixels& floor) {
  if (ours.Width() != floor.width || ours.Height() != floor.height || !ours.Is24Bit()) {
    return "size " + std::to_string(floor.width) + " x " + std::to_string(floor.height) +
           " against " + std::to_string(ours.Width()) + " x " + std::to_string(ours.Height());
  }
  const size_t stride = static_cast<size_t>(floor.width) * static_cast<size_t>(floor.channels);
  if (floor.bytes.size() != stride * static_cast<size_t>(floor.height)) return "short pixel data";
  for (int y = 0; y < floor.height; ++y) {
    const unsigned char* o = ours.Row(y);  // top row first, blue-green-red
    const unsigned char* f = floor.bytes.data() + stride * static_cast<size_t>(y);
    for (int x = 0; x < floor.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int fc = floor.channels == 1 ? 0 : (floor.bgr ? c : 2 - c);
        if (o[3 * x + c] != f[floor.channels * x + fc]) {
          return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") channel " +
                 std::to_string(c);
        }
      }
    }
  }
  return {};
}

// Ends the program with status 1 when the floor and the reader differ.
inline void RequireSamePixels(const char* what, const DibImage& ours, const FloorPixels& floor) {
  const std::string difference = FloorDifference(ours, floor);
  if (difference.empty()) return;
  std::fprintf(stderr,
               "%s: the floor decodes other pixels than our reader (%s): its codec set-up has "
               "drifted from the reader's\n",
               what, difference.c_str());
  std::exit(1);
}

}  // namespace inkbrite::bench
