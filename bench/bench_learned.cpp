// SPDX-License-Identifier: GPL-2.0-or-later
// The learned 2x upscaling, per million output pixels, side by side in one
// run: our oneDNN tiles (the helper's own code, in this process), the same
// convolution shapes as bare oneDNN primitives in a loop (the most oneDNN
// gives), and the waifu2x package's own ncnn program in CPU mode on the same
// model and page, with how near our output comes to its output (PSNR).
//   bench_learned [SIDE]   (input SIDE x SIDE pixels, default 512)
// The weights come from INKBRITE_MODELS_DIR or the build's models folder;
// the ncnn program from the weights' cache (scripts/fetch-waifu2x.sh) or
// INKBRITE_WAIFU2X_NCNN.
#include <oneapi/dnnl/dnnl.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/dib_image.h"
#include "formats/image_file.h"
#include "learned/net_run.h"
#include "learned/upscale.h"
#include "learned/waifu2x.h"
#include "platform/program_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace inkbrite;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Screentone-free line art with grey fills: strokes on paper.
DibImage Page(int side) {
  DibImage page;
  page.Create(side, side, 24);
  for (int y = 0; y < side; ++y) {
    uint8_t* row = page.Row(y);
    for (int x = 0; x < side; ++x) {
      const double d = std::hypot(x - side / 2.0, y - side / 3.0);
      const bool ink = std::fmod(d, 37.0) < 3.0 || (x + 2 * y) % 97 < 2;
      const uint8_t v = ink ? 25 : (d < side / 4.0 ? 160 : 245);
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
    }
  }
  return page;
}

// The convolution layers alone, as bare oneDNN primitives on the shapes of
// one tile, each run `rounds` times: seconds a tile.
double BareConvolutions(const learned::Net& net, int side, int rounds) {
  std::vector<learned::BlobSize> sizes;
  if (!learned::NetBlobSizes(net, side, side, sizes)) return 0;
  dnnl::engine engine(dnnl::engine::kind::cpu, 0);
  dnnl::stream stream(engine);
  double total = 0;
  using dnnl::memory;
  for (const learned::NetLayer& l : net.layers) {
    if (l.kind != learned::LayerKind::kConv && l.kind != learned::LayerKind::kDeconv) continue;
    const learned::BlobSize in = sizes[static_cast<size_t>(l.input)];
    const learned::BlobSize out = sizes[static_cast<size_t>(l.output)];
    const memory::desc src({1, l.in, in.h, in.w}, memory::data_type::f32, memory::format_tag::any);
    const memory::desc dst({1, l.out, out.h, out.w}, memory::data_type::f32,
                           memory::format_tag::any);
    const memory::desc w({l.out, l.in, l.kernel, l.kernel}, memory::data_type::f32,
                         memory::format_tag::any);
    const memory::desc b({l.out}, memory::data_type::f32, memory::format_tag::x);
    const memory::dims s{l.stride, l.stride}, p{l.pad, l.pad};
    dnnl::primitive prim;
    memory ms, mw, md, mb(b, engine);
    const auto fwd = dnnl::prop_kind::forward_inference;
    if (l.kind == learned::LayerKind::kConv) {
      dnnl::convolution_forward::primitive_desc pd(
          {fwd, dnnl::algorithm::convolution_direct, src, w, b, dst, s, p, p}, engine);
      prim = dnnl::convolution_forward(pd);
      ms = memory(pd.src_desc(), engine), mw = memory(pd.weights_desc(), engine);
      md = memory(pd.dst_desc(), engine);
    } else {
      dnnl::deconvolution_forward::primitive_desc pd(
          {fwd, dnnl::algorithm::deconvolution_direct, src, w, b, dst, s, p, p}, engine);
      prim = dnnl::deconvolution_forward(pd);
      ms = memory(pd.src_desc(), engine), mw = memory(pd.weights_desc(), engine);
      md = memory(pd.dst_desc(), engine);
    }
    const std::unordered_map<int, memory> args{
        {DNNL_ARG_SRC, ms}, {DNNL_ARG_WEIGHTS, mw}, {DNNL_ARG_BIAS, mb}, {DNNL_ARG_DST, md}};
    prim.execute(stream, args);
    stream.wait();
    const Clock::time_point start = Clock::now();
    for (int r = 0; r < rounds; ++r) prim.execute(stream, args);
    stream.wait();
    total += Seconds(start) / rounds;
  }
  return total;
}

double Psnr(const DibImage& a, const DibImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 0;
  double se = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width() * 3; ++x) {
      const double d = a.Row(y)[x] - b.Row(y)[x];
      se += d * d;
    }
  }
  const double n = 3.0 * a.Width() * a.Height();
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / se);
}

// The ncnn program on the page's PNG: seconds, and its output read back.
double RunNcnn(const fs::path& program, const fs::path& models, const fs::path& input,
               const fs::path& output, int threads, DibImage& result) {
  const std::string command = "'" + program.string() +
                              "' -g -1 -s 2 -n -1 -t 160 -j 1:" + std::to_string(threads) +
                              ":1 -m '" + models.string() + "' -i '" + input.string() + "' -o '" +
                              output.string() + "' >/dev/null 2>&1";
  const Clock::time_point start = Clock::now();
  if (std::system(command.c_str()) != 0) return 0;
  const double s = Seconds(start);
  int grey = 0;
  return LoadImageFile(output, result, &grey) ? s : 0;
}

fs::path NcnnProgram() {
  if (const char* env = std::getenv("INKBRITE_WAIFU2X_NCNN")) return env;
  const char* cache = std::getenv("INKBRITE_CACHE_DIR");
  const char* home = std::getenv("HOME");
  const fs::path base = cache != nullptr  ? fs::path(cache)
                        : home != nullptr ? fs::path(home) / ".cache" / "inkbrite"
                                          : fs::path();
  return base / "waifu2x-1.6.5-ibnet-1" / "reference" / "waifu2x-ncnn-vulkan";
}

struct Row {
  const char* model;
  const char* file;
  const char* ncnnModels;
};

void Measure(const Row& row, const fs::path& models, int side, int threads, const fs::path& dir) {
  learned::Net net;
  if (!learned::LoadNetFile(models / row.file, net)) {
    std::printf("%-9s no weights in %s\n", row.model, models.c_str());
    return;
  }
  DibImage page = Page(side);
  DibImage ours;
  ours.Create(2 * side, 2 * side, 24);
  learned::SetLearnedThreads(threads);
  learned::NetRunner runner(net);
  // The page as plain rows, top row first.
  std::vector<uint8_t> in(static_cast<size_t>(side) * side * 3), out(in.size() * 4);
  for (int y = 0; y < side; ++y) std::copy_n(page.Row(y), side * 3, in.begin() + y * side * 3);
  const learned::PixelRows rin{in.data(), side, side, static_cast<size_t>(side) * 3, true};
  const learned::PixelRows rout{out.data(), 2 * side, 2 * side, static_cast<size_t>(side) * 6,
                                true};
  learned::RunNetOnPicture(runner, net, rin, rout, 160);  // warm: primitives made
  const Clock::time_point start = Clock::now();
  learned::RunNetOnPicture(runner, net, rin, rout, 160);
  const double ourSeconds = Seconds(start);
  for (int y = 0; y < 2 * side; ++y) {
    std::copy_n(out.begin() + static_cast<long>(y) * side * 6, side * 6, ours.Row(y));
  }
  const double megapixels = 4.0 * side * side / 1e6;
  const size_t tiles = learned::CoverTiles(side, side, 160).size();
  const int tileSide = 160 + 2 * net.margin;
  const double macs = runner.ConvolutionMacs(tileSide, tileSide) * static_cast<double>(tiles);
  const double bare = BareConvolutions(net, tileSide, 3) * static_cast<double>(tiles);
  const fs::path png = dir / "page.png", ncnnOut = dir / (std::string(row.model) + "-ncnn.png");
  SaveImageFile(png, page, 0, 90);
  DibImage theirs;
  const fs::path program = NcnnProgram();
  const double ncnn = fs::exists(program) ? RunNcnn(program, program.parent_path() / row.ncnnModels,
                                                    png, ncnnOut, threads, theirs)
                                          : 0;
  std::printf("%-9s %9.2f s %9.2f s %8.2fx %10.1f %10.1f %7.0f%% %8.1f dB\n", row.model,
              ourSeconds / megapixels, ncnn / megapixels, ncnn > 0 ? ncnn / ourSeconds : 0,
              2 * macs / ourSeconds / 1e9, 2 * macs / bare / 1e9, 100 * bare / ourSeconds,
              ncnn > 0 ? Psnr(ours, theirs) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::max(64, std::atoi(argv[1])) : 512;
  const int threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  const char* env = std::getenv("INKBRITE_MODELS_DIR");
  const fs::path models = env != nullptr ? fs::path(env) : fs::path(INKBRITE_MODELS_DIR);
  const fs::path dir =
      fs::temp_directory_path() / ("inkbrite-bench-learned-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::printf("learned 2x, %d x %d pixels in, %d threads; seconds per output megapixel\n", side,
              side, threads);
  std::printf("%-9s %11s %11s %9s %10s %10s %8s %11s\n", "model", "ours", "ncnn", "ncnn/ours",
              "GFLOP/s", "bare", "of bare", "vs ncnn");
  const Row rows[] = {
      {"upconv_7", "upconv_7-off-2x.ibnet", "models-upconv_7_anime_style_art_rgb"},
      {"cunet", "cunet-off-2x.ibnet", "models-cunet"},
  };
  for (const Row& row : rows) Measure(row, models, side, threads, dir);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
