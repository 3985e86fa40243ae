// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing pages a band of rows at a time: the rows and the files
// of the whole-page reader and writer, byte for byte, and the same failures.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/image_file.h"
#include "formats/page_rows.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// The page a row reader gives, read in bands of `band` rows (with `grey`
// as grey levels, widened to three bytes a pixel); empty when the reader
// fails anywhere.
DibImage ReadByRows(PageRowReader& reader, int32_t band, bool grey = false) {
  DibImage page;
  if (!page.Create(reader.Width(), reader.Height(), 24)) return {};
  const auto width = static_cast<size_t>(reader.Width());
  const size_t count = width * (grey ? 1 : 3);
  std::vector<uint8_t> rows(count * static_cast<size_t>(band), 0xEE);
  for (int32_t y = 0; y < reader.Height(); y += band) {
    const int32_t n = std::min(band, reader.Height() - y);
    if (!(grey ? reader.ReadGreyRows(rows.data(), count, n)
               : reader.ReadRows(rows.data(), count, n))) {
      return {};
    }
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* from = rows.data() + count * static_cast<size_t>(i);
      uint8_t* to = page.Row(y + i);
      if (!grey) {
        std::memcpy(to, from, count);
        continue;
      }
      for (size_t x = 0; x < width; ++x) to[3 * x] = to[3 * x + 1] = to[3 * x + 2] = from[x];
    }
  }
  if (!reader.Finish()) return {};
  return page;
}

// What the streaming path makes of a file against what LoadImageFile makes
// of it: the same page and grey-source flag, or a failure where it fails (a
// file without a row reader is read whole, so it cannot differ). The same for
// the file's bytes in memory against LoadImageMemory.
void ExpectRowsOfWholeReader(const fs::path& path, int32_t band, bool inMemory = false) {
  SCOPED_TRACE(path.string() + ", band " + std::to_string(band) + (inMemory ? ", memory" : ""));
  DibImage whole;
  int grey = -1;
  const std::vector<uint8_t> bytes = inMemory ? test::ReadAll(path) : std::vector<uint8_t>{};
  const std::string name = path.filename().string();
  const int loaded = inMemory ? LoadImageMemory(bytes.data(), bytes.size(), name, whole, &grey)
                              : LoadImageFile(path, whole, &grey);
  std::unique_ptr<PageRowReader> reader =
      inMemory ? OpenPageRowReaderMemory(bytes.data(), bytes.size(), name)
               : OpenPageRowReader(path);
  if (reader == nullptr) return;
  const DibImage rows = ReadByRows(*reader, band);
  if (loaded == 0) {
    EXPECT_TRUE(rows.IsEmpty()) << "the row reader read what the whole-page reader cannot";
    return;
  }
  ASSERT_FALSE(rows.IsEmpty()) << "the row reader failed where the whole-page reader reads";
  EXPECT_EQ(rows.PackedDib(), whole.PackedDib());
  EXPECT_EQ(reader->GreySource(), grey == 1);
  // A one-component file (the JPEG rule for the flag) reads as grey levels
  // too: the same pixels, one byte each.
  EXPECT_EQ(reader->ReadsGrey(), grey == 1);
  if (!reader->ReadsGrey()) return;
  std::unique_ptr<PageRowReader> levels =
      inMemory ? OpenPageRowReaderMemory(bytes.data(), bytes.size(), name)
               : OpenPageRowReader(path);
  ASSERT_NE(levels, nullptr);
  EXPECT_EQ(ReadByRows(*levels, band, true).PackedDib(), whole.PackedDib());
}

TEST(PageRowReader, GivesTheRowsOfTheWholePageReaderForTheCorpus) {
  INKBRITE_NEED_CORPUS();
  int streamed = 0;
  for (const test::ManifestRow& row : test::ReadManifest("")) {
    const fs::path path = test::CorpusDir() / row.path;
    if (OpenPageRowReader(path) != nullptr) ++streamed;
    ExpectRowsOfWholeReader(path, 1);
    ExpectRowsOfWholeReader(path, 16);
    ExpectRowsOfWholeReader(path, 16, true);
  }
  EXPECT_GT(streamed, 20) << "the corpus's JPEG files stream";
}

// Rows passed over and then read are the whole page's rows there, from the
// top and after some rows read, whatever the format does to skip them.
void ExpectSkipsToTheWholePagesRows(const fs::path& path) {
  DibImage whole;
  if (LoadImageFile(path, whole, nullptr) != 1 || OpenPageRowReader(path) == nullptr) return;
  const int32_t h = whole.Height();
  for (const int32_t before : {0, 5}) {
    for (const int32_t skip : {1, 7, 8, 17, h / 2, h - before - 1}) {
      if (before + skip >= h || skip < 0) continue;
      SCOPED_TRACE(path.filename().string() + " after " + std::to_string(before) + " skip " +
                   std::to_string(skip));
      std::unique_ptr<PageRowReader> reader = OpenPageRowReader(path);
      const size_t bytes = static_cast<size_t>(whole.Width()) * 3;
      std::vector<uint8_t> row(bytes);
      for (int32_t y = 0; y < before; ++y) ASSERT_TRUE(reader->ReadRows(row.data(), bytes, 1));
      ASSERT_TRUE(reader->SkipRows(skip));
      for (int32_t y = before + skip; y < std::min(h, before + skip + 20); ++y) {
        ASSERT_TRUE(reader->ReadRows(row.data(), bytes, 1));
        ASSERT_EQ(std::memcmp(row.data(), whole.Row(y), bytes), 0) << "row " << y;
      }
    }
  }
}

TEST(PageRowReader, SkipsToTheRowsOfTheWholePageReader) {
  test::TempDir dir;
  const DibImage noise = test::MakeNoise(83, 301, 7);
  ASSERT_EQ(SaveImageFile(dir / "colour.jpg", noise, 0, 85), 1);
  ASSERT_EQ(SaveImageFile(dir / "grey.jpg", noise, 1, 85), 1);
  ExpectSkipsToTheWholePagesRows(dir / "colour.jpg");
  ExpectSkipsToTheWholePagesRows(dir / "grey.jpg");
  // The corpus's JPEG files: progressive, CMYK, odd samplings, restarts.
  if (test::HaveCorpus()) {
    for (const test::ManifestRow& row : test::ReadManifest("")) {
      ExpectSkipsToTheWholePagesRows(test::CorpusDir() / row.path);
    }
  }
}

// Cut and damaged files: the row reader fails exactly where the whole-page
// reader does (a file cut inside its data still decodes, as far as it goes).
TEST(PageRowReader, FailsWhereTheWholePageReaderFails) {
  test::TempDir dir;
  const fs::path source = dir / "page.jpg";
  ASSERT_EQ(SaveImageFile(source, test::MakeNoise(61, 45), 0, 80), 1);
  const std::vector<uint8_t> file = test::ReadAll(source);
  int cases = 0;
  for (size_t cut = 0; cut < file.size(); cut += 1 + file.size() / 40) {
    const fs::path path = dir / ("cut" + std::to_string(cut) + ".jpg");
    test::WriteAll(path, std::vector<uint8_t>(file.begin(), file.begin() + cut));
    ExpectRowsOfWholeReader(path, 7);
    ExpectRowsOfWholeReader(path, 7, true);
    ++cases;
  }
  for (size_t at = 2; at < file.size(); at += 1 + file.size() / 60) {
    std::vector<uint8_t> damaged = file;
    damaged[at] ^= 0x5A;
    const fs::path path = dir / ("damaged" + std::to_string(at) + ".jpg");
    test::WriteAll(path, damaged);
    ExpectRowsOfWholeReader(path, 3);
    ExpectRowsOfWholeReader(path, 3, true);
    ++cases;
  }
  EXPECT_GT(cases, 80);
  EXPECT_EQ(OpenPageRowReader(dir / "missing.jpg"), nullptr);
  EXPECT_EQ(OpenPageRowReader(dir.path()), nullptr);
}

// A page written by a row writer in bands of `band` rows (into `memory`
// when given, as a file of `path`'s name).
// With `grey`, the first byte of each pixel goes as its grey level.
bool WriteByRows(const fs::path& path, const DibImage& page, int colourMode, int quality,
                 int32_t band, std::vector<uint8_t>* memory = nullptr, bool grey = false) {
  std::unique_ptr<PageRowWriter> writer =
      memory != nullptr
          ? OpenPageRowWriterMemory(*memory, path, page.Width(), page.Height(), colourMode, quality)
          : OpenPageRowWriter(path, page.Width(), page.Height(), colourMode, quality);
  if (writer == nullptr) return false;
  EXPECT_EQ(writer->TakesGreyRows(), colourMode == 1) << "a writer opened for grey takes levels";
  const size_t count = static_cast<size_t>(page.Width()) * (grey ? 1 : 3);
  for (int32_t y = 0; y < page.Height(); y += band) {
    const int32_t n = std::min(band, page.Height() - y);
    // Rows are stored bottom up: a band is copied top row first.
    std::vector<uint8_t> rows;
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* row = page.Row(y + i);
      for (int32_t x = 0; grey && x < page.Width(); ++x) rows.push_back(row[3 * x]);
      if (!grey) rows.insert(rows.end(), row, row + page.Width() * 3);
    }
    if (!(grey ? writer->WriteGreyRows(rows.data(), count, n)
               : writer->WriteRows(rows.data(), count, n))) {
      return false;
    }
  }
  return writer->Commit();
}

TEST(PageRowWriter, WritesTheBytesOfSaveImageFile) {
  test::TempDir dir;
  // The last one takes more than the memory writer's first 64 KiB.
  const DibImage pages[] = {test::MakeNoise(1, 1), test::MakeNoise(17, 9), test::MakeNoise(64, 48),
                            test::MakePattern(203, 111), test::MakeNoise(300, 200)};
  for (const DibImage& page : pages) {
    for (int mode : {0, 1}) {
      for (int quality : {0, 30, 70, 100}) {
        SCOPED_TRACE(testing::Message() << page.Width() << " x " << page.Height() << " mode "
                                        << mode << " quality " << quality);
        ASSERT_EQ(SaveImageFile(dir / "whole.jpg", page, mode, quality), 1);
        ASSERT_TRUE(WriteByRows(dir / "rows.jpeg", page, mode, quality, 5));
        EXPECT_EQ(test::ReadAll(dir / "rows.jpeg"), test::ReadAll(dir / "whole.jpg"));
        std::vector<uint8_t> memory(100, 0xEE);  // replaced, whatever it held
        ASSERT_TRUE(WriteByRows("rows.jpg", page, mode, quality, 5, &memory));
        EXPECT_EQ(memory, test::ReadAll(dir / "whole.jpg"));
        if (mode == 0) continue;
        // A grey page's levels write the grey file of its pixels.
        DibImage greyed = page;
        ASSERT_TRUE(greyed.Greyscale());
        ASSERT_EQ(SaveImageFile(dir / "whole.jpg", greyed, 1, quality), 1);
        ASSERT_TRUE(WriteByRows(dir / "levels.jpg", greyed, mode, quality, 3, nullptr, true));
        EXPECT_EQ(test::ReadAll(dir / "levels.jpg"), test::ReadAll(dir / "whole.jpg"));
        ASSERT_TRUE(WriteByRows("levels.jpg", greyed, mode, quality, 4, &memory, true));
        EXPECT_EQ(memory, test::ReadAll(dir / "whole.jpg"));
      }
    }
  }
}

TEST(PageRowWriter, LeavesNothingUnlessEveryRowIsWrittenAndCommitted) {
  test::TempDir dir;
  const DibImage page = test::MakeNoise(40, 30);
  ASSERT_EQ(SaveImageFile(dir / "old.jpg", page, 0, 50), 1);
  const std::vector<uint8_t> old = test::ReadAll(dir / "old.jpg");
  {
    // Given up half way: the previous file stays as it was.
    std::unique_ptr<PageRowWriter> writer = OpenPageRowWriter(dir / "old.jpg", 40, 30, 0, 90);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->WriteRows(page.Row(0), 1, 1));
  }
  {
    std::unique_ptr<PageRowWriter> writer = OpenPageRowWriter(dir / "short.jpg", 40, 30, 0, 90);
    ASSERT_NE(writer, nullptr);
    EXPECT_FALSE(writer->Commit()) << "a page with rows missing";
  }
  EXPECT_EQ(test::ReadAll(dir / "old.jpg"), old);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename());
  }
  EXPECT_EQ(names, std::vector<std::string>{"old.jpg"});
  {
    // In memory: nothing is left of a page given up half way.
    std::vector<uint8_t> memory;
    std::unique_ptr<PageRowWriter> writer = OpenPageRowWriterMemory(memory, "p.jpg", 40, 30, 0, 90);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->WriteRows(page.Row(0), 1, 1));
    EXPECT_FALSE(writer->Commit());
    writer.reset();
    EXPECT_TRUE(memory.empty());
    EXPECT_EQ(OpenPageRowWriterMemory(memory, "p.png", 40, 30, 0, 90), nullptr);
  }
  // No folder to write in, and formats written whole.
  EXPECT_EQ(OpenPageRowWriter(dir / "no" / "page.jpg", 40, 30, 0, 90), nullptr);
  EXPECT_EQ(OpenPageRowWriter(dir / "page.png", 40, 30, 0, 90), nullptr);
  EXPECT_EQ(OpenPageRowWriter(dir / "page.bmp", 40, 30, 0, 90), nullptr);
}

}  // namespace
}  // namespace inkbrite
