// SPDX-License-Identifier: GPL-2.0-or-later
// Descreen: removes the halftone screen of a printed page.
//
// A screen is a lattice of dots: in the page's spectrum (the lightness's
// Fourier transform, FFTW) it is a few sharp peaks, the lattice's two base
// frequencies u and v (v = u turned a quarter) and their harmonics
// m u + n v, standing far above their surroundings, while line art spreads
// its energy over every frequency. Descreen finds the strongest such peak
// with a period between 2.5 pixels and 32 (a finer pattern is noise, a
// coarser one drawing) that has its partner a quarter turn away (parallel
// lines, hatching, have none and are left) and no peak at half its
// frequency (then it is a harmonic of a coarser pattern), and then
// attenuates a small disc around every harmonic
// up to the Nyquist frequency in each channel: the screened areas become
// the flat tone they print, the lines keep their edges (the broad spectrum
// of an edge loses only the discs).
//
//   gain  1 ─────┐         ┌───── 1        strength 100: 0 at the peak
//                 ╲       ╱                strength  50: 0.5
//     1 - s        ╲_____╱
//                  |<R0>|   R0 = a fifth of |u|, then a Gaussian edge
//
// The page is padded (its edge pixels repeated) to sizes FFTW factors
// well. Strength 0 changes nothing; screens coarser than `keepPeriod`
// pixels (0: none kept) are art, not print, and are left. The page must be
// 24 bits (others are left alone). A grey page is transformed once.
#pragma once

#include "core/dib_image.h"

namespace inkbrite {

struct ScreenFound {
  bool found = false;  // a screen was found (and, unless kept, removed)
  bool kept = false;   // coarser than the limit: left as art
  double period = 0;   // pixels from dot to dot along u
  double angle = 0;    // of u, degrees, 0 to 90
  int harmonics = 0;   // peaks attenuated
  friend bool operator==(const ScreenFound&, const ScreenFound&) = default;
};

// Finds the screen without changing the page.
ScreenFound FindScreen(const DibImage& image, int keepPeriod);
ScreenFound Descreen(DibImage& image, int strength, int keepPeriod);

}  // namespace inkbrite
