// SPDX-License-Identifier: GPL-2.0-or-later
// The directory file list (order, cursor moves, lazy rebuild), its folder
// watch, the stored display order and the display-order dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "browse/dialogs/order_dialog.h"
#include "browse/reading/dir_manager.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void Touch(const fs::path& path, size_t size = 1) {
  test::WriteAll(path, std::vector<uint8_t>(size, 0x55));
}

std::vector<std::string> Names(const CDirManager& list) {
  std::vector<std::string> names;
  for (int i = 1; i <= list.GetCount(); ++i)
    names.push_back(list.PageAt(i).file.filename().string());
  return names;
}

std::string CurrentName(const CDirManager& list) {
  const int i = list.GetCurrentIndex();
  return i == 0 ? std::string() : list.PageAt(i).file.filename().string();
}

template <class W>
W* FindByText(QWidget& parent, const char* text) {
  for (W* w : parent.findChildren<W*>()) {
    if (w->text() == QString::fromUtf8(text)) return w;
  }
  ADD_FAILURE() << "no control " << text;
  return nullptr;
}

class DirManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { CDirManager::SaveOrder(0, 0); }
  void TearDown() override { CDirManager::SaveOrder(0, 0); }
  TempDir dir;
};

TEST_F(DirManagerTest, OrdersByFoldedNameSizeAndCreationTime) {
  // Created c, a, B in that order, sizes 20, 30, 10; x.txt and a folder
  // named like a picture are not listed.
  Touch(dir / "c.jpg", 20);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Touch(dir / "a.jpg", 30);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Touch(dir / "B.jpg", 10);
  Touch(dir / "x.txt");
  fs::create_directory(dir / "d.jpg");

  CDirManager list;
  list.SetCurrentFile(dir / "B.jpg");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a.jpg", "B.jpg", "c.jpg"}));
  EXPECT_EQ(list.GetCurrentIndex(), 2);
  EXPECT_EQ(list.Directory(), dir.path());
  list.SetCurrentFile(dir.path().string() + "//c.jpg");
  EXPECT_EQ(list.GetCurrentIndex(), 3);
  list.BuildList(dir.path() / "");
  EXPECT_EQ(list.Directory(), dir.path());
  list.BuildList("/");
  EXPECT_EQ(list.Directory(), fs::path("/"));

  const struct {
    int type, dir;
    std::vector<std::string> names;
  } cases[] = {
      {0, 1, {"c.jpg", "B.jpg", "a.jpg"}}, {2, 0, {"B.jpg", "c.jpg", "a.jpg"}},
      {2, 1, {"a.jpg", "c.jpg", "B.jpg"}}, {1, 0, {"c.jpg", "a.jpg", "B.jpg"}},
      {7, 5, {"c.jpg", "a.jpg", "B.jpg"}},  // unknown values: time, ascending
      {1, 1, {"B.jpg", "a.jpg", "c.jpg"}},
  };
  for (const auto& c : cases) {
    CDirManager::SaveOrder(c.type, c.dir);
    list.SetCurrentFile(dir / "B.jpg");
    EXPECT_EQ(Names(list), c.names) << "type " << c.type << " dir " << c.dir;
    EXPECT_EQ(CurrentName(list), "B.jpg");
  }
}

// One move of the cursor: "name index" of where it lands.
using MoveFn = ListedPage (CDirManager::*)(int&);
std::string Step(CDirManager& list, MoveFn move) {
  int index = -1;
  const fs::path to = (list.*move)(index).file;
  return to.filename().string() + " " + std::to_string(index);
}

TEST_F(DirManagerTest, MovesStopAtTheEnds) {
  for (const char* name : {"a.jpg", "b.png", "c.gif"}) Touch(dir / name);
  CDirManager list;
  list.SetCurrentFile(dir / "b.png");
  const std::pair<MoveFn, const char*> steps[] = {
      {&CDirManager::Previous, "a.jpg 1"}, {&CDirManager::Previous, "a.jpg 1"},  // stays
      {&CDirManager::Last, "c.gif 3"},     {&CDirManager::Next, "c.gif 3"},      // stays
      {&CDirManager::First, "a.jpg 1"},    {&CDirManager::Next, "b.png 2"}};
  for (const auto& [move, expected] : steps) EXPECT_EQ(Step(list, move), expected);

  // A folder without pictures: every move gives nothing.
  TempDir empty;
  CDirManager none;
  none.SetCurrentFile(empty / "gone.jpg");
  EXPECT_EQ(none.GetCount(), 0);
  EXPECT_EQ(Step(none, &CDirManager::Next), " 0");
  EXPECT_EQ(Step(none, &CDirManager::Last), " 0");
  EXPECT_EQ(none.GetCurrentIndex(), 0);
}

TEST_F(DirManagerTest, LocatesMissingFileOnlyInNameOrder) {
  for (const char* name : {"a.jpg", "c.jpg", "e.jpg"}) Touch(dir / name);
  CDirManager list;
  const struct {
    int type, dir;
    const char* key;
    std::string expected;  // empty: no cursor
  } cases[] = {
      {0, 0, "b.jpg", "c.jpg"}, {0, 0, "0.jpg", "a.jpg"}, {0, 0, "z.jpg", "e.jpg"},
      {0, 0, "C.JPG", "c.jpg"}, {0, 1, "b.jpg", "a.jpg"}, {0, 1, "z.jpg", "e.jpg"},
      {0, 1, "d.jpg", "c.jpg"}, {2, 0, "E.JPG", "e.jpg"}, {2, 0, "b.jpg", ""},
      {1, 1, "b.jpg", ""},  // the last case leaves no cursor
  };
  for (const auto& c : cases) {
    CDirManager::SaveOrder(c.type, c.dir);
    list.SetCurrentFile(dir / c.key);
    EXPECT_EQ(CurrentName(list), c.expected) << c.key << " type " << c.type << " dir " << c.dir;
  }
  // Without a cursor the moves do nothing.
  EXPECT_EQ(Step(list, &CDirManager::Next), " 3");
  EXPECT_EQ(Step(list, &CDirManager::Previous), " 0");
}

TEST_F(DirManagerTest, RebuildsAtTheNextMoveAfterNamesChange) {
  Touch(dir / "a.jpg");
  Touch(dir / "c.jpg");
  CDirManager list;
  list.SetCurrentFile(dir / "a.jpg");
  ASSERT_EQ(list.GetCount(), 2);

  Touch(dir / "b.jpg");
  EXPECT_EQ(list.GetCount(), 2);  // nothing happens until a move
  int index = 0;
  EXPECT_EQ(list.Next(index).file, dir / "b.jpg");
  EXPECT_EQ(index, 2);
  EXPECT_EQ(list.GetCount(), 3);

  // Rename the next file: the move starts again from b.jpg.
  fs::rename(dir / "c.jpg", dir / "d.jpg");
  EXPECT_EQ(list.Next(index).file, dir / "d.jpg");
  EXPECT_EQ(index, 3);

  // Content changes do not rebuild: the size recorded stays.
  Touch(dir / "a.jpg", 100);
  list.First(index);
  EXPECT_EQ(list.EntryAt(1).size, 1u);

  // A folder that was empty picks up its first picture.
  TempDir other;
  CDirManager later;
  later.SetCurrentFile(other / "new.jpg");
  EXPECT_EQ(later.GetCount(), 0);
  Touch(other / "new.jpg");
  EXPECT_EQ(later.First(index).file, other / "new.jpg");
  EXPECT_EQ(index, 1);
}

// Stored under the program's own key (read back at start: see the viewer).
TEST_F(DirManagerTest, OrderIsKeptInTheSettings) {
  CDirManager::SaveOrder(2, 1);
  QSettings settings(QStringLiteral("Quillmark's Tools"), QStringLiteral("Inkbrite"));
  EXPECT_EQ(settings.value(QStringLiteral("ShowOrder/SortType")).toInt(), 2);
  EXPECT_EQ(settings.value(QStringLiteral("ShowOrder/SortDir")).toInt(), 1);
  settings.remove(QStringLiteral("ShowOrder"));
  CDirManager::LoadOrder();  // nothing stored: by name, ascending
  EXPECT_EQ(CDirManager::SortType(), 0);
  EXPECT_EQ(CDirManager::SortDir(), 0);
}

TEST_F(DirManagerTest, OrderDialogShowsRestoresAndApplies) {
  CDirManager::SaveOrder(2, 1);
  {
    COrderDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("设置文件显示顺序"));
    EXPECT_TRUE(FindByText<QRadioButton>(dialog, "按文件长度顺序")->isChecked());
    EXPECT_TRUE(FindByText<QRadioButton>(dialog, "按从大到小的顺序")->isChecked());
    EXPECT_FALSE(dialog.Changed());
    FindByText<QRadioButton>(dialog, "按文件创建时间顺序")->click();
    EXPECT_EQ(dialog.Type(), 1);
    EXPECT_TRUE(dialog.Changed());
    FindByText<QPushButton>(dialog, "复原")->click();
    EXPECT_TRUE(FindByText<QRadioButton>(dialog, "按文件名字母顺序")->isChecked());
    EXPECT_TRUE(FindByText<QRadioButton>(dialog, "按从小到大的顺序")->isChecked());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);  // not closed
    EXPECT_EQ(CDirManager::SortType(), 2);          // nothing applied
    FindByText<QPushButton>(dialog, "确定")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.Changed());
    EXPECT_EQ(dialog.Type(), 0);
    EXPECT_EQ(dialog.Direction(), 0);
  }

  // Through the command: the open list is re-sorted around its file.
  Touch(dir / "a.jpg", 1);
  Touch(dir / "b.jpg", 2);
  Touch(dir / "c.jpg", 3);
  CDirManager list;
  list.SetCurrentFile(dir / "a.jpg");
  ASSERT_EQ(list.GetCurrentIndex(), 3);
  auto clickLater = [](std::vector<const char*> buttons) {
    QTimer::singleShot(0, [buttons] {
      QWidget* modal = QApplication::activeModalWidget();
      ASSERT_NE(modal, nullptr);
      for (const char* text : buttons) FindByText<QPushButton>(*modal, text)->click();
    });
  };
  clickLater({"复原", "取消"});
  ApplyDisplayOrder(nullptr, {&list});
  EXPECT_EQ(CDirManager::SortType(), 2);
  clickLater({"复原", "确定"});
  ApplyDisplayOrder(nullptr, {&list});
  EXPECT_EQ(CDirManager::SortType(), 0);
  EXPECT_EQ(CDirManager::SortDir(), 0);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
  EXPECT_EQ(list.GetCurrentIndex(), 1);
}

}  // namespace
}  // namespace inkbrite
