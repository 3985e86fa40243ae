// SPDX-License-Identifier: GPL-2.0-or-later
// Auto levels: stretch a page's tones so that its darkest ink becomes black
// and its paper white, as a washed-out or yellowed scan needs.
//
//   out                                   The black point b and the white
//   255 |               ________           point w come from the page's
//       |              /                   histograms: b is the level below
//       |            /                     which the darkest `clip` share of
//       |          /                       the channel bytes lie (the ink),
//       |        /                         w the paper's: the highest peak in
//     0 |_______/                          the upper half of the histogram.
//       +--------b------w-------- in       Levels from b to w are spread
//                                          over 0 to 255.
//
// The paper's peak, unlike a share of the brightest bytes, does not follow
// the few bytes JPEG and scanner noise throw above the paper: the paper
// itself comes out white. The histograms are taken inside the scanner's
// bands (FindScanBands).
//
// One mapping serves all three channels, so the colours keep their balance
// (a grey pixel stays grey). With `neutralise`, each channel gets its own
// white point instead, which turns tinted paper white.
//
// Pages it would harm are left exactly as they were:
//   - a narrow range (w - b below kMinLevelsRange): a blank page, a page that
//     is one dark panel, a low-contrast picture; stretching such a page
//     only blows up its noise;
//   - a range already wide: b at most kWideLevelsEnd and every w at least
//     255 - kWideLevelsEnd, as a clean scan has; such a stretch would
//     change little, and pages people were happy with should not shift.
// No point moves by more than `maxShift` levels: b is at most maxShift and
// w at least 255 - maxShift, whatever the histogram says.
#pragma once

#include <array>

#include "core/dib_image.h"

namespace inkbrite {

inline constexpr int kMinLevelsRange = 64;
inline constexpr int kWideLevelsEnd = 10;

struct AutoLevelsSettings {
  int clipTenths = 5;       // share of darkest and of brightest bytes ignored, in 0.1 %, 0 to 50
  int maxShift = 128;       // most a point moves, in levels, 0 to 255
  bool neutralise = false;  // a white point per channel: removes a paper tint
};

// What auto levels found on a page.
struct LevelsFound {
  bool applied = false;                        // false: the page was left alone
  int black = 0;                               // level mapped to 0
  std::array<int, 3> white = {255, 255, 255};  // levels mapped to 255: blue, green, red
  friend bool operator==(const LevelsFound&, const LevelsFound&) = default;
};

// Reads the histograms of about 300 evenly spread rows and decides. Pages
// that are empty or not 24 bits are never applied.
LevelsFound FindAutoLevels(const DibImage& image, const AutoLevelsSettings& settings);

// Maps every channel byte v to round((v - b) * 255 / (w - b)), clamped to
// 0 to 255, with the channel's own w. Does nothing and returns false when
// `levels` is not applied or the image cannot be changed.
bool ApplyLevels(DibImage& image, const LevelsFound& levels);

// The one table ApplyLevels would map every channel byte through, when
// `levels` is applied with the same white point for all three channels
// (so the pipeline can join it to its tone table); false otherwise.
bool SharedLevelsTable(const LevelsFound& levels, std::array<uint8_t, 256>& table);

// Both: finds, then applies what was found.
LevelsFound AutoLevels(DibImage& image, const AutoLevelsSettings& settings);

}  // namespace inkbrite
