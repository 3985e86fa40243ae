// SPDX-License-Identifier: GPL-2.0-or-later
// Synthetic scanned pages for the tests of the automatic clean-up steps:
// comic-like pages whose content box, gutter and skew are known because the
// test drew them.
#pragma once

#include <cstdint>
#include <random>

#include "core/dib_image.h"
#include "tests/test_support.h"

namespace inkbrite::test {

// A page of `paper` with comic content inside `box`: tiers of panels whose
// outer borders (3 pixels of `ink`) lie exactly on the box's edges, each
// panel holding lines of text-like strokes and a grey shape. Everything
// outside the box is paper.
DibImage ComicPage(int32_t width, int32_t height, const DibRect& box, std::mt19937& rng,
                   Bgr paper = {245, 248, 250}, Bgr ink = {20, 20, 20});

// Fills the rectangle with a colour (clipped to the image).
void FillRect(DibImage& image, const DibRect& rect, Bgr colour);

// Sprinkles `count` specks of dust (1 to 2 pixels square, dark) at random
// places outside `keepOut`.
void AddDust(DibImage& image, const DibRect& keepOut, int count, std::mt19937& rng);

// The page turned anticlockwise by `degrees` about its centre, drawn by 3 x 3
// supersampling of the nearest source pixels (a different method from the
// one under test), with `fill` where the turned page does not reach.
DibImage TurnedCopy(const DibImage& page, double degrees, Bgr fill);

// Share of the pixels inside `area` whose channels differ between the two
// images (of one size) by more than `tolerance`.
double DifferingShare(const DibImage& a, const DibImage& b, const DibRect& area, int tolerance);

// How a page was scanned, for ScanLikePage: each part of a flatbed scan's
// history, in the order it happens.
enum class Turn { kSupersampled, kBilinear, kBicubic };
struct ScanLook {
  Bgr paper{245, 248, 250};     // the paper's colour (tinted, yellowed, dark, washed out)
  Bgr ink{20, 20, 20};          // the ink's
  bool extras = true;           // balloons with text and screentone in some panels
  double degrees = 0.0;         // the page lay turned by this much on the glass
  Turn turn = Turn::kBilinear;  // how the turn was resampled
  Bgr corners{255, 255, 255};   // what the turn brings in at the corners
  int blur = 0;                 // box blur radius of the optics, pixels
  int noise = 0;                // sensor noise: each byte moved by up to this much
  int bands[4] = {0, 0, 0, 0};  // dark scanner bands: left, top, right, bottom widths
  Bgr band{28, 26, 24};         // their colour
  int jpegQuality = 0;          // saved as JPEG of this quality (0: not)
};

// A scan-like page of `width` x `height`: ComicPage's panels inside `box`
// (with balloons and screentone when asked), then turned, given its bands
// (straight: they belong to the scanner, not the page), blurred, noised and
// saved as JPEG as `look` says.
DibImage ScanLikePage(int32_t width, int32_t height, const DibRect& box, const ScanLook& look,
                      std::mt19937& rng);

// The page turned anticlockwise by `degrees` about its centre with
// bilinear or bicubic (Catmull-Rom) weights in floating point, `fill`
// outside the page.
DibImage Resampled(const DibImage& page, double degrees, Turn turn, Bgr fill);

// The median of each channel over `area`.
Bgr MedianColour(const DibImage& image, const DibRect& area);

// A uniform random integer in [lo, hi].
inline int32_t Uniform(std::mt19937& rng, int32_t lo, int32_t hi) {
  return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
}

}  // namespace inkbrite::test
