// SPDX-License-Identifier: GPL-2.0-or-later
// The learned steps through the codec helper: the page it gives back is the
// one the networks give in this process, a grey page stays grey levels, and
// a page the result of which would pass the limits is left alone. Skipped
// without the waifu2x weights.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "core/auto_steps.h"
#include "core/dib_image.h"
#include "core/learned.h"
#include "core/para_block.h"
#include "formats/apart_codecs.h"
#include "learned/waifu2x.h"
#include "platform/program_paths.h"

namespace inkbrite {
namespace {

std::filesystem::path Models() { return learned::ModelsFolder(CodecHelperPath().parent_path()); }

DibImage NoisyPage(int w, int h, bool grey) {
  DibImage page;
  EXPECT_TRUE(grey ? page.CreateGreyLevels(w, h) : page.Create(w, h, 24));
  std::mt19937 random(4);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = page.Row(y);
    for (int x = 0; x < w * (grey ? 1 : 3); ++x) {
      row[x] = static_cast<uint8_t>((x / 6 + y / 5) % 2 ? 230 : 20 + random() % 40);
    }
  }
  return page;
}

TEST(LearnedApart, HelperGivesTheNetworksOwnResult) {
  if (Models().empty()) GTEST_SKIP() << "no waifu2x weights";
  const struct {
    LearnedChoice choice;
    bool grey;
  } cases[] = {{{0, -1, 2}, false}, {{0, 2, 2}, true}, {{1, 1, 1}, false}, {{1, -1, 2}, false}};
  for (const auto& c : cases) {
    const DibImage page = NoisyPage(45, 31, c.grey);
    DibImage done = page;
    ASSERT_TRUE(ApplyLearned(done, c.choice)) << c.choice.model << c.choice.noise;
    ASSERT_EQ(done.Width(), 45 * c.choice.scale);
    ASSERT_EQ(done.Height(), 31 * c.choice.scale);
    EXPECT_EQ(done.IsGreyLevels(), c.grey);
    // The same network in this process, on the same bytes.
    DibImage wide = page;
    ASSERT_TRUE(wide.ConvertTo24Bit());
    DibImage want;
    ASSERT_TRUE(want.Create(done.Width(), done.Height(), 24));
    std::vector<uint8_t> in(45 * 31 * 3), out(size_t(done.Width()) * done.Height() * 3);
    for (int y = 0; y < 31; ++y) std::copy_n(wide.Row(y), 45 * 3, in.begin() + y * 45 * 3);
    const learned::PixelRows rin{in.data(), 45, 31, 45 * 3, true};
    const learned::PixelRows rout{out.data(), done.Width(), done.Height(), size_t(done.Width()) * 3,
                                  true};
    ASSERT_TRUE(learned::RunWaifu2x(Models(), learned::Waifu2xModel(c.choice.model), c.choice.noise,
                                    c.choice.scale, 1, rin, rout, nullptr));
    int worst = 0;
    for (int y = 0; y < done.Height(); ++y) {
      for (int x = 0; x < done.Width(); ++x) {
        const uint8_t* p = out.data() + (size_t(y) * done.Width() + x) * 3;
        const int got = c.grey ? done.Row(y)[x] : done.Row(y)[x * 3 + 1];
        const int expect = c.grey ? (p[0] + p[1] + p[2] + 1) / 3 : p[1];
        worst = std::max(worst, std::abs(got - expect));
      }
    }
    EXPECT_EQ(worst, 0) << c.choice.model << " noise " << c.choice.noise;
  }
}

TEST(LearnedApart, LeavesPagesItCannotMake) {
  DibImage page = NoisyPage(40000, 2, false);  // 80000 wide when doubled
  EXPECT_FALSE(ApplyLearned(page, {0, -1, 2}));
  EXPECT_EQ(page.Width(), 40000);
  DibImage small = NoisyPage(8, 8, false);
  EXPECT_FALSE(ApplyLearned(small, {0, -1, 1}));  // 1x without noise: nothing to do
  EXPECT_EQ(small.Width(), 8);
}

// The step in the source stage: switched on, the page becomes what the
// helper makes of it, before the steps that measure the page; a choice that
// does nothing (1x without noise) keeps the page and says so.
TEST(LearnedApart, SourceStageRunsTheChosenNetwork) {
  if (Models().empty()) GTEST_SKIP() << "no waifu2x weights";
  const struct {
    int scale, model, noise;
    bool done;
  } cases[] = {{2, 0, 1, true}, {1, 1, 2, true}, {1, 0, -1, false}};
  for (const auto& c : cases) {
    CParaBlock params;
    params.SetValue(kLearned, 1);
    params.SetValue(kLearnedScale, c.scale);
    params.SetValue(kLearnedModel, c.model);
    params.SetValue(kLearnedNoise, c.noise);
    const DibImage page = NoisyPage(30, 22, false);
    DibImage staged = page, second, direct = page;
    PageFindings findings[2];
    std::vector<std::string> stages;
    PrepareSourcePages(params, staged, second, findings,
                       [&](std::string_view s) { stages.emplace_back(s); });
    EXPECT_EQ(findings[0].learnedRan, true);
    EXPECT_EQ(findings[0].learnedDone, c.done);
    EXPECT_EQ(ApplyLearned(direct, {c.model, c.noise, c.scale}), c.done);
    EXPECT_EQ(staged.PackedDib(), direct.PackedDib()) << c.scale << c.model << c.noise;
    EXPECT_EQ(staged.Width(), c.done ? 30 * c.scale : 30);
    EXPECT_NE(DescribeFindings(findings[0]).find(c.done ? "完成" : "不变"), std::string::npos);
  }
  // Off: the page is not touched, and nothing is said.
  CParaBlock off;
  off.SetValue(kLearnedModel, 1);
  DibImage page = NoisyPage(30, 22, false), second;
  const DibImage before = page;
  PageFindings findings[2];
  PrepareSourcePages(off, page, second, findings);
  EXPECT_FALSE(findings[0].learnedRan);
  EXPECT_EQ(page.PackedDib(), before.PackedDib());
}

}  // namespace
}  // namespace inkbrite
