// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/sources/book_corpus.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/test_support.h"

namespace inkbrite::test {

namespace {

std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    rows.push_back(std::move(cols));
  }
  return rows;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  if (text == "-" || text.empty()) return out;
  size_t start = 0;
  for (;;) {
    const size_t bar = text.find(" | ", start);
    out.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 3;
  }
  return out;
}

}  // namespace

std::vector<BookRow> ReadBookRows() {
  std::vector<BookRow> rows;
  for (const auto& cols : ReadTsv(CorpusDir() / "archives" / "BOOKS.tsv")) {
    if (cols.size() < 6) continue;
    BookRow row;
    row.path = cols[0];
    row.kind = cols[1];
    row.expect = cols[2];
    row.pages = SplitList(cols[3]);
    row.sources = SplitList(cols[4]);
    row.notes = cols[5];
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<EntryRow> ReadEntryRows() {
  std::vector<EntryRow> rows;
  for (const auto& cols : ReadTsv(CorpusDir() / "archives" / "ENTRIES.tsv")) {
    if (cols.size() < 6) continue;
    EntryRow row;
    row.path = cols[0];
    row.entry = cols[1];
    row.type = cols[2];
    row.size = std::strtoull(cols[3].c_str(), nullptr, 10);
    row.sha256 = cols[4] == "-" ? "" : cols[4];
    row.linkTarget = cols[5] == "-" ? "" : cols[5];
    rows.push_back(std::move(row));
  }
  return rows;
}

PictureExpectation ExpectationOf(const std::string& source) {
  for (const char* manifest : {"MANIFEST.tsv", "MANIFEST-modern.tsv"}) {
    for (const auto& cols : ReadTsv(CorpusDir() / manifest)) {
      if (cols.size() < 5 || cols[0] != source) continue;
      PictureExpectation e;
      e.listed = true;
      e.loads = cols[2] != "fail";
      e.tolerance = cols[4] == "-" ? -1 : std::atoi(cols[4].c_str());
      return e;
    }
  }
  return {};
}

std::string CompareWithExpected(const DibImage& image, const std::string& source) {
  const PictureExpectation e = ExpectationOf(source);
  if (!e.listed || !e.loads || e.tolerance < 0) return "no expected picture for " + source;
  Ppm ppm;
  if (!ReadPpm(CorpusDir() / "expected" / (source + ".ppm"), ppm)) {
    return "cannot read the expected picture of " + source;
  }
  return CompareWithPpm(image, ppm, e.tolerance);
}

}  // namespace inkbrite::test
