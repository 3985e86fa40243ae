// SPDX-License-Identifier: GPL-2.0-or-later
// The thumbnail strip on a 200-page folder of 1700 x 2400 JPEG pages (a
// scan-like page), in a shown main window (offscreen unless a display is
// set): from turning the strip on until the thumbnails on screen are shown
// (target 1 s) and until every page's is (target 10 s), with an empty cache
// (each round its own) and again with the cache the first round filled.
// Prints the median of the rounds.
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "browse/inkbrite_app.h"
#include "browse/services/commands.h"
#include "browse/widgets/main_frame.h"
#include "browse/widgets/thumbnail_strip.h"
#include "formats/image_file.h"

namespace fs = std::filesystem;
using namespace inkbrite;

namespace {

constexpr int kPages = 200;
constexpr int kRounds = 3;

double Median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void WaitUntil(const std::function<bool()>& done) {
  QTimer tick;
  tick.start(2);
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// True when every thumbnail on screen has arrived.
bool ScreenfulShown(const CThumbnailStrip* strip) {
  const QListWidget* list = strip->List();
  const QRect area = list->viewport()->rect();
  int onScreen = 0;
  for (int i = 0; i < list->count(); ++i) {
    if (!list->visualItemRect(list->item(i)).intersects(area)) continue;
    ++onScreen;
    if (strip->StateAt(i + 1) == CThumbnailStrip::ItemState::kWaiting) return false;
  }
  return onScreen > 0;
}

struct Round {
  double screenful = 0;
  double all = 0;
  int onScreen = 0;
};

Round Measure(CInkbriteApp& app, const fs::path& first) {
  CMainFrame* frame = app.MainFrame();
  app.OpenDocumentFile(first);
  CThumbnailStrip* strip = frame->ThumbnailStrip();
  QElapsedTimer timer;
  timer.start();
  frame->Action(kCmdThumbnails)->trigger();  // on
  Round round;
  WaitUntil([strip] { return ScreenfulShown(strip); });
  round.screenful = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  WaitUntil([strip] { return strip->AllArrived(); });
  round.all = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  const QRect area = strip->List()->viewport()->rect();
  for (int i = 0; i < strip->Count(); ++i) {
    if (strip->List()->visualItemRect(strip->List()->item(i)).intersects(area)) ++round.onScreen;
  }
  frame->Action(kCmdThumbnails)->trigger();  // off
  frame->Action(kCmdCloseAll)->trigger();
  QApplication::processEvents();
  return round;
}

void Report(const char* what, const std::vector<double>& ms, double target) {
  const double median = Median(ms);
  std::printf("%-48s median %8.1f ms  (%zu rounds)  target < %.0f ms  %s\n", what, median,
              ms.size(), target, median < target ? "PASS" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const fs::path folder = fs::temp_directory_path() / "inkbrite-bench-thumbnails";
  fs::remove_all(folder);
  fs::create_directories(folder / "pages");
  setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
  QApplication application(argc, argv);
  CInkbriteApp app;
  app.InitInstance(false);
  app.MainFrame()->resize(1280, 1000);
  app.MainFrame()->show();
  QApplication::processEvents();

  // One scan-like page under 200 names: every page costs a real decode.
  const fs::path page = folder / "pages" / "page-001.jpg";
  if (!SaveImageFile(page, bench::ScanPage(), 0, 90)) {
    std::fprintf(stderr, "cannot write %s\n", page.c_str());
    return 1;
  }
  for (int i = 2; i <= kPages; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%03d.jpg", i);
    fs::copy_file(page, folder / "pages" / name);
  }
  std::printf("%d pages of %dx%d JPEG (%ju bytes each)\n", kPages, bench::kPageWidth,
              bench::kPageHeight, static_cast<uintmax_t>(fs::file_size(page)));

  std::vector<double> screenful, all, warmScreenful, warmAll;
  int onScreen = 0;
  for (int round = 0; round < kRounds; ++round) {
    const fs::path cache = folder / ("cache" + std::to_string(round));
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const Round cold = Measure(app, page);
    screenful.push_back(cold.screenful);
    all.push_back(cold.all);
    onScreen = cold.onScreen;
    const Round warm = Measure(app, page);
    warmScreenful.push_back(warm.screenful);
    warmAll.push_back(warm.all);
  }
  std::printf("%d thumbnails on screen\n", onScreen);
  Report("empty cache: first screenful shown", screenful, 1000);
  Report("empty cache: all 200 thumbnails shown", all, 10000);
  Report("filled cache: first screenful shown", warmScreenful, 1000);
  Report("filled cache: all 200 thumbnails shown", warmAll, 10000);
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
