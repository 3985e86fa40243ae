// SPDX-License-Identifier: GPL-2.0-or-later
// The enhancement pipeline: one parameter block applied to one page.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "core/auto_steps.h"
#include "core/dib_image.h"
#include "core/para_block.h"
#include "core/steps.h"
#include "core/tone.h"
#include "platform/messages.h"

namespace inkbrite {

// Applies `params` to the 24-bit `image` in place (or to a page of grey
// levels, DibImage::IsGreyLevels, with the bytes each channel of its 24-bit
// page would get; auto levels and the viewer's steps first widen it to 24
// bits), running the page stage's rows of core/steps.cpp in this order:
//
//    1  greyscale                (viewer mode, colour modes 1 and 4 to 7)
//    2  enlarge       "放大"       Resize >= 100 (100 changes nothing)
//    3  crop          "切边"       any margin set
//       auto levels   "自动色阶"   AutoLevels on (off by default; see
//                                  core/auto_steps.h for the other steps)
//    4  sharpen       "锐化"       level 1 to 9
//    5  tone curve    "曲线调节"
//    6  brightness    "调节亮度"
//    7  highlight     "调节高亮度"
//    8  contrast      "调节对比度"
//    9  gamma         "Gamma校正"
//   10  soften        "柔化"       normal or strong
//   11  reduce        "缩小"       Resize < 100
//   12  colour reduction         (viewer mode, colour modes 3 to 7)
//
// Enlarging first and reducing last lets every filter work on the larger
// size, and puts crop margins in pixels of the enlarged page. With
// skipResize neither resize step runs (the viewer has fitted the page
// already). Progress advances once for the resize step that applies and once
// for each of steps 3 to 10, so 9 units a run, 8 with skipResize. The abort
// check is asked after steps 2 to 10, and after auto levels when it runs
// (it counts no progress). `hooks.mode` says who runs it: the viewer's run
// greys first and reduces colours last, the batch's leaves both to the
// writer. The run reads only `params`, one snapshot: given
// a block, it takes the block's values once, so a change made during a run
// waits for the next one and never paints a page made with two sets. The
// resize steps resample with `params.filter`. The five tone steps run as one
// pass (TonePass) at step 5. No step's failure stops the run: an operation
// that cannot run leaves the page as it was.
//
// Returns the abort check's nonzero answer, or 0 after a complete run.
int EnhanceImage(const EnhanceSettings& params, DibImage& image, const EnhanceHooks& hooks = {},
                 bool skipResize = false);

// Rendering a part of the page: the part `rect` of the page EnhanceImage
// (viewer mode, no hooks) makes of `page`, computed from that part of `page`
// and the margin its steps read (EnhancedPartMargin): the same bytes, in a fraction of the time for
// a small part of a large page. The crop moves the part across the page; the filters treat the
// page's edges as they do on the whole page, since the part's source reaches them wherever the part
// does.
//
// EnhancedPartMargin is that margin: the sum of the radii of the steps that
// act (one pixel for sharpening, one for softening). EnhancedPartSize gives
// the size of the whole enhanced page, or false when a step that acts needs
// the whole page (StepsNeedingWholePage): a resize (unless `skipResize`),
// auto levels, or a colour reduction (its palette comes from every pixel).
int32_t EnhancedPartMargin(const EnhanceSettings& params);
bool EnhancedPartSize(const EnhanceSettings& params, const DibImage& page, bool skipResize,
                      int32_t& width, int32_t& height);
// Enhances the part `rect` of the enhanced page into `part` (its size that
// of `rect`). False, `part` untouched, when EnhancedPartSize is false, when
// `rect` is empty or not inside the enhanced page, or when memory runs out;
// the abort check of `hooks` (the only hook used) stops it with false too.
bool EnhancePart(const EnhanceSettings& params, const DibImage& page, const DibRect& rect,
                 bool skipResize, DibImage& part, const EnhanceHooks& hooks = {});
// The whole enhanced page made band by band (bands of `bandRows` rows, each
// as EnhancePart makes it, so the same bytes as EnhanceImage), asking the
// abort check of `hooks` before each band: a run that can be given up
// within one band's time. An `enhanced` of the enhanced page's size is
// written over (room made before), else a new image is made. False when
// EnhancedPartSize is false, when stopped, or when memory runs out (then
// `enhanced` is left empty, or untouched when it had another size).
bool EnhanceInBands(const EnhanceSettings& params, const DibImage& page, bool skipResize,
                    DibImage& enhanced, const EnhanceHooks& hooks, int32_t bandRows);

// Stage names shown by the batch job, in pipeline order.
inline constexpr std::string_view kStageEnlarge = INKBRITE_TEXT("core", "放大");
inline constexpr std::string_view kStageCrop = INKBRITE_TEXT("core", "切边");
inline constexpr std::string_view kStageSharpen = INKBRITE_TEXT("core", "锐化");
inline constexpr std::string_view kStageCurve = INKBRITE_TEXT("core", "曲线调节");
inline constexpr std::string_view kStageBrightness = INKBRITE_TEXT("core", "调节亮度");
inline constexpr std::string_view kStageHighlight = INKBRITE_TEXT("core", "调节高亮度");
inline constexpr std::string_view kStageContrast = INKBRITE_TEXT("core", "调节对比度");
inline constexpr std::string_view kStageGamma = INKBRITE_TEXT("core", "Gamma校正");
inline constexpr std::string_view kStageSoften = INKBRITE_TEXT("core", "柔化");
inline constexpr std::string_view kStageReduce = INKBRITE_TEXT("core", "缩小");

// The settings of the five tone steps (slots 4, 13, 14, 15, 0, 2, 12, 1, 3),
// for one TonePass.
ToneSettings ReadToneSettings(const EnhanceSettings& params);

// The (grey, bits, colours) reduction of colour modes 3 to 7; false for the
// modes that keep full colour or grey (0, 1, 2) and for unknown modes.
struct ColourReduction {
  bool grey;
  int bits;
  int colours;
};
bool ReductionForColourMode(int mode, ColourReduction& reduction);

}  // namespace inkbrite
