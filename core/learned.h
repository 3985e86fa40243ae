// SPDX-License-Identifier: GPL-2.0-or-later
// The learned 2x upscaling and denoising as the pipeline sees it. The
// networks run in the codec helper program (learned/, on oneDNN: see
// formats/apart_protocol.h), which the core cannot call: the formats layer
// installs the runner (SetLearnedRunner) when it is linked, and a program
// without it leaves pages as they are.
#pragma once

#include "core/dib_image.h"

namespace inkbrite {

struct LearnedChoice {
  int model = 0;   // 0 upconv_7 (fast), 1 cunet (better)
  int noise = -1;  // -1 none, 0..3
  int scale = 2;   // 2, or 1 to denoise only
};

// Makes `out` from `page` (24-bit or grey levels); false leaves `out` as it
// was.
using LearnedRunner = bool (*)(const DibImage& page, const LearnedChoice& choice, int threads,
                               DibImage& out);

void SetLearnedRunner(LearnedRunner runner);

// The threads one page's networks run on: by default (0) every core; the
// batch job sets one while it runs. Gives the setting before.
int SetLearnedThreadsPerPage(int threads);
int LearnedThreadsPerPage();

// True when the choice does anything (a scale of 2, or noise at 1x).
constexpr bool LearnedActs(const LearnedChoice& c) {
  return c.scale == 2 || (c.scale == 1 && c.noise >= 0);
}

// Replaces the page by the network's output. False (page unchanged) when
// there is no runner, the result would pass the picture limits, or the
// helper fails.
bool ApplyLearned(DibImage& page, const LearnedChoice& choice);

}  // namespace inkbrite
