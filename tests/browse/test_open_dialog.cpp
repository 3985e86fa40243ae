// SPDX-License-Identifier: GPL-2.0-or-later
// The open dialog (full paths of the chosen files, the preview box and pane),
// the help command and the About box's links.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <cstdlib>
#include <fstream>

#include "browse/dialogs/about_dialog.h"
#include "browse/dialogs/image_file_dialog.h"
#include "browse/dialogs/save_as_dialog.h"
#include "platform/program_paths.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::Settle;
using ui_test::WaitFor;

class OpenDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppParams().ResetDefaults();
    // a.jpg is wider than any preview pane (4:1), b.jpg smaller than it.
    ui_test::WritePage(dir / "a.jpg", 2000, 500);
    ui_test::WritePage(dir / "b.jpg", 60, 100);
    std::ofstream(dir.path() / "broken.jpg") << "not a picture";
    SetMessageHandler([this](QWidget*, const QString& text, QMessageBox::StandardButtons) {
      messages.push_back(text);
      return QMessageBox::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler({});
    AppParams().ResetDefaults();
  }
  // Chooses `typed` (as typed into the name field) and presses Open.
  std::vector<fs::path> Choose(const QString& typed) {
    CImageFileMultSel dialog(nullptr, "选择文件", Folder(), {"Supported Files (*.jpg)"}, {});
    dialog.show();
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!edit) return {{"no name field"}};
    edit->setText(typed);
    static_cast<QDialog&>(dialog).accept();  // QFileDialog::accept, as the Open button
    return dialog.SelectedPaths();
  }
  QString Folder() const { return QString::fromStdString(dir.path().string()); }
  QString Path(const char* name) const { return QString::fromStdString((dir / name).string()); }

  test::TempDir dir;
  std::vector<QString> messages;
};

TEST_F(OpenDialogTest, ReturnsFullPathsOfTheChosenFiles) {
  EXPECT_EQ(Choose("\"a.jpg\" \"b.jpg\""),
            (std::vector<fs::path>{dir.path() / "a.jpg", dir.path() / "b.jpg"}));
  EXPECT_EQ(Choose("b.jpg"), std::vector<fs::path>{dir.path() / "b.jpg"});

  // A preset name is selected in the list once the folder is listed.
  CImageFileMultSel cancelled(nullptr, "选择文件", Folder(), {}, "b.jpg");
  cancelled.show();
  auto* list = cancelled.findChild<QAbstractItemView*>(QStringLiteral("listView"));
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(WaitFor([&] {
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.size() == 1 && rows[0].data().toString() == "b.jpg";
  }));
  cancelled.reject();
  EXPECT_TRUE(cancelled.SelectedPaths().empty());
  EXPECT_TRUE(messages.empty());
}

// In a long folder the preset name is scrolled into view; with the preview
// pane beside it the list still shows its columns whole.
TEST_F(OpenDialogTest, ShowsThePresetNameAndWholeColumnsBesideThePreview) {
  for (int i = 0; i < 300; ++i) {
    std::ofstream(dir.path() / ("page_" + std::to_string(1000 + i) + ".jpg")) << "x";
  }
  AppParams().SetValue(kShowPreview, 1);
  CImageFileMultSel dialog(nullptr, "选择文件", Folder(), {}, "page_1250.jpg");
  dialog.show();
  auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  ASSERT_NE(tree, nullptr);
  ASSERT_TRUE(tree->isVisible());  // the detailed list, as the dialog starts
  const auto presetRect = [&] {
    const QModelIndex root = tree->rootIndex();
    for (int row = 0; row < tree->model()->rowCount(root); ++row) {
      const QModelIndex index = tree->model()->index(row, 0, root);
      if (index.data().toString() == "page_1250.jpg") return tree->visualRect(index);
    }
    return QRect();
  };
  EXPECT_TRUE(WaitFor([&] {
    const QRect rect = presetRect();
    return !rect.isEmpty() && tree->viewport()->rect().contains(rect);
  }));
  Settle(300);
  EXPECT_TRUE(tree->viewport()->rect().contains(presetRect()));

  QHeaderView* header = tree->header();
  for (int column = 0; column < header->count(); ++column) {
    if (header->isSectionHidden(column)) continue;
    const QAbstractItemView* view = tree;  // public there
    EXPECT_GE(header->sectionSize(column), view->sizeHintForColumn(column)) << column;
  }
  EXPECT_LE(header->length(), tree->viewport()->width());
  EXPECT_TRUE(dialog.PreviewPane()->isVisible());
  EXPECT_GE(dialog.PreviewPane()->width(), 200);
  dialog.reject();
}

// The places on the left of the open and save dialogs show their whole
// names ("Computer" was cut short in English), however narrow Qt (or the
// width it remembers) made them.
TEST_F(OpenDialogTest, PlacesShowTheirWholeNames) {
  CImageFileMultSel open(nullptr, "Open", Folder(), {"Supported Files (*.jpg)"}, {});
  CSaveAsDialog save(nullptr, CSaveAsDialog::Filters(), "page");
  for (QFileDialog* dialog : {static_cast<QFileDialog*>(&open), static_cast<QFileDialog*>(&save)}) {
    dialog->show();
    auto* places = dialog->findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
    auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter"));
    ASSERT_TRUE(places && splitter);
    ASSERT_GT(places->model()->rowCount(places->rootIndex()), 0);
    EXPECT_GE(places->viewport()->width(), places->sizeHintForColumn(0));
    QList<int> sizes = splitter->sizes();
    sizes[0] = 30;
    splitter->setSizes(sizes);
    ASSERT_LT(places->viewport()->width(), places->sizeHintForColumn(0));
    const int width = dialog->width();
    FitFileDialogPlaces(*dialog);
    EXPECT_GE(places->viewport()->width(), places->sizeHintForColumn(0))
        << dialog->metaObject()->className();
    EXPECT_GT(dialog->width(), width);  // the file list keeps its room
    dialog->hide();
  }
}

TEST_F(OpenDialogTest, PreviewFollowsTheBoxAndIsRemembered) {
  AppParams().SetValue(kShowPreview, 1);
  {
    CImageFileMultSel dialog(nullptr, "选择文件", Folder(), {}, {});
    dialog.show();
    ASSERT_TRUE(dialog.PreviewBox()->isChecked());
    EXPECT_EQ(dialog.PreviewBox()->text(), QString::fromUtf8("预览"));
    dialog.SetCurrentFile(Path("a.jpg"));
    EXPECT_EQ(dialog.PreviewImage().Width(), 2000);
    EXPECT_TRUE(dialog.PreviewPane()->isVisible());
    // Wide image: fitted to the pane's width, aspect kept, centred.
    const QRect shown = dialog.PreviewPane()->ImageRect();
    const QRect area = dialog.PreviewPane()->contentsRect();
    EXPECT_EQ(shown.width(), area.width());
    EXPECT_NEAR(shown.height(), area.width() / 4, 1);
    EXPECT_NEAR(shown.center().y(), area.center().y(), 1);

    dialog.SetCurrentFile(Path("broken.jpg"));
    EXPECT_TRUE(dialog.PreviewImage().IsEmpty());
    dialog.SetCurrentFile(Path("b.jpg"));
    // Smaller than the pane: centred, unscaled.
    EXPECT_EQ(dialog.PreviewPane()->ImageRect().size(), QSize(60, 100));

    dialog.PreviewBox()->setChecked(false);
    EXPECT_TRUE(dialog.PreviewPane()->isVisible());  // until the next tick
    EXPECT_TRUE(WaitFor([&] { return !dialog.PreviewPane()->isVisible(); }, 1000));
    EXPECT_EQ(AppParams().GetValue(kShowPreview), 0);
    EXPECT_TRUE(dialog.PreviewImage().IsEmpty());
    dialog.reject();
  }
  CImageFileMultSel next(nullptr, "选择文件", Folder(), {}, {});
  next.show();
  EXPECT_FALSE(next.PreviewBox()->isChecked());
  EXPECT_FALSE(next.PreviewPane()->isVisible());
  next.SetCurrentFile(Path("a.jpg"));
  EXPECT_TRUE(next.PreviewImage().IsEmpty());
  next.PreviewBox()->setChecked(true);
  next.SyncPreview();
  EXPECT_TRUE(next.PreviewPane()->isVisible());
  EXPECT_EQ(next.PreviewImage().Width(), 2000);
  EXPECT_EQ(AppParams().GetValue(kShowPreview), 1);
  next.reject();

  // A preset file is previewed from the start.
  CImageFileMultSel preset(nullptr, "选择文件", Folder(), {}, "b.jpg");
  EXPECT_EQ(preset.PreviewImage().Width(), 60);
}

TEST_F(OpenDialogTest, HelpPageAndLinks) {
  std::vector<QUrl> opened;
  bool openWorks = true;
  SetUrlOpener([&](const QUrl& url, const std::function<void()>&) {
    opened.push_back(url);
    return openWorks;
  });
  int beeps = 0;
  SetBeepHandler([&] { ++beeps; });

  // The tests' data folder (INKBRITE_DATA_DIR) and the test program's folder
  // hold no help page.
  const fs::path page = ProgramFilePath(".htm");
  ASSERT_FALSE(page.empty());
  fs::remove(page);
  EXPECT_FALSE(ShowHelp(nullptr));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            QString::fromUtf8("抱歉，找不到帮助文件Inkbrite.htm。\n请下载完整的ZIP文件。"));
  EXPECT_TRUE(opened.empty());
  std::ofstream(page) << "<html></html>";
  EXPECT_TRUE(ShowHelp(nullptr));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(fs::path(opened[0].toLocalFile().toStdString()), page);
  fs::remove(page);

  CAboutDialog about;
  CLinkLabel* mail = about.EmailLink();
  EXPECT_EQ(mail->LinkTarget(), QStringLiteral("mailto:") + kAuthorEmail);
  EXPECT_EQ(mail->CurrentColour(), CLinkLabel::kLinkColour);
  opened.clear();
  EXPECT_TRUE(mail->OpenTarget());
  EXPECT_EQ(opened, std::vector<QUrl>{QUrl(mail->LinkTarget())});
  EXPECT_EQ(mail->CurrentColour(), CLinkLabel::kVisitedColour);

  openWorks = false;
  EXPECT_FALSE(about.HomepageLink()->OpenTarget());
  EXPECT_FALSE(about.HomepageLink()->Visited());
  EXPECT_EQ(messages.back(), "Unable to open hyperlink:\n\n" + OpenErrorText(31));
  CLinkLabel missing(Path("gone.txt"));
  EXPECT_FALSE(missing.OpenTarget());
  EXPECT_EQ(messages.back(), "Unable to open hyperlink:\n\nThe specified file was not found.");
  EXPECT_EQ(beeps, 2);
  EXPECT_EQ(OpenErrorText(99), "Unknown Error (99) occurred.");

  SetBeepHandler({});
  SetUrlOpener({});
}

// A page the desktop cannot show after all (no browser): the help command
// and the About box's links say so instead of doing nothing.
TEST_F(OpenDialogTest, HelpAndLinksSayWhenNoBrowserShowsThePage) {
  int beeps = 0;
  SetBeepHandler([&] { ++beeps; });
  // The hand-over succeeds and the failure comes later, as from xdg-open.
  SetUrlOpener([](const QUrl&, const std::function<void()>& failed) {
    QTimer::singleShot(10, failed);
    return true;
  });
  const fs::path page = ProgramFilePath(".htm");
  std::ofstream(page) << "<html></html>";
  EXPECT_TRUE(ShowHelp(nullptr));
  ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
  EXPECT_EQ(messages.back(),
            QString::fromUtf8(kHelpNotShownMessage).arg(QString::fromStdString(page.string())));
  fs::remove(page);

  CAboutDialog about;
  EXPECT_TRUE(about.HomepageLink()->OpenTarget());
  ASSERT_TRUE(WaitFor([&] { return messages.size() == 2; }));
  EXPECT_EQ(messages.back(), "Unable to open hyperlink:\n\n" + OpenErrorText(31));
  EXPECT_FALSE(about.HomepageLink()->Visited());
  EXPECT_EQ(beeps, 1);

  // The desktop's own opener where nothing can show a web page.
  SetUrlOpener({});
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
    SetBeepHandler({});
    GTEST_SKIP() << "no xdg-open";
  }
  const char* const kDesktop[] = {"DISPLAY",         "WAYLAND_DISPLAY",  "XDG_CURRENT_DESKTOP",
                                  "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                                  "BROWSER"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name : kDesktop) {
    if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
    unsetenv(name);
  }
  setenv("BROWSER", "false", 1);
  EXPECT_TRUE(about.EmailLink()->OpenTarget());
  EXPECT_TRUE(WaitFor([&] { return messages.size() == 3; }, 10000));
  unsetenv("BROWSER");
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  EXPECT_EQ(beeps, 2);
  EXPECT_FALSE(about.EmailLink()->Visited());
  SetBeepHandler({});
}

}  // namespace
}  // namespace inkbrite
