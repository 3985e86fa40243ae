// Speed of the tone operations on a full comic page, measured against a
// plain copy of the same pixel bytes. Target: each operation within 4 times
// the copy, i.e. one table lookup per byte at close to memory speed.
//
// Every operation starts each iteration from the same page (restored outside
// the timed region), so repeated runs never saturate it to one colour. The
// summary at the end gives each time as a multiple of the copy; "portable"
// rows show the loops used on processors without the vector instructions.

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
#include "core/tone.h"

namespace {

using inkbrite::DibImage;

constexpr int kPageWidth = 1700;
constexpr int kPageHeight = 2400;
constexpr const char* kCopyName = "Copy";

// A 1700 x 2400 page of deterministic noise (xorshift32).
const DibImage& Page() {
  static const DibImage page = [] {
    DibImage image;
    if (!image.Create(kPageWidth, kPageHeight, 24)) {
      std::fprintf(stderr, "cannot create the %d x %d page\n", kPageWidth, kPageHeight);
      std::abort();
    }
    uint32_t state = 2463534242u;
    for (int y = 0; y < image.Height(); ++y) {
      uint8_t* row = image.Row(y);
      for (int i = 0; i < image.Width() * 3; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        row[i] = static_cast<uint8_t>(state >> 24);
      }
    }
    return image;
  }();
  return page;
}

size_t PixelBytes(const DibImage& image) {
  return static_cast<size_t>(image.RowBytes()) * static_cast<size_t>(image.Height());
}

void BM_Copy(benchmark::State& state) {
  const DibImage& page = Page();
  const size_t size = PixelBytes(page);
  std::vector<uint8_t> target(size);
  for (auto _ : state) {
    std::memcpy(target.data(), page.Bits(), size);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// Runs `op` on a fresh copy of the page per iteration, with the vector loops
// allowed or not.
void RunTone(benchmark::State& state, const std::function<bool(DibImage&)>& op, bool vector) {
  inkbrite::BuildToneTables();
  const bool previous = inkbrite::SetToneVectorKernels(vector);
  const DibImage& page = Page();
  const size_t size = PixelBytes(page);
  DibImage image = page;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(image.Bits(), page.Bits(), size);
    state.ResumeTiming();
    if (!op(image)) {
      state.SkipWithError("the operation failed");
      break;
    }
    benchmark::DoNotOptimize(image.Bits());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  inkbrite::SetToneVectorKernels(previous);
}

struct ToneCase {
  const char* name;
  bool (*op)(DibImage&);
};

const ToneCase kToneCases[] = {
    {"Brightness(150)", [](DibImage& i) { return i.Brightness(150); }},
    {"Contrast(150)", [](DibImage& i) { return i.Contrast(150); }},
    {"Gamma(150)", [](DibImage& i) { return i.Gamma(150); }},
    {"Highlight(150,190)", [](DibImage& i) { return i.Highlight(150, 190); }},
    {"Curve(0,-39,60,293)", [](DibImage& i) { return i.Curve(0, -39, 60, 293); }},
};

// The copy, then every operation as the program runs it and, where the
// processor has vector loops, once more with the portable loops for
// comparison.
void RegisterAll() {
  benchmark::RegisterBenchmark(kCopyName, BM_Copy)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  for (const ToneCase& c : kToneCases) {
    benchmark::RegisterBenchmark(c.name, [c](benchmark::State& s) { RunTone(s, c.op, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  if (!inkbrite::ToneVectorKernelsAvailable()) return;
  for (const ToneCase& c : kToneCases) {
    const std::string name = std::string(c.name) + " portable";
    auto run = [c](benchmark::State& s) { RunTone(s, c.op, false); };
    benchmark::RegisterBenchmark(name.c_str(), run)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

// Prints the usual console table and remembers each benchmark's real time
// per iteration, in milliseconds, for the summary.
class TimeCollector : public benchmark::ConsoleReporter {
 public:
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
    std::printf("\n%-30s %10s %10s\n", "operation", "ms", "x copy");
    std::printf("%-30s %10.3f %10s\n", kCopyName, copy->second, "1.00");
    for (const std::string& name : m_order) {
      if (name == kCopyName) continue;
      const double ms = m_times.at(name);
      const double ratio = ms / copy->second;
      std::printf("%-30s %10.3f %10.2f%s\n", name.c_str(), ms, ratio,
                  ratio <= 4.0 ? "" : "  (over 4x)");
    }
  }

 private:
  std::map<std::string, double> m_times;
  std::vector<std::string> m_order;
};

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TimeCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintSummary();
  return 0;
}
