// SPDX-License-Identifier: GPL-2.0-or-later
// The batch dialog on real folders: the colour-mode rule, the folder
// chooser's check, whole runs with their record, picked files, and stopping.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <fstream>

#include "batch/batch_job.h"
#include "batch/devices.h"
#include "batch/named_settings.h"
#include "browse/dialogs/about_dialog.h"
#include "browse/dialogs/batch_dialog.h"
#include "browse/dialogs/curve_dialog.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/services/language.h"
#include "browse/widgets/para_bar.h"
#include "formats/image_file.h"
#include "platform/program_paths.h"
#include "sources/library_state.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::WritePage;

class BatchDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppParams().ResetDefaults();
    RememberedBatchFolders() = {};
    SetMessageHandler([this](QWidget*, const QString& text, QMessageBox::StandardButtons buttons) {
      messages.push_back(text.toStdString());
      return (buttons & QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    });
    fs::create_directories(source());
    fs::create_directories(target());
  }
  void TearDown() override {
    SetMessageHandler({});
    AppParams().ResetDefaults();
    RememberedBatchFolders() = {};
  }

  fs::path source() const { return dir / "src"; }
  fs::path target() const { return dir / "out"; }

  template <typename T>
  static T* Ctl(CBatchDlg& dialog, int id) {
    T* control = dialog.findChild<T*>(BatchControlName(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
  }

  test::TempDir dir;
  std::vector<std::string> messages;
};

TEST_F(BatchDialogTest, ColourModeRuleFitsTheExtensionAndSkipBox) {
  // Opening applies the rule: monochrome saved as ".jpg" becomes ".tif".
  AppParams().SetValue(kGreyScale, 7);
  AppParams().SetValue(kTargetFiles, 0);
  CBatchDlg dialog;
  auto* colour = Ctl<QComboBox>(dialog, kBatchIdColour);
  auto* extension = Ctl<QComboBox>(dialog, kBatchIdNewExtension);
  auto* skip = Ctl<QCheckBox>(dialog, kBatchIdSkipColour);
  EXPECT_EQ(extension->currentText(), ".tif");
  EXPECT_TRUE(skip->isEnabled());

  struct Case {
    int mode;
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {3, ".jpg", ".png"}, {4, ".bmp", ".bmp"}, {6, ".tif", ".tif"}, {5, ".jp2", ".png"},
      {1, ".tif", ".jpg"}, {1, ".png", ".png"}, {7, ".bmp", ".tif"}, {0, ".jp2", ".jpg"},
      {2, ".bmp", ".bmp"}, {0, ".tif", ".jpg"},
  };
  for (const Case& c : cases) {
    colour->setCurrentIndex(c.mode == 1 ? 0 : 1);  // so that the next change is a change
    skip->setChecked(skip->isEnabled());
    extension->setCurrentText(QString::fromUtf8(c.before));
    colour->setCurrentIndex(c.mode);
    EXPECT_EQ(extension->currentText().toStdString(), c.after) << c.mode << " " << c.before;
    const bool keepsColour = c.mode == 0 || c.mode == 2;
    EXPECT_EQ(skip->isEnabled(), !keepsColour) << c.mode;
    if (keepsColour) {
      EXPECT_FALSE(skip->isChecked()) << c.mode;
    }
  }
  // The user may pick another extension afterwards; the rule waits for the
  // next colour change.
  extension->setCurrentText(".jp2");
  EXPECT_EQ(extension->currentText(), ".jp2");
}

TEST_F(BatchDialogTest, FolderChooserAcceptsOnlyAnExistingAbsoluteFolder) {
  WritePage(source() / "page.png", 8, 8);
  CFolderChooser chooser(nullptr, "打开目录", "请选择希望打开的目录", QString());
  EXPECT_FALSE(chooser.OkButton()->isEnabled());  // empty edit line

  const QString bad[] = {QStringLiteral("relative/src"),
                         QString::fromStdString((dir / "missing").string()),
                         QString::fromStdString((source() / "page.png").string())};
  for (const QString& path : bad) {
    messages.clear();
    chooser.EditLine()->setText(path);
    EXPECT_TRUE(chooser.OkButton()->isEnabled());
    chooser.setResult(QDialog::Rejected);
    chooser.accept();
    ASSERT_EQ(messages.size(), 1u) << path.toStdString();
    EXPECT_EQ(messages[0], "您所指定的目录\n\n" + path.toStdString() + "\n\n无效。请重新指定。");
    EXPECT_NE(chooser.result(), QDialog::Accepted);
  }

  messages.clear();
  chooser.EditLine()->setText(QString::fromStdString((dir.path() / "out" / ".." / "src").string()) +
                              "/");
  chooser.accept();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(chooser.result(), QDialog::Accepted);
  EXPECT_EQ(chooser.Folder().toStdString(), source().string());
}

// A target that does not exist yet may be chosen (a source may not): it is
// made when the run starts, once the user agrees; the chooser makes a new
// folder where it stands.
TEST_F(BatchDialogTest, ANewTargetIsMadeWhenTheRunStarts) {
  const fs::path fresh = dir / "made" / "here";
  const QString freshText = QString::fromStdString(fresh.string());
  {
    CFolderChooser chooser(nullptr, "", "", QString::fromStdString(dir.path().string()), true);
    chooser.EditLine()->setText(freshText);
    chooser.accept();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.Folder(), freshText);
    EXPECT_FALSE(fs::exists(fresh));
    chooser.EditLine()->setText(QString::fromStdString((source() / "page.png" / "x").string()));
    WritePage(source() / "page.png", 8, 8);
    chooser.setResult(QDialog::Rejected);
    chooser.accept();
    EXPECT_NE(chooser.result(), QDialog::Accepted);  // under a file
    messages.clear();
    chooser.EditLine()->setText(QString::fromStdString(dir.path().string()));
    ASSERT_NE(chooser.NewFolderButton(), nullptr);
    chooser.NewFolderButton()->click();
    chooser.EditLine()->setText(QString::fromStdString(dir.path().string()));
    chooser.NewFolderButton()->click();
    EXPECT_TRUE(fs::is_directory(dir / "新建文件夹"));
    EXPECT_EQ(chooser.EditLine()->text().toStdString(), (dir / "新建文件夹 (2)").string());
    EXPECT_TRUE(messages.empty());
    CFolderChooser sourceChooser(nullptr, "", "", QString());
    EXPECT_EQ(sourceChooser.NewFolderButton(), nullptr);
  }
  fs::remove(source() / "page.png");
  WritePage(source() / "a.png", 40, 30);
  RememberedBatchFolders() = {source(), fresh};
  CBatchDlg dialog;
  messages.clear();
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  EXPECT_TRUE(fs::exists(fresh / "a.jpg"));
  ASSERT_EQ(messages.size(), 2u);  // said once, then the summary
  EXPECT_NE(messages[0].find(fresh.string()), std::string::npos) << messages[0];
  messages.clear();
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  EXPECT_EQ(messages.size(), 1u);
  // One that cannot be made (under a file) says so; nothing runs.
  WritePage(dir / "file.png", 8, 8);
  dialog.findChild<CPathDisplay*>(BatchControlName(kBatchIdTarget))
      ->SetText(QString::fromStdString((dir / "file.png" / "x").string()));
  messages.clear();
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("无法建立目录", 0), 0u) << messages[0];
}

// Answering Yes to seeing the record when nothing can show it says so and
// names the record, so it can be opened by hand.
TEST_F(BatchDialogTest, ARecordNothingCanShowIsNamed) {
  WritePage(source() / "a.png", 40, 30);
  std::ofstream(source() / "broken.jpg") << "not a picture";
  RememberedBatchFolders() = {source(), target()};
  const UrlOpener previous = SetUrlOpener([](const QUrl&, const std::function<void()>& failed) {
    failed();
    return true;
  });
  SetMessageHandler([&](QWidget*, const QString& text, QMessageBox::StandardButtons buttons) {
    messages.push_back(text.toStdString());
    return (buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
  });
  CBatchDlg dialog;
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  const std::string record = ProgramFilePath("_Rcd.txt").string();
  EXPECT_TRUE(ui_test::WaitFor([&] {
    return !messages.empty() && messages.back().find(record) != std::string::npos;
  })) << (messages.empty() ? std::string() : messages.back());
  SetUrlOpener(previous);
}

// The stage shown beside the current file fits, in both languages; a text
// longer than its room is elided at its end.
TEST_F(BatchDialogTest, TheStageTextFitsOrIsElided) {
  for (UiLanguage language : {UiLanguage::kEnglish, UiLanguage::kChinese}) {
    CInterfaceLanguage switched;
    ASSERT_TRUE(switched.Apply(language));
    CBatchDlg dialog;
    dialog.show();
    auto* stage = Ctl<CPathDisplay>(dialog, kBatchIdOperation);
    for (std::string_view text : {kBatchCounting, kBatchReducing, kBatchSaving}) {
      stage->SetText(EngineUiText(text));
      EXPECT_EQ(stage->ShownText(), EngineUiText(text)) << text;
    }
    stage->SetText(QString(200, QLatin1Char('x')));
    EXPECT_TRUE(stage->ShownText().endsWith(QChar(0x2026))) << stage->ShownText().toStdString();
  }
}

TEST_F(BatchDialogTest, ViewFileOpensTheFirstMatchOrExplains) {
  std::ofstream(target() / "a.jpg") << "x";
  std::ofstream(target() / "b.jp2") << "x";
  std::ofstream(source() / "notes.txt") << "x";
  std::vector<fs::path> opened;
  const auto open = [&](const fs::path& path) {
    opened.push_back(path);
    return true;
  };
  CBatchDlg dialog;
  dialog.SetOpenHandler(open);
  Ctl<QPushButton>(dialog, kBatchIdViewSource)->click();
  Ctl<QPushButton>(dialog, kBatchIdViewTarget)->click();
  EXPECT_EQ(messages, (std::vector<std::string>{"请先选择源目录。", "请先选择目标目录。"}));

  messages.clear();
  RememberedBatchFolders() = {source(), target()};
  CBatchDlg filled;
  filled.SetOpenHandler(open);
  Ctl<QComboBox>(filled, kBatchIdNewExtension)->setCurrentText(".jp2");
  Ctl<QPushButton>(filled, kBatchIdViewTarget)->click();
  Ctl<QPushButton>(filled, kBatchIdViewSource)->click();
  EXPECT_EQ(opened, std::vector<fs::path>{target() / "b.jp2"});
  EXPECT_EQ(messages, std::vector<std::string>{"抱歉，在源目录中找不到可查看的文件。"});
}

TEST_F(BatchDialogTest, ChooseButtonsAndRestore) {
  RememberedBatchFolders().source = source();
  CBatchDlg dialog;
  QStringList starts;
  dialog.SetFolderPicker([&](const QString& start) {
    starts << start;
    return starts.size() == 1 ? QString::fromStdString(target().string()) : QString();
  });
  Ctl<QPushButton>(dialog, kBatchIdChooseTarget)->click();  // the empty target starts at the source
  Ctl<QPushButton>(dialog, kBatchIdChooseSource)->click();  // cancelled: the field keeps its path
  const QString src = QString::fromStdString(source().string());
  EXPECT_EQ(starts, QStringList({src, src}));
  EXPECT_EQ(Ctl<CPathDisplay>(dialog, kBatchIdTarget)->Text().toStdString(), target().string());
  EXPECT_EQ(Ctl<CPathDisplay>(dialog, kBatchIdSource)->Text(), src);
  // Nothing is stored until a run or a save.
  EXPECT_TRUE(RememberedBatchFolders().target.empty());

  AppParams().SetValue(kBrightness, 150);
  Ctl<QSlider>(dialog, kBatchIdBrightness)->setValue(150);
  Ctl<QComboBox>(dialog, kBatchIdColour)->setCurrentIndex(7);
  Ctl<QPushButton>(dialog, kBatchIdRestore)->click();  // "恢复"
  EXPECT_EQ(AppParams().GetValue(kBrightness), 100);
  EXPECT_EQ(Ctl<QLineEdit>(dialog, kBatchIdBrightnessValue)->text(), "100");
  EXPECT_EQ(Ctl<QComboBox>(dialog, kBatchIdColour)->currentIndex(), 2);
  EXPECT_FALSE(Ctl<QCheckBox>(dialog, kBatchIdSkipColour)->isEnabled());
}

TEST_F(BatchDialogTest, WholeFolderRunWritesPagesAndRecord) {
  fs::create_directories(source() / "sub");
  for (const char* name : {"a.png", "b.png", "sub/c.png"}) WritePage(source() / name, 40, 30);
  std::ofstream(source() / "broken.jpg") << "not a picture";
  RememberedBatchFolders() = {source(), target()};
  CBatchDlg dialog;
  Ctl<QSlider>(dialog, kBatchIdBrightness)->setValue(120);
  EXPECT_EQ(Ctl<QLineEdit>(dialog, kBatchIdBrightnessValue)->text(), "120");
  Ctl<QComboBox>(dialog, kBatchIdNewExtension)->setCurrentText(".png");

  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();

  for (const char* name : {"a.png", "b.png", "sub/c.png"}) {
    DibImage page;
    EXPECT_EQ(LoadImageFile(target() / name, page, nullptr), 1) << name;
  }
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "4个文件需要转换，\n3个文件转换成功。\n您想看结果记录吗？");
  const std::string record = ui_test::ReadText(ProgramFilePath("_Rcd.txt"));
  EXPECT_NE(record.find("文件读取失败：" + (source() / "broken.jpg").string()), std::string::npos)
      << record;
  // The run stored the controls into the program-wide block first.
  EXPECT_EQ(AppParams().GetValue(kBrightness), 120);
  EXPECT_EQ(AppParams().GetValue(kTargetFiles), 2);
  EXPECT_FALSE(dialog.IsRunning());
  EXPECT_EQ(Ctl<QProgressBar>(dialog, kBatchIdProgress)->value(), 0);
  EXPECT_TRUE(Ctl<CPathDisplay>(dialog, kBatchIdCurrentFile)->Text().isEmpty());
}

// The automatic steps' settings show the block's values and a run takes
// them: a spread is written as its two pages, each fitted to the screen
// size given.
TEST_F(BatchDialogTest, AutomaticStepsAreShownAndTakenByARun) {
  const DibImage spread = test::MakeImage(400, 320, [](int32_t x, int32_t y) {
    const bool paper = x < 10 || x >= 390 || y < 10 || y >= 310 || (x >= 190 && x < 210);
    return paper ? test::Bgr{255, 255, 255} : test::Bgr{40, 40, 40};
  });
  ASSERT_EQ(SaveImageFile(source() / "spread.png", spread, 0, 90), 1);
  RememberedBatchFolders() = {source(), target()};
  AppParams().SetValue(kDeskew, 1);
  AppParams().SetValue(kFitHeight, 160);
  CBatchDlg dialog;
  const auto control = [&dialog](int slot) {
    return dialog.findChild<QWidget*>(BatchControlName(BatchSettingId(slot)));
  };
  EXPECT_TRUE(qobject_cast<QCheckBox*>(control(kDeskew))->isChecked());
  EXPECT_FALSE(qobject_cast<QCheckBox*>(control(kSplitSpreads))->isChecked());
  EXPECT_EQ(qobject_cast<QSpinBox*>(control(kFitHeight))->value(), 160);
  EXPECT_FALSE(control(kAutoCropBorder)->isEnabled());  // its step is off
  qobject_cast<QCheckBox*>(control(kDeskew))->setChecked(false);
  qobject_cast<QCheckBox*>(control(kSplitSpreads))->setChecked(true);
  qobject_cast<QSpinBox*>(control(kFitWidth))->setValue(100);  // a screen the pages' shape
  Ctl<QComboBox>(dialog, kBatchIdNewExtension)->setCurrentText(".png");
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  EXPECT_EQ(AppParams().GetValue(kSplitSpreads), 1);
  EXPECT_EQ(AppParams().GetValue(kDeskew), 0);
  EXPECT_EQ(AppParams().GetValue(kFitWidth), 100);
  DibImage page;
  EXPECT_EQ(LoadImageFile(target() / "spread_1.png", page, nullptr), 1);
  EXPECT_EQ(page.Width(), 100);
  EXPECT_EQ(LoadImageFile(target() / "spread_2.png", page, nullptr), 1);
  EXPECT_FALSE(fs::exists(target() / "spread.png"));
}

// The book choice reaches the run: a CBZ among the pages becomes a folder of
// its converted pages, or is left out; the choice is remembered.
TEST_F(BatchDialogTest, TheBookChoiceDecidesWhatBecomesOfABook) {
  WritePage(source() / "loose.png", 40, 30);
  ASSERT_EQ(SaveImageFile(dir / "p.jpg", test::MakePattern(20, 10), 0, 90), 1);
  const std::vector<uint8_t> page = test::ReadAll(dir / "p.jpg");
  test::WriteArchive(source() / "book.cbz", test::MadeFormat::kZipStored,
                     {{"01.jpg", page}, {"02.jpg", page}});
  RememberedBatchFolders() = {source(), target()};
  {
    CBatchDlg dialog;
    auto* books = Ctl<QComboBox>(dialog, kBatchIdBooks);
    EXPECT_EQ(books->currentIndex(), static_cast<int>(BookOutput::kCbz));
    EXPECT_EQ(books->count(), 6);
    books->setCurrentIndex(static_cast<int>(BookOutput::kFolder));
    Ctl<QComboBox>(dialog, kBatchIdNewExtension)->setCurrentText(".png");
    Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  }
  EXPECT_TRUE(fs::is_regular_file(target() / "book/01.png"));
  EXPECT_TRUE(fs::is_regular_file(target() / "book/02.png"));
  EXPECT_FALSE(fs::exists(target() / "book.cbz"));
  EXPECT_EQ(AppParams().GetValue(kBookKind), static_cast<int>(BookOutput::kFolder));

  fs::remove_all(target());
  CBatchDlg dialog;
  auto* books = Ctl<QComboBox>(dialog, kBatchIdBooks);
  EXPECT_EQ(books->currentIndex(), static_cast<int>(BookOutput::kFolder));
  books->setCurrentIndex(static_cast<int>(BookOutput::kSkip));
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  EXPECT_FALSE(fs::exists(target() / "book"));
  EXPECT_EQ(messages.back(), "1个文件需要转换，\n1个文件转换成功。");
  // An e-book or PDF kind writes the book as one file of its kind.
  for (BookOutput kind : {BookOutput::kEpub, BookOutput::kKepub, BookOutput::kPdf}) {
    books->setCurrentIndex(static_cast<int>(kind));
    Ctl<QComboBox>(dialog, kBatchIdNewExtension)->setCurrentText(".jpg");
    Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  }
  EXPECT_EQ(test::Listing(target()),
            (std::vector<std::string>{"book.epub", "book.kepub.epub", "book.pdf", "loose.jpg",
                                      "loose.png"}));
  // Each folder of pages as one book, the choice remembered.
  fs::remove_all(target());
  books->setCurrentIndex(static_cast<int>(BookOutput::kEpub));
  Ctl<QCheckBox>(dialog, kBatchIdFolderBooks)->setChecked(true);
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  EXPECT_EQ(test::Listing(target()),
            (std::vector<std::string>{"book.epub", source().filename().string() + ".epub"}));
  EXPECT_EQ(AppParams().GetValue(kFolderBooks), 1);
}

// "每本书用附加在它或它的系列上的设置", on at first: a book of a series with a
// set attached is converted with it; cleared (and remembered so), with the
// dialog's settings.
TEST_F(BatchDialogTest, BooksTakeTheirAttachedSetUnlessTheBoxIsCleared) {
  ASSERT_EQ(SaveImageFile(dir / "p.png", test::MakePattern(20, 10), 0, 90), 1);
  fs::create_directories(source() / "series");
  test::WriteArchive(source() / "series/v1.cbz", test::MadeFormat::kZipStored,
                     {{"01.png", test::ReadAll(dir / "p.png")}});
  CParaBlock bright;
  bright.SetValue(kBrightness, 160);
  ASSERT_TRUE(SaveNamedSetting(bright, "dialog-bright", NamedSettingsFile()));
  ASSERT_TRUE(LibraryState().Attach(source() / "series", AttachScope::kSeries, "dialog-bright"));
  RememberedBatchFolders() = {source(), target()};
  auto convert = [&](CBatchDlg& dialog) {
    fs::remove_all(target());
    fs::create_directories(target());
    Ctl<QComboBox>(dialog, kBatchIdNewExtension)->setCurrentText(".png");
    Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
    const std::vector<test::MadeEntry> pages = test::ReadArchive(target() / "series/v1.cbz");
    return pages.empty() ? std::vector<uint8_t>() : pages.front().data;
  };
  std::vector<uint8_t> attached, plain;
  {
    CBatchDlg dialog;
    EXPECT_TRUE(Ctl<QCheckBox>(dialog, kBatchIdUseAttached)->isChecked());
    attached = convert(dialog);
    Ctl<QCheckBox>(dialog, kBatchIdUseAttached)->setChecked(false);
    plain = convert(dialog);
  }
  EXPECT_FALSE(RememberedBatchFolders().useAttached);
  // The dialog's own settings made the set's: the same page.
  AppParams().SetValue(kBrightness, 160);
  {
    CBatchDlg dialog;
    EXPECT_FALSE(Ctl<QCheckBox>(dialog, kBatchIdUseAttached)->isChecked());
    EXPECT_EQ(convert(dialog), attached);
  }
  EXPECT_FALSE(attached.empty());
  EXPECT_NE(attached, plain);
  EXPECT_TRUE(LibraryState().Detach(source() / "series"));
  EXPECT_TRUE(DeleteNamedSetting("dialog-bright", NamedSettingsFile()));
}

// The device list: the search narrows it to the devices its words name; a
// device chosen sets the kind, the colour, the screen and renumbering, and
// reaches the run; loading or restoring a setting forgets it.
TEST_F(BatchDialogTest, ADeviceFoundBySearchSetsTheBookAndTheScreen) {
  ASSERT_EQ(SaveImageFile(dir / "p.jpg", test::MakePattern(20, 10), 0, 90), 1);
  const std::vector<uint8_t> page = test::ReadAll(dir / "p.jpg");
  test::WriteArchive(source() / "book.cbz", test::MadeFormat::kZipStored,
                     {{"01.jpg", page}, {"02.jpg", page}});
  RememberedBatchFolders() = {source(), target()};
  CBatchDlg dialog;
  auto* search = Ctl<QLineEdit>(dialog, kBatchIdDeviceSearch);
  auto* devices = Ctl<QComboBox>(dialog, kBatchIdDevice);
  auto* books = Ctl<QComboBox>(dialog, kBatchIdBooks);
  ASSERT_EQ(devices->count(), static_cast<int>(DeviceRows().size()) + 1);
  const auto shown = [devices] {
    std::vector<std::string> names;
    auto* view = qobject_cast<QListView*>(devices->view());
    for (int i = 1; i < devices->count(); ++i) {
      if (!view->isRowHidden(i)) names.push_back(devices->itemData(i).toString().toStdString());
    }
    return names;
  };
  const std::pair<const char*, std::vector<std::string>> searches[] = {
      {"Libra 2", {"kobo-libra-2"}},
      {"  scribe  colorsoft", {"kindle-scribe-colorsoft"}},
      {"paper-pro move", {"remarkable-paper-pro-move"}},
      {"nothing like it", {}}};
  for (const auto& [text, expected] : searches) {
    search->setText(QString::fromUtf8(text));
    EXPECT_EQ(shown(), expected) << text;
  }
  search->clear();
  EXPECT_EQ(shown().size(), DeviceRows().size());

  const int libra = devices->findData(QStringLiteral("kobo-libra-2"));
  devices->setCurrentIndex(libra);
  emit devices->activated(libra);
  EXPECT_EQ(books->currentIndex(), static_cast<int>(BookOutput::kKepub));
  EXPECT_EQ(Ctl<QComboBox>(dialog, kBatchIdColour)->currentIndex(), kGreys16);
  EXPECT_EQ(Ctl<QComboBox>(dialog, kBatchIdNewExtension)->currentText(), ".png");
  EXPECT_EQ(Ctl<QSpinBox>(dialog, BatchSettingId(kFitWidth))->value(), 1264);
  EXPECT_TRUE(Ctl<QCheckBox>(dialog, kBatchIdRenumber)->isChecked());
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  EXPECT_TRUE(fs::is_regular_file(target() / "book.kepub.epub"));
  // The kind changed by hand, the device's renumbering stays.
  books->setCurrentIndex(static_cast<int>(BookOutput::kCbz));
  Ctl<QPushButton>(dialog, kBatchIdConvertAll)->click();
  const std::vector<uint8_t> cbz = test::ReadAll(target() / "book.cbz");
  const std::string_view bytes(reinterpret_cast<const char*>(cbz.data()), cbz.size());
  EXPECT_NE(bytes.find("0002.png"), std::string_view::npos);

  Ctl<QPushButton>(dialog, kBatchIdRestore)->click();
  EXPECT_EQ(devices->currentIndex(), 0);
  EXPECT_EQ(books->currentIndex(), static_cast<int>(BookOutput::kCbz));
}

// The target left at the folder being read, and a source folder with pages
// of the same names: "全部转换" says how many pages it would replace and asks
// once; No leaves them, Yes converts. Pages the dialog wrote itself are
// replaced without asking.
TEST_F(BatchDialogTest, AsksOnceBeforeReplacingPagesItDidNotWrite) {
  for (const char* name : {"p1.jpg", "p2.jpg", "p3.jpg"}) WritePage(source() / name, 30, 20);
  for (const char* name : {"p1.jpg", "p2.jpg"}) WritePage(target() / name, 10, 10);
  const std::vector<uint8_t> reading = test::ReadAll(target() / "p1.jpg");
  RememberedBatchFolders() = {source(), target()};
  CBatchDlg dialog;
  auto* convert = Ctl<QPushButton>(dialog, kBatchIdConvertAll);

  convert->click();  // answered No
  const std::string question = "目标目录中已有2个同名文件，它们将被转换后的文件所覆盖。要继续吗？";
  EXPECT_EQ(messages, std::vector<std::string>{question});
  EXPECT_EQ(test::ReadAll(target() / "p1.jpg"), reading);
  EXPECT_FALSE(fs::exists(target() / "p3.jpg"));
  EXPECT_FALSE(dialog.IsRunning());

  SetMessageHandler([this](QWidget*, const QString& text, QMessageBox::StandardButtons buttons) {
    messages.push_back(text.toStdString());
    return (buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
  });
  messages.clear();
  convert->click();
  EXPECT_EQ(messages, (std::vector<std::string>{question, "3个文件需要转换，\n3个文件转换成功。"}));
  DibImage page;
  ASSERT_EQ(LoadImageFile(target() / "p1.jpg", page, nullptr), 1);
  EXPECT_EQ(page.Width(), 30);

  messages.clear();
  convert->click();  // again, over its own pages
  EXPECT_EQ(messages, std::vector<std::string>{"3个文件需要转换，\n3个文件转换成功。"});
}

TEST_F(BatchDialogTest, PickedFilesFillAnEmptySourceField) {
  for (const char* name : {"one.png", "two.png", "three.png"}) WritePage(source() / name, 20, 20);
  RememberedBatchFolders().target = target();
  CBatchDlg dialog;
  QString pickerStart;
  dialog.SetFilePicker([&](const QString& start) {
    pickerStart = start;
    return std::vector<fs::path>{source() / "two.png", source() / "one.png"};
  });
  Ctl<QPushButton>(dialog, kBatchIdConvertPicked)->click();
  EXPECT_EQ(pickerStart, "/");
  EXPECT_EQ(Ctl<CPathDisplay>(dialog, kBatchIdSource)->Text().toStdString(), source().string());
  EXPECT_TRUE(fs::exists(target() / "one.jpg") && fs::exists(target() / "two.jpg"));
  EXPECT_FALSE(fs::exists(target() / "three.jpg"));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "2个文件需要转换，\n2个文件转换成功。");

  // Without a target the picker is not even opened.
  RememberedBatchFolders().target.clear();
  CBatchDlg second;
  second.SetFilePicker([&](const QString&) {
    ADD_FAILURE() << "picker opened";
    return std::vector<fs::path>{};
  });
  messages.clear();
  Ctl<QPushButton>(second, kBatchIdConvertPicked)->click();
  EXPECT_EQ(messages, std::vector<std::string>{"请先选择存放新文件的目录。"});
}

TEST_F(BatchDialogTest, StopButtonEndsARunMidway) {
  const int pages = 24;
  for (int i = 0; i < pages; ++i) {
    WritePage(source() / ("p" + std::to_string(100 + i) + ".png"), 600, 450);
  }
  RememberedBatchFolders() = {source(), target()};
  CBatchDlg dialog;
  dialog.show();
  auto* all = Ctl<QPushButton>(dialog, kBatchIdConvertAll);
  auto* picked = Ctl<QPushButton>(dialog, kBatchIdConvertPicked);
  auto* close = Ctl<QPushButton>(dialog, kBatchIdClose);
  auto* animation = Ctl<CBatchAnimation>(dialog, kBatchIdAnimation);
  auto* progress = Ctl<QProgressBar>(dialog, kBatchIdProgress);

  bool pressed = false;
  QTimer poll;
  poll.setInterval(0);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    // Two pages converted: the run is well inside the conversion.
    if (pressed || !dialog.IsRunning() || progress->value() < 24) return;
    pressed = true;
    EXPECT_EQ(all->text(), "停止转换");
    EXPECT_EQ(picked->text(), "选择转换");
    EXPECT_FALSE(picked->isEnabled());
    EXPECT_FALSE(close->isEnabled());
    EXPECT_TRUE(animation->IsPlaying());
    // Closing the window asks the run to stop and keeps the dialog open.
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.StopRequested());
    all->click();  // "停止转换"
  });
  poll.start();
  all->click();
  poll.stop();
  ASSERT_TRUE(pressed);

  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("\n您选择了中途停止。"), std::string::npos) << messages.back();
  EXPECT_EQ(messages.back().find("您想看结果记录吗"), std::string::npos);
  int written = 0;
  for (const auto& entry : fs::directory_iterator(target())) written += entry.is_regular_file();
  EXPECT_GE(written, 2);
  EXPECT_LT(written, pages);

  // Idle again.
  EXPECT_FALSE(dialog.IsRunning());
  EXPECT_EQ(all->text(), "全部转换");
  EXPECT_TRUE(picked->isEnabled());
  EXPECT_TRUE(close->isEnabled());
  EXPECT_FALSE(animation->IsPlaying());
  EXPECT_EQ(animation->CurrentFrame(), 0);
  // Colour mode 2 (the default) keeps the skip box disabled after the run.
  EXPECT_FALSE(Ctl<QCheckBox>(dialog, kBatchIdSkipColour)->isEnabled());
}

// The dialog opened from the main frame, with a page open: "恢复" and the
// curve editor reach the parameter bar and the view while the dialog is
// still open.
class BatchFromFrameTest : public ui_test::AppTest {};

TEST_F(BatchFromFrameTest, RestoreAndCurveReachTheBarAndTheViewsAtOnce) {
  ui_test::WritePage(dir / "p1.bmp", 40, 30);
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  CParaBar* bar = Frame()->ParaBar();
  bar->SelectPage(kPageBrightness);
  bar->Control<QSlider>(kParaSlider)->setValue(150);
  QApplication::processEvents();
  ASSERT_EQ(view->WorkingSet().GetValue(kBrightness), 150);

  // The four curve values the bar's curve page shows, in its order.
  auto barCurveTexts = [bar] {
    QStringList texts;
    for (QLineEdit* edit : bar->findChildren<QLineEdit*>()) texts << edit->text();
    return texts.join(QLatin1Char(','));
  };
  bool ran = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CBatchDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QPushButton*>(BatchControlName(kBatchIdRestore))->click();
    QApplication::processEvents();
    EXPECT_EQ(bar->Control<QSlider>(kParaSlider)->value(), 100);
    EXPECT_EQ(view->WorkingSet().GetValue(kBrightness), 100);

    bar->SelectPage(kPageCurve);
    QTimer::singleShot(0, [] {
      auto* curve = qobject_cast<CCurveDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(curve, nullptr);
      curve->ChoosePreset(2);
      curve->accept();
    });
    dialog->findChild<QPushButton*>(BatchControlName(kBatchIdCurve))->click();
    QApplication::processEvents();
    const auto& preset = CCurveDialog::kPresets[2];
    const int curveSlots[4] = {kCurveX1, kCurveY1, kCurveX2, kCurveY2};
    QStringList shown;
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(view->WorkingSet().GetValue(curveSlots[i]), preset[i]) << i;
      shown << QString::number(preset[i]);
    }
    EXPECT_TRUE(barCurveTexts().contains(shown.join(QLatin1Char(','))))
        << barCurveTexts().toStdString();
    EXPECT_EQ(dialog->findChild<QLineEdit*>(BatchControlName(kBatchIdCurveX1))->text(),
              shown.front());
    ran = true;
    dialog->reject();
  });
  Frame()->Action(kCmdBatch)->trigger();
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace inkbrite
