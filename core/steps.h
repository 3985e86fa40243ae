// SPDX-License-Identifier: GPL-2.0-or-later
// The steps of the enhancement pipeline, one row each (kStepRows in
// core/steps.cpp), in pipeline order:
//
//   decoded page
//     | source stage (PrepareSourcePages), before the host resizes the page:
//     |   the automatic clean-up steps; a spread may become two pages
//     v
//   the host resizes (the viewer fits the page to its window)
//     | page stage (EnhanceImage): greyscale (viewer), enlarge, crop, auto
//     |   levels, sharpen, the five tone steps, soften, reduce, colour
//     v   reduction (viewer)
//
// A row says when the step runs (reading only its switches while it is
// off), what it does, which slots it reads and how far it reaches: a pixel
// made from the pixel at its place (kPixel), from the pixels within
// `radius` of it (kNeighbourhood), or from anywhere on the page (kPage: a
// resize, a histogram, a palette). Where it has one, the row also gives its
// row kernel, the stages of a RowEnhancer that give its bytes a row at a
// time. What depends on the set of steps is derived from the rows: the part
// renderer's margin (EnhancedPartMargin) and whether a part can be rendered
// alone (EnhancedPartSize), whether a page streams row by row
// (EnhancesRowByRow), and which steps need the whole page
// (StepsNeedingWholePage).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/para_block.h"
#include "core/tone.h"

namespace inkbrite {

class DibImage;
struct PageFindings;
struct JpegQuantisers;

// Who runs the pipeline. The viewer greys the page first and reduces its
// colours last; the batch job does both when it saves, and it drops a page
// it stops, so its run may join steps into one walk over the page.
enum class EnhanceMode : uint8_t { kViewer, kBatch };

enum class StepStage : uint8_t { kSource, kPage };

// How far a step reads around the pixel it makes.
enum class StepReach : uint8_t { kPixel, kNeighbourhood, kPage };

// When a step advances the progress display or asks the abort check.
enum class When : uint8_t { kAlways, kIfRun, kNever };

// The slots a step reads, one bit a slot.
using SlotMask = uint64_t;
static_assert(kParaSlotCount <= 64, "a slot mask holds every slot");
constexpr SlotMask Slots(std::initializer_list<int> list) {
  SlotMask mask = 0;
  for (int slot : list) mask |= SlotMask{1} << slot;
  return mask;
}

// What decides whether a step runs.
struct StepContext {
  const EnhanceSettings& params;
  EnhanceMode mode;
  bool skipResize;  // the host has sized the page (the resize steps stay out)
};

// How a run is driven: who runs it, and its hooks (all may be empty).
struct EnhanceHooks {
  EnhanceMode mode = EnhanceMode::kViewer;
  // Advances a progress display by one unit.
  std::function<void()> progress;
  // Asked after most steps; a nonzero answer ends the run at once and is
  // returned.
  std::function<int()> abortCheck;
  // Receives the name of each step before it runs.
  std::function<void(std::string_view)> status;
  // Receives what the page stage's automatic step found, when it runs.
  PageFindings* findings = nullptr;
  // The page auto levels measures instead of the one enhanced, when that is
  // a piece of a larger page (a band of a page too tall to hold whole):
  // every piece then maps its tones alike. Null: the page enhanced.
  const DibImage* levelsFrom = nullptr;
};

// One run of a stage over its pages: what the steps share.
struct StepRun {
  StepContext context;
  DibImage* pages[2] = {nullptr, nullptr};
  int pageCount = 1;  // the source stage's spread split makes it 2
  // What the steps found, one entry a page; may be null in the page stage.
  PageFindings* findings = nullptr;
  // The source stage's: the luminance table of the JPEG file the page was
  // decoded from, when known.
  const JpegQuantisers* quantisers = nullptr;
  // The page stage's: EnhanceHooks::levelsFrom.
  const DibImage* levelsFrom = nullptr;

  // The page stage's own: auto levels joins the tone pass when no
  // sharpening sits between; `toned` when sharpening already ran the pass
  // in the same walk.
  std::array<uint8_t, 256> levelsTable{};
  bool levelsInTone = false;
  std::optional<TonePass> tone{};
  bool toned = false;

  const EnhanceSettings& Params() const { return context.params; }
  DibImage& Page() const { return *pages[0]; }
  bool Batch() const { return context.mode == EnhanceMode::kBatch; }
  // The tone pass, made once auto levels has decided whether it joins.
  const TonePass& Tone();
};

// A stage of a RowEnhancer (core/enhance_rows.h): takes rows in order and
// passes its rows on.
class RowStage;
using RowStages = std::vector<std::unique_ptr<RowStage>>;
// The rows the stages work on.
struct RowShape {
  int32_t width;
  int32_t height;
  int channels;  // 3: blue-green-red, 1: grey levels
};

struct StepRow {
  std::string_view name;  // shown when it runs; empty: never shown
  StepStage stage;
  StepReach reach;
  int radius;      // kNeighbourhood: pixels read on each side
  int radiusSlot;  // a slot whose value widens `radius` (-1: none)
  SlotMask reads;  // every slot the step reads
  bool (*runs)(const StepContext&);
  // Runs (shows its name, counts its unit) yet changes no pixel under these
  // settings; null: never.
  bool (*idle)(const StepContext&);
  void (*apply)(StepRun&);
  // Appends the stages that give the step's bytes row by row (none when it
  // changes nothing); null: the step has no row kernel.
  void (*rowKernel)(const EnhanceSettings&, const RowShape&, RowStages&);
  When progress;
  When abortCheck;
};

// Every step, in pipeline order (the source stage's first).
std::span<const StepRow> PipelineSteps();

// The step runs and changes the page.
bool StepActs(const StepRow& row, const StepContext& context);
// Pixels the step reads on each side of a pixel it makes (0 for kPixel).
int32_t StepRadius(const StepRow& row, const EnhanceSettings& params);
// The steps of `stage` that act and need the whole page.
std::vector<const StepRow*> StepsNeedingWholePage(const StepContext& context, StepStage stage);
// Every slot read by a step of `stage`.
SlotMask SlotsReadBy(StepStage stage);

// Runs the steps of `stage` over `run`: each step that runs shows its name,
// is applied, then counts its progress unit and asks the abort check as its
// row says. Returns the abort check's nonzero answer, or 0.
int RunSteps(StepStage stage, StepRun& run, const EnhanceHooks& hooks);

}  // namespace inkbrite
