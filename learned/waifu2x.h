// SPDX-License-Identifier: GPL-2.0-or-later
// The waifu2x networks as the learned steps choose them: a model (upconv_7,
// the fast one, or cunet, the better one), a noise level (-1 for none, 0 to
// 3) and a scale (2, or 1 to denoise only), each one network file of the
// models folder. upconv_7 has no 1x network: denoising alone always runs
// cunet's.
#pragma once

#include <filesystem>
#include <string>

#include "learned/upscale.h"

namespace inkbrite::learned {

enum class Waifu2xModel { kUpconv7 = 0, kCunet = 1 };

// The network file's name ("upconv_7-noise1-2x.ibnet"); empty when the
// choice asks for nothing (1x without noise) or is out of range.
std::string NetworkFileName(Waifu2xModel model, int noise, int scale);

// Where the network files are: $INKBRITE_MODELS_DIR when set, else
// models/waifu2x beside the folder of a program in a build tree (build/app/
// -> build/models/waifu2x), else share/inkbrite/models/waifu2x of an
// installed program's prefix (libexec/inkbrite/ or bin/). Empty when none
// holds them.
std::filesystem::path ModelsFolder(const std::filesystem::path& exeFolder);

// Runs the chosen network over `in` into `out` (scale x its size) on
// `threads` threads, the network read from `folder`. False with the reason
// in `why`.
bool RunWaifu2x(const std::filesystem::path& folder, Waifu2xModel model, int noise, int scale,
                int threads, const PixelRows& in, const PixelRows& out, std::string* why);

}  // namespace inkbrite::learned
