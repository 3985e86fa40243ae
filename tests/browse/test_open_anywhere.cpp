// SPDX-License-Identifier: GPL-2.0-or-later
// Opening from outside the open dialog: the command line's files, books and
// folders (a folder at the page left there, else at its first page), and
// drops on the main window.
#include <sqlite3.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QUrl>
#include <memory>
#include <optional>

#include "browse/reading/reading_places.h"
#include "browse/services/state_files.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::WaitFor;
using ui_test::WritePage;

class OpenAnywhereTest : public ui_test::AppTest {
 protected:
  // The names shown by the windows, in the order they were opened.
  std::vector<std::string> Shown() {
    std::vector<std::string> names;
    for (const auto& doc : app->Documents()) names.push_back(doc->PathName().filename().string());
    return names;
  }
};

TEST(PathsFromArguments, SkipsOptionsUntilDoubleDashAndTakesFileUrls) {
  const QStringList arguments{QStringLiteral("inkbrite"), QStringLiteral("--unknown"),
                              QStringLiteral("a.jpg"),    QStringLiteral("file:///tmp/b%20c.cbz"),
                              QStringLiteral("漫画"),     QStringLiteral("--"),
                              QStringLiteral("-dash.jpg")};
  const std::vector<fs::path> paths = PathsFromArguments(arguments);
  EXPECT_EQ(paths, (std::vector<fs::path>{"a.jpg", "/tmp/b c.cbz", "漫画", "-dash.jpg"}));
  EXPECT_TRUE(PathsFromArguments({QStringLiteral("inkbrite")}).empty());
}

TEST_F(OpenAnywhereTest, FilesBooksAndFoldersOpenEachInAWindow) {
  const fs::path folder = dir / "chapter";
  fs::create_directories(folder);
  WritePage(folder / "p2.bmp", 12, 16);
  WritePage(folder / "p1.bmp", 10, 16);
  WritePage(dir / "loose.bmp", 8, 8);
  std::vector<test::MadeEntry> entries;
  entries.emplace_back("01.bmp", test::ReadAll(dir / "loose.bmp"));
  test::WriteArchive(dir / "book.cbz", test::MadeFormat::kZipStored, entries);

  // A folder at its first page in the display order.
  app->OpenDocumentFiles({dir / "loose.bmp", folder, dir / "book.cbz"});
  EXPECT_EQ(Shown(), (std::vector<std::string>{"loose.bmp", "p1.bmp", "book.cbz"}));
  EXPECT_TRUE(messages.empty());

  // Where the reader left it when it opens again.
  Frame()->Action(kCmdCloseAll)->trigger();
  ASSERT_NE(app->OpenDocumentFile(folder / "p2.bmp"), nullptr);
  Frame()->Action(kCmdCloseAll)->trigger();
  EXPECT_EQ(LoadReadingPlace(folder).page, "p2.bmp");
  app->OpenDocumentFiles({folder});
  EXPECT_EQ(Shown(), std::vector<std::string>{"p2.bmp"});
  // A page left there that is gone: the first page.
  Frame()->Action(kCmdCloseAll)->trigger();
  fs::remove(folder / "p2.bmp");
  app->OpenDocumentFiles({folder});
  EXPECT_EQ(Shown(), std::vector<std::string>{"p1.bmp"});

  // Nothing to open: one message with the reason of each.
  Frame()->Action(kCmdCloseAll)->trigger();
  fs::create_directories(dir / "empty");
  app->OpenDocumentFiles({dir / "empty"});
  EXPECT_EQ(messages, std::vector<std::string>{kEmptyFolderMessage});
  messages.clear();
  app->OpenDocumentFiles({dir / "empty", dir / "missing.jpg"});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(std::string("empty：") + kEmptyFolderMessage), std::string::npos)
      << messages[0];
  EXPECT_NE(messages[0].find("missing.jpg"), std::string::npos) << messages[0];
  EXPECT_TRUE(Frame()->Children().empty());
}

// Many files at once (a command line, a message from a later start) open
// a bounded number of windows, one message telling how many were left; the
// others of the folder are a page turn away in the first window.
TEST_F(OpenAnywhereTest, ManyFilesOpenABoundedNumberOfWindows) {
  std::vector<fs::path> paths;
  for (int i = 0; i < 40; ++i) {
    paths.push_back(dir / QStringLiteral("p%1.bmp").arg(i, 2, 10, QLatin1Char('0')).toStdString());
    WritePage(paths.back(), 8, 8);
  }
  app->OpenDocumentFiles(paths);
  EXPECT_EQ(Frame()->Children().size(), CInkbriteApp::kMaxWindows);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("24"), std::string::npos) << messages[0];
  CInkbriteDoc* first = app->Documents().front().get();
  EXPECT_EQ(first->DirList().GetCount(), 40);
  // Full: a later list opens nothing more, and says so.
  messages.clear();
  app->OpenDocumentFiles({paths.back()});
  EXPECT_EQ(Frame()->Children().size(), CInkbriteApp::kMaxWindows);
  EXPECT_EQ(messages.size(), 1u);
}

// A state file that is no regular file (a FIFO would block the viewer
// before it paints) is set aside, kept, before it is read; the viewer
// starts with its defaults.
TEST_F(OpenAnywhereTest, AStateFileThatIsNoFileIsSetAsideUnread) {
  QSettings().sync();
  const fs::path settings = SettingsFilePath().toStdString();
  ASSERT_EQ(QSettings().fileName(), SettingsFilePath());
  const char* oldState = std::getenv("XDG_STATE_HOME");
  const std::string keptState = oldState ? oldState : "";
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  const fs::path places = ReadingPlacesFile();
  for (const fs::path& file : {settings, places}) {
    fs::create_directories(file.parent_path());
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0) << file;
  }
  CInkbriteApp::SetProgramNames();
  EXPECT_FALSE(QSettings().value(QStringLiteral("View/SingleInstance"), false).toBool());
  SaveReadingPlace(dir.path(), ReadingPlace{"p1.bmp"});
  EXPECT_EQ(LoadReadingPlace(dir.path()).page, "p1.bmp");
  for (const fs::path& file : {settings, places}) {
    int fifos = 0;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(file.filename().string() + ".set-aside-", 0) == 0 &&
          entry.symlink_status().type() == fs::file_type::fifo) {
        ++fifos;
        fs::remove(entry.path());
      }
    }
    EXPECT_EQ(fifos, 1) << file;
    EXPECT_NE(fs::symlink_status(file).type(), fs::file_type::fifo);
  }
  // Within the size bound only.
  test::WriteText(dir / "big.ini", std::string(100, 'x'));
  EXPECT_TRUE(MakeStateFileSafe(dir / "big.ini", 100));
  EXPECT_TRUE(MakeStateFileSafe(dir / "big.ini", 99));
  EXPECT_FALSE(fs::exists(dir / "big.ini"));
  if (oldState) {
    setenv("XDG_STATE_HOME", keptState.c_str(), 1);
  } else {
    unsetenv("XDG_STATE_HOME");
  }
}

// A page turn stores its place in memory: the file is written when the
// reader rests on a page (or at exit), not at the next idle moment, which
// came before the turned page was painted (two disk syncs a turn).
TEST_F(OpenAnywhereTest, APageTurnWritesItsPlaceWhenTheReaderRests) {
  for (const char* name : {"p1.bmp", "p2.bmp", "p3.bmp"}) WritePage(dir / name, 10, 16);
  // The place as written: what another connection to the database reads.
  const auto stored = [&] {
    const std::optional<StoredPlace> place = LibraryState(LibraryStateFile()).PlaceOf(dir.path());
    return place ? place->page : std::string();
  };
  WriteReadingPlaces();
  const std::string before = stored();
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  for (const char* page : {"p2.bmp", "p3.bmp"}) {
    Frame()->Action(kCmdNextPage)->trigger();
    QApplication::processEvents();
    EXPECT_EQ(LoadReadingPlace(dir.path()).page, page);
    EXPECT_EQ(stored(), before) << page;
  }
  // The last place reaches the file when the reader stops turning.
  EXPECT_TRUE(WaitFor([&] { return stored() == "p3.bmp"; }, kReadingPlacesWriteDelayMs + 10000));
  Frame()->Action(kCmdPreviousPage)->trigger();
  WriteReadingPlaces();
  EXPECT_EQ(stored(), "p2.bmp");
}

// The places file of before is read into the database once and kept; where
// the database cannot be used the places stay in that file, and are read
// into the database when it can be again.
TEST_F(OpenAnywhereTest, ThePlacesFileMovesIntoTheDatabaseOrStaysTheStore) {
  const char* oldState = std::getenv("XDG_STATE_HOME");
  const std::string keptState = oldState ? oldState : "";
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  const fs::path book = dir / "a.cbz";
  {
    fs::create_directories(ReadingPlacesFile().parent_path());
    QSettings old(QString::fromStdString(ReadingPlacesFile().string()), QSettings::IniFormat);
    // As the viewer wrote it: a group named by the SHA-1 of the path.
    old.beginGroup(QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(book.native()), QCryptographicHash::Sha1)
            .toHex()));
    old.setValue(QStringLiteral("path"), QString::fromStdString(book.string()));
    old.setValue(QStringLiteral("page"), QStringLiteral("07.jpg"));
    old.setValue(QStringLiteral("number"), 7);
    old.setValue(QStringLiteral("count"), 9);
    old.setValue(QStringLiteral("twoPages"), true);
    old.endGroup();
  }
  const std::string oldText = test::ReadText(ReadingPlacesFile());
  // The database held by another program: the file stays the store.
  ASSERT_TRUE(LibraryState(LibraryStateFile()).Ok());
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(LibraryStateFile().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  ReadingPlace place = LoadReadingPlace(book);
  EXPECT_EQ(place.page, "07.jpg");
  EXPECT_FALSE(ReadingPlacesProblem().empty());
  SaveReadingPlace(dir.path(), ReadingPlace{"p9.bmp", 9, 10});
  ReadingPlace strip{"p9.bmp"};
  strip.continuous = 1;
  strip.stripWithin = 0.25;
  SaveStripPlace(dir.path(), strip);
  WriteReadingPlaces();
  EXPECT_NE(test::ReadText(ReadingPlacesFile()).find("p9.bmp"), std::string::npos);
  EXPECT_NE(test::ReadText(ReadingPlacesFile()).find("stripWithin=0.25"), std::string::npos);
  sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  // The database usable again (the next start: the store of another state
  // folder): both places read into it, the file kept as it was written.
  fs::rename(dir / "state", dir / "state2");
  setenv("XDG_STATE_HOME", (dir / "state2").c_str(), 1);
  place = LoadReadingPlace(book);
  EXPECT_EQ(place.page, "07.jpg");
  EXPECT_EQ(place.number, 7);
  EXPECT_EQ(place.count, 9);
  EXPECT_TRUE(place.layoutKnown && place.twoPages);
  EXPECT_EQ(place.continuous, -1);  // a file of before: never chosen
  const ReadingPlace folder = LoadReadingPlace(dir.path());
  EXPECT_EQ(folder.page, "p9.bmp");
  EXPECT_EQ(folder.number, 9);
  EXPECT_EQ(folder.continuous, 1);  // the strip's place went through the file too
  EXPECT_DOUBLE_EQ(folder.stripWithin, 0.25);
  EXPECT_TRUE(ReadingPlacesProblem().empty()) << ReadingPlacesProblem();
  const std::optional<StoredPlace> stored = LibraryState(LibraryStateFile()).PlaceOf(book);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->page, "07.jpg");
  EXPECT_NE(test::ReadText(ReadingPlacesFile()).find(oldText.substr(0, 20)), std::string::npos);
  if (oldState) {
    setenv("XDG_STATE_HOME", keptState.c_str(), 1);
  } else {
    unsetenv("XDG_STATE_HOME");
  }
}

TEST_F(OpenAnywhereTest, DroppedFilesFoldersAndBooksOpen) {
  const fs::path folder = dir / "chapter";
  fs::create_directories(folder);
  WritePage(folder / "a.bmp", 10, 16);
  WritePage(dir / "single.bmp", 8, 8);
  auto drop = [this](const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Frame(), &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Frame(), &event);
    return accepted;
  };
  // Something that is no local file is not taken.
  EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/a.jpg"))}));
  EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString((dir / "single.bmp").string())),
                    QUrl::fromLocalFile(QString::fromStdString(folder.string()))}));
  ASSERT_TRUE(WaitFor([this] { return app->Documents().size() == 2; }));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"single.bmp", "a.bmp"}));
  EXPECT_TRUE(messages.empty());
}

// Dragging the page out gives its file; a page inside a book has none of its
// own and gives nothing.
TEST_F(OpenAnywhereTest, APageDraggedOutCarriesItsFileAndABookPageNothing) {
  WritePage(dir / "loose.bmp", 8, 8);
  std::vector<test::MadeEntry> entries;
  entries.emplace_back("01.bmp", test::ReadAll(dir / "loose.bmp"));
  test::WriteArchive(dir / "book.cbz", test::MadeFormat::kZipStored, entries);

  ASSERT_NE(app->OpenDocumentFile(dir / "loose.bmp"), nullptr);
  std::unique_ptr<QMimeData> data(Frame()->ActiveView()->PageDragData());
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data->urls().size(), 1);
  EXPECT_EQ(fs::path(data->urls().front().toLocalFile().toStdString()), dir / "loose.bmp");

  Frame()->Action(kCmdCloseAll)->trigger();
  ASSERT_NE(app->OpenDocumentFile(dir / "book.cbz"), nullptr);
  EXPECT_EQ(std::unique_ptr<QMimeData>(Frame()->ActiveView()->PageDragData()), nullptr);
}

}  // namespace
}  // namespace inkbrite
