// SPDX-License-Identifier: GPL-2.0-or-later
// The step table: what is derived from it, and the run's mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/enhance.h"
#include "core/enhance_rows.h"
#include "core/steps.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

// Every setting the pipeline reads is read by a step of the table, and no
// step reads a setting of the job, a dialog or the auto-play timer: a new
// page setting without its step (or a step reading the wrong slot) is seen.
TEST(StepTable, StepsReadExactlyThePageSettings) {
  const SlotMask read = SlotsReadBy(StepStage::kSource) | SlotsReadBy(StepStage::kPage);
  for (const ParaSlotRow& row : kParaSlots) {
    const bool byStep = (read >> row.slot & 1) != 0;
    EXPECT_EQ(byStep, row.scope == SettingScope::kPage) << row.key << " (slot " << row.slot << ")";
  }
  std::vector<std::string_view> names;
  for (const StepRow& row : PipelineSteps()) {
    if (row.reach == StepReach::kNeighbourhood) {
      EXPECT_GT(row.radius, 0) << row.name;
    }
    if (row.name.empty()) continue;
    for (std::string_view seen : names) EXPECT_NE(seen, row.name) << "two rows show one name";
    names.push_back(row.name);
  }
}

std::vector<std::string> WholePageNames(const CParaBlock& params, EnhanceMode mode, bool skipResize,
                                        StepStage stage) {
  std::vector<std::string> names;
  const EnhanceSettings settings(params);
  for (const StepRow* row : StepsNeedingWholePage({settings, mode, skipResize}, stage)) {
    names.emplace_back(row->name.empty() ? "(unnamed)" : row->name);
  }
  return names;
}

// What the part renderer and the row streaming are told, for settings that
// switch on one step each.
TEST(StepTable, DerivesTheMarginTheWholePageStepsAndTheRowStreaming) {
  struct Case {
    int slot;
    int value;
    int32_t margin;
    std::vector<std::string> wholePage;  // viewer mode, page stage, the resize not skipped
    bool rows;
  };
  const Case cases[] = {
      {kBrightness, 130, 0, {}, true},
      {kSharpen, 4, 1, {}, true},
      {kSharpen, 10, 0, {}, true},  // no such level: changes nothing
      {kBlur, 2, 1, {}, true},
      {kBlur, 3, 0, {}, true},
      {kResize, 100, 0, {}, true},
      {kResize, 50, 0, {"缩小"}, false},
      {kResize, 150, 0, {"放大"}, false},
      {kCroppingTop, 4, 0, {}, false},
      {kAutoLevels, 1, 0, {"自动色阶"}, false},
      {kGreyScale, 3, 0, {"(unnamed)"}, true},  // the viewer's palette; the batch leaves it
      {kDeskew, 1, 0, {}, false},               // the source stage's
      {kDespeckle, 3, 0, {}, false},
      {kDescreen, 60, 0, {}, false},
      {kJpegCleanup, 1, 0, {}, false},
      {kLearned, 1, 0, {}, false},
  };
  for (const Case& c : cases) {
    CParaBlock params;
    params.SetValue(c.slot, c.value);
    SCOPED_TRACE(testing::Message() << "slot " << c.slot << " = " << c.value);
    EXPECT_EQ(EnhancedPartMargin(params), c.margin);
    EXPECT_EQ(WholePageNames(params, EnhanceMode::kViewer, false, StepStage::kPage), c.wholePage);
    EXPECT_TRUE(WholePageNames(params, EnhanceMode::kBatch, true, StepStage::kPage).empty() ||
                c.slot == kAutoLevels);
    EXPECT_EQ(EnhancesRowByRow(params), c.rows);
  }
  // Margins add up.
  CParaBlock both;
  both.SetValue(kSharpen, 9);
  both.SetValue(kBlur, 1);
  EXPECT_EQ(EnhancedPartMargin(both), 2);
  CParaBlock source;
  source.SetValue(kSplitSpreads, 1);
  source.SetValue(kDespeckle, 5);
  source.SetValue(kDescreen, 80);
  source.SetValue(kLearned, 1);
  EXPECT_EQ(WholePageNames(source, EnhanceMode::kBatch, false, StepStage::kSource),
            (std::vector<std::string>{"去网纹", "智能放大", "分页"}));
  // Despeckle reads as far as its largest speck.
  for (const StepRow& row : PipelineSteps()) {
    if (row.name == kStageDespeckle) {
      EXPECT_GE(StepRadius(row, EnhanceSettings(source)), 5);
    }
  }
}

// The mode is said, not implied by a hook: a viewer's run that shows its
// stages still greys the page, and a batch run without hooks leaves it to
// the writer.
TEST(StepTable, TheModeIsChosenApartFromTheHooks) {
  CParaBlock params;
  params.SetValue(kGreyScale, kGreyComic);
  const DibImage colour = test::MakeImage(12, 9, [](int x, int y) {
    return test::Bgr{static_cast<uint8_t>(20 * x), static_cast<uint8_t>(25 * y), 90};
  });
  DibImage viewer = colour;
  std::vector<std::string> stages;
  EnhanceHooks shown;
  shown.status = [&](std::string_view s) { stages.emplace_back(s); };
  ASSERT_EQ(EnhanceImage(params, viewer, shown), 0);
  EXPECT_TRUE(viewer.IsGrey());
  EXPECT_EQ(stages.size(), 6u);  // enlarge at 100 % and the five tone steps
  DibImage batch = colour;
  EnhanceHooks quiet;
  quiet.mode = EnhanceMode::kBatch;
  ASSERT_EQ(EnhanceImage(params, batch, quiet), 0);
  EXPECT_EQ(batch.PackedDib(), colour.PackedDib());
}

}  // namespace
}  // namespace inkbrite
