// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/enhance.h"

#include <array>
#include <iterator>

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

// The hooks of one run, with the empty ones doing nothing.
class Run {
 public:
  explicit Run(const EnhanceHooks& hooks) : m_hooks(hooks) {}
  bool BatchMode() const { return static_cast<bool>(m_hooks.status); }
  void Status(std::string_view text) const {
    if (m_hooks.status) m_hooks.status(text);
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

  // 4. Sharpen.
  if (sharpen != 0) {
    run.Status(kStageSharpen);
    if (sharpen >= 1 && sharpen <= 9) image.Sharpen(sharpen);
  }
  run.Progress();
  if (int stop = run.Abort()) return stop;

  // 5 to 9. Tone: the five steps as one pass over the page, which gives the
  // bytes of the five one after the other. Each step still shows its name,
  // counts its unit and is followed by the abort check; the pass runs at the
  // first of them, where the five steps' slots are read together.
  const TonePass tone = levelsInTone ? TonePass(ReadToneSettings(params), levelsTable)
                                     : TonePass(ReadToneSettings(params));
  for (size_t step = 0; step < std::size(kToneStages); ++step) {
    run.Status(kToneStages[step]);
    if (step == 0) tone.Apply(image);
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
