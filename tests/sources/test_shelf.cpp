// SPDX-License-Identifier: GPL-2.0-or-later
// The shelf over folders made here: what it lists and as what, its orders,
// the books' own titles, progress marks, the next and previous book, search.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "formats/image_file.h"
#include "sources/shelf.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string ComicInfoXml(const std::string& title, const std::string& series,
                         const std::string& number, const std::string& writer) {
  return "<?xml version=\"1.0\"?><ComicInfo><Title>" + title + "</Title><Series>" + series +
         "</Series><Number>" + number + "</Number><Writer>" + writer + "</Writer></ComicInfo>";
}

// A real 200 x 400 page as BMP bytes.
std::vector<uint8_t> PageBytes() {
  test::TempDir dir;
  const DibImage page = test::MakeImage(200, 400, [](int32_t x, int32_t y) {
    return test::Bgr{static_cast<uint8_t>(x), static_cast<uint8_t>(y / 2), 90};
  });
  EXPECT_EQ(SaveImageFile(dir / "p.bmp", page, 0, 90), 1);
  return test::ReadAll(dir / "p.bmp");
}

// A zip book of `pages` pages (the first a real picture when `real`), with
// a ComicInfo.xml when `info` is given.
void MakeBook(const fs::path& path, int pages, const std::string& info = {}, bool real = false) {
  std::vector<MadeEntry> entries;
  for (int i = 1; i <= pages; ++i) {
    entries.push_back({std::to_string(i) + ".bmp", real && i == 1 ? PageBytes() : Bytes("bmp")});
  }
  if (!info.empty()) entries.push_back({"ComicInfo.xml", Bytes(info)});
  test::WriteArchive(path, MadeFormat::kZipStored, entries);
}

void SetTime(const fs::path& path, int64_t seconds) {
  const auto system = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  fs::last_write_time(path, std::chrono::file_clock::from_sys(system));
}

std::vector<std::string> Names(const Shelf& shelf, const std::vector<size_t>& at) {
  std::vector<std::string> names;
  for (size_t i : at) names.push_back(shelf[i].name);
  return names;
}

std::vector<std::string> Names(const Shelf& shelf) {
  std::vector<std::string> names;
  for (const ShelfItem& item : shelf.Items()) names.push_back(item.name);
  return names;
}

// A series folder: three volumes (one with a ComicInfo), a folder of pages,
// a folder of books, and what a shelf must leave out.
class ShelfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) m_oldCache = old;
    setenv("XDG_CACHE_HOME", m_cache.path().c_str(), 1);
    const fs::path& d = m_dir.path();
    MakeBook(d / "Vol 10.cbz", 3, ComicInfoXml("The End", "Saga", "10", "Ann Lee"), true);
    MakeBook(d / "Vol 2.cbz", 4, ComicInfoXml("Beginnings", "Saga", "2", "Bo Chen, Ann Lee"));
    MakeBook(d / "vol 3.cbr", 5);  // a zip named .cbr: the content decides
    fs::create_directory(d / "Extras");
    test::WriteAll(d / "Extras" / "b.png", Bytes("png"));
    test::WriteAll(d / "Extras" / "a.jpg", Bytes("jpeg"));
    test::WriteAll(d / "Extras" / "ComicInfo.xml", Bytes(ComicInfoXml("Sketches", "", "", "Di")));
    fs::create_directories(d / "Side Story" / "deeper");
    MakeBook(d / "Side Story" / "One.cbz", 1);
    fs::create_directory(d / "empty");
    fs::create_directory(d / ".hidden");
    MakeBook(d / ".Vol 0.cbz", 1);
    test::WriteAll(d / "picture.cbz", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0});
    test::WriteAll(d / "notes.txt", Bytes("text"));
    SetTime(d / "Vol 2.cbz", 1000);
    SetTime(d / "vol 3.cbr", 3000);
    SetTime(d / "Vol 10.cbz", 2000);
    SetTime(d / "Extras", 10);
    SetTime(d / "Side Story", 4000);
  }

  Shelf Listed(bool details = true) const {
    Shelf shelf = Shelf::List(m_dir.path());
    for (size_t i = 0; details && i < shelf.size(); ++i) {
      shelf.SetDetails(i, ReadShelfDetails(shelf[i]));
    }
    return shelf;
  }

  void TearDown() override {
    if (m_oldCache.empty()) {
      unsetenv("XDG_CACHE_HOME");
    } else {
      setenv("XDG_CACHE_HOME", m_oldCache.c_str(), 1);
    }
  }

  test::TempDir m_dir;
  test::TempDir m_cache;
  std::string m_oldCache;
};

TEST_F(ShelfTest, ListsBooksAndFoldersInNaturalOrderFoldersFirst) {
  const Shelf shelf = Listed(false);
  EXPECT_EQ(Names(shelf), (std::vector<std::string>{"Side Story", "Extras", "Vol 2.cbz",
                                                    "vol 3.cbr", "Vol 10.cbz"}));
  const struct {
    const char* name;
    ShelfKind kind;
    int pages;
  } kinds[] = {{"Extras", ShelfKind::kPageFolder, 2},
               {"Side Story", ShelfKind::kFolder, 0},
               {"Vol 2.cbz", ShelfKind::kBook, 0}};
  for (const auto& want : kinds) {
    const size_t at = shelf.Find(m_dir.path() / want.name);
    ASSERT_LT(at, shelf.size()) << want.name;
    EXPECT_EQ(shelf[at].kind, want.kind) << want.name;
    EXPECT_EQ(shelf[at].pageCount, want.pages) << want.name;
  }
  EXPECT_TRUE(Shelf::List(m_dir.path() / "missing").Items().empty());
}

TEST_F(ShelfTest, DetailsComeFromTheBooks) {
  const Shelf shelf = Listed();
  const struct {
    const char* name;
    const char* title;
    const char* series;
    const char* number;
    int pages;
  } cases[] = {{"Vol 10.cbz", "The End", "Saga", "10", 3},
               {"Vol 2.cbz", "Beginnings", "Saga", "2", 4},
               {"vol 3.cbr", "vol 3", "", "", 5},  // no ComicInfo: the name
               {"Extras", "Sketches", "", "", 2},
               {"Side Story", "Side Story", "", "", 0}};
  for (const auto& c : cases) {
    const ShelfItem& item = shelf[shelf.Find(m_dir.path() / c.name)];
    EXPECT_EQ(item.Title(), c.title) << c.name;
    EXPECT_EQ(item.details.series, c.series) << c.name;
    EXPECT_EQ(item.details.number, c.number) << c.name;
    EXPECT_EQ(item.Pages(), c.pages) << c.name;
  }
  // The cover: the first page's thumbnail, made, then from the cache; none
  // for a first page no reader takes.
  for (int pass = 0; pass < 2; ++pass) {
    DibImage cover;
    ReadShelfDetails(shelf[shelf.Find(m_dir.path() / "Vol 10.cbz")], &cover);
    EXPECT_EQ(cover.Height(), 256) << pass;
    EXPECT_EQ(cover.Width(), 128) << pass;
  }
  size_t cached = 0;
  for (const auto& entry : fs::recursive_directory_iterator(m_cache.path())) {
    cached += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(cached, 1u);
  DibImage none = test::MakeImage(2, 2, [](int32_t, int32_t) { return test::Bgr{}; });
  ReadShelfDetails(shelf[shelf.Find(m_dir.path() / "Vol 2.cbz")], &none);
  EXPECT_TRUE(none.IsEmpty());
  // A book that stops being readable keeps its place and name.
  test::WriteAll(m_dir.path() / "Vol 2.cbz", Bytes("PK\3\4 cut short"));
  const ShelfDetails cut = ReadShelfDetails(shelf[shelf.Find(m_dir.path() / "Vol 2.cbz")]);
  EXPECT_TRUE(cut.known);
  EXPECT_FALSE(cut.readable);
}

// A folder's cover is its first book's: a book beside folders first, else
// the first folder's, however deep (within four folders).
TEST_F(ShelfTest, AFoldersCoverIsItsFirstBooks) {
  const fs::path& d = m_dir.path();
  auto book = [](const fs::path& path, int width) {
    test::TempDir pages;
    const DibImage page = test::MakeImage(width, 400, [](int32_t, int32_t) { return test::Bgr{}; });
    EXPECT_EQ(SaveImageFile(pages / "p.bmp", page, 0, 90), 1);
    fs::create_directories(path.parent_path());
    test::WriteArchive(path, MadeFormat::kZipStored, {{"1.bmp", test::ReadAll(pages / "p.bmp")}});
  };
  book(d / "Series/Arc 1/x.cbz", 100);
  book(d / "Series/Vol 2.cbz", 300);
  book(d / "Series/Vol 10.cbz", 200);
  book(d / "Deep/a/b/c/y.cbz", 250);
  book(d / "Too deep/a/b/c/d/e/z.cbz", 250);
  const struct {
    const char* folder;
    int width;  // of the cover, 256 tall; 0: none
  } cases[] = {{"Series", 192}, {"Deep", 160}, {"Too deep", 0}, {"Side Story", 0}};
  const Shelf shelf = Shelf::List(d);
  for (const auto& c : cases) {
    DibImage cover = test::MakeImage(2, 2, [](int32_t, int32_t) { return test::Bgr{}; });
    const ShelfDetails details = ReadShelfDetails(shelf[shelf.Find(d / c.folder)], &cover);
    EXPECT_TRUE(details.known) << c.folder;
    EXPECT_EQ(cover.Width(), c.width) << c.folder;
    EXPECT_EQ(cover.Height(), c.width > 0 ? 256 : 0) << c.folder;
  }
}

TEST_F(ShelfTest, Orders) {
  Shelf shelf = Listed();
  shelf.SetProgress(shelf.Find(m_dir.path() / "Vol 10.cbz"), {1, 3, 500});
  shelf.SetProgress(shelf.Find(m_dir.path() / "Extras"), {2, 2, 900});
  const struct {
    ShelfOrder order;
    std::vector<std::string> names;
  } cases[] = {
      {ShelfOrder::kNatural, {"Side Story", "Extras", "Vol 2.cbz", "vol 3.cbr", "Vol 10.cbz"}},
      // Beginnings, Sketches, The End, vol 3; folders first.
      {ShelfOrder::kTitle, {"Side Story", "Vol 2.cbz", "Extras", "Vol 10.cbz", "vol 3.cbr"}},
      {ShelfOrder::kAdded, {"Side Story", "vol 3.cbr", "Vol 10.cbz", "Vol 2.cbz", "Extras"}},
      {ShelfOrder::kLastRead, {"Side Story", "Extras", "Vol 10.cbz", "Vol 2.cbz", "vol 3.cbr"}},
  };
  for (const auto& c : cases) {
    shelf.Sort(c.order);
    EXPECT_EQ(shelf.Order(), c.order);
    EXPECT_EQ(Names(shelf), c.names) << static_cast<int>(c.order);
  }
}

TEST_F(ShelfTest, ProgressMarks) {
  Shelf shelf = Listed();
  const size_t at = shelf.Find(m_dir.path() / "Vol 2.cbz");  // 4 pages
  const struct {
    ShelfProgress progress;
    bool isNew, begun, read;
  } cases[] = {
      {{0, 0, 0}, true, false, false},
      {{1, 4, 10}, false, true, false},
      {{3, 4, 10}, false, true, false},
      {{4, 4, 10}, false, false, true},
      // The book grew since: its own count decides.
      {{3, 3, 10}, false, true, false},
  };
  for (const auto& c : cases) {
    shelf.SetProgress(at, c.progress);
    EXPECT_EQ(shelf[at].IsNew(), c.isNew) << c.progress.page;
    EXPECT_EQ(shelf[at].IsBegun(), c.begun) << c.progress.page;
    EXPECT_EQ(shelf[at].IsRead(), c.read) << c.progress.page;
  }
  // A folder to go into is never new, begun or read.
  const ShelfItem& folder = shelf[shelf.Find(m_dir.path() / "Side Story")];
  EXPECT_FALSE(folder.IsNew() || folder.IsBegun() || folder.IsRead());
}

TEST_F(ShelfTest, NextAndPreviousBookPassOverFolders) {
  Shelf shelf = Listed();
  const fs::path& d = m_dir.path();
  const struct {
    ShelfOrder order;
    const char* from;
    int step;
    const char* to;  // "" none
  } cases[] = {
      {ShelfOrder::kNatural, "Vol 2.cbz", 1, "vol 3.cbr"},
      {ShelfOrder::kNatural, "vol 3.cbr", 1, "Vol 10.cbz"},
      {ShelfOrder::kNatural, "Vol 10.cbz", 1, ""},
      {ShelfOrder::kNatural, "Vol 2.cbz", -1, "Extras"},
      {ShelfOrder::kNatural, "Extras", -1, ""},  // "Side Story" is a folder
      {ShelfOrder::kNatural, "Extras", 2, "vol 3.cbr"},
      {ShelfOrder::kNatural, "missing.cbz", 1, ""},
      {ShelfOrder::kTitle, "Extras", 1, "Vol 10.cbz"},
      {ShelfOrder::kTitle, "Vol 2.cbz", -1, ""},
  };
  for (const auto& c : cases) {
    shelf.Sort(c.order);
    const fs::path next = shelf.NeighbourBook(d / c.from, c.step);
    EXPECT_EQ(next, *c.to ? d / c.to : fs::path()) << c.from << " " << c.step;
  }
}

TEST_F(ShelfTest, SearchByNameSeriesAndWriter) {
  const Shelf shelf = Listed();
  const struct {
    const char* query;
    std::vector<std::string> names;
  } cases[] = {
      {"", {"Side Story", "Extras", "Vol 2.cbz", "vol 3.cbr", "Vol 10.cbz"}},
      {"vol", {"Vol 2.cbz", "vol 3.cbr", "Vol 10.cbz"}},
      {"SAGA", {"Vol 2.cbz", "Vol 10.cbz"}},
      {"ann", {"Vol 2.cbz", "Vol 10.cbz"}},
      {"chen", {"Vol 2.cbz"}},
      {"saga  end", {"Vol 10.cbz"}},  // every word, in any field
      {"sketch", {"Extras"}},
      {"story", {"Side Story"}},
      {"nothing like it", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Names(shelf, shelf.Search(c.query)), c.names) << c.query;
}

TEST_F(ShelfTest, BooksBegunNewestFirst) {
  Shelf shelf = Listed();
  const fs::path& d = m_dir.path();
  shelf.SetProgress(shelf.Find(d / "Vol 2.cbz"), {2, 4, 100});
  shelf.SetProgress(shelf.Find(d / "vol 3.cbr"), {5, 5, 300});  // finished
  shelf.SetProgress(shelf.Find(d / "Vol 10.cbz"), {1, 3, 200});
  shelf.SetProgress(shelf.Find(d / "Extras"), {1, 2, 50});
  std::vector<std::string> begun;
  for (const ShelfItem& item : BooksBegun(shelf.Items())) begun.push_back(item.name);
  EXPECT_EQ(begun, (std::vector<std::string>{"Vol 10.cbz", "Vol 2.cbz", "Extras"}));
}

}  // namespace
}  // namespace inkbrite
