// SPDX-License-Identifier: GPL-2.0-or-later
// The measurements behind the WebP, AVIF and JPEG XL writers' settings: each
// encoder at each of its speed settings on the scan-like 1700 x 2400 page at
// quality 75, against our JPEG writer at the same quality. Prints seconds
// (best of three, or of one above a second), bytes, PSNR of the decoded page
// and the time as a multiple of JPEG's. The writers' defaults are chosen from
// these figures (README, "Writing WebP, AVIF and JPEG XL").
//   modern_settings [webp] [avif] [av1-encoders] [jxl]
// With no word: webp, avif and jxl. av1-encoders adds rav1e and SVT-AV1
// (minutes each) to aom.
#include <avif/avif.h>
#include <jxl/encode.h>
#include <webp/encode.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "formats/avif/avif_codec.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jxl/jxl_codec.h"
#include "formats/plain_pixels.h"
#include "formats/webp/webp_codec.h"
#include "platform/file_io.h"

namespace {

using inkbrite::DibImage;
using inkbrite::PlainPixels;
namespace fs = std::filesystem;
constexpr int kQuality = 75;

double Seconds(const std::function<void()>& work) {
  double best = 1e9;
  for (int i = 0; i < 3 && (i == 0 || best < 1.0); ++i) {  // once when over a second
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

double Psnr(const DibImage& a, const DibImage& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int i = 0; i < a.Width() * 3; ++i) {
      const double d = double(a.Row(y)[i]) - double(b.Row(y)[i]);
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 * 3.0 * a.Width() * a.Height() / std::max(sum, 1e-9));
}

std::vector<uint8_t> EncodeWebp(const PlainPixels& p, int method) {
  uint8_t* out = nullptr;
  WebPConfig config;
  WebPConfigInit(&config);
  config.quality = kQuality;
  config.method = method;
  WebPPicture pic;
  WebPPictureInit(&pic);
  pic.width = p.width;
  pic.height = p.height;
  WebPPictureImportRGB(&pic, p.bytes.data(), p.width * 3);
  WebPMemoryWriter w;
  WebPMemoryWriterInit(&w);
  pic.writer = WebPMemoryWrite;
  pic.custom_ptr = &w;
  WebPEncode(&config, &pic);
  std::vector<uint8_t> file(w.mem, w.mem + w.size);
  WebPMemoryWriterClear(&w);
  WebPPictureFree(&pic);
  (void)out;
  return file;
}

// One AVIF encode as our writer makes it, with another encoder, speed, thread
// count and tiling.
std::vector<uint8_t> EncodeAvif(const PlainPixels& p, avifCodecChoice codec, int speed, int threads,
                                bool autoTiling) {
  avifImage* image = avifImageCreate(p.width, p.height, 8, AVIF_PIXEL_FORMAT_YUV420);
  image->yuvRange = AVIF_RANGE_FULL;
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image);
  rgb.format = AVIF_RGB_FORMAT_RGB;
  rgb.pixels = const_cast<uint8_t*>(p.bytes.data());
  rgb.rowBytes = p.width * 3;
  avifImageRGBToYUV(image, &rgb);
  avifEncoder* e = avifEncoderCreate();
  e->codecChoice = codec;
  e->speed = speed;
  e->maxThreads = threads;
  e->autoTiling = autoTiling ? AVIF_TRUE : AVIF_FALSE;
  e->minQuantizer = e->maxQuantizer = inkbrite::AvifQuantizerForQuality(kQuality);
  avifRWData out = AVIF_DATA_EMPTY;
  std::vector<uint8_t> file;
  if (avifEncoderWrite(e, image, &out) == AVIF_RESULT_OK)
    file.assign(out.data, out.data + out.size);
  avifRWDataFree(&out);
  avifEncoderDestroy(e);
  avifImageDestroy(image);
  return file;
}

void Row(const char* name, double seconds, double jpeg, const std::vector<uint8_t>& file,
         int (*decode)(const uint8_t*, size_t, DibImage&, int*)) {
  DibImage back;
  const bool ok = !file.empty() && decode(file.data(), file.size(), back, nullptr) == 1;
  std::printf("%-28s %7.3f s %5.2fx JPEG %9zu bytes %6.2f dB\n", name, seconds, seconds / jpeg,
              file.size(), ok ? Psnr(inkbrite::bench::ScanPage(), back) : 0.0);
}

bool Wanted(int argc, char** argv, const std::string& word) {
  if (argc == 1) return word != "av1-encoders";
  for (int i = 1; i < argc; ++i) {
    if (word == argv[i]) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const DibImage& page = inkbrite::bench::ScanPage();
  PlainPixels pixels;
  inkbrite::PagePixels(page, false, pixels);
  const fs::path dir = fs::temp_directory_path() / "inkbrite-modern-settings";
  fs::create_directories(dir);
  const double jpeg =
      Seconds([&] { inkbrite::WriteJpegFile(dir / "page.jpg", page, kQuality, 0); });
  Row(
      "JPEG q75", jpeg, jpeg,
      [&] {
        std::vector<uint8_t> b;
        inkbrite::ReadFileBytes(dir / "page.jpg", 1u << 30, b);
        return b;
      }(),
      inkbrite::ReadJpegMemory);
  if (Wanted(argc, argv, "webp")) {
    for (int method = 0; method <= 6; ++method) {
      std::vector<uint8_t> file;
      const double s = Seconds([&] { file = EncodeWebp(pixels, method); });
      Row(("WebP method " + std::to_string(method)).c_str(), s, jpeg, file,
          inkbrite::DecodeWebpBytes);
    }
  }
  struct Av1 {
    avifCodecChoice codec;
    const char* name;
    int speed;
    int threads;
    bool tiles;
  };
  std::vector<Av1> av1;
  if (Wanted(argc, argv, "avif")) {
    for (int speed = 6; speed <= 10; ++speed)
      av1.push_back({AVIF_CODEC_CHOICE_AOM, "aom", speed, 1, false});
    for (int speed : {8, 9}) {
      av1.push_back({AVIF_CODEC_CHOICE_AOM, "aom", speed, 2, false});
      av1.push_back({AVIF_CODEC_CHOICE_AOM, "aom", speed, 2, true});
    }
  }
  if (Wanted(argc, argv, "av1-encoders")) {
    for (const auto& [codec, name] :
         {std::pair{AVIF_CODEC_CHOICE_RAV1E, "rav1e"}, std::pair{AVIF_CODEC_CHOICE_SVT, "svt"}}) {
      for (int speed : {6, 8, 9, 10}) av1.push_back({codec, name, speed, 1, false});
    }
  }
  for (const Av1& a : av1) {
    std::vector<uint8_t> file;
    const double s =
        Seconds([&] { file = EncodeAvif(pixels, a.codec, a.speed, a.threads, a.tiles); });
    const std::string name = "AVIF " + std::string(a.name) + " speed " + std::to_string(a.speed) +
                             (a.threads > 1 ? " t" + std::to_string(a.threads) : "") +
                             (a.tiles ? " tiles" : "");
    Row(name.c_str(), s, jpeg, file, inkbrite::DecodeAvifBytes);
  }
  if (Wanted(argc, argv, "jxl")) {
    for (int effort = 1; effort <= 9; ++effort) {
      for (int threads : {1, 2}) {
        if (threads == 2 && effort > 7) continue;
        std::vector<uint8_t> file;
        const double s = Seconds([&] {
          file.clear();
          inkbrite::EncodeJxlPixelsWithEffort(pixels, kQuality, false, effort, threads, file);
        });
        const std::string name = "JPEG XL effort " + std::to_string(effort) +
                                 (threads > 1 ? " t" + std::to_string(threads) : "");
        Row(name.c_str(), s, jpeg, file, inkbrite::DecodeJxlBytes);
      }
    }
  }
  fs::remove_all(dir);
  return 0;
}
