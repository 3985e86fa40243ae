// SPDX-License-Identifier: GPL-2.0-or-later
// Descreen: removes the halftone screen of a printed page.
//
// A screen is a lattice of dots: in the spectrum of a tile of the page's
// lightness (FFTW, under a Hann window) it is a few sharp peaks, the
// lattice's two base frequencies u and v (v = u turned a quarter) and their
// harmonics m u + n v, standing far above their surroundings, while line
// art spreads its energy over every frequency. Descreen looks in up to 128
// tiles of 128 pixels spread over the page (every tile of a small page) for
// the strongest such peak with a period between 2.5 pixels and 32 (a finer
// pattern is noise, a coarser one drawing) that has its partner a quarter
// turn away (parallel lines, hatching, have none and are left) and no peak
// at half its frequency (then it is a harmonic of a coarser pattern); the
// screen is the lattice most tiles show, its period and angle their mean.
//
// Where it lies is told in cells of 64 pixels: a cell holds it when 5 % or
// more of its tone's variance lies at u and v (summed directly). On those
// cells and the cells around them (their weight falling to 0 across the
// outer ones) the page is filtered by a low-pass that leaves 3 % of the
// base frequency and less of every harmonic: the pixels averaged in
// squares of a third of the period, three passes of a box across and three
// down (close to a Gaussian of 0.42 periods), read back between the
// squares. The page's lines (runs of dark pixels longer than two periods
// across, down or along a diagonal, which screen dots are not) and the
// pixel around them weigh nothing in it, so no line spreads into the tone
// beside it, and the lines keep their own pixels: the screened areas become
// the flat tone they print, the lines keep their edges. Nor are marks too
// short to be lines filtered (a character's eyes, short hatching, lettering
// at a balloon's edge): a pixel of the screen is within 64 levels of one of
// its copies a period away along the lattice (read between pixels), a mark
// among the dots differs from them all; such pixels, and those within 2
// pixels of them, weigh less in the mix, none from 112 levels. The page is filtered
// in parts of at most 256 x 512 pixels (and a margin), never whole, each
// from the page as it was (a band of parts is written when it is done), so
// no part shows where it meets the next.
//
// Strength s from 0 to 100 mixes the filtered tone in (s / 100); 0 changes
// nothing. Screens coarser than `keepPeriod` pixels (0: none kept) are art,
// not print, and are left. The page must be 24 bits and at least 16 x 16
// (others are left alone).
#pragma once

#include "core/dib_image.h"

namespace inkbrite {

struct ScreenFound {
  bool found = false;  // a screen was found (and, unless kept, removed)
  bool kept = false;   // coarser than the limit: left as art
  double period = 0;   // pixels from dot to dot along u
  double angle = 0;    // of u, degrees, 0 to 90
  int harmonics = 0;   // harmonics the filter takes down by 20 dB or more
  friend bool operator==(const ScreenFound&, const ScreenFound&) = default;
};

// The loops over pixels in AVX2 where the processor has it (else plain
// loops), or plain loops alone; both give the same bytes (the plain ones
// kept for machines without AVX2 and to check the others against).
enum class DescreenPath { kFastest, kPlain };

// Finds the screen without changing the page.
ScreenFound FindScreen(const DibImage& image, int keepPeriod);
ScreenFound Descreen(DibImage& image, int strength, int keepPeriod,
                     DescreenPath path = DescreenPath::kFastest);

}  // namespace inkbrite
