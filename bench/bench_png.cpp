// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of PNG reading and writing on a full comic page, measured against
// libpng's own minimal loop doing the same work with the same settings in the
// same run. Target: each within 1.15 times its libpng loop.
//
// The reader's extra work is reading the file into memory first, checking
// its chunk lengths and clearing the new picture; the writer's is the
// crash-safe write (a temporary file, fsync and rename).
//
// At start-up the libpng read loop must decode the pixels ReadPngFile
// decodes (bench/floor_check.h); --check runs only that.
#include <png.h>

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "bench/floor_check.h"
#include "formats/png/png_codec.h"
#include "formats/reduce_save.h"

namespace {

using inkbrite::DibImage;
namespace b = inkbrite::bench;
namespace fs = std::filesystem;

constexpr double kTarget = 1.15;
const char* const kReadName = "ReadPngFile";
const char* const kLibpngReadName = "libpng read loop";
const char* const kWriteName = "WritePngFile";
const char* const kLibpngWriteName = "libpng write loop";

fs::path BenchFolder() {
  static const fs::path folder = [] {
    fs::path p = fs::temp_directory_path() / ("inkbrite-bench-png-" + std::to_string(::getpid()));
    fs::create_directories(p);
    return p;
  }();
  return folder;
}

const DibImage& ScanPage() {
  static const DibImage page = b::MakePage(true);
  return page;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

// The reader's transformations, straight on a FILE*, into one buffer of
// blue-green-red rows, top row first.
bool LibpngRead(std::FILE* file, std::vector<uint8_t>& pixels, uint32_t* outWidth = nullptr,
                uint32_t* outHeight = nullptr) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  const int colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  png_color_16 black{};
  png_set_background(png, &black, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  if (bitDepth == 16) png_set_strip_16(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (bitDepth < 8) png_set_expand(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png);
  }
  png_set_strip_alpha(png);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  const uint32_t height = png_get_image_height(png, info);
  pixels.assign(rowBytes * height, 0);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < height; ++y) png_read_row(png, pixels.data() + y * rowBytes, nullptr);
  }
  png_read_end(png, nullptr);
  if (outWidth != nullptr) *outWidth = png_get_image_width(png, info);
  if (outHeight != nullptr) *outHeight = height;
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// The writer's settings, straight to a FILE*.
bool LibpngWrite(std::FILE* file, const DibImage& image) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, -1);
  png_set_IHDR(png, info, image.Width(), image.Height(), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_bgr(png);
  png_write_info(png, info);
  for (int y = 0; y < image.Height(); ++y) png_write_row(png, image.Row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

const fs::path& SourceFile() {
  static const fs::path path = [] {
    const fs::path p = BenchFolder() / "source.png";
    if (inkbrite::WritePngFile(p, ScanPage(), 0) != 1) std::abort();
    return p;
  }();
  return path;
}

// The libpng loop decodes what ReadPngFile decodes, for the colour page, a
// grey page and a page of a reduced palette.
void CheckFloor() {
  DibImage grey = ScanPage();
  grey.Greyscale();
  const fs::path greyFile = BenchFolder() / "grey.png";
  const fs::path paletteFile = BenchFolder() / "palette.png";
  DibImage copy = ScanPage();  // a corner of it: the quantiser takes its time
  if (!copy.Crop(0, 0, b::kPageWidth - 400, b::kPageHeight - 300) ||
      inkbrite::WritePngFile(greyFile, grey, 1) != 1 ||
      !inkbrite::ReduceColoursAndSave(copy, true, 4, 16, paletteFile))
    std::abort();
  for (const fs::path& file : {SourceFile(), greyFile, paletteFile}) {
    DibImage ours;
    if (inkbrite::ReadPngFile(file, ours, nullptr) != 1) std::abort();
    b::FloorPixels floor;
    uint32_t width = 0, height = 0;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr || !LibpngRead(f, floor.bytes, &width, &height)) std::abort();
    std::fclose(f);
    floor.width = static_cast<int>(width);
    floor.height = static_cast<int>(height);
    b::RequireSamePixels("bench_png", ours, floor);
  }
}

void BenchRead(benchmark::State& state) {
  DibImage image;
  int grey = 0;
  for (auto _ : state) {
    if (inkbrite::ReadPngFile(SourceFile(), image, &grey) != 1) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(image.Bits());
  }
}

void BenchLibpngRead(benchmark::State& state) {
  std::vector<uint8_t> pixels;
  for (auto _ : state) {
    std::FILE* file = std::fopen(SourceFile().c_str(), "rb");
    const bool ok = file != nullptr && LibpngRead(file, pixels);
    if (file != nullptr) std::fclose(file);
    if (!ok) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BenchWrite(benchmark::State& state) {
  const fs::path target = BenchFolder() / "written.png";
  for (auto _ : state) {
    if (inkbrite::WritePngFile(target, ScanPage(), 0) != 1) {
      state.SkipWithError("write failed");
      break;
    }
  }
}

void BenchLibpngWrite(benchmark::State& state) {
  const fs::path target = BenchFolder() / "plain.png";
  for (auto _ : state) {
    std::FILE* file = std::fopen(target.c_str(), "wb");
    const bool ok = file != nullptr && LibpngWrite(file, ScanPage());
    if (file != nullptr) std::fclose(file);
    if (!ok) {
      state.SkipWithError("write failed");
      break;
    }
  }
}

// The console table, then each operation's time over its libpng loop's.
class PairReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double toMs = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      m_ms[run.run_name.function_name] = {run.GetAdjustedRealTime() * toMs,
                                          run.GetAdjustedCPUTime() * toMs};
    }
  }
  // Real time decides; CPU time is shown beside it because the machine may
  // be shared and a busy neighbour shows in real time only.
  void PrintSummary() const {
    std::printf("\n%-14s %9s %-18s %9s %7s %10s %7s\n", "operation", "real ms", "libpng loop",
                "real ms", "ratio", "cpu ratio", "target");
    for (const auto& [ours, theirs] :
         {std::pair{kReadName, kLibpngReadName}, std::pair{kWriteName, kLibpngWriteName}}) {
      const auto a = m_ms.find(ours);
      const auto c = m_ms.find(theirs);
      if (a == m_ms.end() || c == m_ms.end() || c->second.real <= 0.0 || c->second.cpu <= 0.0) {
        continue;
      }
      const double ratio = a->second.real / c->second.real;
      std::printf("%-14s %9.2f %-18s %9.2f %7.3f %10.3f %7.2f%s\n", ours, a->second.real, theirs,
                  c->second.real, ratio, a->second.cpu / c->second.cpu, kTarget,
                  ratio <= kTarget ? "" : "  (over)");
    }
  }

 private:
  struct Times {
    double real = 0.0;
    double cpu = 0.0;
  };
  std::map<std::string, Times> m_ms;
};

}  // namespace

int main(int argc, char** argv) {
  SourceFile();  // the page and its file are made before any timing
  CheckFloor();
  if (argc == 2 && std::string_view(argv[1]) == "--check") {
    std::error_code ec;
    fs::remove_all(BenchFolder(), ec);
    return 0;
  }
  b::Register(kReadName, BenchRead);
  b::Register(kLibpngReadName, BenchLibpngRead);
  b::Register(kWriteName, BenchWrite);
  b::Register(kLibpngWriteName, BenchLibpngWrite);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PairReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintSummary();
  std::error_code ec;
  fs::remove_all(BenchFolder(), ec);
  return 0;
}
