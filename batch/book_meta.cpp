// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/book_meta.h"

#include <algorithm>
#include <regex>

namespace inkbrite {

namespace {

std::string Trim(const std::string& s, const char* chars = " \t-_.,([") {
  const size_t a = s.find_first_not_of(chars);
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(chars);
  return s.substr(a, b - a + 1);
}

std::string NoLeadingZeros(std::string digits) {
  const size_t a = digits.find_first_not_of('0');
  if (a == std::string::npos) return "0";
  if (digits[a] == '.') return digits.substr(a - (a > 0 ? 1 : 0));
  return digits.substr(a);
}

// Comma-separated names, each trimmed, none empty, none twice.
void AddNames(const std::string& list, std::vector<std::string>& names) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string name = Trim(list.substr(start, end - start), " \t");
    bool seen = name.empty();
    for (const std::string& n : names) seen = seen || n == name;
    if (!seen) names.push_back(name);
    start = end + 1;
  }
}

}  // namespace

void ParseBookName(const std::string& stem, BookMeta& meta) {
  // The first volume or chapter mark ends the series.
  static const std::regex kVolume(R"((?:^|[\s_\-\(\[])(?:v|vol\.?|volume)\s*(\d+(?:\.\d+)?)\b)",
                                  std::regex::icase);
  static const std::regex kNumber(R"((?:^|[\s_\-\(\[])(?:c|ch\.?|chapter|#)\s*(\d+(?:\.\d+)?)\b)",
                                  std::regex::icase);
  static const std::regex kTrailing(R"(^(.*\D)\s*[-_]?\s*(\d+(?:\.\d+)?)\s*$)");
  std::smatch volume;
  std::smatch number;
  const bool hasVolume = std::regex_search(stem, volume, kVolume);
  const bool hasNumber = std::regex_search(stem, number, kNumber);
  size_t cut = stem.size();
  if (hasVolume) {
    meta.volume = NoLeadingZeros(volume[1].str());
    cut = std::min(cut, static_cast<size_t>(volume.position(0)));
  }
  if (hasNumber) {
    meta.number = NoLeadingZeros(number[1].str());
    cut = std::min(cut, static_cast<size_t>(number.position(0)));
  }
  std::smatch trailing;
  if (!hasVolume && !hasNumber && std::regex_match(stem, trailing, kTrailing) &&
      !Trim(trailing[1].str()).empty()) {
    meta.number = NoLeadingZeros(trailing[2].str());
    cut = static_cast<size_t>(trailing.position(2));
  }
  meta.series = Trim(stem.substr(0, cut));
  if (meta.series.empty()) meta.series = Trim(stem, " \t");
}

BookMeta MakeBookMeta(const ComicInfo& info, const std::string& stem,
                      const BookMetaOverrides& overrides) {
  BookMeta meta;
  ParseBookName(stem, meta);
  if (!info.series.empty()) meta.series = info.series;
  if (!info.number.empty()) meta.number = info.number;
  if (!info.volume.empty()) meta.volume = info.volume;
  meta.title = info.title.empty() ? Trim(stem, " \t") : info.title;
  for (const std::string* list : {&info.writer, &info.penciller, &info.inker, &info.colorist,
                                  &info.letterer, &info.coverArtist}) {
    AddNames(*list, meta.authors);
  }
  meta.publisher = info.publisher;
  if (info.year.size() == 4 && info.year.find_first_not_of("0123456789") == std::string::npos)
    meta.year = info.year;
  static const std::regex kLanguage(R"([A-Za-z]{2,3}(-[A-Za-z0-9]{1,8})*)");
  if (std::regex_match(info.language, kLanguage)) meta.language = info.language;
  meta.summary = info.summary;
  meta.rightToLeft = info.rightToLeft;
  for (const auto& [page, title] : info.bookmarks) {
    meta.chapters.emplace_back(static_cast<size_t>(page), XmlSafeText(title));
  }
  std::stable_sort(meta.chapters.begin(), meta.chapters.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  meta.chapters.erase(std::unique(meta.chapters.begin(), meta.chapters.end(),
                                  [](const auto& a, const auto& b) { return a.first == b.first; }),
                      meta.chapters.end());
  if (!overrides.title.empty()) meta.title = overrides.title;
  if (!overrides.series.empty()) meta.series = overrides.series;
  if (!overrides.author.empty()) {
    meta.authors.clear();
    AddNames(overrides.author, meta.authors);
  }
  for (std::string* field :
       {&meta.title, &meta.series, &meta.number, &meta.volume, &meta.publisher, &meta.summary}) {
    *field = XmlSafeText(*field);
  }
  for (std::string& author : meta.authors) author = XmlSafeText(author);
  return meta;
}

std::string SeriesPosition(const BookMeta& meta) {
  if (!meta.volume.empty() && !meta.number.empty()) return meta.volume + "." + meta.number;
  return meta.volume.empty() ? meta.number : meta.volume;
}

std::string XmlSafeText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool good = len > 0 && i + len <= n;
    for (size_t k = 1; good && k < len; ++k) good = (s[i + k] & 0xC0) == 0x80;
    if (good && len > 1) {
      // No overlong forms, no surrogates, nothing above U+10FFFF.
      uint32_t cp = c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
      static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      good = cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) && cp != 0xFFFE &&
             cp != 0xFFFF;
    }
    if (!good) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (len > 1 || c >= 0x20 || c == '\t' || c == '\n' || c == '\r') out.append(text, i, len);
    i += len;
  }
  return out;
}

}  // namespace inkbrite
