// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/enhance.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "core/filter3x3.h"

namespace inkbrite {

ToneSettings ReadToneSettings(const EnhanceSettings& params) {
  ToneSettings s;
  s.curveX1 = params[kCurveX1];
  s.curveY1 = params[kCurveY1];
  s.curveX2 = params[kCurveX2];
  s.curveY2 = params[kCurveY2];
  s.brightness = params[kBrightness];
  s.highlightGain = params[kHighlight];
  s.highlightThreshold = params[kThreshold];
  s.contrast = params[kContrast];
  s.gamma = params[kGamma];
  return s;
}

bool ReductionForColourMode(int mode, ColourReduction& reduction) {
  switch (mode) {
    case kColours256: reduction = {false, 8, 256}; return true;
    case kGreys16: reduction = {true, 4, 16}; return true;
    case kGreys8: reduction = {true, 4, 8}; return true;
    case kGreys4: reduction = {true, 2, 4}; return true;
    case kBlackWhite: reduction = {true, 1, 2}; return true;
    default: return false;
  }
}

namespace {

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

// What the steps of one run share: the settings, the page, the hooks, and
// the slots a step read when deciding whether it runs.
struct RunState {
  const EnhanceSettings& params;
  DibImage& image;
  const EnhanceHooks& hooks;
  bool skipResize;
  int resize;
  int slots[4] = {};
  // Read at auto levels, which joins the tone pass when no sharpening sits
  // between.
  int sharpen = 0;
  std::array<uint8_t, 256> levelsTable{};
  bool levelsInTone = false;
  // The tone pass, made once auto levels has decided whether it joins; set
  // `toned` when sharpening already ran it in the same walk.
  std::optional<TonePass> tone{};
  bool toned = false;

  bool BatchMode() const { return static_cast<bool>(hooks.status); }
  const TonePass& Tone() {
    if (!tone) {
      tone.emplace(levelsInTone ? TonePass(ReadToneSettings(params), levelsTable)
                                : TonePass(ReadToneSettings(params)));
    }
    return *tone;
  }
};

// When a step advances the progress display or asks the abort check.
enum class When { kAlways, kIfRun, kNever };

// One step of the pipeline: its name, whether it runs (reading its slots),
// what it does to the page, and when it counts progress and asks to abort.
struct Step {
  std::string_view name;
  bool (*runs)(RunState&);
  void (*apply)(RunState&);
  When progress;
  When abortCheck;
};

bool ReadsMargins(RunState& s) {
  s.slots[0] = s.params[kCroppingLeft];
  s.slots[1] = s.params[kCroppingTop];
  s.slots[2] = s.params[kCroppingRight];
  s.slots[3] = s.params[kCroppingBottom];
  return s.slots[0] != 0 || s.slots[1] != 0 || s.slots[2] != 0 || s.slots[3] != 0;
}

// With no sharpening between, a table shared by the three channels joins the
// tone pass (the same bytes, one pass over the page fewer).
void RunAutoLevels(RunState& s) {
  // The analysis reads blue-green-red pixels (no memory for them: the step
  // cannot run).
  if (s.image.IsGreyLevels() && !s.image.ConvertTo24Bit()) return;
  const LevelsFound found = FindAutoLevels(s.image, ReadAutoLevelsSettings(s.params));
  s.levelsInTone = !(s.sharpen >= 1 && s.sharpen <= 9) && SharedLevelsTable(found, s.levelsTable);
  if (!s.levelsInTone) ApplyLevels(s.image, found);
  if (s.hooks.findings) {
    s.hooks.findings->levelsRan = true;
    s.hooks.findings->levels = found;
  }
}

// In the batch, where a stopped page is dropped, the tone pass runs in the
// same walk over the page (the same bytes; auto levels never joins the tone
// pass when sharpening).
void RunSharpen(RunState& s) {
  if (s.sharpen < 1 || s.sharpen > 9) return;
  const TonePass& tone = s.Tone();
  const bool changes = s.image.IsGreyLevels() ? !tone.IsGreyIdentity() : !tone.IsIdentity();
  s.toned = s.BatchMode() && changes && SharpenAndTone(s.image, s.sharpen, tone);
  if (!s.toned) s.image.Sharpen(s.sharpen);
}

bool Always(RunState&) { return true; }
void Nothing(RunState&) {}

// In pipeline order. Each step shows its name only when it runs. The five
// tone steps are one pass over the page, which gives the bytes of the five
// one after the other; it runs at the first of them, where their slots are
// read together, and each still shows its name, counts its unit and is
// followed by the abort check.
constexpr Step kSteps[] = {
    {kStageEnlarge, [](RunState& s) { return !s.skipResize && s.resize >= 100; },
     [](RunState& s) { s.image.ResizePercent(s.resize, s.params.filter); }, When::kIfRun,
     When::kAlways},
    // Margins in pixels of the (enlarged) page.
    {kStageCrop, ReadsMargins,
     [](RunState& s) { s.image.Crop(s.slots[0], s.slots[1], s.slots[2], s.slots[3]); },
     When::kAlways, When::kAlways},
    // Off by default: on the cropped page, before sharpening and the tone
    // steps stretch it further.
    {kStageAutoLevels,
     [](RunState& s) {
       s.sharpen = s.params[kSharpen];
       return s.params[kAutoLevels] != 0;
     },
     RunAutoLevels, When::kNever, When::kIfRun},
    {kStageSharpen, [](RunState& s) { return s.sharpen != 0; }, RunSharpen, When::kAlways,
     When::kAlways},
    {kStageCurve, Always,
     [](RunState& s) {
       if (!s.toned) s.Tone().Apply(s.image);
     },
     When::kAlways, When::kAlways},
    {kStageBrightness, Always, Nothing, When::kAlways, When::kAlways},
    {kStageHighlight, Always, Nothing, When::kAlways, When::kAlways},
    {kStageContrast, Always, Nothing, When::kAlways, When::kAlways},
    {kStageGamma, Always, Nothing, When::kAlways, When::kAlways},
    {kStageSoften,
     [](RunState& s) {
       s.slots[0] = s.params[kBlur];
       return s.slots[0] == 1 || s.slots[0] == 2;
     },
     [](RunState& s) { s.image.Soften(s.slots[0]); }, When::kAlways, When::kAlways},
    // Last, so that every filter worked on the larger size.
    {kStageReduce, [](RunState& s) { return !s.skipResize && s.resize < 100; },
     [](RunState& s) { s.image.ResizePercent(s.resize, s.params.filter); }, When::kIfRun,
     When::kNever},
};

bool Counts(When when, bool ran) { return when == When::kAlways || (when == When::kIfRun && ran); }

}  // namespace

int EnhanceImage(const EnhanceSettings& params, DibImage& image, const EnhanceHooks& hooks,
                 bool skipResize) {
  // In batch mode (a status hook given) the batch job greys and reduces
  // colours when it saves; the viewer does both here.
  RunState state{params, image, hooks, skipResize, params[kResize]};

  // The viewer's steps (greying, colour reduction) work on 24-bit pages.
  if (!state.BatchMode() && image.IsGreyLevels()) image.ConvertTo24Bit();
  // Grey first in the viewer, so every later step sees the grey page.
  if (!state.BatchMode() && IsGreyMode(params[kGreyScale])) image.Greyscale();

  for (const Step& step : kSteps) {
    const bool ran = step.runs(state);
    if (ran) {
      if (hooks.status) hooks.status(EngineText(step.name));
      step.apply(state);
    }
    if (Counts(step.progress, ran) && hooks.progress) hooks.progress();
    if (Counts(step.abortCheck, ran) && hooks.abortCheck) {
      if (const int stop = hooks.abortCheck()) return stop;
    }
  }

  // Colour reduction in the viewer, last.
  ColourReduction reduction{};
  if (!state.BatchMode() && ReductionForColourMode(params[kGreyScale], reduction)) {
    image.ReduceColours(reduction.grey, reduction.bits, reduction.colours);
  }
  return 0;
}

namespace {

// The margins a crop takes off `page`, as DibImage::Crop applies them (all
// zero when it leaves the page as it is).
DibRect CropMargins(const EnhanceSettings& params, const DibImage& page) {
  const int32_t left = params[kCroppingLeft], top = params[kCroppingTop];
  const int32_t right = params[kCroppingRight];
  const int32_t bottom = params[kCroppingBottom];
  if (left < 0 || top < 0 || right < 0 || bottom < 0) return {};
  if (int64_t{page.Width()} - left - right < 1 || int64_t{page.Height()} - top - bottom < 1) {
    return {};
  }
  return {left, top, right, bottom};
}

}  // namespace

bool EnhancedPartSize(const EnhanceSettings& params, const DibImage& page, bool skipResize,
                      int32_t& width, int32_t& height) {
  ColourReduction reduction{};
  if (!page.Is24Bit() || (!skipResize && params[kResize] != 100) || params[kAutoLevels] != 0 ||
      ReductionForColourMode(params[kGreyScale], reduction)) {
    return false;
  }
  const DibRect crop = CropMargins(params, page);
  width = page.Width() - crop.left - crop.right;
  height = page.Height() - crop.top - crop.bottom;
  return true;
}

namespace {

// The part `rect` of the enhanced page, written by `put(row, bytes)` for
// each of its rows, top first; false as EnhancePart.
template <typename Put>
bool RenderPart(const EnhanceSettings& params, const DibImage& page, const DibRect& rect,
                bool skipResize, const EnhanceHooks& hooks, Put put) {
  int32_t width = 0, height = 0;
  if (!EnhancedPartSize(params, page, skipResize, width, height)) return false;
  if (rect.left < 0 || rect.top < 0 || rect.right > width || rect.bottom > height ||
      rect.left >= rect.right || rect.top >= rect.bottom) {
    return false;
  }
  // The part's source: the part moved by the crop, with the filters' margin,
  // within the cropped page.
  const DibRect crop = CropMargins(params, page);
  const int sharpen = params[kSharpen], blur = params[kBlur];
  const int32_t margin = (sharpen >= 1 && sharpen <= 9 ? 1 : 0) + (blur == 1 || blur == 2 ? 1 : 0);
  const DibRect source{crop.left + std::max(0, rect.left - margin),
                       crop.top + std::max(0, rect.top - margin),
                       crop.left + std::min(width, rect.right + margin),
                       crop.top + std::min(height, rect.bottom + margin)};
  try {
    DibImage piece;
    if (!piece.Create(source.Width(), source.Height(), 24)) return false;
    const auto bytes = static_cast<size_t>(source.Width()) * 3;
    for (int32_t y = 0; y < source.Height(); ++y) {
      std::memcpy(piece.Row(y), page.Row(source.top + y) + static_cast<size_t>(source.left) * 3,
                  bytes);
    }
    // The same steps on the piece, the crop and the resize already done.
    EnhanceSettings pieceParams = params;
    for (int slot : {kCroppingLeft, kCroppingTop, kCroppingRight, kCroppingBottom}) {
      pieceParams.Set(slot, 0);
    }
    EnhanceHooks pieceHooks;
    pieceHooks.abortCheck = hooks.abortCheck;
    if (EnhanceImage(pieceParams, piece, pieceHooks, true) != 0) return false;
    const int32_t dx = crop.left + rect.left - source.left, dy = crop.top + rect.top - source.top;
    const auto partBytes = static_cast<size_t>(rect.Width()) * 3;
    for (int32_t y = 0; y < rect.Height(); ++y) {
      put(piece.Row(dy + y) + static_cast<size_t>(dx) * 3, partBytes);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

bool EnhancePart(const EnhanceSettings& params, const DibImage& page, const DibRect& rect,
                 bool skipResize, DibImage& part, const EnhanceHooks& hooks) {
  DibImage result;
  try {
    if (rect.Width() <= 0 || rect.Height() <= 0 ||
        !result.Create(rect.Width(), rect.Height(), 24)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  int32_t y = 0;
  if (!RenderPart(params, page, rect, skipResize, hooks, [&](const uint8_t* row, size_t bytes) {
        std::memcpy(result.Row(y++), row, bytes);
      })) {
    return false;
  }
  part = std::move(result);
  return true;
}

bool EnhanceInBands(const EnhanceSettings& params, const DibImage& page, bool skipResize,
                    DibImage& enhanced, const EnhanceHooks& hooks, int32_t bandRows) {
  int32_t width = 0, height = 0;
  if (bandRows < 1 || !EnhancedPartSize(params, page, skipResize, width, height)) return false;
  DibImage result;
  if (enhanced.Is24Bit() && enhanced.Width() == width && enhanced.Height() == height) {
    result = std::move(enhanced);  // the caller made room for it
  } else {
    try {
      if (!result.Create(width, height, 24)) return false;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  for (int32_t top = 0; top < height; top += bandRows) {
    if (hooks.abortCheck && hooks.abortCheck() != 0) return false;
    int32_t y = top;
    const DibRect band{0, top, width, std::min(height, top + bandRows)};
    if (!RenderPart(params, page, band, skipResize, hooks, [&](const uint8_t* row, size_t bytes) {
          std::memcpy(result.Row(y++), row, bytes);
        })) {
      return false;
    }
  }
  enhanced = std::move(result);
  return true;
}

}  // namespace inkbrite
