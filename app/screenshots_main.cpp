// SPDX-License-Identifier: GPL-2.0-or-later
// Writes screenshots of the viewer for a developer to look at: the main
// window with a page, the same page fitted to the window, the dialogs, and
// the frame with the parameter bar where it first appears.
// Usage: inkbrite-screenshots OUTPUT_DIR [PAGE...] (default pages: the first
// two sample pages).
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "batch/batch_job.h"
#include "browse/dialogs/about_dialog.h"
#include "browse/dialogs/auto_play_dialog.h"
#include "browse/dialogs/batch_dialog.h"
#include "browse/dialogs/curve_dialog.h"
#include "browse/dialogs/image_file_dialog.h"
#include "browse/dialogs/order_dialog.h"
#include "browse/dialogs/save_as_dialog.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/dialogs/shortcut_list.h"
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/services/commands.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/main_frame.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/shelf_view.h"
#include "browse/widgets/strip_view.h"
#include "browse/widgets/thumbnail_strip.h"
#include "browse/widgets/window_tab_bar.h"
#include "core/para_block.h"
#include "platform/program_paths.h"

namespace fs = std::filesystem;
using namespace inkbrite;

namespace {

bool Save(QWidget* widget, const QString& folder, const char* name) {
  QApplication::processEvents();
  const QString file = folder + QLatin1Char('/') + QLatin1String(name);
  if (!widget->grab().save(file)) {
    std::fprintf(stderr, "cannot write %s\n", file.toUtf8().constData());
    return false;
  }
  std::printf("%s\n", file.toUtf8().constData());
  return true;
}

// The frame with the floating parameter bar drawn where it stands over it.
bool SaveWithBar(QWidget* frame, QWidget* bar, const QString& folder, const char* name) {
  QApplication::processEvents();
  QPixmap shot = frame->grab();
  {
    QPainter painter(&shot);
    painter.drawPixmap(frame->mapFromGlobal(bar->geometry().topLeft()), bar->grab());
  }
  const QString file = folder + QLatin1Char('/') + QLatin1String(name);
  if (!shot.save(file)) {
    std::fprintf(stderr, "cannot write %s\n", file.toUtf8().constData());
    return false;
  }
  std::printf("%s\n", file.toUtf8().constData());
  return true;
}

// A tar book (.cbt) of `pages`, named 001.ext, 002.ext, ... in it.
bool WriteTarBook(const fs::path& book, const std::vector<fs::path>& pages) {
  std::FILE* out = std::fopen(book.c_str(), "wb");
  if (!out) return false;
  bool ok = true;
  int number = 0;
  for (const fs::path& page : pages) {
    std::FILE* in = std::fopen(page.c_str(), "rb");
    if (!in) continue;
    std::vector<char> data;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
      data.insert(data.end(), chunk, chunk + n);
    }
    std::fclose(in);
    char header[512] = {};
    char name[32];
    std::snprintf(name, sizeof name, "%03d%s", ++number, page.extension().c_str());
    std::snprintf(header, 100, "%s", name);
    std::snprintf(header + 100, 8, "%07o", 0644);
    std::snprintf(header + 108, 8, "%07o", 0);
    std::snprintf(header + 116, 8, "%07o", 0);
    std::snprintf(header + 124, 12, "%011llo", static_cast<unsigned long long>(data.size()));
    std::snprintf(header + 136, 12, "%011o", 1577836800);
    header[156] = '0';
    std::memcpy(header + 257, "ustar", 6);
    header[263] = '0';  // the version, two digits without a terminator
    header[264] = '0';
    std::memset(header + 148, ' ', 8);
    unsigned sum = 0;
    for (char c : header) sum += static_cast<unsigned char>(c);
    std::snprintf(header + 148, 8, "%06o", sum);
    const size_t padding = (512 - data.size() % 512) % 512;
    data.resize(data.size() + padding, 0);
    ok = std::fwrite(header, 1, sizeof header, out) == sizeof header && ok;
    ok = std::fwrite(data.data(), 1, data.size(), out) == data.size() && ok;
  }
  static const char kEnd[1024] = {};
  ok = std::fwrite(kEnd, 1, sizeof kEnd, out) == sizeof kEnd && ok;
  return std::fclose(out) == 0 && ok && number > 0;
}

// Lets the background thread and queued repaints finish.
void Settle(int ms) {
  QTimer timer;
  timer.setSingleShot(true);
  timer.start(ms);
  while (timer.isActive()) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The pages to show: those named on the command line, else the first two
// sample pages.
std::vector<fs::path> PagesToShow(int argc, char** argv) {
  std::vector<fs::path> pages;
  for (int i = 2; i < argc; ++i) pages.emplace_back(argv[i]);
  if (pages.empty()) {
    std::vector<fs::path> samples;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(CInkbriteApp::SampleFolder(), ec)) {
      samples.push_back(e.path());
    }
    std::sort(samples.begin(), samples.end());
    for (size_t i = 0; i < samples.size() && i < 2; ++i) pages.push_back(samples[i]);
  }
  return pages;
}

// The main window empty, with the pages open, fitted and tiled, and its
// display order dialog.
bool ShootWindow(CInkbriteApp& app, CMainFrame* frame, const QString& out,
                 const std::vector<fs::path>& pages) {
  bool ok = Save(frame, out, "00-empty.png");
  for (const fs::path& page : pages) {
    if (!app.OpenDocumentFile(page)) std::fprintf(stderr, "cannot open %s\n", page.c_str());
  }
  Settle(300);
  ok = Save(frame, out, "01-page.png") && ok;
  frame->Action(kCmdFitWindow)->trigger();
  Settle(300);
  ok = Save(frame, out, "02-fitted.png") && ok;
  frame->Action(kCmdTileVertical)->trigger();
  Settle(300);
  ok = Save(frame, out, "03-tiled.png") && ok;
  {
    COrderDialog dialog(frame);
    dialog.show();
    ok = Save(&dialog, out, "04-display-order.png") && ok;
  }
  return ok;
}

// The parameter bar on each of its pages, and the window showing it.
bool ShootParameterBar(CMainFrame* frame, const QString& out) {
  bool ok = true;
  // The parameter bar on each of its pages, picked on its tab strip.
  CParaBar* bar = frame->ParaBar();
  for (int page = 0; page < bar->PageCount(); ++page) {
    bar->Control<QTabBar>(kParaTabs)->setCurrentIndex(page);
    const std::string name = "05-parameter-bar-" + std::to_string(page) + ".png";
    ok = Save(bar, out, name.c_str()) && ok;
  }
  bar->Control<QTabBar>(kParaTabs)->setCurrentIndex(kPageBrightness);
  // The Save button's menu: the settings attached to the book or its series.
  if (auto* menu = bar->findChild<QMenu*>(ControlName(kParaAttach))) {
    menu->adjustSize();
    ok = Save(menu, out, "05-parameter-bar-save-menu.png") && ok;
  }
  ok = SaveWithBar(frame, bar, out, "13-frame-with-parameter-bar.png") && ok;
  return ok;
}

// The curve editor, the settings manager and the batch dialog.
bool ShootEditingDialogs(CMainFrame* frame, const QString& out,
                         const std::vector<fs::path>& pages) {
  bool ok = true;
  {
    CCurveDialog dialog(AppParams(), {}, frame);
    dialog.show();
    ok = Save(&dialog, out, "06-curve-editor.png") && ok;
  }
  {
    CSettingsDialog dialog(CSettingsDialog::Mode::kLoad, AppParams(), NamedSettingsFile(), frame);
    dialog.show();
    ok = Save(&dialog, out, "07-settings-manager.png") && ok;
  }
  {
    CBatchDlg dialog(frame);
    dialog.show();
    ok = Save(&dialog, out, "08-batch-dialog.png") && ok;
    // The status lines and the progress bar as a run shows them.
    dialog.findChild<CPathDisplay*>(BatchControlName(kBatchIdOperation))
        ->SetText(EngineUiText(kBatchReducing));
    if (!pages.empty()) {
      dialog.findChild<CPathDisplay*>(BatchControlName(kBatchIdCurrentFile))
          ->SetText(QString::fromStdString(pages.front().string()));
    }
    dialog.findChild<QProgressBar*>(BatchControlName(kBatchIdProgress))->setValue(40);
    ok = Save(&dialog, out, "08-batch-dialog-status.png") && ok;
  }
  {
    // A device found by the search and chosen: its kind, colour and screen.
    CParaBlock before;
    before.Assign(AppParams());
    CBatchDlg dialog(frame);
    dialog.show();
    dialog.findChild<QLineEdit*>(BatchControlName(kBatchIdDeviceSearch))
        ->setText(QStringLiteral("kobo colour"));
    auto* devices = dialog.findChild<QComboBox*>(BatchControlName(kBatchIdDevice));
    const int device = devices->findData(QStringLiteral("kobo-libra-colour"));
    devices->setCurrentIndex(device);
    emit devices->activated(device);
    ok = Save(&dialog, out, "08-batch-dialog-device.png") && ok;
    AppParams().Assign(before);
  }
  return ok;
}

// The open dialog, the window tabs, the small dialogs, Save's question,
// Save As and the File menu.
bool ShootFileDialogs(CMainFrame* frame, const QString& out, const std::vector<fs::path>& pages) {
  bool ok = true;
  {
    // As opened over a page: its folder, its name preset, the preview on.
    AppParams().SetValue(kShowPreview, 1);
    const fs::path first = pages.empty() ? fs::path() : pages.front();
    CImageFileMultSel dialog(
        frame, UiText(kOpenDialogTitle), QString::fromStdString(first.parent_path().string()),
        CMainFrame::OpenDialogFilters(), QString::fromStdString(first.filename().string()));
    dialog.show();
    Settle(500);
    ok = Save(&dialog, out, "09-open-dialog.png") && ok;
    AppParams().SetValue(kShowPreview, 0);
  }
  ok = Save(frame->TabBar(), out, "10-window-tabs.png") && ok;
  {
    CAboutDialog dialog(frame);
    dialog.show();
    ok = Save(&dialog, out, "11-about.png") && ok;
  }
  {
    CAutoPlayDialog dialog(frame);
    dialog.show();
    ok = Save(&dialog, out, "12-auto-play-settings.png") && ok;
  }
  {
    // Save's question before it replaces the file a page was read from.
    const auto box = CreateMessageBox(frame, UiText(kOverwriteSourceQuestion),
                                      QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll);
    box->show();
    ok = Save(box.get(), out, "14-save-question.png") && ok;
  }
  {
    CSaveAsDialog dialog(frame, CSaveAsDialog::Filters(), QStringLiteral("page_001"));
    dialog.selectNameFilter(CSaveAsDialog::Filters().value(2));
    dialog.show();
    Settle(300);
    ok = Save(&dialog, out, "15-save-as.png") && ok;
  }
  {
    QMenu* file = frame->MenuBarMenus().value(0);
    if (file) {
      file->popup(frame->mapToGlobal(QPoint(0, 0)));
      Settle(100);
      ok = Save(file, out, "16-file-menu.png") && ok;
      file->hide();
    }
  }
  return ok;
}

// Two pages side by side in both directions, a book of the pages open at its
// second page, and the open dialog's preview of it.
bool ShootBook(CInkbriteApp& app, CMainFrame* frame, const QString& out,
               const std::vector<fs::path>& pages) {
  bool ok = true;
  {
    // Two pages side by side, left to right and then right to left.
    frame->Action(kCmdCloseAll)->trigger();
    if (!pages.empty() && app.OpenDocumentFile(pages.front())) {
      frame->Action(kCmdTwoPages)->trigger();
      frame->Action(kCmdFitWindow)->trigger();
      Settle(300);
      ok = Save(frame, out, "19-two-pages.png") && ok;
      frame->Action(kCmdRightToLeft)->trigger();
      Settle(300);
      ok = Save(frame, out, "20-two-pages-right-to-left.png") && ok;
    }
  }
  {
    // A book open at its second page: the title names the book and the page.
    frame->Action(kCmdCloseAll)->trigger();
    const fs::path folder = fs::temp_directory_path() / "inkbrite-screenshots";
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path book = folder / "sample.cbt";
    if (WriteTarBook(book, pages) && app.OpenDocumentFile(book)) {
      frame->Action(kCmdNextPage)->trigger();
      frame->Action(kCmdFitWindow)->trigger();
      Settle(300);
      ok = Save(frame, out, "17-book.png") && ok;
      // The open dialog's preview of a book: its first page.
      AppParams().SetValue(kShowPreview, 1);
      CImageFileMultSel dialog(
          frame, QStringLiteral("选择文件"), QString::fromStdString(book.parent_path().string()),
          CMainFrame::OpenDialogFilters(), QString::fromStdString(book.filename().string()));
      dialog.show();
      Settle(500);
      ok = Save(&dialog, out, "18-open-dialog-book.png") && ok;
      AppParams().SetValue(kShowPreview, 0);
    } else {
      std::fprintf(stderr, "cannot open the book %s\n", book.c_str());
      ok = false;
    }
    frame->Action(kCmdCloseAll)->trigger();
    fs::remove_all(folder, ec);
  }
  return ok;
}

// The thumbnail strip beside a page, and the list of keys.
bool ShootThumbnails(CInkbriteApp& app, CMainFrame* frame, const QString& out,
                     const std::vector<fs::path>& pages) {
  bool ok = true;
  {
    // The thumbnail strip beside a page, and the list of keys.
    frame->Action(kCmdCloseAll)->trigger();
    if (!pages.empty() && app.OpenDocumentFile(pages.front())) {
      frame->Action(kCmdSinglePage)->trigger();
      if (frame->ActiveDocument()->RightToLeft()) frame->Action(kCmdRightToLeft)->trigger();
      frame->Action(kCmdThumbnails)->trigger();
      frame->Action(kCmdNextPage)->trigger();
      CThumbnailStrip* strip = frame->ThumbnailStrip();
      QElapsedTimer waited;
      waited.start();
      while (!strip->AllArrived() && waited.elapsed() < 20000) Settle(50);
      Settle(300);
      ok = Save(frame, out, "25-thumbnails.png") && ok;
      frame->Action(kCmdThumbnails)->trigger();
      std::vector<QAction*> actions;
      for (QAction* action : frame->actions()) actions.push_back(action);
      CShortcutListDialog list(actions, frame);
      list.show();
      Settle(200);
      ok = Save(&list, out, "26-shortcut-list.png") && ok;
    }
    frame->Action(kCmdCloseAll)->trigger();
  }
  return ok;
}

// A small page centred on grey, the 窗口 and 查看 menus, a page fitted and
// turned, before and after side by side, and the histogram with the
// clipping marks.
bool ShootViewModes(CInkbriteApp& app, CMainFrame* frame, const QString& out,
                    const std::vector<fs::path>& pages) {
  bool ok = true;
  {
    // A page smaller than the window, centred on grey, and the 窗口 menu
    // naming the open windows.
    const fs::path folder = fs::temp_directory_path() / "inkbrite-screenshots-views";
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path small = folder / "small.png";
    QImage picture;
    if (!pages.empty() && picture.load(QString::fromStdString(pages.front().string())) &&
        picture.scaled(360, 500, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            .save(QString::fromStdString(small.string())) &&
        app.OpenDocumentFile(pages.front()) && app.OpenDocumentFile(small)) {
      const bool centred = CentreSmallPages();
      if (!centred) frame->Action(kCmdCentreSmallPages)->trigger();
      Settle(300);
      ok = Save(frame, out, "21-small-page-centred.png") && ok;
      if (!centred) frame->Action(kCmdCentreSmallPages)->trigger();
      if (QMenu* windows = frame->WindowMenu()) {
        windows->popup(frame->mapToGlobal(QPoint(0, 0)));
        Settle(100);
        ok = Save(windows, out, "22-window-menu.png") && ok;
        windows->hide();
      }
      if (QMenu* view = frame->MenuBarMenus().value(1)) {
        view->popup(frame->mapToGlobal(QPoint(0, 0)));
        Settle(100);
        ok = Save(view, out, "23-view-menu.png") && ok;
        view->hide();
      }
      // The small page fitted to the window and turned a quarter clockwise.
      frame->Action(kCmdFitPage)->trigger();
      frame->Action(kCmdTurnRight)->trigger();
      Settle(100);
      ok = Save(frame, out, "24-fitted-and-turned.png") && ok;
      // Before and after side by side on a page made darker and harder.
      frame->Action(kCmdCloseAll)->trigger();
      if (app.OpenDocumentFile(pages.front())) {
        AppParams().SetValue(kBrightness, 70);
        AppParams().SetValue(kContrast, 170);
        AppParams().SetValue(kGamma, 140);
        frame->Action(kCmdSinglePage)->trigger();
        frame->Action(kCmdFitPage)->trigger();
        frame->Action(kCmdSplitView)->trigger();
        Settle(300);
        ok = Save(frame, out, "27-split-before-after.png") && ok;
        // The histogram beside the page, with the clipping marks on it.
        frame->Action(kCmdSplitView)->trigger();
        frame->Action(kCmdHistogram)->trigger();
        frame->Action(kCmdClipWarnings)->trigger();
        Settle(300);
        frame->UpdateHistogram();
        Settle(100);
        ok = Save(frame, out, "28-histogram.png") && ok;
        frame->Action(kCmdClipWarnings)->trigger();
        frame->Action(kCmdHistogram)->trigger();
        AppParams().ResetDefaults();
      }
    }
    frame->Action(kCmdCloseAll)->trigger();
    fs::remove_all(folder, ec);
  }
  return ok;
}

// A folder of books as a shelf of covers, and a cover's menu: the settings
// attached to its series or book.
bool ShootShelf(CInkbriteApp& app, CMainFrame* frame, const QString& out,
                const std::vector<fs::path>& pages) {
  bool ok = true;
  frame->Action(kCmdCloseAll)->trigger();
  const fs::path folder = fs::temp_directory_path() / "inkbrite-screenshots-shelf";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder / "Series B", ec);
  for (const char* name : {"Series A v01.cbt", "Series A v02.cbt", "Series B/v01.cbt"}) {
    ok = WriteTarBook(folder / name, pages) && ok;
  }
  if (CChildFrame* window = app.OpenShelf(folder)) {
    window->showMaximized();
    auto* shelf = window->findChild<CShelfView*>();
    if (shelf != nullptr) {
      // Until the covers are in.
      QElapsedTimer waited;
      waited.start();
      while (!shelf->AllArrived() && waited.elapsed() < 5000) Settle(50);
      Settle(200);
      ok = Save(frame, out, "29-shelf.png") && ok;
      QMenu* menu = shelf->MakeAttachMenu(1, frame);
      menu->adjustSize();
      ok = Save(menu, out, "29-shelf-attach-menu.png") && ok;
      delete menu;
    } else {
      std::fprintf(stderr, "no shelf for %s\n", folder.c_str());
      ok = false;
    }
  }
  frame->Action(kCmdCloseAll)->trigger();
  fs::remove_all(folder, ec);
  return ok;
}

// The continuous layout: the sample pages one under another in a column of
// 60 % of the window, scrolled across the boundary of the first two.
bool ShootStrip(CInkbriteApp& app, CMainFrame* frame, const QString& out,
                const std::vector<fs::path>& pages) {
  frame->Action(kCmdCloseAll)->trigger();
  const fs::path folder = fs::temp_directory_path() / "inkbrite-screenshots-strip";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  for (size_t i = 0; i < pages.size(); ++i) {
    fs::copy_file(pages[i], folder / pages[i].filename(), ec);
  }
  if (pages.size() < 2 || !app.OpenDocumentFile(folder / pages.front().filename())) return true;
  CStripView::SetColumnPercent(60);
  frame->Action(kCmdContinuous)->trigger();
  bool ok = true;
  if (CStripView* strip = frame->ActiveView() ? frame->ActiveView()->Strip() : nullptr) {
    strip->Relayout();
    const int view = strip->viewport()->height();
    strip->ScrollTo(strip->Layout().Top(1) - view / 2);
    // Until the pages in view are decoded and rendered (10 s at most).
    const auto painted = [strip, view] {
      for (int page : strip->Layout().PagesInView(strip->Scroll(), view)) {
        if (!strip->HasPicture(page)) return false;
      }
      return !strip->RenderPendingInView();
    };
    for (int waited = 0; waited < 10000 && !painted(); waited += 50) Settle(50);
    Settle(200);
    ok = Save(frame, out, "30-continuous.png");
  }
  frame->Action(kCmdSinglePage)->trigger();
  CStripView::SetColumnPercent(100);
  frame->Action(kCmdCloseAll)->trigger();
  fs::remove_all(folder, ec);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // The reading places the screens leave go to a folder of their own.
  const fs::path state = fs::temp_directory_path() / "inkbrite-screenshots-state";
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  // So do the thumbnails.
  const fs::path cache = fs::temp_directory_path() / "inkbrite-screenshots-cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: inkbrite-screenshots OUTPUT_DIR [PAGE...]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  const std::vector<fs::path> pages = PagesToShow(argc, argv);

  CInkbriteApp app;
  app.InitInstance(false);
  CMainFrame* frame = app.MainFrame();
  frame->resize(1280, 900);
  frame->show();
  // INKBRITE_SCREENSHOTS_SWITCH=en|zh: every screen after the running
  // viewer changed to that language, as the Help menu's choice does.
  if (const auto to = ParseLanguageCode(qEnvironmentVariable("INKBRITE_SCREENSHOTS_SWITCH"))) {
    app.SetInterfaceLanguage(*to);
    Settle(100);
  }
  bool ok = ShootWindow(app, frame, out, pages);
  ok = ShootParameterBar(frame, out) && ok;
  ok = ShootEditingDialogs(frame, out, pages) && ok;
  ok = ShootFileDialogs(frame, out, pages) && ok;
  ok = ShootBook(app, frame, out, pages) && ok;
  ok = ShootThumbnails(app, frame, out, pages) && ok;
  ok = ShootViewModes(app, frame, out, pages) && ok;
  ok = ShootShelf(app, frame, out, pages) && ok;
  ok = ShootStrip(app, frame, out, pages) && ok;
  std::error_code ec;
  fs::remove_all(state, ec);
  fs::remove_all(cache, ec);
  return ok ? 0 : 1;
}
