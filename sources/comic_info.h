// SPDX-License-Identifier: GPL-2.0-or-later
// ComicInfo.xml, the metadata entry many comic books carry:
//
//   <ComicInfo><Title>..</Title><Series>..</Series><Number>3</Number>
//     <Writer>..</Writer><PageCount>24</PageCount>
//     <Manga>YesAndRightToLeft</Manga>...</ComicInfo>
//
// Only these fields (and Volume, the artists, Publisher, Year,
// LanguageISO, Summary) are read, each from a child element of the root, and
// the bookmarks of <Pages> (other nested elements are passed over). The parser is our own and
// small: UTF-8 (a UTF-16 file with its byte-order mark is converted first),
// the five named entities and numeric character references, CDATA,
// comments, processing instructions and a DOCTYPE without an internal
// subset. It reads at most kMaxComicInfoBytes and keeps at most
// kMaxComicInfoText bytes of each field; text that is not valid UTF-8 has
// its bad bytes replaced by U+FFFD. Anything it cannot follow ends the
// parse with the fields found so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inkbrite {

inline constexpr size_t kMaxComicInfoText = 1024;
inline constexpr size_t kMaxComicInfoBookmarks = 10000;

struct ComicInfo {
  bool present = false;  // a ComicInfo root element was found
  std::string title;
  std::string series;
  std::string number;
  std::string writer;  // as written: one name or several separated by commas
  std::string volume;
  std::string penciller, inker, colorist, letterer, coverArtist;
  std::string publisher;
  std::string year;
  std::string language;  // <LanguageISO>
  std::string summary;
  std::string format;  // <Format>: "Webtoon" reads as one continuous strip
  int pageCount = 0;   // 0 when absent or not a number
  // The chapters <Pages> marks (<Page Image="12" Bookmark="Chapter 2"/>):
  // the page's index in the book's page order and the bookmark's text, in
  // document order, at most kMaxComicInfoBookmarks.
  std::vector<std::pair<int, std::string>> bookmarks;
  bool rightToLeft = false;  // <Manga>YesAndRightToLeft</Manga>: read right to left
};

// Parses the bytes of a ComicInfo.xml entry. False (with `info` cleared)
// when there is no ComicInfo root element.
bool ParseComicInfo(const uint8_t* data, size_t size, ComicInfo& info);

// A ComicInfo.xml carried into a converted book whose page i (in the book's
// page order) became outputs[i] pages (0: left out, 2: a split spread):
// <PageCount> holds the pages written and the <Page Image="i"> entries of
// <Pages> are renumbered, left out or made two (a split spread's halves are
// single pages without the source image's size, dimensions and key).
// With a `title`, <Title> holds it (added as the root's first child when
// absent). Everything else is kept byte for byte. None when nothing
// changes (or the bytes are not a ComicInfo document): the entry is copied
// as it is. A UTF-16 document comes back as UTF-8.
std::optional<std::string> ComicInfoForPages(const uint8_t* data, size_t size,
                                             std::span<const uint8_t> outputs,
                                             std::string_view title = {});

}  // namespace inkbrite
