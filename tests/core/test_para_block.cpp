// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of CParaBlock: defaults, slot access, names and Assign, including
// two threads working on the same blocks.

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <string>
#include <thread>

#include "core/para_block.h"

namespace inkbrite {
namespace {

// The defaults by index, written out here rather than taken from the header:
// the 25 slots of the original layout, then the automatic steps (all off,
// their settings at 0.5 %, 128 levels, 8 pixels, 48 levels, 60 %, 5 degrees;
// no screen to fit; margins cut, not filled), then the restoration steps (all
// off; the learned one, when on, doubles with upconv_7 at noise level 1),
// then the books' four, left to the run.
constexpr int kExpectedDefaults[] = {100, 100, 100, 100, 0,  100, 70, 100, 0,  0,  2, 1, 190, 0,
                                     0,   0,   1,   0,   0,  0,   0,  0,   0,  0,  0, 0, 5,   128,
                                     0,   0,   8,   48,  60, 0,   0,  0,   0,  50, 0, 0, 0,   0,
                                     0,   0,   0,   0,   2,  0,   1,  -1,  -1, -1, -1};
static_assert(std::size(kExpectedDefaults) == kParaSlotCount);

void ExpectDefaults(const CParaBlock& block) {
  for (int i = 0; i < kParaSlotCount; ++i)
    EXPECT_EQ(block.GetValue(i), kExpectedDefaults[i]) << "slot " << i;
  EXPECT_EQ(block.GetName(), "");
}

TEST(ParaBlock, NewAndResetBlocksHoldTheDefaults) {
  CParaBlock block;
  ExpectDefaults(block);

  for (int i = 0; i < kParaSlotCount; ++i) block.SetValue(i, -1000 - i);
  block.SetName("Night scans");
  block.ResetDefaults();
  ExpectDefaults(block);
}

TEST(ParaBlock, SlotsHoldAnyIntegerAndIgnoreBadIndices) {
  CParaBlock block;
  block.SetValue(kShowPreview, INT32_MAX);  // the block itself checks no range
  EXPECT_EQ(block.GetValue(kShowPreview), INT32_MAX);
  block.SetValue(-1, 7);
  block.SetValue(kParaSlotCount, 7);
  block.SetValue(INT32_MAX, 7);
  EXPECT_EQ(block.GetValue(-1), 0);
  EXPECT_EQ(block.GetValue(kParaSlotCount), 0);
  EXPECT_EQ(block.GetValue(INT32_MIN), 0);
  EXPECT_EQ(block.GetValue(kBrightness), 100);
  EXPECT_EQ(block.GetValue(kShowPreview), INT32_MAX);
}

TEST(ParaBlock, NamesKeepAtMostSixtyThreeCharacters) {
  CParaBlock block;
  block.SetName(std::string(100, 'a'));
  EXPECT_EQ(block.GetName(), std::string(63, 'a'));

  block.SetName(std::string(63, 'b'));
  EXPECT_EQ(block.GetName(), std::string(63, 'b'));

  // "漫" is three bytes in UTF-8: 70 of them keep 63 whole characters.
  std::string comics;
  for (int i = 0; i < 70; ++i) comics += "漫";
  block.SetName(comics);
  EXPECT_EQ(block.GetName(), comics.substr(0, 63 * 3));

  // Mixed widths: 62 ASCII letters, then a four-byte character, then more.
  const std::string mixed = std::string(62, 'x') + "\xF0\x9F\x93\x96" + "yz";
  block.SetName(mixed);
  EXPECT_EQ(block.GetName(), std::string(62, 'x') + "\xF0\x9F\x93\x96");

  block.SetName("");
  EXPECT_EQ(block.GetName(), "");
}

TEST(ParaBlock, MalformedUtf8CountsByteByByteAndIsNeverCutMidSequence) {
  // Stray continuation bytes count as one character each.
  const std::string stray(100, '\x80');
  EXPECT_EQ(Utf8Prefix(stray, 63).size(), 63u);
  // A lead byte whose sequence is cut short ends where the next lead starts.
  EXPECT_EQ(Utf8Prefix("\xE6"
                       "a"
                       "\xE6\xBC\xAB",
                       2),
            "\xE6"
            "a");
  // The last character is kept whole or not at all.
  EXPECT_EQ(Utf8Prefix("ab\xE6\xBC\xAB", 2), "ab");
  EXPECT_EQ(Utf8Prefix("ab\xE6\xBC\xAB", 3), "ab\xE6\xBC\xAB");
  // A sequence truncated by the end of the text is kept as it is.
  EXPECT_EQ(Utf8Prefix("ab\xE6\xBC", 3), "ab\xE6\xBC");
}

TEST(ParaBlock, AssignReportsWhetherAnythingDiffered) {
  CParaBlock source;
  CParaBlock target;
  EXPECT_TRUE(target.Assign(source));

  source.SetValue(kSharpen, 3);
  EXPECT_FALSE(target.Assign(source));
  EXPECT_EQ(target.GetValue(kSharpen), 3);
  EXPECT_TRUE(target.Assign(source));

  source.SetName("Faded ink");
  EXPECT_FALSE(target.Assign(source));
  EXPECT_EQ(target.GetName(), "Faded ink");
  EXPECT_TRUE(target.Assign(source));

  // Every slot is copied, not only the first that differs.
  for (int i = 0; i < kParaSlotCount; ++i) source.SetValue(i, i * 11 - 50);
  EXPECT_FALSE(target.Assign(source));
  for (int i = 0; i < kParaSlotCount; ++i) EXPECT_EQ(target.GetValue(i), i * 11 - 50) << i;
  EXPECT_TRUE(target.Assign(source));

  // A change to an automatic step alone counts too (the viewer renders again).
  source.SetValue(kDeskew, 1);
  EXPECT_FALSE(target.Assign(source));
  EXPECT_TRUE(target.Assign(source));

  // Assigning a block to itself neither blocks nor changes it.
  EXPECT_TRUE(source.Assign(source));
  EXPECT_EQ(source.GetName(), "Faded ink");
}

TEST(ParaBlock, WriterAndCopierOnTwoThreadsStayConsistent) {
  // The user-interface thread keeps changing the shared block while the
  // rendering thread copies it into its own block. Run under ThreadSanitizer
  // this also proves that no byte is touched outside the locks.
  CParaBlock shared;
  CParaBlock rendered;
  shared.SetValue(kBrightness, 0);
  constexpr int kRounds = 20000;
  std::atomic<bool> done{false};

  std::thread writer([&] {
    for (int i = 1; i <= kRounds; ++i) {
      shared.SetValue(kBrightness, i);
      shared.SetValue(kContrast, i % 201);
      if (i % 1000 == 0) shared.SetName("round " + std::to_string(i));
    }
    done = true;
  });

  int copies = 0;
  int changed = 0;
  int lastBrightness = 0;
  bool wentBack = false;
  while (!done || copies == 0) {
    if (!rendered.Assign(shared)) ++changed;
    ++copies;
    // Values only grow on the writer's side, so a copy never goes back.
    const int brightness = rendered.GetValue(kBrightness);
    if (brightness < lastBrightness || brightness > kRounds) {
      wentBack = true;
      break;
    }
    lastBrightness = brightness;
  }
  writer.join();
  EXPECT_FALSE(wentBack) << "copied " << rendered.GetValue(kBrightness) << " after "
                         << lastBrightness;

  rendered.Assign(shared);
  EXPECT_TRUE(rendered.Assign(shared));
  EXPECT_EQ(rendered.GetValue(kBrightness), kRounds);
  EXPECT_EQ(rendered.GetValue(kContrast), kRounds % 201);
  EXPECT_EQ(rendered.GetName(), "round 20000");
  EXPECT_GT(changed, 0);
}

}  // namespace
}  // namespace inkbrite
