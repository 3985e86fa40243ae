// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <utility>

#include "batch/cli_host.h"
#include "batch/named_settings.h"
#include "platform/ini_file.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

size_t FileCount(const std::filesystem::path& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

// The section a fresh save writes, keys in their fixed order.
std::string Section(const std::string& name, const std::vector<int>& v) {
  // clang-format off
  static const char* const kKeys[] = {
      "Brightness", "Contrast", "Highlight", "Threshold", "Gamma", "Resize", "JpegQuality",
      "X1", "X2", "Y1", "Y2", "GreyScale", "Sharpen", "Blur", "ResizeType", "SourceFiles",
      "TargetFiles", "CroppingLeft", "CroppingRight", "CroppingTop", "CroppingBottom",
      "AutoLevels", "AutoLevelsClip", "AutoLevelsLimit", "AutoLevelsNeutral", "AutoCrop",
      "AutoCropBorder", "AutoCropTolerance", "AutoCropMinShare", "AutoCropFacing",
      "SplitSpreads", "SplitRightToLeft", "Deskew", "DeskewRange", "FitWidth", "FitHeight",
      "AutoCropFill", "Despeckle", "Descreen", "DescreenKeepDots", "JpegCleanup",
      "Learned", "LearnedScale", "LearnedModel", "LearnedNoise", "Books", "FolderBooks",
      "SpreadPages", "Renumber"};
  // clang-format on
  std::string text = "[" + name + "]\r\n";
  for (size_t i = 0; i < v.size(); ++i)
    text += std::string(kKeys[i]) + "=" + std::to_string(v[i]) + "\r\n";
  return text;
}

// The 21 keys of the original layout, then the automatic steps after them,
// then the restoration steps (the learned one's scale 2 and noise level 1
// wait for its switch), then the books' four, left to the run.
const std::vector<int> kDefaultsWritten = {
    100, 100, 100, 190, 100, 100, 70, 0, 0,  0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  5,  128, 0,
    0,   8,   48,  60,  0,   0,   0,  0, 50, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, -1, -1, -1, -1};

TEST(NamedSettings, LayoutAfterSavingTwoAndResavingTheFirst) {
  TempDir dir;
  const auto ini = dir / "Inkbrite.ini";
  CParaBlock block;
  block.SetValue(kSpare, 5);            // belongs to no setting
  block.SetValue(kAutoPlaySeconds, 9);  // nor does this
  ASSERT_TRUE(SaveNamedSetting(block, "first", ini));
  EXPECT_EQ(block.GetName(), "first");
  block.SetValue(kSharpen, 3);
  block.SetValue(kCroppingBottom, 12);
  ASSERT_TRUE(SaveNamedSetting(block, "second", ini));
  block.SetValue(kBrightness, 150);
  block.SetValue(kGreyScale, 7);
  ASSERT_TRUE(SaveNamedSetting(block, "FIRST", ini));  // same section, any case

  std::vector<int> first = kDefaultsWritten, second = kDefaultsWritten;
  second[12] = 3;   // Sharpen
  second[20] = 12;  // CroppingBottom
  first = second;
  first[0] = 150;  // Brightness
  first[11] = 7;   // GreyScale
  EXPECT_EQ(ReadText(ini), Section("first", first) + "\r\n" + Section("second", second));
  EXPECT_EQ(ListNamedSettings(ini), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(block.GetName(), "FIRST");
}

TEST(NamedSettings, LoadUsesReadDefaultsAndTouchesOnlyItsSlots) {
  TempDir dir;
  const auto ini = dir / "Inkbrite.ini";
  WriteText(ini, "[Partial]\nbrightness=130\nSharpen=4\n[Other]\nContrast=1\n");
  CParaBlock block;
  block.SetValue(kIncludeSubdirs, 0);
  block.SetValue(kShowPreview, 1);
  block.SetValue(kGamma, 42);
  ASSERT_TRUE(LoadNamedSetting(block, " partial ", ini));
  EXPECT_EQ(block.GetName(), "partial");
  EXPECT_EQ(block.GetValue(kBrightness), 130);
  EXPECT_EQ(block.GetValue(kSharpen), 4);
  // A missing key takes its read default, where that differs from the
  // block's own (Gamma 42, GreyScale 2, CroppingBottom 0).
  EXPECT_EQ(block.GetValue(kGamma), 100);
  EXPECT_EQ(block.GetValue(kGreyScale), 1);
  EXPECT_EQ(block.GetValue(kCroppingBottom), 1);
  EXPECT_EQ(block.GetValue(kIncludeSubdirs), 0);  // not part of a setting
  EXPECT_EQ(block.GetValue(kShowPreview), 1);

  // No such setting: the block stays as it is.
  EXPECT_FALSE(LoadNamedSetting(block, "absent", ini));
  EXPECT_FALSE(LoadNamedSetting(block, "partial", dir / "missing.ini"));
  EXPECT_EQ(block.GetName(), "partial");
  EXPECT_EQ(block.GetValue(kBrightness), 130);

  EXPECT_TRUE(NamedSettingNeedsOverwriteConfirm("PARTIAL", ini));
  EXPECT_FALSE(NamedSettingNeedsOverwriteConfirm("Other", ini));  // no Sharpen key
  EXPECT_FALSE(NamedSettingNeedsOverwriteConfirm("absent", ini));
}

TEST(NamedSettings, AutomaticStepsAfterTheOriginalKeys) {
  TempDir dir;
  const auto ini = dir / "Inkbrite.ini";
  // A setting written before the automatic steps existed reads as it did:
  // every step off, with its reset settings.
  WriteText(ini, "[old]\r\nBrightness=120\r\nCroppingBottom=4\r\n");
  CParaBlock block;
  for (const int slot : {kAutoLevels, kAutoCrop, kSplitSpreads, kDeskew}) block.SetValue(slot, 1);
  block.SetValue(kAutoCropBorder, 99);
  ASSERT_TRUE(LoadNamedSetting(block, "old", ini));
  EXPECT_EQ(block.GetValue(kBrightness), 120);
  EXPECT_EQ(block.GetValue(kCroppingBottom), 4);
  CParaBlock reset;
  for (int slot = kBaseSlotCount; slot < kParaSlotCount; ++slot) {
    EXPECT_EQ(block.GetValue(slot), reset.GetValue(slot)) << "slot " << slot;
  }

  // Saved with steps on, the new keys follow the 21 original ones, so the
  // original part of the section is exactly what a file without them holds.
  block.SetValue(kAutoCrop, 1);
  block.SetValue(kAutoCropBorder, 20);
  block.SetValue(kSplitRightToLeft, 1);
  ASSERT_TRUE(SaveNamedSetting(block, "new", ini));
  const std::string text = ReadText(ini);
  const std::string section = text.substr(text.find("[new]"));
  std::vector<int> values = kDefaultsWritten;
  values[0] = 120;
  values[11] = 1;  // GreyScale, as the old setting read
  values[20] = 4;
  values[25] = 1;   // AutoCrop
  values[26] = 20;  // AutoCropBorder
  values[31] = 1;   // SplitRightToLeft
  EXPECT_EQ(section, Section("new", values));
  std::vector<int> original(values.begin(), values.begin() + kBaseNamedSettingKeys);
  EXPECT_EQ(section.substr(0, Section("new", original).size()), Section("new", original));

  CParaBlock loaded;
  ASSERT_TRUE(LoadNamedSetting(loaded, "new", ini));
  EXPECT_EQ(loaded.GetValue(kAutoCrop), 1);
  EXPECT_EQ(loaded.GetValue(kAutoCropBorder), 20);
  EXPECT_EQ(loaded.GetValue(kSplitRightToLeft), 1);
  EXPECT_EQ(loaded.GetValue(kBrightness), 120);
  EXPECT_EQ(NamedSettingSlot("deskewrange"), kDeskewRange);
}

TEST(NamedSettings, DeleteAndUnicodeNames) {
  TempDir dir;
  const auto ini = dir / "Inkbrite.ini";
  CParaBlock block;
  const std::string chinese = "黑白 漫画 设置";
  const std::string longName(70, 'n');
  ASSERT_TRUE(SaveNamedSetting(block, "  " + chinese + "\t", ini));
  ASSERT_TRUE(SaveNamedSetting(block, "b", ini));
  ASSERT_TRUE(SaveNamedSetting(block, longName, ini));
  EXPECT_EQ(block.GetName(), std::string(kParaNameMaxChars, 'n'));  // the file keeps it whole
  EXPECT_EQ(ListNamedSettings(ini), (std::vector<std::string>{chinese, "b", longName}));
  ASSERT_TRUE(LoadNamedSetting(block, chinese, ini));
  EXPECT_EQ(block.GetName(), chinese);

  EXPECT_FALSE(SaveNamedSetting(block, "   ", ini));
  EXPECT_FALSE(SaveNamedSetting(block, "two\nlines", ini));
  ASSERT_TRUE(DeleteNamedSetting("B", ini));
  EXPECT_FALSE(DeleteNamedSetting("b", ini));
  EXPECT_EQ(ListNamedSettings(ini), (std::vector<std::string>{chinese, longName}));
  EXPECT_EQ(ReadText(ini),
            Section(chinese, kDefaultsWritten) + "\r\n" + Section(longName, kDefaultsWritten));
  ASSERT_TRUE(DeleteNamedSetting(chinese, ini));
  ASSERT_TRUE(DeleteNamedSetting(longName, ini));
  EXPECT_TRUE(ListNamedSettings(ini).empty());
  EXPECT_EQ(ReadText(ini), "");
}

TEST(NamedSettings, FailedWriteKeepsTheOldFile) {
  TempDir dir;
  CParaBlock block;
  block.SetName("before");
  // Missing folder: nothing is created.
  EXPECT_FALSE(SaveNamedSetting(block, "x", dir / "no" / "Inkbrite.ini"));
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
  EXPECT_EQ(block.GetName(), "before");

  // A file-size limit smaller than any new file: the write fails even for
  // root, and the old file must stay whole.
  const auto ini = dir / "Inkbrite.ini";
  const std::string old = "[kept]\r\nBrightness=1\r\n[other]\r\nContrast=5\r\n";
  WriteText(ini, old);
  {
    test::FileSizeLimit limit(4);
    EXPECT_FALSE(SaveNamedSetting(block, "x", ini));
    EXPECT_FALSE(DeleteNamedSetting("kept", ini));
  }
  EXPECT_EQ(ReadText(ini), old);
  EXPECT_EQ(FileCount(dir.path()), 1u);
  EXPECT_EQ(block.GetName(), "before");

  // A read-only folder (permissions do not bind root).
  if (::geteuid() != 0) {
    const auto ro = dir / "ro";
    std::filesystem::create_directory(ro);
    WriteText(ro / "Inkbrite.ini", old);
    std::filesystem::permissions(
        ro, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(SaveNamedSetting(block, "x", ro / "Inkbrite.ini"));
    EXPECT_EQ(ReadText(ro / "Inkbrite.ini"), old);
  }
}

// A settings file close to what it reads back never grows past it: adding
// the ready-made sets is refused (said by --load), the user's own sets stay
// readable, and --load of a ready-made set still gives it. A settings file
// in a data folder that does not exist yet gets the folder and the sets.
TEST(NamedSettings, TheFileNeverGrowsPastWhatItReadsBack) {
  TempDir dir;
  const auto ini = dir / "Inkbrite.ini";
  std::string text = Section("mine", {150});
  text += "; " + std::string(IniFile::kMaxFileBytes - text.size() - 600, 'x') + "\r\n";
  WriteText(ini, text);
  EXPECT_FALSE(AddDeviceSettings(ini));
  EXPECT_EQ(ReadText(ini), text);
  CParaBlock block;
  ASSERT_TRUE(LoadNamedSetting(block, "mine", ini));
  EXPECT_EQ(block.GetValue(kBrightness), 150);

  for (const auto& file : {ini, dir / "missing/data/Inkbrite.ini"}) {
    SCOPED_TRACE(file.native());
    CliOptions options;
    options.settingsFile = file;
    options.changes.push_back({true, "eink-6-1072x1448", -1, 0});
    CParaBlock loaded, expected;
    ApplyDeviceSetting(kDeviceSettings[0], expected);
    std::string error, note;
    ASSERT_TRUE(BuildParams(options, loaded, error, &note)) << error;
    EXPECT_EQ(note.empty(), file != ini) << note;
    for (const NamedSettingKey& entry : kNamedSettingKeys) {
      EXPECT_EQ(loaded.GetValue(entry.slot), expected.GetValue(entry.slot)) << entry.key;
    }
  }
  EXPECT_TRUE(ListNamedSettings(dir / "missing/data/Inkbrite.ini").size() ==
              kDeviceSettings.size());
}

// A setting carries what becomes of books: the kind, folder books, the
// spreads' pages and renumbering. One stored before it could say (no such
// keys) leaves them as the run had them, after a --device too; the options
// themselves win over every setting; a hand-edited value out of range is
// refused.
TEST(NamedSettings, ASettingCarriesTheBooksAndAnOldOneLeavesThemToTheRun) {
  TempDir dir;
  const auto ini = dir / "Inkbrite.ini";
  WriteText(ini,
            "[books]\r\nBooks=5\r\nFolderBooks=1\r\nSpreadPages=1\r\nRenumber=1\r\n"
            "[old]\r\nBrightness=120\r\n[names]\r\nBooks=0\r\nRenumber=0\r\n"
            "[bad]\r\nBooks=9\r\n");
  struct Case {
    std::vector<std::string_view> args;
    BookOutput books;
    bool folderBooks;
    SpreadPages spreads;
    bool renumber;
  };
  using B = BookOutput;
  using S = SpreadPages;
  const Case cases[] = {
      {{"--load", "books"}, B::kPdf, true, S::kRotate, true},
      {{"--load", "old"}, B::kCbz, false, S::kSplit, false},
      {{"--device", "kobo-libra-2", "--load", "old"}, B::kKepub, false, S::kSplit, true},
      {{"--device", "kindle-scribe", "--load", "names"}, B::kCbz, false, S::kSplit, false},
      {{"--books", "epub", "--spreads", "both", "--load", "names", "--renumber"},
       B::kEpub,
       false,
       S::kBoth,
       true},
      {{"--load", "books", "--set", "Books=4", "--set", "FolderBooks=0"},
       B::kKepub,
       false,
       S::kRotate,
       true},
      {{"--load", "eink-6-1072x1448"}, B::kEpub, false, S::kSplit, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> args = c.args;
    args.insert(args.end(), {"--settings", ini.native(), "a", "b"});
    SCOPED_TRACE(::testing::PrintToString(args));
    CliOptions options;
    CParaBlock block;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(args, options, error)) << error;
    ASSERT_TRUE(BuildParams(options, block, error)) << error;
    EXPECT_EQ(options.settings.books, c.books);
    EXPECT_EQ(options.settings.folderBooks, c.folderBooks);
    EXPECT_EQ(options.settings.spreadPages, c.spreads);
    EXPECT_EQ(options.settings.renumber, c.renumber);
  }
  const std::vector<std::string_view> bad = {"--settings", ini.native(), "--load", "bad", "a", "b"};
  CliOptions options;
  CParaBlock block;
  std::string error;
  ASSERT_TRUE(ParseCliOptions(bad, options, error)) << error;
  EXPECT_FALSE(BuildParams(options, block, error));
  EXPECT_EQ(error, "设置值超出范围：第49项为9");
}

// The table itself is checked by the layout above (every key once, in
// order) and by the case-blind reads; here only the lookup's exactness.
TEST(NamedSettings, KeyLookupIsExact) {
  EXPECT_EQ(NamedSettingSlot("X2"), kCurveX2);
  EXPECT_EQ(NamedSettingSlot("Brightness "), -1);
  EXPECT_EQ(NamedSettingSlot(""), -1);
}

}  // namespace
}  // namespace inkbrite
