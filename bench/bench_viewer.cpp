// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's two waits a reader feels, measured with QElapsedTimer:
// opening a 1700 x 2400 JPEG page until it is painted, and the background
// re-rendering after one parameter change with a typical comic set
// (brightness 110, contrast 120, gamma 90, sharpen 3). Prints milliseconds,
// best and median of several runs. Targets: under 150 ms to open, under
// 100 ms to re-render.
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/bench_support.h"
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/inkbrite_view.h"
#include "browse/main_frame.h"
#include "browse/ui_services.h"
#include "formats/image_file.h"

namespace fs = std::filesystem;
using namespace inkbrite;

namespace {

void Report(const char* what, std::vector<double> ms, double target) {
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2];
  std::printf("%-34s best %7.1f ms  median %7.1f ms  target < %.0f ms  %s\n", what, ms.front(),
              median, target, median < target ? "PASS" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const fs::path folder = fs::temp_directory_path() / "inkbrite-bench-viewer";
  fs::create_directories(folder);
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  QApplication application(argc, argv);

  const fs::path page = folder / "page.jpg";
  if (!SaveImageFile(page, bench::MakePage(true), 0, 90)) {
    std::fprintf(stderr, "cannot write %s\n", page.c_str());
    return 1;
  }
  CInkbriteApp app;
  app.InitInstance(false);
  app.MainFrame()->resize(1280, 1000);
  app.MainFrame()->show();
  QApplication::processEvents();
  AppParams().SetValue(kBrightness, 110);
  AppParams().SetValue(kContrast, 120);
  AppParams().SetValue(kGamma, 90);

  std::vector<double> open, render;
  for (int run = 0; run < 7; ++run) {
    QElapsedTimer timer;
    timer.start();
    CInkbriteDoc* doc = app.OpenDocumentFile(page);
    if (!doc) return 1;
    CInkbriteView* view = app.MainFrame()->ActiveView();
    view->viewport()->repaint();
    open.push_back(timer.nsecsElapsed() / 1e6);

    // One change; the time from the rendering's start to the new page.
    const int starts = view->RenderStarts(), done = view->RenderCount();
    QApplication::postEvent(view, new ParamChangeEvent(kSharpen, run % 2 ? 3 : 2));
    while (view->RenderStarts() == starts) QApplication::processEvents();
    timer.restart();
    while (view->RenderCount() == done) {
    }
    render.push_back(timer.nsecsElapsed() / 1e6);
    app.MainFrame()->OnCommand(32780);  // close all
    QApplication::processEvents();
  }
  Report("open 1700x2400 JPEG until painted", open, 150);
  Report("re-render after one change", render, 100);
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
