// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's waits a reader feels, measured with QElapsedTimer in a shown
// main window (offscreen unless a display is set):
// - opening a 1700 x 2400 JPEG page until it is painted (target < 150 ms);
// - one parameter change until the new picture is painted: from posting the
//   change, as the parameter bar does, through the background thread's
//   polling wait (100 to 200 ms), the rendering and the swap, to the end of
//   the paint that shows the new page. For 1700 x 2400 and 6000 x 9000 pages,
//   fitted to the window and at 100 %. Each change comes at a different
//   moment of the polling cycle, so the figures spread over the wait.
// Prints the median and the 95th percentile in milliseconds.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "bench/bench_support.h"
#include "browse/commands.h"
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/inkbrite_view.h"
#include "browse/main_frame.h"
#include "formats/image_file.h"

namespace fs = std::filesystem;
using namespace inkbrite;

namespace {

// The p-th percentile (0 to 100) by the nearest-rank rule.
double Percentile(std::vector<double> ms, double p) {
  std::sort(ms.begin(), ms.end());
  const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(ms.size())));
  return ms[std::clamp<size_t>(rank, 1, ms.size()) - 1];
}

void Report(const char* what, const std::vector<double>& ms, double target = 0) {
  std::printf("%-44s median %7.1f ms  p95 %7.1f ms  (%zu runs)", what, Percentile(ms, 50),
              Percentile(ms, 95), ms.size());
  if (target > 0) {
    std::printf("  target < %.0f ms  %s", target, Percentile(ms, 50) < target ? "PASS" : "MISS");
  }
  std::printf("\n");
}

// Runs the event loop, sleeping between events, until `done`.
void WaitUntil(const std::function<bool()>& done) {
  QTimer tick;  // wakes the loop even when nothing else happens
  tick.start(5);
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Waits until the page on screen now has been painted.
void WaitPainted(const CInkbriteView* view) {
  WaitUntil([view] { return view->PaintedGeneration() >= view->DisplayGeneration(); });
}

fs::path WritePage(const fs::path& folder, int width, int height) {
  DibImage page = bench::MakePage(true);
  if (width != page.Width() || height != page.Height()) page.ResizeTo(width, height);
  const fs::path path =
      folder / ("page-" + std::to_string(width) + "x" + std::to_string(height) + ".jpg");
  if (!SaveImageFile(path, page, 0, 90)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  return path;
}

std::vector<double> MeasureOpen(CInkbriteApp& app, const fs::path& page) {
  std::vector<double> open;
  for (int run = 0; run < 9; ++run) {
    QElapsedTimer timer;
    timer.start();
    if (!app.OpenDocumentFile(page)) std::exit(1);
    CInkbriteView* view = app.MainFrame()->ActiveView();
    view->viewport()->repaint();
    open.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    app.MainFrame()->OnCommand(kCmdCloseAll);
    QApplication::processEvents();
  }
  return open;
}

// One change after another, each posted at a different point of the
// polling cycle; `fit` starts every change from the page fitted afresh.
std::vector<double> MeasureChange(CInkbriteApp& app, const fs::path& page, bool fit, int runs) {
  if (!app.OpenDocumentFile(page)) std::exit(1);
  CInkbriteView* view = app.MainFrame()->ActiveView();
  WaitPainted(view);
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    if (fit) {
      // A rendering shows the page at its full size: fit it again.
      if (view->IsFitToWindow()) view->OnCommand(kCmdFitWindow);
      view->OnCommand(kCmdFitWindow);
      WaitPainted(view);
    }
    QElapsedTimer pause;
    pause.start();
    WaitUntil([&] { return pause.elapsed() >= 23 * run % 200; });
    const uint64_t before = view->DisplayGeneration();
    const int sharpen = view->WorkingSet().GetValue(kSharpen) == 2 ? 3 : 2;  // always a change
    AppParams().SetValue(kSharpen, sharpen);
    QElapsedTimer timer;
    timer.start();
    QApplication::postEvent(view, new ParamChangeEvent(kSharpen, sharpen));
    WaitUntil([&] { return view->PaintedGeneration() > before; });
    ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  app.MainFrame()->OnCommand(kCmdCloseAll);
  QApplication::processEvents();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const fs::path folder = fs::temp_directory_path() / "inkbrite-bench-viewer";
  fs::create_directories(folder);
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  QApplication application(argc, argv);
  CInkbriteApp app;
  app.InitInstance(false);
  app.MainFrame()->resize(1280, 1000);
  app.MainFrame()->show();
  QApplication::processEvents();
  // A typical comic set.
  AppParams().SetValue(kBrightness, 110);
  AppParams().SetValue(kContrast, 120);
  AppParams().SetValue(kGamma, 90);

  const fs::path small = WritePage(folder, bench::kPageWidth, bench::kPageHeight);
  const fs::path large = WritePage(folder, 6000, 9000);
  Report("open 1700x2400 JPEG until painted", MeasureOpen(app, small), 150);
  Report("change to painted, 1700x2400 at 100 %", MeasureChange(app, small, false, 21));
  Report("change to painted, 1700x2400 fitted", MeasureChange(app, small, true, 21));
  Report("change to painted, 6000x9000 at 100 %", MeasureChange(app, large, false, 9));
  Report("change to painted, 6000x9000 fitted", MeasureChange(app, large, true, 9));
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
