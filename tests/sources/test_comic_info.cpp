// SPDX-License-Identifier: GPL-2.0-or-later
// ComicInfo.xml: the fields a book offers, and files the parser must survive.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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
      "  <Volume>2</Volume><Penciller>P</Penciller><Inker>I</Inker><Colorist>C</Colorist>\n"
      "  <Letterer>L</Letterer><CoverArtist>A</CoverArtist><Publisher>Pub</Publisher>\n"
      "  <Year>1999</Year><LanguageISO>ja</LanguageISO><Summary> Once. </Summary>\n"
      "  <Format> Webtoon </Format>\n"
      "  <Pages><Page Image=\"0\" Type=\"FrontCover\"><Title>not the title</Title></Page></Pages>\n"
      "</ComicInfo>");
  EXPECT_TRUE(info.present);
  EXPECT_EQ(info.title, "Tom & Jerry <1>");
  EXPECT_EQ(info.series, "The Series");
  EXPECT_EQ(info.number, "3.5");
  EXPECT_EQ(info.writer, "A 中文 Writer");
  EXPECT_EQ(info.pageCount, 24);
  EXPECT_TRUE(info.rightToLeft);
  EXPECT_EQ(info.volume + info.penciller + info.inker + info.colorist + info.letterer +
                info.coverArtist + "|" + info.publisher + info.year + info.language + info.summary +
                info.format,
            "2PICLA|Pub1999jaOnce.Webtoon");
}

TEST(ComicInfo, BookmarksOfThePagesAreChapters) {
  const ComicInfo info = Parse(
      "<ComicInfo><Pages><Page Image=\"0\" Bookmark=\"One &amp; Only\"/>"
      "<Page Image=\"1\"/><Page Bookmark=\"no image\"/><Page Image=\"x\" Bookmark=\"bad\"/>"
      "<Page Image='12' Bookmark=' Twelve \xff'><Page Image=\"5\" Bookmark=\"nested\"/></Page>"
      "<Page Image=\"3\" Bookmark=\"  \"/></Pages><Bookmark>not one</Bookmark></ComicInfo>");
  EXPECT_EQ(info.bookmarks, (std::vector<std::pair<int, std::string>>{
                                {0, "One & Only"}, {12, "Twelve \xEF\xBF\xBD"}}));
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

// A ComicInfo.xml carried into a converted book: the page count and the
// <Pages> list follow what each page became; what needs no change is left
// to be copied as it is.
TEST(ComicInfo, KeptTrueToThePagesWritten) {
  struct Case {
    std::string doc;
    std::vector<uint8_t> outputs;
    std::optional<std::string> expected;
    std::string title = {};
  };
  const std::vector<Case> cases = {
      {"<ComicInfo><Title>x</Title><PageCount>2</PageCount></ComicInfo>", {1, 1}, std::nullopt},
      {"<Other><PageCount>1</PageCount></Other>", {1, 1}, std::nullopt},
      // A page left out: the later ones move up.
      {"<ComicInfo><PageCount> 3 </PageCount><Pages><Page Image=\"0\"/><Page Image=\"1\"/>"
       "<Page Image=\"2\" Type=\"BackCover\"/></Pages></ComicInfo>",
       {1, 0, 1},
       "<ComicInfo><PageCount>2</PageCount><Pages><Page Image=\"0\"/>"
       "<Page Image=\"1\" Type=\"BackCover\"/></Pages></ComicInfo>"},
      // A split first page; an element with a body and single quotes; an
      // image that is no page of the book is kept as it is.
      {"<ComicInfo><Pages>\n<Page Image='0' Type='FrontCover' Key='k'></Page>\n"
       "<Page Bookmark='b' Image='1'/>\n<Page Image='7'/></Pages></ComicInfo>",
       {2, 1},
       "<ComicInfo><Pages>\n<Page Image=\"0\" Type='FrontCover'></Page>\n"
       "<Page Image=\"1\"></Page>\n<Page Bookmark='b' Image=\"2\"/>\n<Page Image='7'/>"
       "</Pages></ComicInfo>"},
      // A volume's ComicInfo: its title set (added first when absent, an
      // empty one filled), the other pages left out.
      {"<ComicInfo><Title>x</Title><PageCount>2</PageCount></ComicInfo>",
       {0, 1},
       "<ComicInfo><Title>A &amp; &lt;B&gt; Vol. 2</Title><PageCount>1</PageCount></ComicInfo>",
       "A & <B> Vol. 2"},
      {"<ComicInfo>\n<Series>s</Series></ComicInfo>",
       {1},
       "<ComicInfo><Title>T</Title>\n<Series>s</Series></ComicInfo>",
       "T"},
      {"<ComicInfo><Title/><Pages><Page Image=\"0\"/><Page Image=\"1\"/></Pages></ComicInfo>",
       {0, 1},
       "<ComicInfo><Title>V</Title><Pages><Page Image=\"0\"/></Pages></ComicInfo>",
       "V"},
      {"<Other><Title>x</Title></Other>", {1}, std::nullopt, "T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    const std::optional<std::string> got = ComicInfoForPages(
        reinterpret_cast<const uint8_t*>(c.doc.data()), c.doc.size(), c.outputs, c.title);
    EXPECT_EQ(got, c.expected);
  }
  // UTF-16 comes back as UTF-8, its declaration saying so.
  const std::string doc =
      "<?xml version=\"1.0\" encoding=\"utf-16\"?><ComicInfo><PageCount>1</PageCount></ComicInfo>";
  std::vector<uint8_t> utf16 = {0xFF, 0xFE};
  for (char c : doc) {
    utf16.push_back(static_cast<uint8_t>(c));
    utf16.push_back(0);
  }
  const std::vector<uint8_t> split = {2};
  EXPECT_EQ(ComicInfoForPages(utf16.data(), utf16.size(), split),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ComicInfo><PageCount>2</PageCount>"
            "</ComicInfo>");
}

}  // namespace
}  // namespace inkbrite
