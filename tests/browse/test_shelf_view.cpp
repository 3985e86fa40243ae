// SPDX-License-Identifier: GPL-2.0-or-later
// The shelf in the viewer: a folder of books opens as covers, a book opens
// in the shelf's window at its place and closes back to the shelf where it
// was, folders go in and up, the keys, search, order and the books begun.
#include <QLineEdit>
#include <QListView>
#include <QToolButton>
#include <QtTest/QTest>

#include "browse/reading/reading_places.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/shelf_view.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;
using ui_test::WaitFor;

class ShelfViewTest : public ui_test::AppTest {
 protected:
  // A book of `pages` pages; its ComicInfo names `title`, `series` and
  // `writer` when a title is given.
  void MakeBook(const fs::path& path, int pages, const std::string& title = {},
                const std::string& series = {}, const std::string& writer = {}) {
    std::vector<MadeEntry> entries;
    for (int i = 1; i <= pages; ++i) {
      ui_test::WritePage(dir / "page.bmp", 10 + i, 14);
      entries.emplace_back(std::to_string(i) + ".bmp", test::ReadAll(dir / "page.bmp"));
    }
    if (!title.empty()) {
      const std::string xml = "<ComicInfo><Title>" + title + "</Title><Series>" + series +
                              "</Series><Writer>" + writer + "</Writer></ComicInfo>";
      entries.emplace_back("ComicInfo.xml", std::vector<uint8_t>(xml.begin(), xml.end()));
    }
    fs::create_directories(path.parent_path());
    test::WriteArchive(path, MadeFormat::kZipStored, entries);
  }
  CShelfView* OpenShelf(const fs::path& folder) {
    app->OpenDocumentFiles({folder});
    for (CChildFrame* w : Frame()->AllWindows()) {
      if (w->Shelf() && w->Shelf()->Root() == folder) window = w;
    }
    return window ? window->Shelf() : nullptr;
  }
  std::vector<std::string> Shown(const CShelfView* shelf) const {
    std::vector<std::string> names;
    for (int row = 0; row < shelf->Count(); ++row) names.push_back(shelf->ItemAt(row).name);
    return names;
  }
  int RowOf(const CShelfView* shelf, const std::string& name) const {
    const std::vector<std::string> names = Shown(shelf);
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? -1 : static_cast<int>(at - names.begin());
  }
  void Key(CShelfView* shelf, int key) { QTest::keyClick(shelf->Grid(), Qt::Key(key)); }
  void Choose(CShelfView* shelf, const std::string& name) {
    shelf->Grid()->setCurrentIndex(shelf->Grid()->model()->index(RowOf(shelf, name), 0));
  }
  std::string Title() {
    CInkbriteDoc* doc = Frame()->ActiveDocument();
    return doc ? doc->Title().toStdString() : std::string();
  }

  CChildFrame* window = nullptr;
};

TEST_F(ShelfViewTest, ABookOpensAtItsPlaceInTheShelfsWindowAndClosesBackToTheShelf) {
  const fs::path library = dir / "library";
  for (int v = 1; v <= 12; ++v) {
    MakeBook(library / "Series" / ("Vol " + std::to_string(v) + ".cbz"), 3,
             "Chapter " + std::to_string(v));
  }
  MakeBook(library / "Series" / "Side" / "One.cbz", 1);
  MakeBook(library / "Other.cbz", 2);
  CShelfView* shelf = OpenShelf(library);
  ASSERT_NE(shelf, nullptr) << (messages.empty() ? "" : messages.front());
  EXPECT_EQ(Frame()->ActiveDocument(), nullptr);
  EXPECT_EQ(Shown(shelf), (std::vector<std::string>{"Series", "Other.cbz"}));
  EXPECT_EQ(window->TitleText().toStdString(), "library");

  // Enter goes into a folder; its covers and titles arrive.
  Choose(shelf, "Series");
  Key(shelf, Qt::Key_Return);
  EXPECT_EQ(shelf->Folder(), library / "Series");
  EXPECT_EQ(shelf->PathButtons().size(), 2u);
  EXPECT_EQ(window->TitleText().toStdString(), "Series");
  ASSERT_EQ(shelf->Count(), 13);
  EXPECT_EQ(shelf->ItemAt(0).name, "Side");
  EXPECT_EQ(shelf->ItemAt(12).name, "Vol 12.cbz");
  ASSERT_TRUE(WaitFor([&] { return shelf->AllArrived(); }, 20000));
  EXPECT_EQ(shelf->ItemAt(3).Title(), "Chapter 3");
  EXPECT_EQ(shelf->ItemAt(3).Pages(), 3);
  EXPECT_TRUE(shelf->ItemAt(3).IsNew());

  // The arrows move through the grid; Delete changes nothing.
  Choose(shelf, "Side");
  for (int i = 0; i < 3; ++i) Key(shelf, Qt::Key_Right);
  EXPECT_EQ(shelf->ItemAt(shelf->CurrentRow()).name, "Vol 3.cbz");
  Key(shelf, Qt::Key_Delete);
  EXPECT_TRUE(fs::exists(library / "Series" / "Vol 3.cbz"));
  EXPECT_EQ(shelf->Count(), 13);
  EXPECT_EQ(Frame()->ActiveDocument(), nullptr);

  // Enter opens the book in this window; a page on, closed: the shelf again.
  Key(shelf, Qt::Key_Return);
  EXPECT_EQ(Frame()->ActiveChild(), window);
  EXPECT_EQ(Title(), "Vol 3.cbz — 1.bmp (1/3)");
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdClose)->trigger();
  EXPECT_EQ(window->View(), nullptr);
  ASSERT_EQ(Frame()->AllWindows().size(), 1u);
  EXPECT_TRUE(app->Documents().empty());
  EXPECT_EQ(shelf->Folder(), library / "Series");
  const ShelfItem& read = shelf->ItemAt(shelf->CurrentRow());
  EXPECT_EQ(read.name, "Vol 3.cbz");
  EXPECT_EQ(read.progress.page, 2);
  EXPECT_TRUE(read.IsBegun());
  // Opened again: where it was left.
  Key(shelf, Qt::Key_Return);
  EXPECT_EQ(Title(), "Vol 3.cbz — 2.bmp (2/3)");
  window->close();
  EXPECT_NE(window->Shelf(), nullptr);

  // Backspace goes up, the folder come from current; the path goes anywhere up.
  Key(shelf, Qt::Key_Backspace);
  EXPECT_EQ(shelf->Folder(), library);
  EXPECT_EQ(shelf->ItemAt(shelf->CurrentRow()).name, "Series");
  Key(shelf, Qt::Key_Backspace);  // not above the shelf opened
  EXPECT_EQ(shelf->Folder(), library);
  shelf->ShowFolder(library / "Series" / "Side");
  EXPECT_EQ(shelf->PathButtons().size(), 3u);
  shelf->PathButtons().front()->click();
  EXPECT_EQ(shelf->Folder(), library);

  // The same folder again: the same window; closing it closes the shelf.
  EXPECT_EQ(OpenShelf(library), shelf);
  EXPECT_EQ(Frame()->AllWindows().size(), 1u);
  Frame()->AllWindows().front()->CloseWindow();
  EXPECT_TRUE(WaitFor([&] { return Frame()->AllWindows().empty(); }));
}

TEST_F(ShelfViewTest, SearchOrderAndTheBooksBegun) {
  const fs::path shelfFolder = dir / "comics";
  MakeBook(shelfFolder / "a.cbz", 4, "Zebra", "Stripes", "Ann Lee");
  MakeBook(shelfFolder / "b.cbz", 4, "Apple", "Orchard", "Bo Chen");
  MakeBook(shelfFolder / "c.cbz", 4, "Mango", "Orchard", "Ann Lee");
  MakeBook(dir / "elsewhere" / "d.cbz", 4);
  CShelfView* shelf = OpenShelf(shelfFolder);
  ASSERT_NE(shelf, nullptr);
  ASSERT_TRUE(WaitFor([&] { return shelf->AllArrived(); }, 20000));

  // "/" goes to the search field; the field filters by series and writer.
  Frame()->activateWindow();
  shelf->Grid()->setFocus();
  Key(shelf, Qt::Key_Slash);
  EXPECT_EQ(window->focusWidget(), shelf->SearchField());
  const struct {
    const char* query;
    std::vector<std::string> names;
  } searches[] = {{"orchard", {"b.cbz", "c.cbz"}},
                  {"ann", {"a.cbz", "c.cbz"}},
                  {"ann orchard", {"c.cbz"}},
                  {"b.cbz", {"b.cbz"}},
                  {"", {"a.cbz", "b.cbz", "c.cbz"}}};
  for (const auto& search : searches) {
    shelf->SearchField()->setText(QString::fromUtf8(search.query));
    EXPECT_EQ(Shown(shelf), search.names) << search.query;
  }

  shelf->SetOrder(ShelfOrder::kTitle);
  EXPECT_EQ(Shown(shelf), (std::vector<std::string>{"b.cbz", "c.cbz", "a.cbz"}));

  // Begun and not finished, last read first, from the shelves seen only.
  const auto place = [](const fs::path& book, int number, int64_t when) {
    ReadingPlace p;
    p.page = std::to_string(number) + ".bmp";
    p.number = number;
    p.count = 4;
    p.lastRead = when;
    SaveReadingPlace(book, p);
  };
  place(shelfFolder / "a.cbz", 2, 100);
  place(shelfFolder / "b.cbz", 4, 300);  // read to the end
  place(shelfFolder / "c.cbz", 1, 200);
  place(dir / "elsewhere" / "d.cbz", 2, 400);  // never on a shelf seen
  shelf->BegunButton()->click();
  EXPECT_TRUE(shelf->ShowingBegun());
  EXPECT_EQ(Shown(shelf), (std::vector<std::string>{"c.cbz", "a.cbz"}));
  EXPECT_EQ(window->TitleText(), CShelfView::tr("继续阅读"));
  // One opens from there too, and Backspace leaves the list.
  Choose(shelf, "a.cbz");
  Key(shelf, Qt::Key_Return);
  EXPECT_EQ(Title(), "a.cbz — 2.bmp (2/4)");
  window->close();
  EXPECT_TRUE(shelf->ShowingBegun());
  Key(shelf, Qt::Key_Backspace);
  EXPECT_FALSE(shelf->ShowingBegun());
  EXPECT_EQ(Shown(shelf), (std::vector<std::string>{"b.cbz", "c.cbz", "a.cbz"}));
  EXPECT_EQ(shelf->ItemAt(2).progress.page, 2);
  EXPECT_TRUE(shelf->ItemAt(0).IsRead());
}

}  // namespace
}  // namespace inkbrite
