// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the JPEG reader and writer on a full comic page (1700 x 2400,
// colour, quality 70), beside libjpeg-turbo's own minimal loops doing the
// same work with the same settings in the same run:
//   read:  stdio source, floating-point inverse DCT, one scanline per call
//          into a freshly allocated picture;
//   write: stdio destination, optimised Huffman tables, floating-point DCT,
//          quality 70, one scanline per call, the file closed.
// Target: each of ours within 1.15 times the library's loop. Run with
// --benchmark_repetitions=5 on a busy machine: the summary keeps the fastest.
// At start-up the library's read loop must decode the pixels ReadJpegFile
// decodes (bench/floor_check.h); --check runs only that.
//
// Our writer also writes through a SafeFileWriter (temporary file, sync to
// disk, rename over the target: every save is crash-safe); the "+ safe file"
// loop writes through one too, so the cost of the safety shows apart from
// the codec's.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <jpeglib.h>

#include "bench/bench_support.h"
#include "bench/floor_check.h"
#include "formats/jpeg/jpeg_codec.h"
#include "platform/file_io.h"

namespace {

using inkbrite::DibImage;
namespace b = inkbrite::bench;
namespace fs = std::filesystem;

constexpr int kQuality = 70;

const DibImage& Page() {
  static const DibImage page = b::MakePage(true);
  return page;
}

// The page as the library's loops take it: top row first, red-green-blue.
const std::vector<uint8_t>& PageRgb() {
  static const std::vector<uint8_t> rgb = [] {
    const DibImage& page = Page();
    std::vector<uint8_t> out(static_cast<size_t>(page.Width()) * page.Height() * 3);
    uint8_t* o = out.data();
    for (int32_t y = 0; y < page.Height(); ++y) {
      const uint8_t* p = page.Row(y);
      for (int32_t x = 0; x < page.Width(); ++x, p += 3, o += 3) {
        o[0] = p[2];
        o[1] = p[1];
        o[2] = p[0];
      }
    }
    return out;
  }();
  return rgb;
}

struct Folder {
  fs::path path;
  Folder() {
    std::random_device rd;
    path = fs::temp_directory_path() / ("inkbrite-bench-jpeg-" + std::to_string(rd()));
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

Folder& Temp() {
  static Folder folder;
  return folder;
}

// The page written once by our writer; both readers read it.
const fs::path& PageFile() {
  static const fs::path file = [] {
    const fs::path f = Temp().path / "page.jpg";
    if (inkbrite::WriteJpegFile(f, Page(), kQuality, 0) != 1) {
      std::fprintf(stderr, "cannot write %s\n", f.string().c_str());
      std::abort();
    }
    return f;
  }();
  return file;
}

void OurRead(benchmark::State& state) {
  const fs::path& file = PageFile();
  for (auto _ : state) {
    DibImage image;
    int grey = 0;
    if (inkbrite::ReadJpegFile(file, image, &grey) != 1) {
      state.SkipWithError("ReadJpegFile failed");
      break;
    }
    benchmark::DoNotOptimize(image.Bits());
  }
}

// The library's read loop: the reader's decoder settings, one scanline per
// call into a freshly allocated picture (red-green-blue, or grey).
b::FloorPixels LibraryDecode(const fs::path& file) {
  std::FILE* in = std::fopen(file.string().c_str(), "rb");
  if (in == nullptr) return {};
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, in);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_decompress(&cinfo);
  b::FloorPixels pixels;
  pixels.width = static_cast<int>(cinfo.output_width);
  pixels.height = static_cast<int>(cinfo.output_height);
  pixels.channels = cinfo.output_components;
  pixels.bgr = false;
  const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
  pixels.bytes.resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels.bytes.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(in);
  return pixels;
}

void LibraryRead(benchmark::State& state) {
  const fs::path& file = PageFile();
  for (auto _ : state) {
    const b::FloorPixels pixels = LibraryDecode(file);
    benchmark::DoNotOptimize(pixels.bytes.data());
  }
}

// The library loop decodes what ReadJpegFile decodes, for a colour and a
// grey page.
void CheckFloor() {
  DibImage grey = Page();
  grey.Greyscale();
  const fs::path greyFile = Temp().path / "grey.jpg";
  if (inkbrite::WriteJpegFile(greyFile, grey, kQuality, 1) != 1) std::abort();
  for (const fs::path& file : {PageFile(), greyFile}) {
    DibImage ours;
    if (inkbrite::ReadJpegFile(file, ours, nullptr) != 1) std::abort();
    b::RequireSamePixels("bench_jpeg", ours, LibraryDecode(file));
  }
}

void OurWrite(benchmark::State& state) {
  const fs::path file = Temp().path / "ours.jpg";
  for (auto _ : state) {
    if (inkbrite::WriteJpegFile(file, Page(), kQuality, 0) != 1) {
      state.SkipWithError("WriteJpegFile failed");
      break;
    }
  }
}

void LibraryWrite(benchmark::State& state, bool safe) {
  const std::vector<uint8_t>& rgb = PageRgb();
  const fs::path file = Temp().path / "library.jpg";
  for (auto _ : state) {
    inkbrite::SafeFileWriter writer(file);
    std::FILE* out = nullptr;
    if (safe) {
      if (!writer.Open()) {
        state.SkipWithError("cannot open the temporary file");
        break;
      }
      out = writer.Stream();
    } else {
      out = std::fopen(file.string().c_str(), "wb");
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = b::kPageWidth;
    cinfo.image_height = b::kPageHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.optimize_coding = TRUE;
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&cinfo, kQuality, FALSE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + cinfo.next_scanline * b::kPageWidth * 3;
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (safe) {
      writer.Commit();
    } else {
      std::fclose(out);
    }
  }
}

// Console table, then each of ours against the library loop beside it.
class PairReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      // With --benchmark_repetitions the fastest run counts: the others
      // mostly measure what else the machine was doing.
      const double ms =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      const auto [it, added] = m_ms.emplace(run.run_name.function_name, ms);
      if (!added) it->second = std::min(it->second, ms);
    }
  }

  void PrintSummary() const {
    const char* pairs[][2] = {{"ReadJpegFile", "libjpeg read loop"},
                              {"WriteJpegFile", "libjpeg write loop"},
                              {"WriteJpegFile", "libjpeg write loop + safe file"}};
    std::printf("\n%-14s %9s  %-30s %9s %7s %7s\n", "ours", "ms", "library loop", "ms", "ratio",
                "target");
    for (const auto& [ours, library] : pairs) {
      const auto o = m_ms.find(ours);
      const auto l = m_ms.find(library);
      if (o == m_ms.end() || l == m_ms.end() || l->second <= 0.0) continue;
      const double ratio = o->second / l->second;
      std::printf("%-14s %9.2f  %-30s %9.2f %7.3f %7.2f%s\n", ours, o->second, library, l->second,
                  ratio, 1.15, ratio <= 1.15 ? "" : "  (over)");
    }
  }

 private:
  std::map<std::string, double> m_ms;
};

}  // namespace

int main(int argc, char** argv) {
  PageFile();
  CheckFloor();
  if (argc == 2 && std::string_view(argv[1]) == "--check") return 0;
  b::Register("ReadJpegFile", OurRead);
  b::Register("libjpeg read loop", LibraryRead);
  b::Register("WriteJpegFile", OurWrite);
  b::Register("libjpeg write loop", [](benchmark::State& s) { LibraryWrite(s, false); });
  b::Register("libjpeg write loop + safe file", [](benchmark::State& s) { LibraryWrite(s, true); });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PairReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintSummary();
  return 0;
}
