// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG clean-up: reduces the blocking and ringing of a page decoded from a
// JPEG file at low quality.
//
// A JPEG file codes each 8 x 8 block of pixels apart, rounding its
// frequencies to the steps of the file's quantisation table: blocks meet
// with small steps between them (blocking), and strong edges carry a halo
// of noise within their blocks (ringing). Both are at most about the size of
// the table's steps, so the table says how much to smooth:
//
//   - deblocking: across each block edge (columns and rows at multiples of
//     8 from the page's top left), a step smaller than `edge` between two
//     sides that are each flat (their neighbours within `flat`) is spread
//     over the six pixels around it; a larger step is an edge of the
//     drawing and stays;
//   - deringing, twice, in the blocks that hold an edge (their levels span
//     more than three times `ring`): each pixel becomes the mean of the
//     pixels around it (3 x 3), a neighbour more than `ring` from it counted
//     as the pixel itself, so the noise beside an edge is smoothed and the
//     edge, far more than `ring` high, is not.
//
// `edge`, `flat` and `ring` follow the table's first steps (the mean level
// of a block and its lowest frequencies). Without the file's table the
// usual table at quality 50 is assumed. The page must be 24 bits, its
// blocks on the grid of the file (the step runs before any crop or
// resize); others are left alone.
#pragma once

#include <array>
#include <cstdint>

#include "core/dib_image.h"

namespace inkbrite {

// A file's luminance quantisation table, in row order (index 8 v + u for
// the frequency u across and v down), as the reader passes it.
struct JpegQuantisers {
  std::array<uint16_t, 64> steps{};
};

// The usual luminance table scaled to a quality of 1 to 100, as the
// common JPEG writers scale it.
JpegQuantisers StandardJpegQuantisers(int quality);

struct JpegCleanupFound {
  int edge = 0;  // the thresholds used, levels
  int flat = 0;
  int ring = 0;
  int64_t smoothed = 0;  // block-edge positions smoothed
};

// The code that runs: the machine's widest vector instructions (AVX2 where
// the processor has them, else SSE2), the SSE2 ones alone, or plain loops
// over single bytes; all give the same bytes (the narrower kept for
// machines without the wider and to check them against).
enum class JpegCleanupPath { kFastest, kSse2, kPlain };

// `tables` null: the quality-50 table is assumed.
JpegCleanupFound CleanJpegArtefacts(DibImage& image, const JpegQuantisers* tables,
                                    JpegCleanupPath path = JpegCleanupPath::kFastest);

// The blocking of a page: the mean step across the block edges between
// columns less the mean step across the middle of the blocks, levels (for
// measuring).
double JpegBlocking(const DibImage& image);

}  // namespace inkbrite
