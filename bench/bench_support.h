// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the benchmark programs: the standard 1700 x 2400 test page, a
// plain copy of its bytes as the yardstick, and a summary that gives every
// benchmark's time as a multiple of the copy.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite::bench {

inline constexpr int kPageWidth = 1700;
inline constexpr int kPageHeight = 2400;
inline constexpr const char* kCopyName = "Copy";
// The copy of the grey page's bytes, the yardstick of the grey rows.
inline constexpr const char* kGreyCopyName = "Copy grey";

inline uint32_t NextNoise(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// A page of deterministic noise (xorshift32), or, with `smooth`, of soft
// gradients with ink-like strokes, closer to a scan (fewer distinct colours).
inline DibImage MakePage(bool smooth) {
  DibImage image;
  if (!image.Create(kPageWidth, kPageHeight, 24)) {
    std::fprintf(stderr, "cannot create the %d x %d page\n", kPageWidth, kPageHeight);
    std::abort();
  }
  uint32_t state = 2463534242u;
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < image.Width(); ++x) {
      for (int c = 0; c < 3; ++c) {
        NextNoise(state);
        if (!smooth) {
          row[3 * x + c] = static_cast<uint8_t>(state >> 24);
        } else {
          const bool ink = ((x / 7 + y / 11) % 23) == 0;
          const int base = ink ? 20 : 180 + (x * (c + 1) + y) % 60;
          row[3 * x + c] = static_cast<uint8_t>(base + static_cast<int>(state >> 29));
        }
      }
    }
  }
  return image;
}

inline const DibImage& NoisePage() {
  static const DibImage page = MakePage(false);
  return page;
}

// A deterministic scan-like page: paper with grain, ink strokes, colour
// washes with gradients and sensor noise, so it holds a few hundred thousand
// distinct colours, as a scanned colour page does.
inline DibImage MakeScanPage() {
  DibImage image;
  if (!image.Create(kPageWidth, kPageHeight, 24)) {
    std::fprintf(stderr, "cannot create the %d x %d page\n", kPageWidth, kPageHeight);
    std::abort();
  }
  uint32_t state = 2463534242u;
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* p = image.Row(y);
    for (int x = 0; x < image.Width(); ++x, p += 3) {
      // Paper, slightly warm.
      double r = 236, g = 230, b = 218;
      // Panels of colour wash: a hue per panel, a gradient across it.
      const int panel = (y / 600) * 3 + x / 567;
      if (panel % 2 == 0) {
        const double t = (x % 567) / 567.0;
        r = 120 + 100 * std::sin(panel * 1.3) * (1 - t);
        g = 140 + 80 * std::cos(panel * 0.7) * t;
        b = 160 + 60 * std::sin(panel * 2.1 + t);
      }
      // Ink: panel borders and strokes along a family of curves.
      const bool border = x % 567 < 6 || y % 600 < 6;
      const double curve = std::sin(x * 0.013) * 40 + std::cos(y * 0.021) * 30;
      const bool stroke = std::fmod(std::abs(x * 0.5 + y * 0.8 + curve), 97.0) < 3.0;
      if (border || stroke) r = g = b = 25;
      // Sensor noise, -7 to +8 per channel.
      const uint32_t n = NextNoise(state);
      r += static_cast<int>(n & 15) - 7;
      g += static_cast<int>((n >> 4) & 15) - 7;
      b += static_cast<int>((n >> 8) & 15) - 7;
      p[0] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
      p[1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
      p[2] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
    }
  }
  return image;
}

inline const DibImage& ScanPage() {
  static const DibImage page = MakeScanPage();
  return page;
}

// The noise page greyed, as a page of grey levels (one byte a pixel): what a
// one-component scan is inside.
inline const DibImage& GreyNoisePage() {
  static const DibImage page = [] {
    const DibImage& wide = NoisePage();
    DibImage levels;
    if (!levels.CreateGreyLevels(wide.Width(), wide.Height())) std::abort();
    for (int y = 0; y < wide.Height(); ++y) {
      for (int x = 0; x < wide.Width(); ++x) levels.Row(y)[x] = wide.Row(y)[3 * x + 1];
    }
    return levels;
  }();
  return page;
}

inline size_t PixelBytes(const DibImage& image) {
  return static_cast<size_t>(image.RowBytes()) * static_cast<size_t>(image.Height());
}

inline void CopyBenchmark(benchmark::State& state, const DibImage& page) {
  const size_t size = PixelBytes(page);
  std::vector<uint8_t> target(size);
  for (auto _ : state) {
    std::memcpy(target.data(), page.Bits(), size);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// Runs `op` on a fresh copy of `page` each iteration; restoring the copy is
// not timed. Operations that change the page's size get a fresh DibImage.
inline void RunOnPage(benchmark::State& state, const DibImage& page,
                      const std::function<bool(DibImage&)>& op) {
  DibImage image;
  for (auto _ : state) {
    state.PauseTiming();
    image = page;
    state.ResumeTiming();
    if (!op(image)) {
      state.SkipWithError("the operation failed");
      break;
    }
    benchmark::DoNotOptimize(image.Bits());
    benchmark::ClobberMemory();
  }
}

inline void Register(const std::string& name, std::function<void(benchmark::State&)> fn) {
  benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& s) { fn(s); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

// Prints the usual console table and then each benchmark's time as a
// multiple of the copy, with PASS or MISS against `limit` (or the limit a
// name maps to in `limits`). The ratios are of processor time: every
// benchmark here runs on one thread, and on a shared machine the elapsed time
// also counts the moments another process held the core. With repetitions
// (RunAll asks for 5, interleaved) each time is the median of them.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // `yardsticks` maps a benchmark to the copy it is measured against
  // (kCopyName when not given).
  explicit RatioReporter(double limit, std::map<std::string, double> limits = {},
                         std::map<std::string, std::string> yardsticks = {})
      : m_limit(limit), m_limits(std::move(limits)), m_yardsticks(std::move(yardsticks)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      const std::string name = run.run_name.function_name;
      if (m_times.find(name) == m_times.end()) m_order.push_back(name);
      if (!median && m_fromMedian.count(name) != 0) continue;
      if (median) m_fromMedian.insert(name);
      const double seconds =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      m_times[name] = seconds * 1e3;
    }
  }

  // The processor time of benchmark `name` in milliseconds (the median of
  // its repetitions), or a negative value when it was not measured.
  double CpuMs(const std::string& name) const {
    const auto it = m_times.find(name);
    return it == m_times.end() ? -1.0 : it->second;
  }

  // Prints the table; returns the number of targets missed.
  int PrintSummary() const {
    const auto copy = m_times.find(kCopyName);
    if (copy == m_times.end() || copy->second <= 0.0) {
      std::printf("\nno copy time measured: no ratios\n");
      return 0;
    }
    int missed = 0;
    std::printf("\n%-36s %10s %10s %8s\n", "operation", "cpu ms", "x copy", "target");
    std::printf("%-36s %10.3f %10s\n", kCopyName, copy->second, "1.00");
    for (const std::string& name : m_order) {
      if (name == kCopyName) continue;
      const double ms = m_times.at(name);
      const auto yardstick = m_yardsticks.find(name);
      const double copyMs =
          yardstick == m_yardsticks.end() ? copy->second : CpuMs(yardstick->second);
      if (copyMs <= 0.0) continue;
      const double ratio = ms / copyMs;
      const auto it = m_limits.find(name);
      const double limit = it == m_limits.end() ? m_limit : it->second;
      missed += ratio <= limit ? 0 : 1;
      std::printf("%-36s %10.3f %10.2f %7.1fx  %s\n", name.c_str(), ms, ratio, limit,
                  ratio <= limit ? "PASS" : "MISS");
    }
    return missed;
  }

 private:
  double m_limit;
  std::map<std::string, double> m_limits;
  std::map<std::string, std::string> m_yardsticks;
  std::map<std::string, double> m_times;
  std::set<std::string> m_fromMedian;
  std::vector<std::string> m_order;
};

// Runs everything and prints the summary. Unless the command line says
// otherwise, each benchmark runs 5 times, the runs of all benchmarks
// interleaved in random order so that a burst of other load on the machine
// spreads over all of them, and only the aggregates are shown.
inline int RunAll(int argc, char** argv, RatioReporter& reporter) {
  std::vector<char*> args(argv, argv + argc);
  static char repetitions[] = "--benchmark_repetitions=5";
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  static char aggregates[] = "--benchmark_display_aggregates_only=true";
  bool given = false;
  for (int i = 1; i < argc; ++i) {
    given = given || std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
  }
  if (!given) args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintSummary();
  return 0;
}

inline void RegisterCopy() {
  Register(kCopyName, [](benchmark::State& s) { CopyBenchmark(s, NoisePage()); });
}
inline void RegisterGreyCopy() {
  Register(kGreyCopyName, [](benchmark::State& s) { CopyBenchmark(s, GreyNoisePage()); });
}

}  // namespace inkbrite::bench
