// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace
}  // namespace inkbrite
