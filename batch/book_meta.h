// SPDX-License-Identifier: GPL-2.0-or-later
// What an e-book or PDF says about itself: from the book's ComicInfo.xml
// when it has one, else from its file or folder name ("Series v03 c012":
// series "Series", volume 3, number 12), with the run's --title, --series
// and --author on top.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sources/comic_info.h"

namespace inkbrite {

struct BookMeta {
  std::string title;
  std::string series;
  std::string number;                // "12", "12.5"; empty: none
  std::string volume;                // "3"; empty: none
  std::vector<std::string> authors;  // writers first, then the artists
  std::string publisher;
  std::string year;      // four digits, or empty
  std::string language;  // a language tag ("en", "ja"); empty: unknown
  std::string summary;
  bool rightToLeft = false;
  // ComicInfo's chapters: the source page (its index in the book's page
  // order) each starts at, and its title; sorted by page, one a page.
  std::vector<std::pair<size_t, std::string>> chapters;
};

// The run's own words for every book (empty: the book's).
struct BookMetaOverrides {
  std::string title;
  std::string series;
  std::string author;  // one or several names separated by commas
};

// Series, volume and number from a name such as "Series v03 c012",
// "Series Vol. 3 Ch. 12", "Series - 012" or "Series #12" (leading zeros
// dropped); a name without them is all series.
void ParseBookName(const std::string& stem, BookMeta& meta);

// The book's metadata: ComicInfo's fields where it has them, the name's
// otherwise, then the overrides. `stem` is the book's file or folder name
// without its extension. The title is ComicInfo's, else the stem.
BookMeta MakeBookMeta(const ComicInfo& info, const std::string& stem,
                      const BookMetaOverrides& overrides);

// The series position a reader sorts by: "volume.number", the volume or
// the number; empty when neither is known.
std::string SeriesPosition(const BookMeta& meta);

// `text` made fit for XML: bytes that are not UTF-8 become U+FFFD, control
// characters other than tab and line ends are dropped.
std::string XmlSafeText(const std::string& text);

}  // namespace inkbrite
