// SPDX-License-Identifier: GPL-2.0-or-later
// Saving from the viewer and the parameters a window keeps: what Save and
// Save As write, under which name, with which parameters, and when they ask.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "batch/batch_job.h"
#include "browse/dialogs/save_as_dialog.h"
#include "browse/widgets/para_bar.h"
#include "core/enhance.h"
#include "tests/browse/browse_support.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::WaitFor;
using ui_test::WritePage;

class ViewerSaveTest : public ui_test::AppTest {
 protected:
  CParaBar* Bar() { return Frame()->ParaBar(); }
  // Moves the parameter bar's slider of `page` to `value`, as the user does.
  void MoveSlider(int page, int value) {
    Bar()->SelectPage(page);
    Bar()->Control<QSlider>(kParaSlider)->setValue(value);
    QApplication::processEvents();
  }
  // The page of `path` enhanced with `params`, as the viewer draws it.
  static DibImage Enhanced(const fs::path& path, const CParaBlock& params) {
    DibImage page;
    int grey = 0;
    EXPECT_EQ(LoadImageFile(path, page, &grey), 1) << path;
    EnhanceImage(params, page);
    return page;
  }
  static DibImage Loaded(const fs::path& path) {
    DibImage page;
    int grey = 0;
    EXPECT_EQ(LoadImageFile(path, page, &grey), 1) << path;
    return page;
  }
};

// In per-window mode a window keeps its own parameters when its page turns:
// the next page is drawn with them, the next change adds to them, and Save
// writes with them (colour mode and JPEG quality included).
TEST_F(ViewerSaveTest, AWindowKeepsItsOwnParametersAcrossPageTurns) {
  WritePage(dir / "a.bmp", 300, 200);
  WritePage(dir / "b.bmp", 260, 240);
  Bar()->Control<QCheckBox>(kParaWindowOnly)->click();
  ASSERT_TRUE(PerWindowMode());
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  MoveSlider(kPageGamma, 150);
  MoveSlider(kPageJpegQuality, 95);
  ASSERT_TRUE(WaitFor([&] { return view->RenderCount() >= 1; }));

  Frame()->Action(kCmdNextPage)->trigger();
  ASSERT_EQ(Frame()->ActiveDocument()->PathName().filename(), "b.bmp");
  CParaBlock own;
  own.SetValue(kGamma, 150);
  own.SetValue(kJpegQuality, 95);
  EXPECT_EQ(view->WorkingSet().GetValue(kGamma), 150);
  EXPECT_EQ(view->WindowSet().GetValue(kJpegQuality), 95);
  EXPECT_TRUE(view->DisplayedPage().PackedDib() == Enhanced(dir / "b.bmp", own).PackedDib());

  const int rendered = view->RenderCount();
  MoveSlider(kPageBrightness, 120);
  own.SetValue(kBrightness, 120);
  ASSERT_TRUE(WaitFor([&] { return view->RenderCount() > rendered; }));
  EXPECT_TRUE(view->DisplayedPage().PackedDib() == Enhanced(dir / "b.bmp", own).PackedDib());

  // Saved with the window's set: the JPEG at quality 95.
  ASSERT_EQ(Frame()->ActiveDocument()->SaveAs(dir / "out.jpg"), 1);
  ASSERT_EQ(SaveImageFile(dir / "expected.jpg", Enhanced(dir / "b.bmp", own), 0, 95), 1);
  EXPECT_EQ(test::ReadAll(dir / "out.jpg"), test::ReadAll(dir / "expected.jpg"));
  EXPECT_TRUE(messages.empty());
}

// The file type picked in Save As decides the extension of a name that has
// none a writer takes; an explicit writable extension is kept.
TEST_F(ViewerSaveTest, SaveAsNamesTheFileAfterTheChosenType) {
  const QStringList filters = CSaveAsDialog::Filters();
  const QString png = filters[2];
  const QString all = filters.back();
  EXPECT_EQ(CSaveAsDialog::NameForFilter("/d/p001", png), "/d/p001.png");
  EXPECT_EQ(CSaveAsDialog::NameForFilter("/d/comic.v2", png), "/d/comic.v2.png");
  EXPECT_EQ(CSaveAsDialog::NameForFilter("/d/p001.bmp", png), "/d/p001.bmp");
  EXPECT_EQ(CSaveAsDialog::NameForFilter("/d/p001", all), "/d/p001.jpg");
  EXPECT_EQ(CSaveAsDialog::NameForFilter("/d/p001.xyz", all), "/d/p001.xyz");

  // Through the command: the name field preset to "page", PNG chosen.
  WritePage(dir / "page.jpg", 120, 90);
  ASSERT_NE(app->OpenDocumentFile(dir / "page.jpg"), nullptr);
  // The user picks "PNG Files(*.png)" and types the name with the focus in
  // the name field.
  bool seen = false;
  QTimer poll;
  poll.callOnTimeout([&] {
    auto* dialog = qobject_cast<CSaveAsDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll.stop();
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!edit) return dialog->reject();
    seen = edit->text() == QStringLiteral("page");
    dialog->selectNameFilter(filters[2]);
    QApplication::setActiveWindow(dialog);
    edit->setFocus();
    WaitFor([&] { return edit->hasFocus(); }, 1000);
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString((dir / "page").string()));
    QTest::keyClick(edit, Qt::Key_Return);
    if (dialog->isVisible()) dialog->reject();  // refused: the test fails below
  });
  poll.start(10);
  // The dialog's own question (replacing an existing file) is answered No.
  std::vector<QString> questions;
  QTimer boxes;
  boxes.callOnTimeout([&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      questions.push_back(box->text());
      box->reject();
    }
  });
  boxes.start(10);

  Frame()->Action(kCmdSaveAs)->trigger();
  EXPECT_TRUE(questions.empty());
  EXPECT_TRUE(seen);
  ASSERT_TRUE(fs::exists(dir / "page.png"));
  EXPECT_EQ(DetectImageFormat(dir / "page.png", true), kFormatPng);
  EXPECT_FALSE(fs::exists(dir / "page.jpg.jpg"));
  EXPECT_TRUE(messages.empty());
}

// Save As starts in the folder of the page shown (a book's page: the book's
// folder), whatever another document's dialog showed, with the type chosen
// last time.
TEST_F(ViewerSaveTest, SaveAsStartsInThePagesFolderWithTheTypeChosenLast) {
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  fs::create_directories(dir / "c");
  WritePage(dir / "a" / "one.jpg", 40, 30);
  WritePage(dir / "b" / "two.jpg", 40, 30);
  {
    std::vector<test::MadeEntry> entries;
    entries.emplace_back("01.jpg", test::ReadAll(dir / "a" / "one.jpg"));
    test::WriteArchive(dir / "c" / "book.cbz", test::MadeFormat::kZipStored, entries);
  }
  const QString png = CSaveAsDialog::Filters()[2];
  QString shownFolder, shownFilter;
  bool save = true;
  QTimer poll;
  poll.callOnTimeout([&] {
    auto* dialog = qobject_cast<CSaveAsDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    shownFolder = dialog->directory().absolutePath();
    shownFilter = dialog->selectedNameFilter();
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!save || !edit) return dialog->reject();
    dialog->selectNameFilter(png);
    edit->setText(QStringLiteral("saved"));
    dialog->accept();
  });
  poll.start(10);
  const auto folderOf = [](const fs::path& path) { return QString::fromStdString(path.string()); };

  ASSERT_NE(app->OpenDocumentFile(dir / "a" / "one.jpg"), nullptr);
  Frame()->Action(kCmdSaveAs)->trigger();
  EXPECT_EQ(shownFolder, folderOf(dir / "a"));
  EXPECT_TRUE(fs::exists(dir / "a" / "saved.png"));
  save = false;
  for (const fs::path& next : {dir / "b" / "two.jpg", dir / "c" / "book.cbz"}) {
    ASSERT_NE(app->OpenDocumentFile(next), nullptr);
    shownFolder.clear();
    Frame()->Action(kCmdSaveAs)->trigger();
    EXPECT_EQ(shownFolder, folderOf(next.parent_path()));
    EXPECT_EQ(CSaveAsDialog::FilterExtension(shownFilter), QStringLiteral("png"));
  }
  EXPECT_TRUE(messages.empty());
}

// A name no writer takes shows the writers' own message, then the failure.
TEST_F(ViewerSaveTest, AnUnsupportedExtensionSaysWhichExtensionsWork) {
  WritePage(dir / "page.bmp", 40, 30);
  CInkbriteDoc* doc = app->OpenDocumentFile(dir / "page.bmp");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->SaveAs(dir / "page.xyz"), 0);
  EXPECT_EQ(
      messages,
      (std::vector<std::string>{
          "抱歉，保存的文件名只能以jpg、bmp、png、tif、jp2、webp、avif或jxl为扩展名，请更正。",
          "文件存盘失败。"}));
  EXPECT_FALSE(fs::exists(dir / "page.xyz"));
}

// Save writes the page at its full size even while the window shows it
// fitted, and replaces the file it was read from only after asking; the
// question can be turned off.
TEST_F(ViewerSaveTest, SaveKeepsTheFullSizeAndAsksBeforeReplacingTheSource) {
  WritePage(dir / "scan.png", 1200, 1700);
  const std::vector<uint8_t> original = test::ReadAll(dir / "scan.png");
  CParaBlock params;
  params.SetValue(kContrast, 130);
  const DibImage expected = Enhanced(dir / "scan.png", params);
  CInkbriteDoc* doc = app->OpenDocumentFile(dir / "scan.png");
  ASSERT_NE(doc, nullptr);
  Frame()->Action(kCmdFitWindow)->trigger();
  CInkbriteView* view = Frame()->ActiveView();
  ASSERT_TRUE(view->IsFitToWindow());
  ASSERT_LT(view->DisplayedSize().height(), 1700);
  AppParams().SetValue(kContrast, 130);
  QApplication::postEvent(view, new ParamChangeEvent(kContrast, 130));
  QApplication::processEvents();

  answer = QMessageBox::No;
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(messages, std::vector<std::string>{kOverwriteSourceQuestion});
  EXPECT_EQ(test::ReadAll(dir / "scan.png"), original);

  answer = QMessageBox::Yes;
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_TRUE(Loaded(dir / "scan.png").PackedDib() == expected.PackedDib());

  // "Yes, and do not ask again": written, and not asked the next time.
  answer = QMessageBox::YesToAll;
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(messages.size(), 3u);
  EXPECT_FALSE(AskBeforeOverwritingSource());
  EXPECT_FALSE(Frame()->Action(kCmdAskBeforeOverwrite)->isChecked());
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(messages.size(), 3u);
  // The File menu turns it on again.
  Frame()->Action(kCmdAskBeforeOverwrite)->trigger();
  EXPECT_TRUE(Frame()->Action(kCmdAskBeforeOverwrite)->isChecked());
  answer = QMessageBox::No;
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(messages.size(), 4u);
}

// A 32 x 8 bilevel BMP whose two colours are red and yellow: a grey source
// by its depth, coloured all the same.
std::vector<uint8_t> RedAndYellowBmp() {
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < 8; ++y) rows.push_back({0xF0, 0x0F, 0xCC, static_cast<uint8_t>(y * 31)});
  const std::vector<uint8_t> dib =
      test::MakeDib(32, 8, 1, {RgbQuad{0, 0, 255, 0}, RgbQuad{0, 255, 255, 0}}, rows);
  std::vector<uint8_t> file = {'B', 'M'};
  test::PutLE(file, 4, {static_cast<uint32_t>(14 + dib.size()), 0, 14 + 40 + 8});
  file.insert(file.end(), dib.begin(), dib.end());
  return file;
}

// The viewer's Save and the batch job write the same bytes for the same page
// and parameters, in every colour mode that reaches a different writer path.
TEST_F(ViewerSaveTest, SaveWritesWhatTheBatchJobWrites) {
  fs::create_directories(dir / "pages");
  WritePage(dir / "pages/colour.png", 300, 200);
  test::WriteAll(dir / "pages/mono.bmp", RedAndYellowBmp());
  struct Case {
    const char* source;
    int mode;
    const char* extension;
  };
  const Case cases[] = {{"colour.png", kKeepAsIs, ".jpg"},  {"colour.png", kGreyComic, ".jpg"},
                        {"colour.png", kGreyComic, ".png"}, {"mono.bmp", kKeepAsIs, ".png"},
                        {"mono.bmp", kKeepAsIs, ".tif"},    {"colour.png", kGreys16, ".png"},
                        {"colour.png", kColours256, ".png"}};
  for (const Case& c : cases) {
    const std::string what =
        std::string(c.source) + " mode " + std::to_string(c.mode) + c.extension;
    CParaBlock params;
    params.SetValue(kContrast, 130);
    params.SetValue(kSharpen, 3);
    params.SetValue(kJpegQuality, 85);
    params.SetValue(kGreyScale, c.mode);
    AppParams().Assign(params);
    CInkbriteDoc* doc = app->OpenDocumentFile(dir / "pages" / c.source);
    ASSERT_NE(doc, nullptr) << what;
    QApplication::postEvent(Frame()->ActiveView(), new ParamResetEvent);  // takes the shared set
    QApplication::processEvents();
    fs::path viewer = dir / "viewer" / c.source;
    viewer.replace_extension(c.extension);
    fs::create_directories(viewer.parent_path());
    ASSERT_EQ(doc->SaveAs(viewer), 1) << what;

    BatchSettings settings;
    settings.targetDir = dir / "batch";
    settings.newExtension = c.extension;
    settings.colourMode = c.mode;
    settings.jpegQuality = 85;
    settings.params = &params;
    settings.recordPath = dir / "record.txt";
    const BatchSelection selection{dir / "pages", {dir / "pages" / c.source}};
    test::RecordingHost host;
    CBatchJob().Run(host, settings, &selection);
    fs::path batch = dir / "batch" / c.source;
    batch.replace_extension(c.extension);
    ASSERT_TRUE(fs::exists(batch)) << what;
    EXPECT_EQ(test::ReadAll(viewer), test::ReadAll(batch)) << what;
  }
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace inkbrite
