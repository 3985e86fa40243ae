// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/auto_steps.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/steps.h"

namespace inkbrite {

namespace {

int Read(const EnhanceSettings& params, int slot) {
  const int value = params[slot];
  const SlotRange* range = AutoSlotRange(slot);
  return range ? ClampToRow(*range, value) : value;
}

bool On(const EnhanceSettings& params, int slot) { return Read(params, slot) != 0; }

std::string Printf(const char* format, auto... values) {
  char text[96];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

const SlotRange* AutoSlotRange(int slot) {
  const ParaSlotRow* row = ParaSlotInfo(slot);
  return row != nullptr && row->clamped ? row : nullptr;
}

AutoLevelsSettings ReadAutoLevelsSettings(const EnhanceSettings& params) {
  return {Read(params, kAutoLevelsClip), Read(params, kAutoLevelsLimit),
          On(params, kAutoLevelsNeutral)};
}

AutoSteps ReadAutoSteps(const EnhanceSettings& params) {
  AutoSteps steps;
  steps.deskew = On(params, kDeskew);
  steps.deskewSettings.maxTenths = Read(params, kDeskewRange);
  steps.split = On(params, kSplitSpreads);
  steps.rightToLeft = On(params, kSplitRightToLeft);
  steps.crop = On(params, kAutoCrop);
  steps.cropSettings = {Read(params, kAutoCropBorder), Read(params, kAutoCropTolerance),
                        Read(params, kAutoCropMinShare)};
  steps.facing = On(params, kAutoCropFacing);
  steps.cropFill = On(params, kAutoCropFill);
  steps.levels = On(params, kAutoLevels);
  steps.levelsSettings = ReadAutoLevelsSettings(params);
  steps.fitWidth = Read(params, kFitWidth);
  steps.fitHeight = Read(params, kFitHeight);
  steps.filter = params[kResizeType];
  const StepContext context{params, EnhanceMode::kBatch, false};
  for (const StepRow& row : PipelineSteps()) {
    steps.sourceStage = steps.sourceStage || (row.stage == StepStage::kSource && row.runs(context));
  }
  return steps;
}

SinglePage SpreadReference(const EnhanceSettings& params) {
  const AutoSteps steps = ReadAutoSteps(params);
  return steps.Fit() ? SinglePage{steps.fitWidth, steps.fitHeight, false} : SinglePage{};
}

SourceStage PrepareSourcePages(const EnhanceSettings& params, DibImage& page, DibImage& second,
                               PageFindings findings[2],
                               const std::function<void(std::string_view)>& status,
                               const std::function<int()>& abortCheck,
                               const JpegQuantisers* quantisers) {
  SourceStage stage;
  findings[0] = {};
  findings[1] = {};
  second.Clear();
  // Only the switches are read while every step is off.
  StepRun run{{params, EnhanceMode::kBatch, false}};
  if (!ReadAutoSteps(params).AnySourceStep() || !page.Is24Bit()) return stage;
  run.pages[0] = &page;
  run.pages[1] = &second;
  run.findings = findings;
  run.quantisers = quantisers;
  EnhanceHooks hooks;
  hooks.status = status;
  hooks.abortCheck = abortCheck;
  stage.stopped = RunSteps(StepStage::kSource, run, hooks);
  stage.pages = run.pageCount;
  return stage;
}

std::string DescribeFindings(const PageFindings& f) {
  std::string text;
  const auto add = [&text](const std::string& part) {
    if (!text.empty()) text += "  ";
    text += part;
  };
  const std::string same(EngineText(INKBRITE_TEXT("core", "不变")));
  const auto named = [](std::string_view name) { return std::string(EngineText(name)) + " "; };
  if (f.despeckleRan) {
    add(named(kStageDespeckle) + std::to_string(f.specks.dark + f.specks.light));
  }
  if (f.descreenRan) {
    add(named(kStageDescreen) + (f.screen.found && !f.screen.kept
                                     ? Printf("%.1fpx %.0f°", f.screen.period, f.screen.angle)
                                     : same));
  }
  if (f.jpegCleanupRan) add(std::string(EngineText(kStageJpegCleanup)));
  if (f.learnedRan) {
    add(named(kStageLearned) +
        (f.learnedDone ? std::string(EngineText(INKBRITE_TEXT("core", "完成"))) : same));
  }
  if (f.deskewRan) {
    add(named(kStageDeskew) + (f.skew.applied ? Printf("%.2f°", f.skew.angle) : same) + " " +
        EngineTextArgs(INKBRITE_TEXT("core", "(把握 %1)"),
                       {std::to_string(std::lround(100.0 * f.skew.sure)) + "%"}));
  }
  if (f.splitRan) {
    add(named(kStageSplit) +
        (f.spread.split ? EngineTextArgs(INKBRITE_TEXT("core", "第%1列 %2/2"),
                                         {std::to_string(f.spread.column), std::to_string(f.part)})
                        : same));
  }
  if (f.cropRan) {
    const DibRect& b = f.crop.box;
    add(named(INKBRITE_TEXT("core", "切边")) +
        (f.crop.applied ? Printf("%d,%d-%d,%d", b.left, b.top, b.right, b.bottom) : same));
  }
  if (f.levelsRan) {
    const LevelsFound& l = f.levels;
    std::string levels = same;
    if (l.applied && l.white[0] == l.white[1] && l.white[1] == l.white[2]) {
      levels = Printf("%d-%d", l.black, l.white[0]);
    } else if (l.applied) {
      levels = Printf("%d-%d/%d/%d", l.black, l.white[2], l.white[1], l.white[0]);  // red first
    }
    add(named(INKBRITE_TEXT("core", "色阶")) + levels);
  }
  if (f.fitRan) {
    add(EngineTextArgs(INKBRITE_TEXT("core", "缩至 %1×%2"),
                       {std::to_string(f.fitWidth), std::to_string(f.fitHeight)}));
  }
  return text;
}

std::string FindingsFields(const PageFindings& f) {
  std::string skew;
  std::string sure;
  if (f.deskewRan) {
    skew = f.skew.applied ? Printf("%.2f", f.skew.angle) : "-";
    sure = std::to_string(std::lround(100.0 * f.skew.sure));
  }
  std::string split;
  if (f.splitRan) split = f.spread.split ? Printf("%d/%d", f.spread.column, f.part) : "-";
  std::string crop;
  if (f.cropRan) {
    const DibRect& b = f.crop.box;
    crop = f.crop.applied ? Printf("%d,%d,%d,%d", b.left, b.top, b.right, b.bottom) : "-";
  }
  std::string levels;
  if (f.levelsRan) {
    const LevelsFound& l = f.levels;
    levels = l.applied ? Printf("%d,%d,%d,%d", l.black, l.white[2], l.white[1], l.white[0]) : "-";
  }
  const std::string fit = f.fitRan ? Printf("%dx%d", f.fitWidth, f.fitHeight) : "";
  return "skew=" + skew + "\tsplit=" + split + "\tcrop=" + crop + "\tlevels=" + levels +
         "\tfit=" + fit + "\tsure=" + sure;
}

}  // namespace inkbrite
