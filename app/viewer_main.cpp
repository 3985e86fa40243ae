// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer: start-up and the event loop; everything else is in browse/.
// The files, books and folders named on the command line open in windows of
// their own; with 只运行一个 Inkbrite chosen, in the viewer already running.
//
// `inkbrite --version` and `inkbrite --help` answer before Qt starts (no
// display needed). With INKBRITE_QUIT_AFTER_START=1 in the environment the
// viewer quits as soon as its main window is shown on the screen, with
// status 0, or with 1 when the window has not appeared within ten seconds:
// a smoke test of an installed viewer (QT_QPA_PLATFORM=offscreen works).
// With INKBRITE_QUIT_AFTER_PAGE=1 it writes "painted" on a line of its own
// to the standard output and quits with status 0 as soon as the first page
// named on the command line has been painted (1 when none is within ten
// seconds): the benchmark times a cold start with it.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/reading/early_page.h"
#include "browse/services/exit_signals.h"
#include "browse/services/single_instance.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/main_frame.h"
#include "platform/page_memory.h"

#ifndef INKBRITE_VERSION
#define INKBRITE_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: inkbrite [Qt options] [--] [FILE|FOLDER|BOOK...]\n"
    "\n"
    "Reads scanned comic pages and cleans them up. Each picture file, book\n"
    "(.cbz .cbr .cb7 .cbt, zip, RAR, 7z, tar, PDF) or folder named opens in\n"
    "a window of its own (a folder at the page last read there, else at its\n"
    "first page); without any, pages are opened from the File menu.\n"
    "See inkbrite(1) and the help page (Help menu).\n"
    "\n"
    "Options:\n"
    "  --help       this text\n"
    "  --version    the program's version\n";

bool EnvironmentSays(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;  // file names follow
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("inkbrite %s\n", INKBRITE_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  inkbrite::TunePageMemory();
  QApplication application(argc, argv);
  // One viewer at a time, when chosen: a viewer already running takes what
  // the command line names, and this one ends. (Not for the start-up
  // checks, which time or test this very process.)
  inkbrite::CInkbriteApp::SetProgramNames();
  if (inkbrite::SingleInstanceChosen() && !EnvironmentSays("INKBRITE_QUIT_AFTER_START") &&
      !EnvironmentSays("INKBRITE_QUIT_AFTER_PAGE") &&
      inkbrite::PassToRunningInstance(inkbrite::PathsFromArguments(QApplication::arguments()))) {
    return 0;
  }
  // What the command line names opens once the window is up (its first
  // page decoded meanwhile); with nothing named the viewer starts empty.
  const std::vector<std::filesystem::path> paths =
      inkbrite::PathsFromArguments(QApplication::arguments());
  if (!paths.empty()) {
    inkbrite::EarlyPage::Start(paths.front(), inkbrite::CInkbriteDoc::BackgroundLoadPixels());
  }
  inkbrite::CInkbriteApp app;
  app.InitInstance();
  // Logging out ends the viewer as its Exit does: the settings are written.
  inkbrite::InstallExitSignals();
  if (!paths.empty()) {
    QTimer::singleShot(0, &application, [&app, paths] { app.OpenDocumentFiles(paths); });
  }
  if (EnvironmentSays("INKBRITE_QUIT_AFTER_PAGE")) {
    QElapsedTimer waited;
    waited.start();
    auto* poll = new QTimer(&application);
    QObject::connect(poll, &QTimer::timeout, [&app, waited] {
      const inkbrite::CMainFrame* frame = app.MainFrame();
      const inkbrite::CInkbriteView* view = frame != nullptr ? frame->ActiveView() : nullptr;
      if (view != nullptr && view->PaintedGeneration() > 0 &&
          view->PaintedGeneration() >= view->DisplayGeneration() &&
          !view->DisplayedSize().isEmpty()) {
        std::fputs("painted\n", stdout);
        std::fflush(stdout);
        QApplication::exit(0);
      } else if (waited.elapsed() > 10000) {
        std::fputs("inkbrite: no page was painted\n", stderr);
        QApplication::exit(1);
      }
    });
    poll->start(1);
  } else if (EnvironmentSays("INKBRITE_QUIT_AFTER_START")) {
    QElapsedTimer waited;
    waited.start();
    auto* poll = new QTimer(&application);
    QObject::connect(poll, &QTimer::timeout, [&app, &waited] {
      const QWidget* frame = app.MainFrame();
      const QWindow* window = frame != nullptr ? frame->windowHandle() : nullptr;
      if (window != nullptr && frame->isVisible() && window->isExposed()) {
        QApplication::exit(0);
      } else if (waited.elapsed() > 10000) {
        std::fputs("inkbrite: the main window did not appear\n", stderr);
        QApplication::exit(1);
      }
    });
    poll->start(20);
  }
  return QApplication::exec();
}
