// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/enhance.h"

#include <array>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "core/filter3x3.h"

namespace inkbrite {

ToneSettings ReadToneSettings(const CParaBlock& params) {
  ToneSettings s;
  s.curveX1 = params.GetValue(kCurveX1);
  s.curveY1 = params.GetValue(kCurveY1);
  s.curveX2 = params.GetValue(kCurveX2);
  s.curveY2 = params.GetValue(kCurveY2);
  s.brightness = params.GetValue(kBrightness);
  s.highlightGain = params.GetValue(kHighlight);
  s.highlightThreshold = params.GetValue(kThreshold);
  s.contrast = params.GetValue(kContrast);
  s.gamma = params.GetValue(kGamma);
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
  const FilterRowLoop loop = SharpenRowLoop(level);
  const int32_t height = image.Height();
  if (loop == nullptr || !image.Is24Bit() || image.Width() <= 2 || height <= 2) return false;
  const auto pixels = static_cast<size_t>(image.Width());
  const size_t count = pixels * 3;
  std::vector<uint8_t> above;
  std::vector<uint8_t> current;
  try {
    above.resize(count);
    current.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(above.data(), image.Row(0), count);
  tone.MapPixels(image.Row(0), pixels);
  for (int32_t y = 1; y < height - 1; ++y) {
    uint8_t* row = image.Row(y);
    std::memcpy(current.data(), row, count);
    loop(above.data(), current.data(), image.Row(y + 1), row, count);
    tone.MapPixels(row, pixels);
    above.swap(current);
  }
  tone.MapPixels(image.Row(height - 1), pixels);
  return true;
}

// The hooks of one run, with the empty ones doing nothing.
class Run {
 public:
  explicit Run(const EnhanceHooks& hooks) : m_hooks(hooks) {}
  bool BatchMode() const { return static_cast<bool>(m_hooks.status); }
  void Status(std::string_view text) const {
    if (m_hooks.status) m_hooks.status(EngineText(text));
  }
  void Progress() const {
    if (m_hooks.progress) m_hooks.progress();
  }
  int Abort() const { return m_hooks.abortCheck ? m_hooks.abortCheck() : 0; }

 private:
  const EnhanceHooks& m_hooks;
};

}  // namespace

int EnhanceImage(const CParaBlock& params, DibImage& image, const EnhanceHooks& hooks,
                 bool skipResize) {
  const Run run(hooks);

  // 1. Grey first in the viewer, so every later step sees the grey page.
  if (!run.BatchMode() && IsGreyMode(params.GetValue(kGreyScale))) image.Greyscale();

  // 2. Enlarge.
  const int resize = params.GetValue(kResize);
  if (!skipResize && resize >= 100) {
    run.Status(kStageEnlarge);
    image.ResizePercent(resize);
    run.Progress();
  }
  if (int stop = run.Abort()) return stop;

  // 3. Crop: margins in pixels of the (enlarged) page.
  const int left = params.GetValue(kCroppingLeft);
  const int top = params.GetValue(kCroppingTop);
  const int right = params.GetValue(kCroppingRight);
  const int bottom = params.GetValue(kCroppingBottom);
  if (left != 0 || top != 0 || right != 0 || bottom != 0) {
    run.Status(kStageCrop);
    image.Crop(left, top, right, bottom);
  }
  run.Progress();
  if (int stop = run.Abort()) return stop;

  // Auto levels, off by default: on the cropped page, before sharpening
  // and the tone steps stretch it further. With no sharpening between, a
  // table shared by the three channels joins the tone pass (the same bytes,
  // one pass over the page fewer).
  const int sharpen = params.GetValue(kSharpen);
  std::array<uint8_t, 256> levelsTable{};
  bool levelsInTone = false;
  if (params.GetValue(kAutoLevels) != 0) {
    run.Status(kStageAutoLevels);
    const LevelsFound found = FindAutoLevels(image, ReadAutoLevelsSettings(params));
    levelsInTone = !(sharpen >= 1 && sharpen <= 9) && SharedLevelsTable(found, levelsTable);
    if (!levelsInTone) ApplyLevels(image, found);
    if (hooks.findings) {
      hooks.findings->levelsRan = true;
      hooks.findings->levels = found;
    }
    if (int stop = run.Abort()) return stop;
  }

  // 4. Sharpen. In the batch, where a stopped page is dropped, the tone
  // pass (steps 5 to 9) runs in the same walk over the page (the same
  // bytes; auto levels never joins the tone pass when sharpening).
  const TonePass tone = levelsInTone ? TonePass(ReadToneSettings(params), levelsTable)
                                     : TonePass(ReadToneSettings(params));
  bool toned = false;
  if (sharpen != 0) {
    run.Status(kStageSharpen);
    if (sharpen >= 1 && sharpen <= 9) {
      toned = run.BatchMode() && !tone.IsIdentity() && SharpenAndTone(image, sharpen, tone);
      if (!toned) image.Sharpen(sharpen);
    }
  }
  run.Progress();
  if (int stop = run.Abort()) return stop;

  // 5 to 9. Tone: the five steps as one pass over the page, which gives the
  // bytes of the five one after the other. Each step still shows its name,
  // counts its unit and is followed by the abort check; the pass runs at the
  // first of them, where the five steps' slots are read together.
  for (size_t step = 0; step < std::size(kToneStages); ++step) {
    run.Status(kToneStages[step]);
    if (step == 0 && !toned) tone.Apply(image);
    run.Progress();
    if (int stop = run.Abort()) return stop;
  }

  // 10. Soften.
  const int blur = params.GetValue(kBlur);
  if (blur == 1 || blur == 2) {
    run.Status(kStageSoften);
    image.Soften(blur);
  }
  run.Progress();
  if (int stop = run.Abort()) return stop;

  // 11. Reduce, last, so that every filter worked on the larger size.
  if (!skipResize && resize < 100) {
    run.Status(kStageReduce);
    image.ResizePercent(resize);
    run.Progress();
  }

  // 12. Colour reduction in the viewer; the batch job reduces when it saves.
  ColourReduction reduction{};
  if (!run.BatchMode() && ReductionForColourMode(params.GetValue(kGreyScale), reduction)) {
    image.ReduceColours(reduction.grey, reduction.bits, reduction.colours);
  }
  return 0;
}

}  // namespace inkbrite
