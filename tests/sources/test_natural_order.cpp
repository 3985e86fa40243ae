// SPDX-License-Identifier: GPL-2.0-or-later
// The reading order of a book and the rules for its entry names.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "sources/natural_order.h"

namespace inkbrite {
namespace {

// Sorting any shuffle of `ordered` gives `ordered` back.
void ExpectSortsTo(const std::vector<std::string>& ordered) {
  std::vector<std::string> names = ordered;
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(names.begin(), names.end(), random);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    ASSERT_EQ(names, ordered);
  }
}

TEST(NaturalOrder, DigitRunsCompareByValueAndTextWithoutCase) {
  ExpectSortsTo({"1.jpg", "2.jpg", "10.jpg"});
  ExpectSortsTo({"page1.Png", "page2.jpg", "Page3.JPG", "page10.jpg"});
  ExpectSortsTo({"a.jpg", "B.jpg", "c.jpg"});
  ExpectSortsTo({"第1話.jpg", "第2話.jpg", "第10話.jpg"});
  // Longer than any integer type: still by value.
  ExpectSortsTo({"99999999999999999999999.jpg", "100000000000000000000000.jpg"});
  // Equal but for leading zeros or case: a fixed order all the same.
  ExpectSortsTo({"007.jpg", "07.jpg", "7.jpg", "8.jpg"});
  ExpectSortsTo({"A.jpg", "a.jpg"});
  EXPECT_EQ(CompareNatural("x.jpg", "x.jpg"), 0);
}

TEST(NaturalOrder, PathsCompareFolderByFolder) {
  ExpectSortsTo({"Chapter 2/01.jpg", "Chapter 2/02.jpg", "Chapter 10/01.jpg", "Chapter 10/02.jpg"});
  // A folder's contents stay together: "a/z" before "a b/1" ('/' is not a
  // character of the name).
  ExpectSortsTo({"a", "a/z.jpg", "a b/1.jpg", "ab.jpg"});
}

TEST(NaturalOrder, EntryNamesAreCleanedAndUnsafeOnesRecognised) {
  EXPECT_EQ(CleanEntryName("Chapter 2\\01.jpg"), "Chapter 2/01.jpg");
  EXPECT_EQ(CleanEntryName("./a//b/./c/"), "a/b/c");
  EXPECT_EQ(CleanEntryName("/abs.jpg"), "/abs.jpg");
  for (const char* bad : {"", "/abs.jpg", "../evil.jpg", "a/../../b.jpg", "C:evil.jpg", ".."}) {
    EXPECT_TRUE(IsUnsafeEntryName(CleanEntryName(bad))) << bad;
  }
  for (const char* good : {"01.jpg", "a/b.jpg", "..a.jpg", "a../b.jpg"}) {
    EXPECT_FALSE(IsUnsafeEntryName(CleanEntryName(good))) << good;
  }
}

TEST(NaturalOrder, PagesArePicturesThatAreNeitherHiddenNorLitter) {
  for (const char* page : {"01.jpg", "a/B.JPEG", "x.png", "x.gif", "x.bmp", "x.tif", "x.TIFF",
                           "x.jp2", "My Comic/03.png"}) {
    EXPECT_TRUE(IsPageEntryName(page)) << page;
  }
  for (const char* other :
       {"ComicInfo.xml", "readme.txt", "Thumbs.db", ".DS_Store", "__MACOSX/._01.jpg", "._02.jpg",
        ".hidden/01.jpg", "x/__MACOSX/1.jpg", "../evil.jpg", "/abs.jpg", "noextension"}) {
    EXPECT_FALSE(IsPageEntryName(other)) << other;
  }
  EXPECT_TRUE(IsLitterEntryName("__MACOSX/._01.jpg"));
  EXPECT_TRUE(IsLitterEntryName("a/thumbs.DB"));
  EXPECT_FALSE(IsLitterEntryName("ComicInfo.xml"));
}

}  // namespace
}  // namespace inkbrite
