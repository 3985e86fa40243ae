// SPDX-License-Identifier: GPL-2.0-or-later
// The automatic clean-up steps in the enhancement pipeline: where each runs,
// how their settings are read from a parameter block, and how what they
// found is reported.
//
//   decoded page
//     |  source stage (PrepareSourcePages), before any resizing:
//     |    despeckle       "去污点"    (kDespeckle: the largest speck)
//     |    descreen        "去网纹"    (kDescreen: strength)
//     |    JPEG clean-up   "JPEG去块"  (kJpegCleanup), on the file's block grid
//     |    deskew          "纠斜"      (kDeskew)
//     |    spread split    "分页"      (kSplitSpreads): one page or two
//     |    margin crop     "自动切边"  (kAutoCrop), each page (with kAutoCropFill
//     |                               the margins painted paper instead)
//     |    screen fit      "适应屏幕"  (kFitWidth and kFitHeight both set): each
//     |                               page reduced (never enlarged) to fit
//     v
//   the host resizes (the viewer fits the page to its window) and runs
//   EnhanceImage on each page, which runs
//          auto levels     "自动色阶"  (kAutoLevels) after the fixed crop and
//                                     before sharpening and the tone steps
//
// Deskew and spread detection look at the page as scanned; margin crop at
// each page of it, before enlarging or fitting, so its box is in pixels of
// the scan and the fitted page fills the window; auto levels at the page the
// tone steps then work on. With every step off (the reset values) neither
// stage changes a pixel, reads a pixel, or calls a hook: the results are
// those of the pipeline without the steps, byte for byte.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/auto_levels.h"
#include "core/descreen.h"
#include "core/deskew.h"
#include "core/despeckle.h"
#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "core/margin_crop.h"
#include "core/para_block.h"
#include "core/spread_split.h"
#include "platform/messages.h"

namespace inkbrite {

// The range of each slot of the automatic steps is its row's in
// core/para_slots.h (the clamped rows): values from elsewhere (a hand-edited
// settings file) are clamped into it when the steps read them.
using SlotRange = ParaSlotRow;
// The row of `slot` when it is one of the automatic steps' slots.
const SlotRange* AutoSlotRange(int slot);

// Stage names shown by the batch job.
inline constexpr std::string_view kStageDespeckle = INKBRITE_TEXT("core", "去污点");
inline constexpr std::string_view kStageDescreen = INKBRITE_TEXT("core", "去网纹");
inline constexpr std::string_view kStageJpegCleanup = INKBRITE_TEXT("core", "JPEG去块");
inline constexpr std::string_view kStageLearned = INKBRITE_TEXT("core", "智能放大");
inline constexpr std::string_view kStageDeskew = INKBRITE_TEXT("core", "纠斜");
inline constexpr std::string_view kStageSplit = INKBRITE_TEXT("core", "分页");
inline constexpr std::string_view kStageAutoCrop = INKBRITE_TEXT("core", "自动切边");
inline constexpr std::string_view kStageAutoLevels = INKBRITE_TEXT("core", "自动色阶");
inline constexpr std::string_view kStageFit = INKBRITE_TEXT("core", "适应屏幕");

// The steps' settings as read from a snapshot (clamped). The screen fit
// resamples with the snapshot's own ResizeType slot.
struct AutoSteps {
  bool deskew = false;
  DeskewSettings deskewSettings;
  bool split = false;
  bool rightToLeft = false;
  bool crop = false;
  MarginCropSettings cropSettings;
  bool facing = false;
  bool cropFill = false;  // margins painted paper, the page keeping its size
  bool levels = false;
  AutoLevelsSettings levelsSettings;
  int fitWidth = 0;  // both nonzero: reduce to fit
  int fitHeight = 0;
  int filter = 0;  // resampling filter of the fit (kResizeType)

  // Some step of the source stage runs (its row in core/steps.cpp says so;
  // the restoration steps too).
  bool sourceStage = false;

  bool Fit() const { return fitWidth > 0 && fitHeight > 0; }
  bool AnySourceStep() const { return sourceStage; }
};
AutoSteps ReadAutoSteps(const EnhanceSettings& params);

// What a single page looks like to the spread split: the screen the pages
// are fitted to when there is one, else nothing known (see SinglePage).
SinglePage SpreadReference(const EnhanceSettings& params);
// Only the settings of auto levels (for the pipeline's own step).
AutoLevelsSettings ReadAutoLevelsSettings(const EnhanceSettings& params);

// What the steps found on one page that the pipeline puts out.
struct PageFindings {
  bool despeckleRan = false;
  SpecksFound specks;  // of the decoded page
  bool descreenRan = false;
  ScreenFound screen;
  bool jpegCleanupRan = false;
  JpegCleanupFound jpegCleanup;
  bool learnedRan = false;
  bool learnedDone = false;  // false: the helper or its weights were missing, the page kept
  bool deskewRan = false;
  SkewFound skew;  // of the scanned page
  bool splitRan = false;
  SpreadFound spread;  // of the scanned page
  int part = 0;        // 0: the whole scanned page; 1, 2: its first or second page in reading order
  bool cropRan = false;
  CropFound crop;
  bool levelsRan = false;
  LevelsFound levels;
  bool fitRan = false;  // the page was larger than the screen and was reduced
  int32_t fitWidth = 0;
  int32_t fitHeight = 0;
};

// The outcome of the source stage.
struct SourceStage {
  int pages = 1;    // 1, or 2 for a split spread
  int stopped = 0;  // the abort check's nonzero answer, when it ended the stage
};

// The source stage (the source rows of core/steps.cpp): deskews `page`,
// splits it when it is a spread (then `page` becomes the first page in
// reading order and `second` the second), crops the margins of each page
// (with the facing option the two pages of a split spread share one box), and
// reduces each page that is larger than the screen size to fit it. What was
// found goes to `findings`, one entry per page. The status hook receives each
// step's name before it runs; the abort check is asked after each step that
// ran, and a nonzero answer ends the stage at once. A page that is not 24
// bits is left alone. A spread is told from the shape of the screen the
// pages are fitted to when there is one (see SinglePage), else by being
// wider than tall. `quantisers`: the luminance table of the JPEG file the
// page was decoded from, when the reader passed it (JPEG clean-up).
SourceStage PrepareSourcePages(const EnhanceSettings& params, DibImage& page, DibImage& second,
                               PageFindings findings[2],
                               const std::function<void(std::string_view)>& status = {},
                               const std::function<int()>& abortCheck = {},
                               const JpegQuantisers* quantisers = nullptr);

// One line of what the steps found, for a status bar or a record, e.g.
//   纠斜 1.25° (把握 87%)  分页 第851列 1/2  切边 91,91-1609,2363  色阶 12-243  缩至 1072×1448
// (the restoration steps first: "去污点 12" specks removed, "去网纹 6.0px 45°"
// the screen's period and angle, "JPEG去块"). Steps that did not run are left
// out; a step that ran and left the page alone says so ("纠斜 不变"); deskew
// says how sure it was of the angle (SkewFound::sure, in percent). Empty when
// no step ran.
std::string DescribeFindings(const PageFindings& findings);

// The same as fields for a machine, separated by tabs:
//   skew=1.25  split=851/2  crop=91,91,1609,2363  levels=12,243,243,243  fit=1072x1448  sure=87
// (split: the column and which page; crop: left, top, right, bottom;
// levels: black, then the white of red, green and blue), with "-" for a
// step that ran and changed nothing and nothing after "=" for one that did
// not run (fit: for a page that was not reduced; sure: how sure deskew
// was, in percent, also when it left the page alone).
std::string FindingsFields(const PageFindings& findings);

}  // namespace inkbrite
