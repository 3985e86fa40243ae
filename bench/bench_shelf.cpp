// SPDX-License-Identifier: GPL-2.0-or-later
// The shelf on a folder of N books (default 500; bench_shelf N), each a CBZ
// of two scan-like 850 x 1200 JPEG pages, in a shown window (offscreen
// unless a display is set). Measured against the time to list the folder
// (every name and its size and time, as `ls -l` reads them), so the figures
// are ratios that hold on a busy machine:
//   - the shelf shown (the grid filled with the books' names) and its first
//     screenful of covers, with an empty thumbnail cache and with the cache
//     the first round filled;
//   - a search over every book (name, title, series, writer);
//   - the memory the shown shelf holds, every cover arrived.
// Every other book has a stored place (its progress shown).
// The targets (500 books: 300 ms warm, 1.5 s cold, search 50 ms, 150 MB)
// are printed beside the milliseconds. Medians of three rounds.
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "browse/reading/reading_places.h"
#include "browse/widgets/shelf_view.h"
#include "formats/image_file.h"
#include "formats/thumbnail_image.h"
#include "tests/sources/archive_maker.h"

namespace fs = std::filesystem;
using namespace inkbrite;

namespace {

constexpr int kRounds = 3;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Ms(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

void WaitUntil(const std::function<bool()>& done) {
  QTimer tick;
  tick.start(2);
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The resident memory of the process, in MiB.
double ResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

// What `ls -l` reads: every entry's name, size and time.
double ListFolder(const fs::path& folder) {
  QElapsedTimer timer;
  timer.start();
  size_t entries = 0;
  uintmax_t bytes = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    bytes += entry.file_size();
    entries += entry.last_write_time().time_since_epoch().count() != 0 ? 1 : 0;
  }
  const double ms = Ms(timer);
  if (entries == 0 || bytes == 0) std::abort();
  return ms;
}

bool ScreenfulArrived(const CShelfView& shelf) {
  const QRect area = shelf.Grid()->viewport()->rect();
  int onScreen = 0;
  for (int row = 0; row < shelf.Count(); ++row) {
    if (!shelf.Grid()->visualRect(shelf.Grid()->model()->index(row, 0)).intersects(area)) {
      continue;
    }
    ++onScreen;
    if (!shelf.CoverArrived(row)) return false;
  }
  return onScreen > 0;
}

struct Round {
  double shown = 0, screenful = 0, search = 0, memory = 0;
};

Round Measure(const fs::path& folder, int books) {
  Round round;
  const double before = ResidentMiB();
  QElapsedTimer timer;
  timer.start();
  CShelfView shelf(folder);
  shelf.resize(1280, 900);
  shelf.show();
  QApplication::processEvents();
  round.shown = Ms(timer);
  WaitUntil([&shelf] { return ScreenfulArrived(shelf); });
  round.screenful = Ms(timer);
  WaitUntil([&shelf] { return shelf.AllArrived(); });
  round.memory = ResidentMiB() - before;
  timer.restart();
  shelf.SetSearch(QStringLiteral("Vol %1").arg(books / 2));
  round.search = Ms(timer);
  if (shelf.Count() < 1) std::abort();
  shelf.SetSearch(QString());
  return round;
}

void Report(const char* what, const std::vector<double>& ms, double list, double target) {
  const double median = Median(ms);
  std::printf("%-44s %8.1f ms  %7.1fx the listing  target < %.0f ms  %s\n", what, median,
              median / list, target, median < target ? "PASS" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int books = argc > 1 ? std::clamp(std::atoi(argv[1]), 10, 5000) : 500;
  const fs::path work = fs::temp_directory_path() / "inkbrite-bench-shelf";
  fs::remove_all(work);
  fs::create_directories(work / "shelf");
  setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
  setenv("XDG_STATE_HOME", (work / "state").c_str(), 1);
  QApplication application(argc, argv);

  // Two pages a book, the first one told apart by its book's number so no
  // two covers are the same file.
  DibImage page = bench::ScanPage();
  if (!ShrinkToFit(page, 1200) || !SaveImageFile(work / "page.jpg", page, 0, 80)) {
    std::fprintf(stderr, "cannot make the page\n");
    return 1;
  }
  std::vector<uint8_t> jpeg;
  {
    std::ifstream in(work / "page.jpg", std::ios::binary);
    jpeg.assign(std::istreambuf_iterator<char>(in), {});
  }
  for (int n = 1; n <= books; ++n) {
    std::vector<uint8_t> first = jpeg;
    first.push_back(static_cast<uint8_t>(n));  // after the JPEG's end: ignored by readers
    first.push_back(static_cast<uint8_t>(n >> 8));
    test::WriteArchive(work / "shelf" / ("Vol " + std::to_string(n) + ".cbz"),
                       test::MadeFormat::kZipStored, {{"001.jpg", first}, {"002.jpg", jpeg}});
  }
  // A reader's shelf: every other book begun or read, its place stored
  // (and some places of books since moved away), as the shelf reads them.
  for (int n = 1; n <= books; n += 2) {
    ReadingPlace place;
    place.page = n % 4 == 1 ? "001.jpg" : "002.jpg";
    place.number = n % 4 == 1 ? 1 : 2;
    place.count = 2;
    place.lastRead = 1700000000 + n;
    SaveReadingPlace(work / "shelf" / ("Vol " + std::to_string(n) + ".cbz"), place);
    SaveReadingPlace(work / "gone" / ("Old " + std::to_string(n) + ".cbz"), place);
  }
  WriteReadingPlaces();
  std::printf("%d books of 2 pages (%d x %d JPEG, %zu bytes), %d begun\n", books, page.Width(),
              page.Height(), jpeg.size(), (books + 1) / 2);

  std::vector<double> list, shown, screenful, warmShown, warmScreenful, search, memory;
  for (int round = 0; round < kRounds; ++round) {
    list.push_back(ListFolder(work / "shelf"));
    setenv("XDG_CACHE_HOME", (work / ("cache" + std::to_string(round))).c_str(), 1);
    const Round cold = Measure(work / "shelf", books);
    const Round warm = Measure(work / "shelf", books);
    shown.push_back(cold.shown);
    screenful.push_back(cold.screenful);
    warmShown.push_back(warm.shown);
    warmScreenful.push_back(warm.screenful);
    search.push_back(warm.search);
    memory.push_back(cold.memory);
  }
  const double listed = Median(list);
  std::printf("listing the folder (names, sizes, times): %.2f ms\n", listed);
  Report("empty cache: shelf shown", shown, listed, 1500);
  Report("empty cache: first screenful of covers", screenful, listed, 1500);
  Report("filled cache: shelf shown", warmShown, listed, 300);
  Report("filled cache: first screenful of covers", warmScreenful, listed, 300);
  Report("search over every book", search, listed, 50);
  const double mib = Median(memory);
  std::printf("%-44s %8.1f MiB  target < 150 MiB  %s\n", "memory of the shelf, every cover in", mib,
              mib < 150 ? "PASS" : "MISS");
  std::error_code ec;
  fs::remove_all(work, ec);
  return 0;
}
