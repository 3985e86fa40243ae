// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/enhance.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

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

int EnhanceImage(const EnhanceSettings& params, DibImage& image, const EnhanceHooks& hooks,
                 bool skipResize) {
  StepRun run{{params, hooks.mode, skipResize}};
  run.pages[0] = &image;
  run.findings = hooks.findings;
  run.levelsFrom = hooks.levelsFrom;
  return RunSteps(StepStage::kPage, run, hooks);
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

int32_t EnhancedPartMargin(const EnhanceSettings& params) {
  // The part is rendered in viewer mode, its resize already done.
  const StepContext context{params, EnhanceMode::kViewer, true};
  int32_t margin = 0;
  for (const StepRow& row : PipelineSteps()) {
    if (row.stage == StepStage::kPage && StepActs(row, context)) margin += StepRadius(row, params);
  }
  return margin;
}

bool EnhancedPartSize(const EnhanceSettings& params, const DibImage& page, bool skipResize,
                      int32_t& width, int32_t& height) {
  const StepContext context{params, EnhanceMode::kViewer, skipResize};
  if (!page.Is24Bit() || !StepsNeedingWholePage(context, StepStage::kPage).empty()) return false;
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
  const int32_t margin = EnhancedPartMargin(params);
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
