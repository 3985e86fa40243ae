// SPDX-License-Identifier: GPL-2.0-or-later
// The library's state: which set is in force where, places that follow a
// moved book, and a database that is damaged, held by another program or
// whose writer is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "sources/library_state.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

TEST(LibraryStateTest, TheBooksSetOverItsSeriesOverNothing) {
  test::TempDir dir;
  LibraryState state(dir / "library.db");
  ASSERT_TRUE(state.Ok()) << state.Error();
  const fs::path lib = dir / "lib";
  ASSERT_TRUE(state.Attach(lib / "manga", AttachScope::kSeries, "grey"));
  ASSERT_TRUE(state.Attach(lib / "manga/v2.cbz", AttachScope::kBook, "colour"));
  ASSERT_TRUE(state.Attach(lib / "manga/extra", AttachScope::kSeries, "dark"));
  // A book's own attachment on a folder's path is no series.
  ASSERT_TRUE(state.Attach(lib / "odd", AttachScope::kBook, "never"));
  ASSERT_TRUE(state.Attach(lib / "gone.cbz", AttachScope::kBook, "x"));
  ASSERT_TRUE(state.Detach(lib / "gone.cbz"));
  struct Case {
    fs::path book;
    std::optional<std::string> set;
    AttachScope scope;
  };
  const std::vector<Case> cases = {
      {lib / "manga/v1.cbz", "grey", AttachScope::kSeries},
      {lib / "manga/v2.cbz", "colour", AttachScope::kBook},
      {lib / "manga/./v2.cbz", "colour", AttachScope::kBook},        // the path made normal
      {lib / "manga/deep/er/v9.cbz", "grey", AttachScope::kSeries},  // a folder further down
      {lib / "manga/extra/x.cbz", "dark", AttachScope::kSeries},     // the nearest folder wins
      {lib / "mangaka/v1.cbz", std::nullopt, AttachScope::kBook},    // a name that only begins so
      {lib / "odd/v1.cbz", std::nullopt, AttachScope::kBook},
      {lib / "gone.cbz", std::nullopt, AttachScope::kBook},
  };
  for (const Case& c : cases) {
    const std::optional<Attachment> found = AttachmentInForce(state, c.book);
    ASSERT_EQ(found.has_value(), c.set.has_value()) << c.book;
    if (!found) continue;
    EXPECT_EQ(found->setName, *c.set) << c.book;
    EXPECT_EQ(found->scope, c.scope) << c.book;
  }
  // Listing below a folder, in path order; another state on the same file
  // sees the same.
  std::vector<std::string> below;
  for (const Attachment& a : LibraryState(dir / "library.db").Attachments(lib / "manga")) {
    below.push_back(a.path.lexically_relative(lib).string() + "=" + a.setName);
  }
  EXPECT_EQ(below,
            (std::vector<std::string>{"manga=grey", "manga/extra=dark", "manga/v2.cbz=colour"}));
  EXPECT_EQ(state.Attachments().size(), 4u);
}

// A page's own settings live under its book's content key and its name; a
// database made before their table gets it when opened, and keeps the rest.
TEST(LibraryStateTest, PagesKeepTheirOwnSettingsAlsoInAnOlderDatabase) {
  test::TempDir dir;
  const fs::path file = dir / "library.db";
  {
    LibraryState state(file);
    ASSERT_TRUE(state.Attach(dir / "manga", AttachScope::kSeries, "grey"));
    ASSERT_EQ(sqlite3_exec(state.Handle(), "DROP TABLE page_setting", nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  LibraryState state(file);
  ASSERT_TRUE(state.Ok()) << state.Error();
  EXPECT_TRUE(state.AttachmentOf(dir / "manga").has_value());
  EXPECT_TRUE(state.SetPageSetting("10-ab", "b/02.jpg", "GreyScale=0\n"));
  EXPECT_TRUE(state.SetPageSetting("10-ab", "01.jpg", "Brightness=150\n"));
  EXPECT_TRUE(state.SetPageSetting("10-ab", "01.jpg", "Brightness=120\n"));  // replaced
  EXPECT_TRUE(state.SetPageSetting("99-cd", "01.jpg", "Contrast=99\n"));
  EXPECT_FALSE(state.SetPageSetting("", "01.jpg", "Contrast=99\n"));  // no key: a folder
  EXPECT_EQ(LibraryState(file).PageSetting("10-ab", "01.jpg"), "Brightness=120\n");
  using Pages = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(state.PageSettings("10-ab"),
            (Pages{{"01.jpg", "Brightness=120\n"}, {"b/02.jpg", "GreyScale=0\n"}}));
  EXPECT_TRUE(state.SetPageSetting("10-ab", "01.jpg", ""));  // removed
  EXPECT_EQ(state.PageSettings("10-ab"), (Pages{{"b/02.jpg", "GreyScale=0\n"}}));
  EXPECT_EQ(state.PageSetting("99-cd", "02.jpg"), "");
}

TEST(LibraryStateTest, ADamagedDatabaseIsSetAsideAndBegunAfresh) {
  test::TempDir dir;
  const fs::path file = dir / "library.db";
  const std::vector<std::string> damage = {
      "not a database at all, just text that is long enough to be a header.....",
      std::string("SQLite format 3\0", 16) + std::string(4080, '\x7f'),
  };
  for (const std::string& bytes : damage) {
    test::WriteAll(file, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    {
      LibraryState state(file);
      ASSERT_TRUE(state.Ok()) << state.Error();
      EXPECT_NE(state.Error().find("已损坏"), std::string::npos) << state.Error();
      EXPECT_TRUE(state.Attach(dir / "a.cbz", AttachScope::kBook, "s"));
    }
    // The damaged bytes are kept beside it.
    int kept = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().filename().string().find("library.db.damaged-") == 0 &&
          entry.path().string().find("-wal") == std::string::npos &&
          entry.path().string().find("-shm") == std::string::npos &&
          test::ReadAll(entry.path()) == std::vector<uint8_t>(bytes.begin(), bytes.end())) {
        ++kept;
        fs::remove(entry.path());
      }
    }
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(LibraryState(file).AttachmentOf(dir / "a.cbz")->setName, "s");
    fs::remove(file);
  }
}

TEST(LibraryStateTest, HeldByAnotherWriterItStillReadsAndAWriteFailsClearly) {
  test::TempDir dir;
  const fs::path file = dir / "library.db";
  ASSERT_TRUE(LibraryState(file).Attach(dir / "s", AttachScope::kSeries, "grey"));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM attachment;", nullptr, nullptr, nullptr),
      SQLITE_OK);
  {
    LibraryState state(file);
    ASSERT_TRUE(state.Ok()) << state.Error();
    // What was committed is read; the other's change is not seen.
    ASSERT_TRUE(AttachmentInForce(state, dir / "s/v1.cbz").has_value());
    EXPECT_FALSE(state.Attach(dir / "b.cbz", AttachScope::kBook, "colour"));
    EXPECT_NE(state.Error().find("无法写入"), std::string::npos) << state.Error();
  }
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(LibraryState(file).Attach(dir / "b.cbz", AttachScope::kBook, "colour"));
}

TEST(LibraryStateTest, NoFileWhereTheDatabaseShouldBe) {
  test::TempDir dir;
  // A folder in its place is set aside, kept.
  fs::create_directories(dir / "library.db/inside");
  {
    LibraryState state(dir / "library.db");
    EXPECT_TRUE(state.Ok()) << state.Error();
    EXPECT_TRUE(state.Attach(dir / "a.cbz", AttachScope::kBook, "s"));
  }
  int kept = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    kept += fs::exists(entry.path() / "inside") ? 1 : 0;
  }
  EXPECT_EQ(kept, 1);
  // A state folder that cannot be made: unavailable, said, nothing found.
  test::WriteAll(dir / "file", {'x'});
  LibraryState state(dir / "file/library.db");
  EXPECT_FALSE(state.Ok());
  EXPECT_NE(state.Error().find("file/library.db"), std::string::npos) << state.Error();
  EXPECT_FALSE(state.Attach(dir / "a.cbz", AttachScope::kBook, "s"));
  EXPECT_FALSE(AttachmentInForce(state, dir / "a.cbz").has_value());
  EXPECT_FALSE(state.PlaceOf(dir / "a.cbz").has_value());
  EXPECT_FALSE(state.StorePlaces({{dir / "a.cbz", StoredPlace{"p"}}}));
}

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// A book renamed or moved finds its place by its content; a copy left in
// place, a book of another content (the same size, or a change in its
// middle outside the hashed ends is the same book) do not.
// Asked one at a time (a book opened) and all at once (a shelf shown).
TEST(LibraryStateTest, AMovedBookKeepsItsPlace) {
  struct Case {
    const char* name;
    size_t size;
    bool move;     // the old file goes
    int changeAt;  // a byte changed there in the new file (-1: none)
    bool found;
  };
  const std::vector<Case> cases = {
      {"small.cbz", 1000, true, -1, true},        {"big.cbz", 300000, true, -1, true},
      {"middle.cbz", 300000, true, 150000, true},  // outside both ends
      {"head.cbz", 300000, true, 10, false},      {"tail.cbz", 300000, true, 299990, false},
      {"copied.cbz", 5000, false, -1, false},  // the old one is still there
      {"other-size.cbz", 7000, true, -1, true},
  };
  for (const bool atOnce : {false, true}) {
    test::TempDir dir;
    LibraryState state(dir / "library.db");
    fs::create_directories(dir / "shelf/moved");
    std::vector<std::pair<fs::path, StoredPlace>> places;
    for (size_t i = 0; i < cases.size(); ++i) {
      test::WriteAll(dir / "shelf" / cases[i].name, Bytes(cases[i].size, static_cast<uint32_t>(i)));
      places.push_back({dir / "shelf" / cases[i].name, StoredPlace{"p.jpg", int(i) + 2, 40}});
    }
    ASSERT_TRUE(state.StorePlaces(places));
    std::vector<fs::path> moved;
    for (const Case& c : cases) {
      const fs::path from = dir / "shelf" / c.name;
      moved.push_back(dir / "shelf/moved" / (std::string("new-") + c.name));
      std::vector<uint8_t> bytes = test::ReadAll(from);
      if (c.changeAt >= 0) bytes[static_cast<size_t>(c.changeAt)] ^= 1;
      test::WriteAll(moved.back(), bytes);
      if (c.move) fs::remove(from);
    }
    // Beside them: a book never seen, and one still where it was stored.
    test::WriteAll(dir / "shelf/unseen.cbz", Bytes(1000, 99));
    std::vector<fs::path> asked = moved;
    asked.push_back(dir / "shelf/unseen.cbz");
    asked.push_back(dir / "shelf/copied.cbz");
    std::vector<std::optional<StoredPlace>> got;
    if (atOnce) {
      got = state.PlacesOf(asked);
    } else {
      for (const fs::path& path : asked) got.push_back(state.PlaceOf(path));
    }
    ASSERT_EQ(got.size(), asked.size());
    EXPECT_FALSE(got[cases.size()].has_value()) << "unseen, at once " << atOnce;
    ASSERT_TRUE(got[cases.size() + 1].has_value()) << "unmoved, at once " << atOnce;
    EXPECT_EQ(got[cases.size() + 1]->number, 5 + 2);  // copied.cbz's
    std::vector<std::pair<fs::path, StoredPlace>> stored =
        LibraryState(dir / "library.db").AllPlaces();
    for (size_t i = 0; i < cases.size(); ++i) {
      const std::string what = std::string(cases[i].name) + (atOnce ? ", at once" : "");
      ASSERT_EQ(got[i].has_value(), cases[i].found) << what;
      if (!got[i]) continue;
      EXPECT_EQ(got[i]->number, int(i) + 2) << what;
      // The place moved: under the new path for another connection too.
      const bool underNewPath = std::any_of(stored.begin(), stored.end(),
                                            [&](const auto& p) { return p.first == moved[i]; });
      EXPECT_TRUE(underNewPath) << what;
    }
    EXPECT_EQ(stored.size(), cases.size()) << atOnce;
  }
}

// A writer killed in the middle of its transactions leaves a database that
// opens, holds every place committed before, and no half of one.
TEST(LibraryStateTest, AKillDuringWritesLosesNoOtherPlace) {
  test::TempDir dir;
  const fs::path file = dir / "library.db";
  {
    LibraryState state(file);
    ASSERT_TRUE(state.StorePlaces({{"/lib/kept.cbz", StoredPlace{"05.jpg", 5, 50, 1234}}}));
  }
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LibraryState state(file);
    for (int round = 0;; ++round) {
      std::vector<std::pair<fs::path, StoredPlace>> batch;
      for (int b = 0; b < 50; ++b) {
        // Each book's number and count agree within a transaction.
        batch.push_back(
            {"/lib/b" + std::to_string(b) + ".cbz", StoredPlace{"x.jpg", round, round + 1000}});
      }
      if (!state.StorePlaces(batch)) ::_exit(3);
      if (round == 5 && ::write(ready[1], "r", 1) != 1) ::_exit(4);
    }
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::usleep(20000);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  LibraryState state(file);
  ASSERT_TRUE(state.Ok()) << state.Error();
  EXPECT_TRUE(state.Error().empty()) << state.Error();
  const std::optional<StoredPlace> kept = state.PlaceOf("/lib/kept.cbz");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->number, 5);
  EXPECT_EQ(kept->lastRead, 1234);
  int round = -1;
  for (const auto& [path, place] : state.AllPlaces()) {
    if (path == "/lib/kept.cbz") continue;
    EXPECT_EQ(place.count, place.number + 1000) << path;
    if (round < 0) round = place.number;
    EXPECT_EQ(place.number, round) << path;  // one whole transaction, never half of the next
  }
  EXPECT_GE(round, 5);
  EXPECT_EQ(state.AllPlaces().size(), 51u);
}

// A database of the first version (no strip columns) gains them when it is
// opened: its places read as never chosen, at the page's top; a program of
// that version writing later leaves the same. What is stored is kept
// within its range.
TEST(LibraryStateTest, AnEarlierDatabaseGainsTheStripColumns) {
  test::TempDir dir;
  const fs::path file = dir / "library.db";
  sqlite3* old = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &old), SQLITE_OK);
  const char* firstVersion =
      "CREATE TABLE attachment(path BLOB PRIMARY KEY, scope INTEGER NOT NULL,"
      " set_name TEXT NOT NULL) WITHOUT ROWID;"
      "CREATE TABLE place(path BLOB PRIMARY KEY, content_key TEXT, page BLOB, number INTEGER,"
      " count INTEGER, last_read INTEGER, layout_known INTEGER, two_pages INTEGER,"
      " cover_alone INTEGER, right_to_left INTEGER, zoom INTEGER, zoom_factor REAL)"
      " WITHOUT ROWID;"
      "CREATE INDEX place_by_key ON place(content_key);"
      "CREATE TABLE note(name TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;"
      "INSERT INTO place VALUES(CAST('/lib/old.cbz' AS BLOB), NULL, CAST('04.jpg' AS BLOB),"
      " 4, 20, 99, 1, 1, 0, 0, 2, 1.5);"
      "PRAGMA user_version = 1;";
  ASSERT_EQ(sqlite3_exec(old, firstVersion, nullptr, nullptr, nullptr), SQLITE_OK);
  {
    LibraryState state(file);
    ASSERT_TRUE(state.Ok()) << state.Error();
    const std::optional<StoredPlace> place = state.PlaceOf("/lib/old.cbz");
    ASSERT_TRUE(place.has_value());
    EXPECT_EQ(place->page, "04.jpg");
    EXPECT_EQ(place->number, 4);
    EXPECT_TRUE(place->twoPages);
    EXPECT_EQ(place->zoom, 2);
    EXPECT_EQ(place->continuous, -1);
    EXPECT_EQ(place->stripWithin, 0.0);
    struct Case {
      int continuous;
      double within;
      int readContinuous;
      double readWithin;
    };
    const Case cases[] = {{1, 0.625, 1, 0.625}, {0, 0.0, 0, 0.0},    {-1, 1.0, -1, 1.0},
                          {7, 3.0, 1, 1.0},     {-5, -0.5, -1, 0.0}, {1, std::nan(""), 1, 0.0}};
    for (const Case& c : cases) {
      StoredPlace stored{"s.jpg", 3, 30};
      stored.continuous = c.continuous;
      stored.stripWithin = c.within;
      ASSERT_TRUE(state.StorePlaces({{"/lib/strip.cbz", stored}})) << state.Error();
      const std::optional<StoredPlace> read = LibraryState(file).PlaceOf("/lib/strip.cbz");
      ASSERT_TRUE(read.has_value());
      EXPECT_EQ(read->continuous, c.readContinuous) << c.continuous;
      EXPECT_DOUBLE_EQ(read->stripWithin, c.readWithin) << c.within;
    }
  }
  // Taken up once: the version is the new one, and the old program's write
  // (its own columns only) reads with the defaults.
  sqlite3_stmt* version = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(old, "PRAGMA user_version", -1, &version, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(version, 0), 2);
  sqlite3_finalize(version);
  ASSERT_EQ(sqlite3_exec(old,
                         "INSERT OR REPLACE INTO place(path, content_key, page, number, count,"
                         " last_read, layout_known, two_pages, cover_alone, right_to_left, zoom,"
                         " zoom_factor) VALUES(CAST('/lib/strip.cbz' AS BLOB), NULL,"
                         " CAST('t.jpg' AS BLOB), 1, 2, 3, 0, 0, 0, 0, -1, 1.0);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(old);
  const std::optional<StoredPlace> read = LibraryState(file).PlaceOf("/lib/strip.cbz");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->page, "t.jpg");
  EXPECT_EQ(read->continuous, -1);
  EXPECT_EQ(read->stripWithin, 0.0);
}

}  // namespace
}  // namespace inkbrite
