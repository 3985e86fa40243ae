// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-thumbnailer as a file manager runs it: the cover of each kind of
// book and of a picture at the size asked, and a clean failure (status 1,
// no file) on whatever it cannot read, the corpus's hostile books among it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "formats/image_file.h"
#include "tests/sources/archive_maker.h"
#include "tests/sources/book_corpus.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;

#ifdef INKBRITE_THUMBNAILER_EXE

// The program's exit status; -1 when it ended by a signal.
int RunThumbnailer(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(INKBRITE_THUMBNAILER_EXE)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execv(INKBRITE_THUMBNAILER_EXE, argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> PagePng(int width, int height, test::Bgr colour) {
  test::TempDir dir;
  EXPECT_EQ(SaveImageFile(dir / "p.png", test::MakeFilled(width, height, colour), 0, 90), 1);
  return test::ReadAll(dir / "p.png");
}

TEST(ThumbnailerTest, WritesTheCoverOfEachKindOfBookAtTheSizeAsked) {
  test::TempDir dir;
  const test::Bgr red{0, 0, 250}, blue{250, 0, 0};
  // The cover is the first page in reading order, not the first stored.
  const std::vector<MadeEntry> pages = {{"02.png", PagePng(300, 400, blue)},
                                        {"01.png", PagePng(300, 600, red)}};
  test::WriteArchive(dir / "a.cbz", MadeFormat::kZipDeflated, pages);
  test::WriteArchive(dir / "a.cb7", MadeFormat::kSevenZip, pages);
  test::WriteArchive(dir / "a.cbt", MadeFormat::kTar, pages);
  test::WriteAll(dir / "loose.png", PagePng(300, 600, red));
  test::WriteAll(dir / "small.png", PagePng(30, 60, red));
  struct Case {
    const char* input;
    int size;
    int width, height;
  };
  for (const Case& c :
       {Case{"a.cbz", 128, 64, 128}, Case{"a.cb7", 256, 128, 256}, Case{"a.cbt", 512, 256, 512},
        Case{"loose.png", 256, 128, 256}, Case{"small.png", 1024, 30, 60}}) {
    const fs::path out = dir / (std::string(c.input) + ".png");
    ASSERT_EQ(
        RunThumbnailer({"-s", std::to_string(c.size), (dir / c.input).string(), out.string()}), 0)
        << c.input;
    DibImage cover;
    ASSERT_EQ(LoadImageFile(out, cover, nullptr, nullptr), 1) << c.input;
    EXPECT_EQ(cover.Width(), c.width) << c.input;
    EXPECT_EQ(cover.Height(), c.height) << c.input;
    // The first page's colour (the shrinking may round a level down).
    const test::Bgr centre = test::PixelAt(cover, c.width / 2, c.height / 2);
    EXPECT_GE(centre.r, 248) << c.input;
    EXPECT_EQ(centre.b, 0) << c.input;
  }
}

TEST(ThumbnailerTest, WhatItCannotReadEndsWithStatusOneAndNoFile) {
  test::TempDir dir;
  test::WriteAll(dir / "cut.cbz", {'P', 'K', 3, 4, 'c', 'u', 't'});
  test::WriteArchive(dir / "text.cbz", MadeFormat::kZipStored, {{"a.txt", {'x'}}});
  test::WriteAll(dir / "noise.jpg", std::vector<uint8_t>(5000, 0x5a));
  ASSERT_EQ(::mkfifo((dir / "fifo.cbz").c_str(), 0600), 0);
  for (const char* input : {"cut.cbz", "text.cbz", "noise.jpg", "fifo.cbz", "missing.cbz"}) {
    const fs::path out = dir / "out.png";
    EXPECT_EQ(RunThumbnailer({(dir / input).string(), out.string()}), 1) << input;
    EXPECT_FALSE(fs::exists(out)) << input;
  }
  // A wrong command line.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-s", "0", "a", "b"}, {"-s", "2000", "a", "b"}, {"a"}}) {
    EXPECT_EQ(RunThumbnailer(args), 2);
  }
}

TEST(ThumbnailerTest, EveryCorpusBookGivesItsCoverOrFailsCleanly) {
  INKBRITE_NEED_CORPUS();
  test::TempDir dir;
  int covers = 0;
  for (const test::BookRow& row : test::ReadBookRows()) {
    const fs::path out = dir / "cover.png";
    fs::remove(out);
    const int status = RunThumbnailer({(test::CorpusDir() / row.path).string(), out.string()});
    // Never a crash or the give-up signal's other ending.
    ASSERT_TRUE(status == 0 || status == 1) << row.path << " " << status;
    if (row.expect == "book") {
      EXPECT_EQ(status, 0) << row.path;
      DibImage cover;
      EXPECT_EQ(LoadImageFile(out, cover, nullptr, nullptr), 1) << row.path;
      EXPECT_LE(std::max(cover.Width(), cover.Height()), 256) << row.path;
      covers += status == 0 ? 1 : 0;
    } else if (row.expect == "encrypted" || row.expect == "no-pages") {
      EXPECT_EQ(status, 1) << row.path;
    }
    if (status == 1) {
      EXPECT_FALSE(fs::exists(out)) << row.path;
    }
  }
  EXPECT_GT(covers, 0);
}

#endif  // INKBRITE_THUMBNAILER_EXE

}  // namespace
}  // namespace inkbrite
