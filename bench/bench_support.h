// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the benchmark programs: the standard 1700 x 2400 test page, a
// plain copy of its bytes as the yardstick, and a summary that gives every
// benchmark's time as a multiple of the copy.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite::bench {

inline constexpr int kPageWidth = 1700;
inline constexpr int kPageHeight = 2400;
inline constexpr const char* kCopyName = "Copy";

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
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
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

inline size_t PixelBytes(const DibImage& image) {
  return static_cast<size_t>(image.RowBytes()) * static_cast<size_t>(image.Height());
}

inline void CopyBenchmark(benchmark::State& state) {
  const DibImage& page = NoisePage();
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
// multiple of the copy, marking those above `limit` (or the limit a name
// maps to in `limits`).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(double limit, std::map<std::string, double> limits = {})
      : m_limit(limit), m_limits(std::move(limits)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double seconds =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const std::string name = run.run_name.function_name;
      if (m_times.find(name) == m_times.end()) m_order.push_back(name);
      m_times[name] = seconds * 1e3;
    }
  }

  void PrintSummary() const {
    const auto copy = m_times.find(kCopyName);
    if (copy == m_times.end() || copy->second <= 0.0) {
      std::printf("\nno copy time measured: no ratios\n");
      return;
    }
    std::printf("\n%-36s %10s %10s %8s\n", "operation", "ms", "x copy", "target");
    std::printf("%-36s %10.3f %10s\n", kCopyName, copy->second, "1.00");
    for (const std::string& name : m_order) {
      if (name == kCopyName) continue;
      const double ms = m_times.at(name);
      const double ratio = ms / copy->second;
      const auto it = m_limits.find(name);
      const double limit = it == m_limits.end() ? m_limit : it->second;
      std::printf("%-36s %10.3f %10.2f %7.0fx%s\n", name.c_str(), ms, ratio, limit,
                  ratio <= limit ? "" : "  (over)");
    }
  }

 private:
  double m_limit;
  std::map<std::string, double> m_limits;
  std::map<std::string, double> m_times;
  std::vector<std::string> m_order;
};

// Registers the copy first, then runs everything and prints the summary.
inline int RunAll(int argc, char** argv, RatioReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintSummary();
  return 0;
}

inline void RegisterCopy() { Register(kCopyName, CopyBenchmark); }

}  // namespace inkbrite::bench
