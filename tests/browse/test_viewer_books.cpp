// SPDX-License-Identifier: GPL-2.0-or-later
// Books in the viewer: opening one as a window, paging through its pages in
// the display order, the title naming the book and the page, saving a page
// as an ordinary file (the book untouched), refusals with their reasons,
// pages decoded ahead, and every book of the corpus through the viewer.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include "batch/batch_job.h"
#include "batch/named_settings.h"
#include "browse/dialogs/save_as_dialog.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/reading/reading_places.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/main_frame.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/shelf_view.h"
#include "formats/format_table.h"
#include "sources/folder_books.h"
#include "sources/library_state.h"
#include "sources/source_texts.h"
#include "tests/browse/browse_support.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/sources/book_corpus.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;
using ui_test::Settle;
using ui_test::WaitFor;

class ViewerBookTest : public ui_test::AppTest {
 protected:
  // A BMP page of width x height as bytes.
  std::vector<uint8_t> PageBytes(int width, int height) {
    const fs::path file = dir / "page.bmp";
    ui_test::WritePage(file, width, height);
    std::vector<uint8_t> bytes = test::ReadAll(file);
    fs::remove(file);
    return bytes;
  }
  // A book whose pages are `names`, page i (0-based) 10 + i pixels wide.
  fs::path MakeBook(const std::string& name, const std::vector<std::string>& names,
                    MadeFormat format = MadeFormat::kZipDeflated) {
    std::vector<MadeEntry> entries;
    for (size_t i = 0; i < names.size(); ++i) {
      entries.emplace_back(names[i], PageBytes(10 + static_cast<int>(i), 8));
    }
    const fs::path path = dir / name;
    test::WriteArchive(path, format, entries);
    return path;
  }
  // The batch's conversion of `source` into dir/out as PNG pages, with
  // `params`, or with each book's attached set (over the defaults).
  void ConvertWithBatch(const fs::path& source, const CParaBlock* params) {
    BatchSettings settings;
    settings.sourceDir = source;
    settings.targetDir = dir / "out";
    settings.patterns = DefaultSourcePatterns();
    settings.newExtension = ".png";
    const CParaBlock plain;
    settings.params = params != nullptr ? params : &plain;
    settings.recordPath = dir / "rec.txt";
    settings.useAttached = params == nullptr;
    settings.attachedSettingsFile = NamedSettingsFile();
    test::RecordingHost host;
    CBatchJob job;
    job.Run(host, settings);
  }
  CInkbriteDoc* Doc() { return Frame()->ActiveDocument(); }
  std::string Title() { return Doc() ? Doc()->Title().toStdString() : std::string(); }
  std::string Counter() { return Frame()->PageCounterText().toStdString(); }
  int Width() { return Doc() && Doc()->SharedPage() ? Doc()->Page().Width() : -1; }
};

TEST_F(ViewerBookTest, PagesThroughABookInReadingOrderWithTheBookAndPageInTheTitle) {
  // Stored in another order; natural order puts 2 before 10, and the text
  // file is no page.
  std::vector<MadeEntry> entries;
  entries.emplace_back("10.bmp", PageBytes(30, 8));
  entries.emplace_back("notes.txt", std::vector<uint8_t>{'h', 'i'});
  entries.emplace_back("2.bmp", PageBytes(20, 8));
  entries.emplace_back("1.bmp", PageBytes(10, 8));
  test::WriteArchive(dir / "book.cbz", MadeFormat::kZipStored, entries);
  ui_test::WritePage(dir / "loose.bmp", 5, 5);  // beside the book: not one of its pages

  ASSERT_NE(app->OpenDocumentFile(dir / "book.cbz"), nullptr);
  EXPECT_TRUE(Doc()->IsBook());
  EXPECT_EQ(Title(), "book.cbz — 1.bmp (1/3)");
  EXPECT_EQ(Counter(), "1/3");
  EXPECT_EQ(Width(), 10);
  EXPECT_EQ(ReadingProgress(dir / "book.cbz").page, 1);
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Title(), "book.cbz — 2.bmp (2/3)");
  EXPECT_EQ(Width(), 20);
  // How far in, for the shelf: page 2 of 3, just now.
  const ShelfProgress progress = ReadingProgress(dir / "book.cbz");
  EXPECT_EQ(progress.page, 2);
  EXPECT_EQ(progress.count, 3);
  EXPECT_GT(progress.lastRead, 1700000000);
  Frame()->Action(kCmdLastPage)->trigger();
  EXPECT_EQ(Title(), "book.cbz — 10.bmp (3/3)");
  EXPECT_EQ(ReadingProgress(dir / "book.cbz").page, 3);
  EXPECT_EQ(Counter(), "3/3");
  EXPECT_EQ(beeps, 0);
  Frame()->Action(kCmdNextPage)->trigger();  // past the end: the beep, the same page
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(Width(), 30);
  // The window is named after the book and the page; the frame too.
  EXPECT_EQ(Frame()->ActiveChild()->TitleText().toStdString(), "book.cbz — 10.bmp (3/3)");

  // By size, large to small: the pages follow the display order, the page
  // shown stays.
  Doc()->DirList().SetOrder(2, 1);
  Frame()->UpdatePageCounter();
  EXPECT_EQ(Counter(), "1/3");
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Width(), 20);

  // The book (not a page) is the recent file, and reopening it from there
  // activates the same window.
  ASSERT_FALSE(app->RecentFiles().isEmpty());
  EXPECT_EQ(app->RecentFiles().front().toStdString(), (dir / "book.cbz").string());
  app->OpenRecentFile(0);
  EXPECT_EQ(Frame()->Children().size(), 1u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ViewerBookTest, AFolderOfBooksOpensItsFirstBookAndPagesOnFromBookToBook) {
  // Three books in natural order (Vol 2 before Vol 10), beside a picture
  // misnamed as a book, a hidden book and a folder of pages: no loose page.
  const fs::path shelf = dir / "series";
  fs::create_directories(shelf / "extras");
  ui_test::WritePage(shelf / "extras" / "a.bmp", 5, 5);
  const auto book = [&](const std::string& name, MadeFormat format) {
    const fs::path made = MakeBook(name, {"1.bmp", "2.bmp", "3.bmp"}, format);
    fs::rename(made, shelf / name);
  };
  book("Vol 10.cbt", MadeFormat::kTar);
  book("Vol 2.cb7", MadeFormat::kSevenZip);
  book("Vol 1.cbz", MadeFormat::kZipDeflated);
  book(".hidden.cbz", MadeFormat::kZipStored);
  ui_test::WritePage(shelf / "cover.bmp", 5, 5);  // a picture, then named as a book
  fs::rename(shelf / "cover.bmp", shelf / "cover.cbz");
  const std::vector<std::string> expected{"Vol 1.cbz", "Vol 2.cb7", "Vol 10.cbt"};
  std::vector<std::string> listed;
  for (const fs::path& b : BooksInFolder(shelf)) listed.push_back(b.filename().string());
  EXPECT_EQ(listed, expected);

  // It opens as a shelf (the folder of pages among its books); its first
  // book opens in the shelf's window.
  app->OpenDocumentFiles({shelf});
  ASSERT_EQ(Frame()->AllWindows().size(), 1u) << (messages.empty() ? "" : messages.front());
  CChildFrame* window = Frame()->AllWindows().front();
  ASSERT_NE(window->Shelf(), nullptr);
  EXPECT_EQ(Doc(), nullptr);
  std::vector<std::string> shown;
  for (int row = 0; row < window->Shelf()->Count(); ++row) {
    shown.push_back(window->Shelf()->ItemAt(row).name);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"extras", "Vol 1.cbz", "Vol 2.cb7", "Vol 10.cbt"}));
  ASSERT_TRUE(app->OpenFromShelf(window, shelf / "Vol 1.cbz"));
  ASSERT_NE(Doc(), nullptr);
  EXPECT_EQ(Frame()->ActiveChild(), window);
  EXPECT_EQ(Title(), "Vol 1.cbz — 1.bmp (1/3)");
  // Back from the first page of the first book: nothing before it.
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(beeps, 1);
  Frame()->Action(kCmdLastPage)->trigger();
  Frame()->Action(kCmdNextPage)->trigger();  // past the last page: the next book
  EXPECT_EQ(Title(), "Vol 2.cb7 — 1.bmp (1/3)");
  EXPECT_NE(Frame()->NoteText().indexOf(QStringLiteral("Vol 2.cb7")), -1);
  Frame()->Action(kCmdPreviousPage)->trigger();  // before its first page: the previous book's last
  EXPECT_EQ(Title(), "Vol 1.cbz — 3.bmp (3/3)");
  // In the two-page layout a book's last spread goes on too, and back.
  Frame()->Action(kCmdTwoPages)->trigger();
  Frame()->Action(kCmdLastPage)->trigger();
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Title().substr(0, 9), "Vol 2.cb7");
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(Title().substr(0, 9), "Vol 1.cbz");
  Frame()->Action(kCmdSinglePage)->trigger();
  // Single-key browsing goes on from book to book; the last book stops.
  Doc()->OpenBookAt(shelf / "Vol 10.cbt", CInkbriteDoc::BookStart::kLast);
  const int before = beeps;
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(beeps, before + 1);
  EXPECT_EQ(Title(), "Vol 10.cbt — 3.bmp (3/3)");
  Doc()->OpenBookAt(shelf / "Vol 2.cb7", CInkbriteDoc::BookStart::kLast);
  Frame()->Action(kCmdSingleKey)->trigger();
  EXPECT_EQ(Title(), "Vol 10.cbt — 1.bmp (1/3)");
  EXPECT_EQ(Frame()->Children().size(), 1u);
  EXPECT_TRUE(messages.empty());

  // A folder with neither pages nor books still says so.
  fs::create_directories(dir / "empty");
  app->OpenDocumentFiles({dir / "empty"});
  EXPECT_EQ(messages, std::vector<std::string>{UiText(kEmptyFolderMessage).toStdString()});
}

// A book opens with the set attached to its series (the status bar names
// it), "本书设置" goes back to it after a change, and the viewer saves the
// page with the bytes the batch converts it to with --use-attached.
TEST_F(ViewerBookTest, ABookTakesTheSetOfItsSeriesAsTheBatchDoes) {
  fs::create_directories(dir / "series");
  fs::rename(MakeBook("v1.cbz", {"001.bmp", "002.bmp"}), dir / "series/v1.cbz");
  CParaBlock set;
  set.SetValue(kBrightness, 150);
  set.SetValue(kContrast, 130);
  ASSERT_TRUE(SaveNamedSetting(set, "series-bright", NamedSettingsFile()));
  ASSERT_TRUE(LibraryState().Attach(dir / "series", AttachScope::kSeries, "series-bright"));
  AppParams().ResetDefaults();
  ASSERT_NE(app->OpenDocumentFile(dir / "series/v1.cbz"), nullptr);
  EXPECT_EQ(AppParams().GetValue(kBrightness), 150);
  EXPECT_EQ(Frame()->NoteText().toStdString(), "设置：series-bright（此系列）");
  // A page turn keeps a change; "本书设置" goes back to the set.
  AppParams().SetValue(kBrightness, 90);
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(AppParams().GetValue(kBrightness), 90);
  Frame()->ParaBar()->OnSettingInForce();
  EXPECT_EQ(AppParams().GetValue(kBrightness), 150);
  Frame()->Action(kCmdPreviousPage)->trigger();
  ASSERT_EQ(Doc()->SaveAs(dir / "viewer.png"), 1);

  ConvertWithBatch(dir / "series", nullptr);
  const std::vector<MadeEntry> converted = test::ReadArchive(dir / "out/v1.cbz");
  ASSERT_EQ(converted.size(), 2u);
  EXPECT_EQ(converted[0].data, test::ReadAll(dir / "viewer.png"));
  EXPECT_NE(converted[0].data, converted[1].data);
  EXPECT_TRUE(LibraryState().Detach(dir / "series"));
  EXPECT_TRUE(DeleteNamedSetting("series-bright", NamedSettingsFile()));
  AppParams().ResetDefaults();
}

// The JPEG clean-up follows each page's own table: a coarse page of a book
// saved from the viewer, the same page converted in the book and as a loose
// file give the same bytes (a book page once assumed the usual table).
TEST_F(ViewerBookTest, JpegCleanUpReadsABookPagesOwnTableAsTheBatchDoes) {
  // Soft shading, where blocks show at a low quality.
  const DibImage shading = test::MakeImage(96, 96, [](int32_t x, int32_t y) {
    const auto v = static_cast<uint8_t>(60 + (x * x + 2 * y * y) / 120);
    return test::Bgr{v, static_cast<uint8_t>(v / 2 + 60), static_cast<uint8_t>(255 - v)};
  });
  fs::create_directories(dir / "src");
  ASSERT_EQ(SaveImageFile(dir / "src/loose.jpg", shading, 0, 15), 1);
  test::WriteArchive(dir / "src/book.cbz", MadeFormat::kZipStored,
                     {{"001.jpg", test::ReadAll(dir / "src/loose.jpg")}});
  AppParams().ResetDefaults();
  AppParams().SetValue(kJpegCleanup, 1);
  ASSERT_NE(app->OpenDocumentFile(dir / "src/book.cbz"), nullptr);
  ASSERT_EQ(Doc()->SaveAs(dir / "viewer.png"), 1);

  ConvertWithBatch(dir / "src", &AppParams());
  const std::vector<MadeEntry> converted = test::ReadArchive(dir / "out/book.cbz");
  ASSERT_EQ(converted.size(), 1u);
  const std::vector<uint8_t> viewer = test::ReadAll(dir / "viewer.png");
  EXPECT_EQ(converted[0].data, viewer);
  EXPECT_EQ(test::ReadAll(dir / "out/loose.png"), viewer);
  // And the clean-up did change the page.
  DibImage plain;
  ASSERT_EQ(LoadImageFile(dir / "src/loose.jpg", plain, nullptr), 1);
  ASSERT_EQ(SaveImageFile(dir / "plain.png", plain, 0, 90), 1);
  EXPECT_NE(test::ReadAll(dir / "plain.png"), viewer);
}

// "只用于此页" keeps a change for the page shown: the page takes it each
// time it is shown, the other pages keep the book's set, the viewer saves
// the page with the bytes the batch converts it to, and "不再只用于此页"
// gives the page back to the book's set.
TEST_F(ViewerBookTest, APageKeepsItsOwnSettingsAndTheBatchAgrees) {
  fs::create_directories(dir / "series");
  fs::rename(MakeBook("v1.cbz", {"001.bmp", "002.bmp", "003.bmp"}), dir / "series/v1.cbz");
  CParaBlock set;
  set.SetValue(kBrightness, 140);
  ASSERT_TRUE(SaveNamedSetting(set, "series-light", NamedSettingsFile()));
  ASSERT_TRUE(LibraryState().Attach(dir / "series", AttachScope::kSeries, "series-light"));
  AppParams().ResetDefaults();
  ASSERT_NE(app->OpenDocumentFile(dir / "series/v1.cbz"), nullptr);
  auto trigger = [this](int id) {
    QAction* action = Frame()->ParaBar()->findChild<QAction*>(ControlName(id));
    ASSERT_NE(action, nullptr);
    action->trigger();
  };
  Frame()->Action(kCmdNextPage)->trigger();
  AppParams().SetValue(kContrast, 150);
  AppParams().SetValue(kGreyScale, kGreyComic);
  trigger(kParaPageOnly);
  EXPECT_EQ(Frame()->NoteText().toStdString(), "此页另有设置：Contrast=150 GreyScale=1");
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(AppParams().GetValue(kContrast), set.GetValue(kContrast));
  EXPECT_EQ(AppParams().GetValue(kGreyScale), set.GetValue(kGreyScale));
  EXPECT_EQ(AppParams().GetValue(kBrightness), 140);
  EXPECT_EQ(Frame()->NoteText().toStdString(), "此页用本书的设置");
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(AppParams().GetValue(kContrast), 150);
  EXPECT_EQ(AppParams().GetValue(kGreyScale), kGreyComic);
  ASSERT_EQ(Doc()->SaveAs(dir / "viewer2.png"), 1);
  Frame()->Action(kCmdPreviousPage)->trigger();
  ASSERT_EQ(Doc()->SaveAs(dir / "viewer1.png"), 1);

  ConvertWithBatch(dir / "series", nullptr);
  const std::vector<MadeEntry> converted = test::ReadArchive(dir / "out/v1.cbz");
  ASSERT_EQ(converted.size(), 3u);
  EXPECT_EQ(converted[0].data, test::ReadAll(dir / "viewer1.png"));
  EXPECT_EQ(converted[1].data, test::ReadAll(dir / "viewer2.png"));
  EXPECT_NE(test::ReadText(dir / "rec.txt").find("002.bmp\tseries-light（此系列）＋此页："),
            std::string::npos)
      << test::ReadText(dir / "rec.txt");

  // Given back to the book's set.
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(AppParams().GetValue(kContrast), 150);
  trigger(kParaPageNoMore);
  EXPECT_EQ(AppParams().GetValue(kContrast), set.GetValue(kContrast));
  EXPECT_TRUE(LibraryState().PageSettings(BookContentKey(dir / "series/v1.cbz")).empty());
  EXPECT_TRUE(LibraryState().Detach(dir / "series"));
  EXPECT_TRUE(DeleteNamedSetting("series-light", NamedSettingsFile()));
  AppParams().ResetDefaults();
}

TEST_F(ViewerBookTest, SavingAPageWritesAnOrdinaryFileAndNeverTheBook) {
  const fs::path book = MakeBook("story.cbz", {"001.bmp", "002.bmp"});
  const std::vector<uint8_t> before = test::ReadAll(book);
  ASSERT_NE(app->OpenDocumentFile(book), nullptr);
  Frame()->Action(kCmdNextPage)->trigger();

  // Save asks for a name as Save As does, offering the page's own name
  // beside the book; cancelled, nothing is written.
  QString offered;
  QString folder;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CSaveAsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    offered = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
    folder = dialog->directory().absolutePath();
    dialog->reject();
  });
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(offered.toStdString(), "002");
  EXPECT_EQ(fs::path(folder.toStdString()), fs::path(dir.path()));
  EXPECT_EQ(test::ReadAll(book), before);
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"story.cbz"}));

  // Saved under a name: an ordinary picture file of the page shown.
  ASSERT_EQ(Doc()->SaveAs(dir / "002.png"), 1);
  DibImage saved;
  int grey = 0;
  ASSERT_EQ(LoadImageFile(dir / "002.png", saved, &grey), 1);
  EXPECT_EQ(saved.Width(), 11);
  EXPECT_EQ(test::ReadAll(book), before);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ViewerBookTest, BadBooksAreRefusedWithTheirReasonAndNoWindow) {
  std::vector<MadeEntry> secret;
  secret.emplace_back("1.bmp", PageBytes(10, 8));
  test::WriteArchive(dir / "secret.cbz", MadeFormat::kZipDeflated, secret, "password");
  std::vector<MadeEntry> text;
  text.emplace_back("readme.txt", std::vector<uint8_t>{'x'});
  test::WriteArchive(dir / "empty.cbz", MadeFormat::kZipStored, text);
  std::vector<uint8_t> broken = test::MakeArchive(MadeFormat::kZipDeflated, secret);
  broken.resize(broken.size() / 2);
  broken[0] = 'P';
  test::WriteAll(dir / "broken.cbz", broken);

  const std::pair<const char*, SourceError> bad[] = {{"secret.cbz", SourceError::kEncrypted},
                                                     {"empty.cbz", SourceError::kNoPages},
                                                     {"broken.cbz", SourceError::kDamaged}};
  for (const auto& [name, error] : bad) {
    SCOPED_TRACE(name);
    messages.clear();
    EXPECT_EQ(app->OpenDocumentFile(dir / name), nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], std::string(SourceErrorText(error)));
    EXPECT_TRUE(Frame()->Children().empty());
  }

  // Chosen together in the open dialog: one message naming each book with
  // its reason; a readable book among them opens.
  MakeBook("fine.cbz", {"a.bmp"});
  messages.clear();
  app->OpenDocumentFiles({dir / "secret.cbz", dir / "fine.cbz", dir / "empty.cbz"});
  EXPECT_EQ(Frame()->Children().size(), 1u);
  ASSERT_EQ(messages.size(), 1u);
  const std::string encrypted(SourceErrorText(SourceError::kEncrypted));
  const std::string empty(SourceErrorText(SourceError::kNoPages));
  EXPECT_NE(messages[0].find("secret.cbz：" + encrypted), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find("empty.cbz：" + empty), std::string::npos) << messages[0];
}

TEST_F(ViewerBookTest, AnUnreadablePageSaysSoAndTheNextPageStillOpens) {
  std::vector<MadeEntry> entries;
  entries.emplace_back("1.bmp", PageBytes(10, 8));
  entries.emplace_back("2.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0, 0});
  entries.emplace_back("3.bmp", PageBytes(30, 8));
  test::WriteArchive(dir / "torn.cbz", MadeFormat::kZipStored, entries);
  ASSERT_NE(app->OpenDocumentFile(dir / "torn.cbz"), nullptr);
  // The message names the page, and comes once the title shows it.
  std::vector<std::string> titles;
  SetMessageHandler([&](QWidget*, const QString& text, QMessageBox::StandardButtons) {
    messages.push_back(text.toStdString());
    titles.push_back(Frame()->ActiveChild()->windowTitle().toStdString());
    return QMessageBox::Ok;
  });
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(messages,
            std::vector<std::string>{"torn.cbz：2.jpg\n文件读取失败。\n原因：文件已损坏或不完整"});
  EXPECT_EQ(titles, std::vector<std::string>{"torn.cbz — 2.jpg (2/3)"});
  EXPECT_EQ(Title(), "torn.cbz — 2.jpg (2/3)");
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Width(), 30);
  EXPECT_EQ(Title(), "torn.cbz — 3.bmp (3/3)");
}

// The page after the one shown is decoded in the background, and the next
// page command takes it from there with the same pixels a decode gives.
TEST_F(ViewerBookTest, TheNextPageIsDecodedAheadInABookAndInAFolder) {
  for (MadeFormat format : {MadeFormat::kZipDeflated, MadeFormat::kSevenZip}) {
    const fs::path book = MakeBook(format == MadeFormat::kSevenZip ? "b.cb7" : "b.cbz",
                                   {"1.bmp", "2.bmp", "3.bmp"}, format);
    ASSERT_NE(app->OpenDocumentFile(book), nullptr);
    CInkbriteDoc* doc = Doc();
    const std::shared_ptr<PageSource> source = doc->DirList().Source();
    ASSERT_TRUE(WaitFor([&] { return doc->Prefetch().Holds(source, 1); }));
    const int hits = doc->Prefetch().Hits();
    Frame()->Action(kCmdNextPage)->trigger();
    EXPECT_EQ(doc->Prefetch().Hits(), hits + 1);
    EXPECT_EQ(Width(), 11);
    DibImage direct;
    int grey = 0;
    ASSERT_EQ(source->LoadPage(1, direct, &grey), SourceError::kNone);
    EXPECT_EQ(test::Pixels(doc->Page()), test::Pixels(direct));
    // Only the pages ahead are held: the one shown is let go.
    ASSERT_TRUE(WaitFor([&] { return doc->Prefetch().Holds(source, 2); }));
    EXPECT_FALSE(doc->Prefetch().Holds(source, 1));
    Frame()->Action(kCmdClose)->trigger();
  }

  ui_test::WritePage(dir / "p1.bmp", 12, 8);
  ui_test::WritePage(dir / "p2.bmp", 14, 8);
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  CInkbriteDoc* doc = Doc();
  const std::shared_ptr<PageSource> folder = doc->DirList().Source();
  ASSERT_TRUE(WaitFor([&] {
    const ListedPage next = doc->DirList().PageAt(2);
    return doc->Prefetch().Holds(folder, next.index);
  }));
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(doc->Prefetch().Hits(), 1);
  EXPECT_EQ(Width(), 14);
  EXPECT_EQ(doc->PathName().filename(), "p2.bmp");
}

// Every book of the corpus opens in the viewer with its listed pages in the
// listed order and the expected pixels; every other archive is refused with
// a message and no window.
TEST_F(ViewerBookTest, EveryCorpusBookPagesAsListedAndTheOthersAreRefused) {
  INKBRITE_NEED_CORPUS();
  int books = 0, refused = 0;
  for (const test::BookRow& row : test::ReadBookRows()) {
    SCOPED_TRACE(row.path + " (" + row.expect + ")");
    const fs::path path = test::CorpusDir() / row.path;
    messages.clear();
    CInkbriteDoc* doc = app->OpenDocumentFile(path);
    if (row.expect != "book") {
      if (row.expect == "unsafe") {
        // Unsafe entries are refused one by one; a book of other pages opens.
        if (doc) Frame()->Action(kCmdClose)->trigger();
        continue;
      }
      EXPECT_EQ(doc, nullptr);
      EXPECT_EQ(messages.size(), 1u);
      EXPECT_TRUE(Frame()->Children().empty());
      ++refused;
      continue;
    }
    ASSERT_NE(doc, nullptr);
    ++books;
    ASSERT_EQ(doc->DirList().GetCount(), static_cast<int>(row.pages.size()));
    for (size_t i = 0; i < row.pages.size(); ++i) {
      SCOPED_TRACE(row.pages[i]);
      if (i > 0) Frame()->Action(kCmdNextPage)->trigger();
      EXPECT_EQ(doc->EntryName(), row.pages[i]);
      EXPECT_EQ(doc->Title().toStdString(), path.filename().string() + " — " + row.pages[i] + " (" +
                                                std::to_string(i + 1) + "/" +
                                                std::to_string(row.pages.size()) + ")");
      if (row.sources.empty()) {
        EXPECT_FALSE(doc->Page().IsEmpty());
        continue;
      }
      if (!test::ExpectationOf(row.sources[i]).loads) {
        EXPECT_TRUE(!doc->SharedPage() || doc->Page().IsEmpty());
        continue;
      }
      ASSERT_TRUE(doc->SharedPage());
      EXPECT_EQ(test::CompareWithExpected(doc->Page(), row.sources[i]), "") << row.sources[i];
    }
    Frame()->Action(kCmdClose)->trigger();
  }
  EXPECT_GE(books, 16);
  EXPECT_GT(refused, 90);
}

// The recent files: by default every page shown joins the list; chosen in
// the File menu (and kept), one entry per folder or book, which a page turn
// replaces and which reopens a book at the page left there.
TEST_F(ViewerBookTest, OneRecentEntryPerFolderOrBookWhenChosenEveryPageOtherwise) {
  fs::create_directories(dir / "pages");
  for (const char* name : {"p1.bmp", "p2.bmp", "p3.bmp"}) {
    ui_test::WritePage(dir / "pages" / name, 8, 8);
  }
  const fs::path book = MakeBook("book.cbz", {"1.bmp", "2.bmp", "3.bmp"});
  const auto recent = [&] {
    std::vector<std::string> names;
    for (const QString& file : app->RecentFiles()) {
      const fs::path path = file.toStdString();
      names.push_back(path.parent_path().filename().string() + "/" + path.filename().string());
    }
    return names;
  };
  const std::string folder = dir.path().filename().string();
  // By default every page turn joins the list.
  ASSERT_NE(app->OpenDocumentFile(dir / "pages" / "p1.bmp"), nullptr);
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(recent(), (std::vector<std::string>{"pages/p3.bmp", "pages/p2.bmp", "pages/p1.bmp"}));
  // Chosen (and kept in the settings): a turn replaces its folder's entry.
  EXPECT_FALSE(Frame()->Action(kCmdRecentPerFolder)->isChecked());
  Frame()->Action(kCmdRecentPerFolder)->trigger();
  EXPECT_TRUE(RecentPerFolder());
  EXPECT_TRUE(Frame()->Action(kCmdRecentPerFolder)->isChecked());
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(recent(), (std::vector<std::string>{"pages/p2.bmp"}));
  ASSERT_NE(app->OpenDocumentFile(book), nullptr);
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(recent(), (std::vector<std::string>{folder + "/book.cbz", "pages/p2.bmp"}));
  // The book's entry reopens at the page left there.
  Frame()->Action(kCmdCloseAll)->trigger();
  app->OpenRecentFile(0);
  EXPECT_EQ(Title(), "book.cbz — 2.bmp (2/3)");
  EXPECT_TRUE(messages.empty());
  SetRecentPerFolder(false);
}

}  // namespace
}  // namespace inkbrite
