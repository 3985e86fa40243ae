// SPDX-License-Identifier: GPL-2.0-or-later
// The slot table and what is derived from it: every row is consistent, and
// the defaults, named-settings keys, --set's ranges and its help agree with it.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "batch/cli_host.h"
#include "batch/named_settings.h"
#include "core/auto_steps.h"
#include "core/para_block.h"

namespace inkbrite {
namespace {

TEST(SettingsTable, EveryRowIsConsistentWithWhatIsDerivedFromIt) {
  std::set<int> slots;
  std::set<std::string> keys;
  const CParaBlock block;
  const std::string help = CliUsageText();
  for (const ParaSlotRow& row : kParaSlots) {
    SCOPED_TRACE(row.slot);
    EXPECT_TRUE(slots.insert(row.slot).second) << "a slot has two rows";
    ASSERT_EQ(ParaSlotInfo(row.slot), &row);
    EXPECT_EQ(block.GetValue(row.slot), row.reset);
    EXPECT_FALSE(row.label.empty());
    // A setting belongs to a switch of its own page, listed before it.
    if (row.step >= 0) {
      const ParaSlotRow* owner = ParaSlotInfo(row.step);
      ASSERT_NE(owner, nullptr);
      EXPECT_EQ(owner->group, row.group);
      EXPECT_EQ(owner->min, 0);
      EXPECT_EQ(owner->max, 1);
      EXPECT_LT(owner - kParaSlots, &row - kParaSlots);
    }
    const SettingBounds bounds = BoundsOfSetting(row.slot);
    ASSERT_LE(bounds.min, bounds.max);
    // The reset and read values are values the dialogs and --set accept.
    EXPECT_TRUE(CliValueInRange(row.slot, row.reset));
    EXPECT_TRUE(CliValueInRange(row.slot, row.readDefault));
    // The bounds are the range: one step beyond either end is refused.
    if (bounds.min > kAnyValueMin) {
      EXPECT_FALSE(CliValueInRange(row.slot, bounds.min - 1));
    }
    if (bounds.max < kAnyValueMax) {
      EXPECT_FALSE(CliValueInRange(row.slot, bounds.max + 1));
    }
    EXPECT_TRUE(CliValueInRange(row.slot, bounds.min));
    EXPECT_TRUE(CliValueInRange(row.slot, bounds.max));
    if (row.key.empty()) continue;
    EXPECT_TRUE(keys.insert(std::string(row.key)).second) << "a key has two rows";
    EXPECT_EQ(NamedSettingSlot(row.key), row.slot);
    // --help lists every key with its range.
    const std::string range = bounds.min == kAnyValueMin
                                  ? std::string("-")
                                  : std::to_string(bounds.min) + ".." + std::to_string(bounds.max);
    EXPECT_NE(help.find("\n  " + std::string(row.key) + " "), std::string::npos) << row.key;
    EXPECT_NE(help.find(" " + range), std::string::npos) << row.key;
    // The automatic steps clamp what they read into the same range.
    if (row.clamped) {
      EXPECT_EQ(AutoSlotRange(row.slot), &row);
    }
  }
  EXPECT_EQ(slots.size(), static_cast<size_t>(kParaSlotCount));
  EXPECT_EQ(keys.size(), kNamedSettingKeys.size());
  EXPECT_EQ(BoundsOfSetting(kParaSlotCount).min, 1);  // no slot: nothing accepted
  EXPECT_FALSE(CliValueInRange(-1, 0));
}

}  // namespace
}  // namespace inkbrite
