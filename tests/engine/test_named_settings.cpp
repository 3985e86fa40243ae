#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <utility>

#include "batch/named_settings.h"
#include "platform/ini_file.h"
#include "platform/program_paths.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::ReadAll;
using test::TempDir;

std::string ReadText(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::filesystem::path& path, std::string_view text) {
  test::WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

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
      "TargetFiles", "CroppingLeft", "CroppingRight", "CroppingTop", "CroppingBottom"};
  // clang-format on
  std::string text = "[" + name + "]\r\n";
  for (size_t i = 0; i < v.size(); ++i)
    text += std::string(kKeys[i]) + "=" + std::to_string(v[i]) + "\r\n";
  return text;
}

const std::vector<int> kDefaultsWritten = {100, 100, 100, 190, 100, 100, 70, 0, 0, 0, 0,
                                           2,   0,   0,   0,   0,   0,   0,  0, 0, 0};

TEST(IniFile, ReadsAnyLineEndsAndProfileRules) {
  TempDir dir;
  const auto path = dir / "a.ini";
  WriteText(path,
            "\xEF\xBB\xBF; comment\n[One]\r\n  Alpha = 42  \rBeta=\"7\"\nEmpty=\n"
            "Text=12px\nWord=px\nNeg= -3\nPlus=+5\nHuge=99999999999\nTiny=-99999999999\n"
            "[a]b]\nk=1\n[ ]\n[ONE]\nGamma=9\n");
  IniFile ini(path);
  ASSERT_TRUE(ini.Load());
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"One", "a]b"}));
  EXPECT_EQ(ini.GetInt("one", "ALPHA", -1), 42);
  EXPECT_EQ(ini.GetString("One", "Beta"), std::optional<std::string>("7"));
  const std::pair<const char*, int> ints[] = {{"Empty", 55},     {"Missing", 55},  {"Text", 12},
                                              {"Word", 0},       {"Neg", -3},      {"Plus", 5},
                                              {"Huge", INT_MAX}, {"Tiny", INT_MIN}};
  for (const auto& [key, value] : ints) EXPECT_EQ(ini.GetInt("One", key, 55), value) << key;
  EXPECT_EQ(ini.GetInt("A]B", "k", 0), 1);
  EXPECT_FALSE(ini.HasKey("One", "Gamma")) << "only the first section of a name is read";
  EXPECT_FALSE(ini.HasKey("One", "; comment"));
}

TEST(IniFile, EditsInPlaceAndWritesCrLf) {
  TempDir dir;
  const auto path = dir / "a.ini";
  WriteText(path, "; keep\n[S]\nkey=1\n; note\n\n[T]\nx=2\n[s]\ny=3\n");
  IniFile ini(path);
  ASSERT_TRUE(ini.Load());
  EXPECT_TRUE(ini.SetString("s", "KEY", "10"));
  EXPECT_TRUE(ini.SetString("S", "new", "v"));
  EXPECT_TRUE(ini.SetString("U", "z", "3"));
  EXPECT_FALSE(ini.SetString("U", "bad", "a\nb"));
  EXPECT_FALSE(ini.SetString("U\r", "k", "1"));
  EXPECT_FALSE(ini.SetString("U", "a=b", "1"));
  EXPECT_FALSE(ini.SetString("", "k", "1"));
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadText(path),
            "; keep\r\n[S]\r\nkey=10\r\n; note\r\nnew=v\r\n\r\n[T]\r\nx=2\r\n[s]\r\ny=3\r\n"
            "\r\n[U]\r\nz=3\r\n");

  ASSERT_TRUE(ini.DeleteSection("s"));  // both sections of that name
  EXPECT_FALSE(ini.DeleteSection("nothing"));
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadText(path), "; keep\r\n\r\n[T]\r\nx=2\r\n\r\n[U]\r\nz=3\r\n");
  EXPECT_EQ(FileCount(dir.path()), 1u);
}

TEST(IniFile, NeverOverwritesAFileItCouldNotRead) {
  TempDir dir;
  IniFile unread(dir / "a.ini");
  EXPECT_FALSE(unread.Save());  // Load never ran

  std::filesystem::create_directory(dir / "folder.ini");  // exists, not readable as a file
  IniFile ini(dir / "folder.ini");
  EXPECT_FALSE(ini.Load());
  EXPECT_TRUE(ini.SetString("S", "k", "1"));
  EXPECT_FALSE(ini.Save());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.ini"));

  IniFile missing(dir / "none.ini");
  ASSERT_TRUE(missing.Load());
  EXPECT_TRUE(missing.SectionNames().empty());
}

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

  // A name so long that no temporary file fits beside it: the write fails
  // even for root, and the old file must stay whole.
  const auto ini = dir / (std::string(240, 'i') + ".ini");
  const std::string old = "[kept]\r\nBrightness=1\r\n";
  WriteText(ini, old);
  EXPECT_FALSE(SaveNamedSetting(block, "x", ini));
  EXPECT_FALSE(DeleteNamedSetting("kept", ini));
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

// The table itself is checked by the layout above (every key once, in
// order) and by the case-blind reads; here only the lookup's exactness.
TEST(NamedSettings, KeyLookupIsExact) {
  EXPECT_EQ(NamedSettingSlot("X2"), kCurveX2);
  EXPECT_EQ(NamedSettingSlot("Brightness "), -1);
  EXPECT_EQ(NamedSettingSlot(""), -1);
}

// Sets an environment variable (unsets it for nullptr) for one scope.
struct ScopedEnv {
  ScopedEnv(const char* n, const char* value) : name(n) {
    if (const char* was = std::getenv(n)) old = was;
    Set(value);
  }
  ~ScopedEnv() { Set(old ? old->c_str() : nullptr); }
  void Set(const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> old;
};

TEST(ProgramPaths, OverrideExecutableFolderAndUserFolder) {
  TempDir dir;
  {
    ScopedEnv data("INKBRITE_DATA_DIR", dir.path().c_str());
    EXPECT_EQ(ProgramFilePath(".ini"), dir / "Inkbrite.ini");
  }
  {
    ScopedEnv data("INKBRITE_DATA_DIR", nullptr);
    // The test program's own folder is writable.
    ASSERT_FALSE(ExecutableFolder().empty());
    EXPECT_EQ(ProgramFilePath(".htm"), ExecutableFolder() / "Inkbrite.htm");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", dir.path().c_str());
    EXPECT_EQ(UserDataFolder(), dir / "Inkbrite");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", "relative/path");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(UserDataFolder(), std::filesystem::path("/home/someone/.local/share/Inkbrite"));
  }
}

}  // namespace
}  // namespace inkbrite
