// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's waits a reader feels, measured with QElapsedTimer in a shown
// main window (offscreen unless a display is set), each against its target
// with the ratio and PASS or MISS:
// - a parameter change until the new picture is painted (from posting the
//   change, as the parameter bar does, through the background rendering and
//   the swap, to the end of the paint that shows it): 1700 x 2400 fitted,
//   median and 95th percentile; 6000 x 9000 fitted; both at 100 % too (the
//   first picture of 6000 x 9000 is the part in view, the whole page
//   follows: both are timed);
// - the next page, read ahead, from the page command to the page painted,
//   one page and two pages side by side (fitted); the same pages in a CBZ
//   and in a solid 7z book (CB7), each against the folder;
// - an 8000 x 12000 JPEG from opening to its first picture painted, and the
//   longest the event loop (keys, menus) waits until its full page is shown;
//   the same for an 8000 x 12000 PNG and for that JPEG as a CBZ's page;
// - the memory the viewer holds with that page open (fitted), against its
//   decoded size;
// - a cold start: `inkbrite PAGE` run as a process, from starting it until
//   it reports the page painted (INKBRITE_QUIT_AFTER_PAGE), and until it
//   has ended.
// - a strip of 300 slices (800 x 1280 JPEG) in the continuous layout,
//   scrolled at 60 steps a second from end to end: the interface thread's
//   work per step (taking decoded pages, scrolling, painting), median and
//   95th percentile against a frame (16 ms); the steps that showed a page
//   not decoded yet; the pixels of the pages held, and the resident memory
//   added, as screens of the column; opening the strip again at its
//   remembered place until every page in view is painted;
// - one page of 800 x 60,000 JPEG (a chapter in one image) in the same
//   layout, scrolled the same way for 600 steps: the same figures.
// Every figure is the median over BENCH_ROUNDS rounds (default 3) of each
// round's median.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#ifdef INKBRITE_BENCH_BOOKS
#include "tests/sources/archive_maker.h"
#endif
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/services/commands.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/main_frame.h"
#include "browse/widgets/strip_view.h"
#include "formats/image_file.h"

namespace fs = std::filesystem;
using namespace inkbrite;

namespace {

// The p-th percentile (0 to 100) by the nearest-rank rule.
double Percentile(std::vector<double> ms, double p) {
  if (ms.empty()) return 0;
  std::sort(ms.begin(), ms.end());
  const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(ms.size())));
  return ms[std::clamp<size_t>(rank, 1, ms.size()) - 1];
}

// Each figure's value per round, in the order first reported.
std::vector<std::string> g_order;
std::map<std::string, std::vector<double>> g_rounds;
std::map<std::string, std::pair<double, std::string>> g_targets;  // limit, unit

void Record(const std::string& what, double value, double target = 0, const char* unit = "ms") {
  if (!g_rounds.count(what)) g_order.push_back(what);
  g_rounds[what].push_back(value);
  g_targets[what] = {target, unit};
  std::printf("  %-52s %9.1f %s\n", what.c_str(), value, unit);
}

void PrintSummary(int rounds) {
  std::printf("\nMedians of %d rounds:\n", rounds);
  int misses = 0;
  for (const std::string& what : g_order) {
    const double value = Percentile(g_rounds[what], 50);
    const auto& [target, unit] = g_targets[what];
    std::printf("%-52s %9.1f %-2s", what.c_str(), value, unit.c_str());
    if (target > 0) {
      const bool pass = value <= target;
      misses += pass ? 0 : 1;
      std::printf("  target <= %5.0f %-2s  ratio %5.2f  %s", target, unit.c_str(), value / target,
                  pass ? "PASS" : "MISS");
    }
    std::printf("\n");
  }
  std::printf("%d target(s) missed\n", misses);
}

// Runs the event loop, sleeping between events, until `done`.
void WaitUntil(const std::function<bool()>& done) {
  QTimer tick;  // wakes the loop even when nothing else happens
  tick.start(1);
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool Painted(const CInkbriteView* view) {
  return view->PaintedGeneration() >= view->DisplayGeneration() && !view->DisplayedSize().isEmpty();
}

// Waits until the page on screen now has been painted.
void WaitPainted(const CInkbriteView* view) {
  WaitUntil([view] { return Painted(view); });
}

// Waits until a page loading in the background is in place and rendered.
void WaitLoaded(CInkbriteDoc* doc, CInkbriteView* view) {
  if (doc->IsLoading()) {
    const int rendered = view->RenderCount();
    WaitUntil([&] { return !doc->IsLoading(); });
    WaitUntil([&] { return view->RenderCount() > rendered; });
  }
  WaitPainted(view);
}

fs::path WritePage(const fs::path& path, int width, int height) {
  static const DibImage base = bench::MakePage(true);
  DibImage page = base;
  if (width != page.Width() || height != page.Height()) page.ResizeTo(width, height);
  if (!SaveImageFile(path, page, 0, 90)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  return path;
}

CInkbriteView* Open(CInkbriteApp& app, const fs::path& page) {
  if (!app.OpenDocumentFile(page)) {
    std::fprintf(stderr, "cannot open %s\n", page.c_str());
    std::exit(1);
  }
  return app.MainFrame()->ActiveView();
}

void CloseAll(CInkbriteApp& app) {
  app.MainFrame()->Action(kCmdCloseAll)->trigger();
  QApplication::processEvents();
}

// One change after another, each posted at a different moment; `fit` shows
// the page fitted to the window. Returns the times to the first picture,
// and to the whole page (in `whole`, when given: then each change waits for
// it before the next).
std::vector<double> MeasureChange(CInkbriteApp& app, const fs::path& page, bool fit, int runs,
                                  std::vector<double>* whole = nullptr) {
  CInkbriteView* view = Open(app, page);
  WaitLoaded(view->Document(), view);
  if (fit != view->IsFitToWindow()) view->ToggleFitToWindow();
  WaitUntil([view] { return !view->RenderPending(); });
  WaitPainted(view);
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    QElapsedTimer pause;
    pause.start();
    WaitUntil([&] { return pause.elapsed() >= 7 * run % 50; });
    const uint64_t before = view->DisplayGeneration();
    const int rendered = view->RenderCount();
    const int brightness = view->WorkingSet().GetValue(kBrightness) == 110 ? 112 : 110;
    AppParams().SetValue(kBrightness, brightness);
    QElapsedTimer timer;
    timer.start();
    QApplication::postEvent(view, new ParamChangeEvent(kBrightness, brightness));
    WaitUntil([&] { return view->PaintedGeneration() > before; });
    ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    if (whole != nullptr) {
      WaitUntil([&] { return view->RenderCount() > rendered && Painted(view); });
      whole->push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
  }
  if (view->IsFitToWindow()) view->ToggleFitToWindow();  // the next window starts unfitted
  CloseAll(app);
  return ms;
}

// The next page of a folder (opened at `first`) or a book of `count` pages,
// read ahead, fitted; `twoPages` side by side.
std::vector<double> MeasureNextPage(CInkbriteApp& app, const fs::path& first, size_t count,
                                    bool twoPages) {
  CInkbriteView* view = Open(app, first);
  CInkbriteDoc* doc = view->Document();
  // A folder or book reopens at the page and in the layout the last round
  // left it in.
  app.MainFrame()->Action(twoPages ? kCmdTwoPages : kCmdSinglePage)->trigger();
  app.MainFrame()->Action(kCmdFirstPage)->trigger();
  view->ToggleFitToWindow();
  WaitPainted(view);
  std::vector<double> ms;
  const int turns = static_cast<int>(count) / (twoPages ? 2 : 1) - 1;
  for (int run = 0; run < turns; ++run) {
    // The next page (or spread) decoded ahead.
    const std::shared_ptr<PageSource> source = doc->DirList().Source();
    const int last = twoPages ? doc->Shown().last() + 1 : doc->DirList().GetCurrentIndex();
    const size_t next = doc->DirList().PageAt(last + 1).index;
    WaitUntil([&] { return doc->Prefetch().Holds(source, next); });
    if (twoPages) {
      const size_t after = doc->DirList().PageAt(last + 2).index;
      WaitUntil([&] { return doc->Prefetch().Holds(source, after); });
    }
    const uint64_t painted = view->PaintedGeneration();
    QElapsedTimer timer;
    timer.start();
    app.MainFrame()->Action(kCmdNextPage)->trigger();
    WaitUntil([&] { return view->PaintedGeneration() > painted && Painted(view); });
    ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  if (twoPages) app.MainFrame()->Action(kCmdSinglePage)->trigger();  // remembered for the folder
  view->ToggleFitToWindow();
  CloseAll(app);
  return ms;
}

// Resident memory of this process in bytes.
double ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) * 1024.0;
  }
  return 0;
}

struct BigPageFigures {
  double firstPicture = 0;
  double longestStall = 0;
  double openCall = 0;
  double memoryRatio = 0;
};

// The big page (a file, or a book at its first page) opened in a window
// that fits pages: from opening to its first picture painted (a JPEG file's
// reduced picture, else the full page fitted); the opening call itself; the
// longest the event loop (keys, menus) waits after it until the full page is
// painted; then the memory held with it open.
BigPageFigures MeasureBigPage(CInkbriteApp& app, const fs::path& big, const fs::path& before) {
  BigPageFigures figures;
  CInkbriteView* view = Open(app, before);
  CInkbriteDoc* doc = view->Document();
  view->ToggleFitToWindow();
  WaitPainted(view);
  const double resident = ResidentBytes();
  const int rendered = view->RenderCount();
  QElapsedTimer timer;
  timer.start();
  if (!doc->OnOpenDocument(big)) std::exit(1);
  figures.openCall = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  if (!doc->IsLoading()) std::printf("  (the big page did not load in the background)\n");
  const bool reduced = doc->IsLoadingReduced();
  // A zero-time timer after another until the full page is on screen.
  while (doc->IsLoading() || view->RenderPending() || !Painted(view)) {
    if (reduced && figures.firstPicture == 0 && !doc->IsLoadingReduced() &&
        view->RenderCount() > rendered && Painted(view)) {
      figures.firstPicture = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
    bool fired = false;
    QElapsedTimer waited;
    waited.start();
    QTimer::singleShot(0, [&fired] { fired = true; });
    WaitUntil([&fired] { return fired; });
    figures.longestStall =
        std::max(figures.longestStall, static_cast<double>(waited.nsecsElapsed()) / 1e6);
    QElapsedTimer pause;
    pause.start();
    WaitUntil([&pause] { return pause.elapsed() >= 3; });
  }
  if (figures.firstPicture == 0)
    figures.firstPicture = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  const double decoded = 3.0 * doc->Page().Width() * doc->Page().Height();
  figures.memoryRatio = (ResidentBytes() - resident) / decoded;
  view->ToggleFitToWindow();
  CloseAll(app);
  return figures;
}

struct ColdStart {
  double painted = 0;  // from starting the process to its report of the page painted (0: none)
  double ended = 0;    // to the end of the process
};

// `inkbrite PAGE` until the page is painted, the process included.
ColdStart MeasureColdStart(const fs::path& program, const fs::path& page, const fs::path& config) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("INKBRITE_QUIT_AFTER_PAGE", "1");
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
  env.insert("XDG_STATE_HOME", QString::fromStdString(config.string()));
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  ColdStart times;
  QElapsedTimer timer;
  timer.start();
  process.start(QString::fromStdString(program.string()),
                {QStringLiteral("--"), QString::fromStdString(page.string())});
  // The report is read as soon as it is written.
  QByteArray output;
  while (times.painted == 0 && process.waitForReadyRead(30000)) {
    output += process.readAll();
    if (output.contains("painted\n")) {
      times.painted = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }
  }
  // (A build that does not report the page gives its end only.)
  const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(30000);
  if (!ended || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    std::fprintf(stderr, "cannot time %s\n", program.c_str());
    return {};
  }
  times.ended = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  return times;
}

// BENCH_ONLY=change,next,big,cold limits the run to those groups.
struct StripFigures {
  std::vector<double> steps;   // ms of the interface thread's work per step
  double blankShare = 0;       // share of steps that painted a page not decoded yet
  double heldScreens = 0;      // the pages held at most, in screens of the column
  double residentScreens = 0;  // resident memory added at most, in screens (24-bit)
  double reopen = 0;           // ms from opening at the remembered place to painted
};

bool StripPainted(CStripView* strip) {
  const int view = strip->viewport()->height();
  for (int page : strip->Layout().PagesInView(strip->Scroll(), view)) {
    if (!strip->HasPicture(page)) return false;
  }
  return !strip->RenderPendingInView();
}

// The strip opened at its first slice, in the continuous layout, scrolled
// at 60 steps a second of 40 rows each to its end; then opened again at
// the slice it rested on (at most `most` steps).
StripFigures MeasureStrip(CInkbriteApp& app, const std::vector<fs::path>& slices,
                          int most = 1 << 30) {
  StripFigures figures;
  CInkbriteView* view = Open(app, slices.front());
  if (!view->IsContinuous()) app.MainFrame()->Action(kCmdContinuous)->trigger();
  CStripView* strip = view->Strip();
  strip->ScrollTo(0);
  WaitUntil([&] { return StripPainted(strip); });
  const int height = strip->viewport()->height();
  const double screenPixels = double(strip->Layout().Column()) * height;
  const double residentBefore = ResidentBytes();
  const int blankBefore = strip->BlankPaints();
  int64_t mostHeld = 0;
  double mostResident = 0;
  constexpr double kStepMs = 1000.0 / 60;
  QElapsedTimer clock;
  clock.start();
  int step = 0;
  while (strip->Scroll() < strip->Layout().MaxScroll(height) && step < most) {
    ++step;
    // Idle until the step's moment, then the step's work: the events due
    // (decoded pages taken, renderings posted), the scroll and the paint.
    while (static_cast<double>(clock.nsecsElapsed()) / 1e6 < step * kStepMs) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    }
    QElapsedTimer work;
    work.start();
    QApplication::processEvents();
    strip->ScrollTo(strip->Scroll() + 40);
    strip->viewport()->repaint();
    figures.steps.push_back(static_cast<double>(work.nsecsElapsed()) / 1e6);
    mostHeld = std::max(mostHeld, strip->HeldPixels());
    if (step % 30 == 0) mostResident = std::max(mostResident, ResidentBytes() - residentBefore);
  }
  figures.blankShare = double(strip->BlankPaints() - blankBefore) / std::max(step, 1);
  figures.heldScreens = double(mostHeld) / screenPixels;
  figures.residentScreens = mostResident / (screenPixels * 3);
  // Back a little, resting there: the place is kept.
  const int restOn = std::min(150, strip->Layout().Count() - 1);
  strip->ScrollTo(strip->Layout().ScrollFor({restOn, restOn > 0 ? 0.5 : 0.3}, height));
  QElapsedTimer rest;
  rest.start();
  WaitUntil([&] { return rest.elapsed() > 600; });
  const fs::path restedOn = slices[static_cast<size_t>(strip->Place().page)];
  CloseAll(app);
  QElapsedTimer reopen;
  reopen.start();
  CInkbriteView* again = Open(app, restedOn);
  WaitUntil([&] { return again->Strip() != nullptr && StripPainted(again->Strip()); });
  again->Strip()->viewport()->repaint();
  figures.reopen = static_cast<double>(reopen.nsecsElapsed()) / 1e6;
  CloseAll(app);
  return figures;
}

bool Runs(const char* group) {
  const char* only = std::getenv("BENCH_ONLY");
  return only == nullptr || *only == '\0' || std::strstr(only, group) != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const fs::path folder = fs::temp_directory_path() / "inkbrite-bench-viewer";
  fs::remove_all(folder);
  fs::create_directories(folder / "book");
  fs::create_directories(folder / "big");
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  setenv("XDG_STATE_HOME", folder.c_str(), 1);
  const fs::path program =
      fs::absolute(fs::path(argv[0])).parent_path().parent_path() / "app" / "inkbrite";
  const char* roundsText = std::getenv("BENCH_ROUNDS");
  const int rounds = std::max(1, roundsText ? std::atoi(roundsText) : 3);
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

  const fs::path small =
      WritePage(folder / "page-1700x2400.jpg", bench::kPageWidth, bench::kPageHeight);
  const fs::path large = WritePage(folder / "page-6000x9000.jpg", 6000, 9000);
  const fs::path big = WritePage(folder / "big" / "a-8000x12000.jpg", 8000, 12000);
  const fs::path afterBig =
      WritePage(folder / "big" / "b-1700x2400.jpg", bench::kPageWidth, bench::kPageHeight);
  const fs::path bigPng =
      Runs("big") ? WritePage(folder / "big" / "a-8000x12000.png", 8000, 12000) : fs::path();
  std::vector<fs::path> book;
  for (int i = 0; i < 9; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.jpg", i + 1);
    book.push_back(WritePage(folder / "book" / name, bench::kPageWidth, bench::kPageHeight));
  }
  std::vector<fs::path> slices;
  fs::path chapter;
  if (Runs("tall")) {
    fs::create_directories(folder / "tall");
    // The scan-like page at 800 wide, over and over down the image.
    DibImage page = bench::MakePage(true), tall;
    page.ResizeTo(800, 800 * page.Height() / page.Width());
    if (!tall.Create(800, 60000, 24)) return 1;
    for (int32_t y = 0; y < tall.Height(); ++y) {
      std::memcpy(tall.Row(y), page.Row(y % page.Height()), size_t{800} * 3);
    }
    chapter = folder / "tall" / "chapter.jpg";
    if (!SaveImageFile(chapter, tall, 0, 90)) return 1;
  }
  if (Runs("strip")) {
    fs::create_directories(folder / "strip");
    // One slice written, the others copies of it: what is measured is the
    // decoding and drawing, whatever the slices show.
    const fs::path first = WritePage(folder / "strip" / "s001.jpg", 800, 1280);
    for (int i = 0; i < 300; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "s%03d.jpg", i + 1);
      if (i > 0) fs::copy_file(first, folder / "strip" / name);
      slices.push_back(folder / "strip" / name);
    }
  }
#ifdef INKBRITE_BENCH_BOOKS
  // The same pages as books: a stored zip, and a 7z, which libarchive writes
  // solid (one compressed stream: a page is reached by unpacking the ones
  // before it).
  std::vector<test::MadeEntry> entries;
  for (const fs::path& page : book) {
    std::vector<uint8_t> bytes(fs::file_size(page));
    std::ifstream in(page, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    entries.emplace_back(page.filename().string(), std::move(bytes));
  }
  const fs::path cbzBook = folder / "book.cbz";
  const fs::path solidBook = folder / "book.cb7";
  test::WriteArchive(cbzBook, test::MadeFormat::kZipStored, entries);
  test::WriteArchive(solidBook, test::MadeFormat::kSevenZip, entries);
  // The big JPEG as a book's only page.
  const fs::path bigBook = folder / "big.cbz";
  {
    std::vector<uint8_t> bytes(fs::file_size(big));
    std::ifstream in(big, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    test::WriteArchive(bigBook, test::MadeFormat::kZipStored, {{"001.jpg", std::move(bytes)}});
  }
#endif

  for (int round = 1; round <= rounds; ++round) {
    std::printf("Round %d\n", round);
    if (Runs("change")) {
      const std::vector<double> fitted = MeasureChange(app, small, true, 21);
      Record("change to painted, 1700x2400 fitted, median", Percentile(fitted, 50), 30);
      Record("change to painted, 1700x2400 fitted, p95", Percentile(fitted, 95), 60);
      Record("change to painted, 1700x2400 at 100 %, median",
             Percentile(MeasureChange(app, small, false, 11), 50));
      Record("change to first picture, 6000x9000 fitted, median",
             Percentile(MeasureChange(app, large, true, 9), 50), 80);
      Record("change to first picture, 6000x9000 at 100 %, median",
             Percentile(MeasureChange(app, large, false, 9), 50), 80);
      std::vector<double> whole;
      MeasureChange(app, large, false, 5, &whole);
      Record("change to whole page painted, 6000x9000 at 100 %, median", Percentile(whole, 50));
    }
    if (Runs("next")) {
      const double next = Percentile(MeasureNextPage(app, book.front(), book.size(), false), 50);
      Record("next page (read ahead) to painted, median", next, 30);
      Record("next spread (two pages, read ahead), median",
             Percentile(MeasureNextPage(app, book.front(), book.size(), true), 50), 50);
#ifdef INKBRITE_BENCH_BOOKS
      // A book's next page may cost at most 10 ms more than a folder's.
      const double cbz = Percentile(MeasureNextPage(app, cbzBook, book.size(), false), 50);
      Record("next page of a CBZ, median", cbz);
      Record("CBZ next page over the folder's", cbz - next, 10);
      const double cb7 = Percentile(MeasureNextPage(app, solidBook, book.size(), false), 50);
      Record("next page of a solid CB7, median", cb7);
      Record("solid CB7 next page over the folder's", cb7 - next, 10);
#endif
    }
    if (Runs("big")) {
      const BigPageFigures bigPage = MeasureBigPage(app, big, afterBig);
      Record("8000x12000 JPEG opened to first picture", bigPage.firstPicture, 400);
      Record("opening call, 8000x12000 JPEG", bigPage.openCall);
      Record("longest wait for a key while 8000x12000 loads", bigPage.longestStall, 50);
      Record("memory with 8000x12000 open / its decoded size", bigPage.memoryRatio, 2.0, "x");
      const BigPageFigures png = MeasureBigPage(app, bigPng, afterBig);
      Record("8000x12000 PNG opened to fitted page", png.firstPicture);
      Record("opening call, 8000x12000 PNG", png.openCall);
      Record("longest wait for a key while 8000x12000 PNG loads", png.longestStall, 50);
#ifdef INKBRITE_BENCH_BOOKS
      const BigPageFigures cbz = MeasureBigPage(app, bigBook, afterBig);
      Record("8000x12000 CBZ page opened to first picture", cbz.firstPicture);
      Record("opening call, 8000x12000 CBZ page", cbz.openCall);
      Record("longest wait for a key while the CBZ page loads", cbz.longestStall, 50);
#endif
    }
    if (Runs("strip")) {
      const StripFigures strip = MeasureStrip(app, slices);
      Record("strip of 300 slices, work per step at 60/s, median", Percentile(strip.steps, 50), 16);
      Record("strip of 300 slices, work per step at 60/s, p95", Percentile(strip.steps, 95), 16);
      Record("strip steps painting a page not decoded yet", 100 * strip.blankShare, 0, "%");
      Record("strip pages held at most / one screen", strip.heldScreens, 3, "x");
      Record("strip resident memory added / one screen", strip.residentScreens, 0, "x");
      Record("strip opened at its place to painted", strip.reopen, 150);
    }
    if (Runs("tall")) {
      const StripFigures tall = MeasureStrip(app, {chapter}, 600);
      Record("800x60000 page, work per step at 60/s, median", Percentile(tall.steps, 50), 16);
      Record("800x60000 page, work per step at 60/s, p95", Percentile(tall.steps, 95), 16);
      Record("800x60000 page, steps painting a piece not decoded yet", 100 * tall.blankShare, 0,
             "%");
      Record("800x60000 page, pieces held at most / one screen", tall.heldScreens, 0, "x");
      Record("800x60000 page, resident memory added / one screen", tall.residentScreens, 0, "x");
      Record("800x60000 page opened at its place to painted", tall.reopen, 150);
    }
    if (Runs("cold")) {
      // BENCH_COLD_BEFORE names another build of the viewer (an earlier
      // one), timed in turn with this one for a comparison in one run.
      const char* before = std::getenv("BENCH_COLD_BEFORE");
      std::vector<double> painted, ended, beforePainted, beforeEnded;
      for (int i = 0; i < 5; ++i) {
        const ColdStart times = MeasureColdStart(program, small, folder);
        painted.push_back(times.painted);
        ended.push_back(times.ended);
        if (before != nullptr && *before != '\0') {
          const ColdStart earlier = MeasureColdStart(before, small, folder);
          beforePainted.push_back(earlier.painted);
          beforeEnded.push_back(earlier.ended);
        }
      }
      Record("cold start `inkbrite PAGE` to page painted", Percentile(painted, 50), 300);
      Record("cold start `inkbrite PAGE` to the process ended", Percentile(ended, 50));
      if (!beforeEnded.empty()) {
        if (Percentile(beforePainted, 0) > 0) {
          Record("cold start of BENCH_COLD_BEFORE to page painted", Percentile(beforePainted, 50));
        }
        Record("cold start of BENCH_COLD_BEFORE to the process ended", Percentile(beforeEnded, 50));
      }
    }
  }
  PrintSummary(rounds);
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
