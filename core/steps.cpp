// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/steps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/auto_steps.h"
#include "core/enhance.h"
#include "core/enhance_rows.h"
#include "core/filter3x3.h"
#include "core/learned.h"

namespace inkbrite {

const TonePass& StepRun::Tone() {
  if (!tone) {
    tone.emplace(levelsInTone ? TonePass(ReadToneSettings(Params()), levelsTable)
                              : TonePass(ReadToneSettings(Params())));
  }
  return *tone;
}

namespace {

constexpr SlotMask kToneSlots = Slots({kCurveX1, kCurveY1, kCurveX2, kCurveY2, kBrightness,
                                       kHighlight, kThreshold, kContrast, kGamma});

// A switch of an automatic step, clamped as the steps read it.
bool On(const EnhanceSettings& params, int slot) {
  const SlotRange* range = AutoSlotRange(slot);
  return (range ? ClampToRow(*range, params[slot]) : params[slot]) != 0;
}

// ---- the source stage ----

int Clamped(const EnhanceSettings& params, int slot) {
  const SlotRange* range = AutoSlotRange(slot);
  return range ? ClampToRow(*range, params[slot]) : params[slot];
}

// The restoration steps come first, on the page as decoded: the specks
// before the screen's analysis, the JPEG blocks on the file's own grid.
void ApplyDespeckle(StepRun& run) {
  run.findings[0].despeckleRan = true;
  run.findings[0].specks = Despeckle(run.Page(), Clamped(run.Params(), kDespeckle));
}

void ApplyDescreen(StepRun& run) {
  run.findings[0].descreenRan = true;
  run.findings[0].screen = Descreen(run.Page(), Clamped(run.Params(), kDescreen),
                                    Clamped(run.Params(), kDescreenKeepDots));
}

void ApplyJpegCleanup(StepRun& run) {
  run.findings[0].jpegCleanupRan = true;
  run.findings[0].jpegCleanup = CleanJpegArtefacts(run.Page(), run.quantisers);
}

// The learned networks, after the classical clean-up and before any step
// that measures the page: the page is then twice its size.
void ApplyLearnedStep(StepRun& run) {
  const EnhanceSettings& p = run.Params();
  const LearnedChoice choice{Clamped(p, kLearnedModel), Clamped(p, kLearnedNoise),
                             Clamped(p, kLearnedScale)};
  run.findings[0].learnedRan = true;
  run.findings[0].learnedDone = ApplyLearned(run.Page(), choice);
}

void ApplyDeskew(StepRun& run) {
  const AutoSteps steps = ReadAutoSteps(run.Params());
  run.findings[0].deskewRan = true;
  run.findings[0].skew = Deskew(run.Page(), steps.deskewSettings);
}

// A spread becomes its first page in reading order, and the second page.
void ApplySplit(StepRun& run) {
  const AutoSteps steps = ReadAutoSteps(run.Params());
  PageFindings* findings = run.findings;
  findings[0].splitRan = true;
  findings[0].spread = FindSpread(run.Page(), SpreadReference(run.Params()));
  DibImage first;
  if (findings[0].spread.split &&
      SplitSpread(run.Page(), findings[0].spread, steps.rightToLeft, first, *run.pages[1])) {
    run.Page() = std::move(first);
    run.pageCount = 2;
    findings[0].part = 1;
    findings[1] = findings[0];
    findings[1].part = 2;
  } else {
    findings[0].spread.split = false;  // not a spread, or no memory to split it
  }
}

// With the facing option the two pages of a split spread share one box; with
// the fill option the margins are painted paper instead of cut.
void ApplyAutoCrop(StepRun& run) {
  const AutoSteps steps = ReadAutoSteps(run.Params());
  PageFindings* findings = run.findings;
  for (int i = 0; i < run.pageCount; ++i) {
    findings[i].cropRan = true;
    findings[i].crop = FindMarginCrop(*run.pages[i], steps.cropSettings);
  }
  if (run.pageCount == 2 && steps.facing) ShareFacingCrop(findings[0].crop, findings[1].crop);
  for (int i = 0; i < run.pageCount; ++i) {
    const CropFound& crop = findings[i].crop;
    if (crop.applied && !(steps.cropFill ? FillMargins(*run.pages[i], crop)
                                         : ApplyMarginCrop(*run.pages[i], crop))) {
      findings[i].crop.applied = false;
    }
  }
}

// Each page larger than the screen is reduced (never enlarged) to fit it.
void ApplyFit(StepRun& run) {
  const AutoSteps steps = ReadAutoSteps(run.Params());
  for (int i = 0; i < run.pageCount; ++i) {
    DibImage& page = *run.pages[i];
    int32_t w = 0;
    int32_t h = 0;
    page.FitSize(steps.fitWidth, steps.fitHeight, w, h);
    if ((w != page.Width() || h != page.Height()) && page.ResizeTo(w, h, steps.filter)) {
      run.findings[i].fitRan = true;
      run.findings[i].fitWidth = w;
      run.findings[i].fitHeight = h;
    }
  }
}

// ---- the page stage ----

// Sharpen(level) and then the tone pass in one walk over the page: a row is
// toned as soon as it is sharpened, while it is still in cache. No row's
// sharpening reads a toned row: it reads copies of the original rows above
// and at it, and the row below before that one's turn. The bytes are those
// of Sharpen then TonePass::Apply; false, with the page untouched, for a
// page the filter leaves alone (a side of 2 pixels or less) or no memory.
bool SharpenAndTone(DibImage& image, int level, const TonePass& tone) {
  const bool grey = image.IsGreyLevels();
  const int channels = grey ? 1 : 3;
  const FilterRowLoop loop = SharpenRowLoop(level, channels);
  const int32_t height = image.Height();
  if (loop == nullptr || !(image.Is24Bit() || grey) || image.Width() <= 2 || height <= 2) {
    return false;
  }
  const auto pixels = static_cast<size_t>(image.Width());
  const size_t count = pixels * static_cast<size_t>(channels);
  std::vector<uint8_t> above;
  std::vector<uint8_t> current;
  try {
    above.resize(count);
    current.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const auto toneRow = [&](uint8_t* row) {
    if (grey) {
      tone.MapGrey(row, pixels);
    } else {
      tone.MapPixels(row, pixels);
    }
  };
  std::memcpy(above.data(), image.Row(0), count);
  toneRow(image.Row(0));
  for (int32_t y = 1; y < height - 1; ++y) {
    uint8_t* row = image.Row(y);
    std::memcpy(current.data(), row, count);
    loop(above.data(), current.data(), image.Row(y + 1), row, count);
    toneRow(row);
    above.swap(current);
  }
  toneRow(image.Row(height - 1));
  return true;
}

bool SharpenOn(int level) { return level >= 1 && level <= 9; }

// The viewer's steps work on 24-bit pages, grey first, so every later step
// sees the grey page.
void ApplyViewerGrey(StepRun& run) {
  DibImage& image = run.Page();
  if (image.IsGreyLevels()) image.ConvertTo24Bit();
  if (IsGreyMode(run.Params()[kGreyScale])) image.Greyscale();
}

// With no sharpening between, a table shared by the three channels joins the
// tone pass (the same bytes, one pass over the page fewer).
void ApplyAutoLevels(StepRun& run) {
  DibImage& image = run.Page();
  // The analysis reads blue-green-red pixels (no memory for them: the step
  // cannot run).
  if (image.IsGreyLevels() && !image.ConvertTo24Bit()) return;
  const LevelsFound found = FindAutoLevels(run.levelsFrom != nullptr ? *run.levelsFrom : image,
                                           ReadAutoLevelsSettings(run.Params()));
  run.levelsInTone =
      !SharpenOn(run.Params()[kSharpen]) && SharedLevelsTable(found, run.levelsTable);
  if (!run.levelsInTone) ApplyLevels(image, found);
  if (run.findings != nullptr) {
    run.findings->levelsRan = true;
    run.findings->levels = found;
  }
}

// In the batch, where a stopped page is dropped, the tone pass runs in the
// same walk over the page (the same bytes; auto levels never joins the tone
// pass when sharpening).
void ApplySharpen(StepRun& run) {
  const int level = run.Params()[kSharpen];
  if (!SharpenOn(level)) return;
  DibImage& image = run.Page();
  const TonePass& tone = run.Tone();
  const bool changes = image.IsGreyLevels() ? !tone.IsGreyIdentity() : !tone.IsIdentity();
  run.toned = run.Batch() && changes && SharpenAndTone(image, level, tone);
  if (!run.toned) image.Sharpen(level);
}

void ApplyColourReduction(StepRun& run) {
  ColourReduction reduction{};
  if (ReductionForColourMode(run.Params()[kGreyScale], reduction)) {
    run.Page().ReduceColours(reduction.grey, reduction.bits, reduction.colours);
  }
}

bool Margins(const StepContext& c) {
  const EnhanceSettings& p = c.params;
  return p[kCroppingLeft] != 0 || p[kCroppingTop] != 0 || p[kCroppingRight] != 0 ||
         p[kCroppingBottom] != 0;
}

bool Always(const StepContext&) { return true; }
void Nothing(StepRun&) {}
bool AtFullSize(const StepContext& c) { return c.params[kResize] == 100; }
void Resize(StepRun& run) { run.Page().ResizePercent(run.Params()[kResize], run.Params().filter); }

using R = StepReach;
using T = StepStage;
constexpr int kNoSlot = -1;

// In pipeline order. Each step shows its name only when it runs. The five
// tone steps are one pass over the page, which gives the bytes of the five
// one after the other; it runs at the first of them, where their slots are
// read together, and each still shows its name, counts its unit and is
// followed by the abort check.
// clang-format off
constexpr StepRow kStepRows[] = {
    // The source stage, on the decoded page before any resizing. First the
    // restoration steps: a speck is at most the setting's pixels wide, so
    // it reads that far and a little more; the JPEG clean-up works on the
    // file's 8 x 8 grid.
    {kStageDespeckle, T::kSource, R::kNeighbourhood, 3, kDespeckle, Slots({kDespeckle}),
     [](const StepContext& c) { return On(c.params, kDespeckle); }, nullptr, ApplyDespeckle,
     nullptr, When::kNever, When::kIfRun},
    {kStageDescreen, T::kSource, R::kPage, 0, kNoSlot, Slots({kDescreen, kDescreenKeepDots}),
     [](const StepContext& c) { return On(c.params, kDescreen); }, nullptr, ApplyDescreen,
     nullptr, When::kNever, When::kIfRun},
    {kStageJpegCleanup, T::kSource, R::kNeighbourhood, 8, kNoSlot, Slots({kJpegCleanup}),
     [](const StepContext& c) { return On(c.params, kJpegCleanup); }, nullptr, ApplyJpegCleanup,
     nullptr, When::kNever, When::kIfRun},
    {kStageLearned, T::kSource, R::kPage, 0, kNoSlot,
     Slots({kLearned, kLearnedScale, kLearnedModel, kLearnedNoise}),
     [](const StepContext& c) { return On(c.params, kLearned); }, nullptr, ApplyLearnedStep, nullptr,
     When::kNever, When::kIfRun},
    // Then the automatic clean-up steps: deskew and
    // spread detection look at the page as scanned, margin crop at each page
    // of it, so its box is in pixels of the scan.
    {kStageDeskew, T::kSource, R::kPage, 0, kNoSlot, Slots({kDeskew, kDeskewRange}),
     [](const StepContext& c) { return On(c.params, kDeskew); }, nullptr, ApplyDeskew, nullptr,
     When::kNever, When::kIfRun},
    {kStageSplit, T::kSource, R::kPage, 0, kNoSlot,
     Slots({kSplitSpreads, kSplitRightToLeft, kFitWidth, kFitHeight}),
     [](const StepContext& c) { return On(c.params, kSplitSpreads); }, nullptr, ApplySplit,
     nullptr, When::kNever, When::kIfRun},
    {kStageAutoCrop, T::kSource, R::kPage, 0, kNoSlot,
     Slots({kAutoCrop, kAutoCropBorder, kAutoCropTolerance, kAutoCropMinShare, kAutoCropFacing,
            kAutoCropFill}),
     [](const StepContext& c) { return On(c.params, kAutoCrop); }, nullptr, ApplyAutoCrop,
     nullptr, When::kNever, When::kIfRun},
    {kStageFit, T::kSource, R::kPage, 0, kNoSlot, Slots({kFitWidth, kFitHeight, kResizeType}),
     [](const StepContext& c) { return On(c.params, kFitWidth) && On(c.params, kFitHeight); },
     nullptr, ApplyFit, nullptr, When::kNever, When::kIfRun},

    // The page stage.
    {{}, T::kPage, R::kPixel, 0, kNoSlot, Slots({kGreyScale}),
     [](const StepContext& c) { return c.mode == EnhanceMode::kViewer; }, nullptr,
     ApplyViewerGrey, nullptr, When::kNever, When::kNever},
    {kStageEnlarge, T::kPage, R::kPage, 0, kNoSlot, Slots({kResize, kResizeType}),
     [](const StepContext& c) { return !c.skipResize && c.params[kResize] >= 100; }, AtFullSize,
     Resize, nullptr, When::kIfRun, When::kAlways},
    // Margins in pixels of the (enlarged) page; the part renderer moves the
    // part across the page.
    {kStageCrop, T::kPage, R::kPixel, 0, kNoSlot,
     Slots({kCroppingLeft, kCroppingTop, kCroppingRight, kCroppingBottom}), Margins, nullptr,
     [](StepRun& r) {
       const EnhanceSettings& p = r.Params();
       r.Page().Crop(p[kCroppingLeft], p[kCroppingTop], p[kCroppingRight], p[kCroppingBottom]);
     },
     nullptr, When::kAlways, When::kAlways},
    // Off by default: on the cropped page, before sharpening and the tone
    // steps stretch it further.
    {kStageAutoLevels, T::kPage, R::kPage, 0, kNoSlot,
     Slots({kAutoLevels, kAutoLevelsClip, kAutoLevelsLimit, kAutoLevelsNeutral, kSharpen}),
     [](const StepContext& c) { return c.params[kAutoLevels] != 0; }, nullptr, ApplyAutoLevels,
     nullptr, When::kNever, When::kIfRun},
    {kStageSharpen, T::kPage, R::kNeighbourhood, 1, kNoSlot, Slots({kSharpen}) | kToneSlots,
     [](const StepContext& c) { return c.params[kSharpen] != 0; },
     [](const StepContext& c) { return !SharpenOn(c.params[kSharpen]); }, ApplySharpen,
     SharpenRows, When::kAlways, When::kAlways},
    {kStageCurve, T::kPage, R::kPixel, 0, kNoSlot, kToneSlots, Always, nullptr,
     [](StepRun& r) {
       if (!r.toned) r.Tone().Apply(r.Page());
     },
     ToneRows, When::kAlways, When::kAlways},
    {kStageBrightness, T::kPage, R::kPixel, 0, kNoSlot, Slots({kBrightness}), Always, nullptr,
     Nothing, NoRows, When::kAlways, When::kAlways},
    {kStageHighlight, T::kPage, R::kPixel, 0, kNoSlot, Slots({kHighlight, kThreshold}), Always,
     nullptr, Nothing, NoRows, When::kAlways, When::kAlways},
    {kStageContrast, T::kPage, R::kPixel, 0, kNoSlot, Slots({kContrast}), Always, nullptr,
     Nothing, NoRows, When::kAlways, When::kAlways},
    {kStageGamma, T::kPage, R::kPixel, 0, kNoSlot, Slots({kGamma}), Always, nullptr, Nothing,
     NoRows, When::kAlways, When::kAlways},
    {kStageSoften, T::kPage, R::kNeighbourhood, 1, kNoSlot, Slots({kBlur}),
     [](const StepContext& c) { return c.params[kBlur] == 1 || c.params[kBlur] == 2; }, nullptr,
     [](StepRun& r) { r.Page().Soften(r.Params()[kBlur]); }, SoftenRows, When::kAlways,
     When::kAlways},
    // Last of the batch's steps, so that every filter worked on the larger
    // size.
    {kStageReduce, T::kPage, R::kPage, 0, kNoSlot, Slots({kResize, kResizeType}),
     [](const StepContext& c) { return !c.skipResize && c.params[kResize] < 100; }, nullptr,
     Resize, nullptr, When::kIfRun, When::kNever},
    // The viewer's colour reduction, last: its palette comes from every
    // pixel.
    {{}, T::kPage, R::kPage, 0, kNoSlot, Slots({kGreyScale}),
     [](const StepContext& c) {
       ColourReduction reduction{};
       return c.mode == EnhanceMode::kViewer &&
              ReductionForColourMode(c.params[kGreyScale], reduction);
     },
     nullptr, ApplyColourReduction, nullptr, When::kNever, When::kNever},
};
// clang-format on

bool Counts(When when, bool ran) { return when == When::kAlways || (when == When::kIfRun && ran); }

}  // namespace

std::span<const StepRow> PipelineSteps() { return kStepRows; }

bool StepActs(const StepRow& row, const StepContext& context) {
  return row.runs(context) && (row.idle == nullptr || !row.idle(context));
}

int32_t StepRadius(const StepRow& row, const EnhanceSettings& params) {
  if (row.reach != StepReach::kNeighbourhood) return 0;
  return row.radius + (row.radiusSlot >= 0 ? std::max(0, params[row.radiusSlot]) : 0);
}

std::vector<const StepRow*> StepsNeedingWholePage(const StepContext& context, StepStage stage) {
  std::vector<const StepRow*> rows;
  for (const StepRow& row : kStepRows) {
    if (row.stage == stage && row.reach == StepReach::kPage && StepActs(row, context)) {
      rows.push_back(&row);
    }
  }
  return rows;
}

SlotMask SlotsReadBy(StepStage stage) {
  SlotMask mask = 0;
  for (const StepRow& row : kStepRows) mask |= row.stage == stage ? row.reads : 0;
  return mask;
}

int RunSteps(StepStage stage, StepRun& run, const EnhanceHooks& hooks) {
  for (const StepRow& row : kStepRows) {
    if (row.stage != stage) continue;
    const bool ran = row.runs(run.context);
    if (ran) {
      if (hooks.status && !row.name.empty()) hooks.status(EngineText(row.name));
      row.apply(run);
    }
    if (Counts(row.progress, ran) && hooks.progress) hooks.progress();
    if (Counts(row.abortCheck, ran) && hooks.abortCheck) {
      if (const int stop = hooks.abortCheck()) return stop;
    }
  }
  return 0;
}

}  // namespace inkbrite
