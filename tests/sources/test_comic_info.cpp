// SPDX-License-Identifier: GPL-2.0-or-later
// ComicInfo.xml: the fields a book offers, and files the parser must survive.
#include <gtest/gtest.h>

#include <string>

#include "sources/comic_info.h"

namespace inkbrite {
namespace {

ComicInfo Parse(const std::string& xml) {
  ComicInfo info;
  ParseComicInfo(reinterpret_cast<const uint8_t*>(xml.data()), xml.size(), info);
  return info;
}

TEST(ComicInfo, ReadsTheFieldsOfTheRootsChildren) {
  const ComicInfo info = Parse(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<ComicInfo xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
      "  <Title>Tom &amp; Jerry &lt;1&gt;</Title>\n"
      "  <Series> The Series </Series><Number>3.5</Number>\n"
      "  <Writer>A &#x4E2D;&#25991; Writer</Writer>\n"
      "  <PageCount>24</PageCount>\n"
      "  <Manga>YesAndRightToLeft</Manga>\n"
      "  <Pages><Page Image=\"0\" Type=\"FrontCover\"><Title>not the title</Title></Page></Pages>\n"
      "</ComicInfo>");
  EXPECT_TRUE(info.present);
  EXPECT_EQ(info.title, "Tom & Jerry <1>");
  EXPECT_EQ(info.series, "The Series");
  EXPECT_EQ(info.number, "3.5");
  EXPECT_EQ(info.writer, "A 中文 Writer");
  EXPECT_EQ(info.pageCount, 24);
  EXPECT_TRUE(info.rightToLeft);
}

TEST(ComicInfo, CdataCommentsByteOrderMarksAndUtf16) {
  ComicInfo info = Parse(
      "\xEF\xBB\xBF<!DOCTYPE ComicInfo><!-- x --><ComicInfo><Title><![CDATA[a<b]]>c</Title>"
      "<Manga>Yes</Manga><PageCount>many</PageCount></ComicInfo>");
  EXPECT_EQ(info.title, "a<bc");
  EXPECT_FALSE(info.rightToLeft);  // "Yes" is left to right
  EXPECT_EQ(info.pageCount, 0);
  // UTF-16 little-endian with its mark.
  const std::u16string text = u"<ComicInfo><Title>\u6F2B\u753B</Title></ComicInfo>";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  info = Parse(bytes);
  EXPECT_EQ(info.title, "漫画");
}

TEST(ComicInfo, AnythingElseGivesNothingOrWhatWasReadBeforeTheDamage) {
  EXPECT_FALSE(Parse("").present);
  EXPECT_FALSE(Parse("<Other><Title>x</Title></Other>").present);
  EXPECT_FALSE(Parse("not xml at all").present);
  const ComicInfo cut = Parse("<ComicInfo><Title>kept</Title><Series>cut off");
  EXPECT_TRUE(cut.present);
  EXPECT_EQ(cut.title, "kept");
  EXPECT_EQ(cut.series, "");
  // Bad UTF-8 is replaced, long text cut to the limit on a character.
  EXPECT_EQ(Parse("<ComicInfo><Title>a\xFF"
                  "b</Title></ComicInfo>")
                .title,
            "a\xEF\xBF\xBD"
            "b");
  const ComicInfo longTitle =
      Parse("<ComicInfo><Title>" + std::string(5000, 'x') + "</Title></ComicInfo>");
  EXPECT_EQ(longTitle.title.size(), kMaxComicInfoText);
  // An internal DTD subset (entity expansion) is not followed.
  EXPECT_FALSE(Parse("<!DOCTYPE x [<!ENTITY a \"aaaa\">]><ComicInfo><Title>&a;</Title></ComicInfo>")
                   .present);
}

}  // namespace
}  // namespace inkbrite
