// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the restoration steps on the standard 1700 x 2400 scan, each as a
// multiple of decoding that page from a JPEG file (quality 90): despeckle
// on the scan with dust on its paper, descreen on it with a dot screen over its middle
// (6 pixels from dot to dot; 4 and 12 beside it, finer and coarser screens),
// JPEG clean-up on it read back from quality 40; PASS or MISS against the
// targets (despeckle and descreen 1.5x the decode, clean-up 0.5x).
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "core/descreen.h"
#include "core/despeckle.h"
#include "core/jpeg_cleanup.h"
#include "formats/image_file.h"

namespace {

using inkbrite::DibImage;
namespace b = inkbrite::bench;
namespace fs = std::filesystem;

constexpr const char* kDecode = "decode (JPEG q90)";

fs::path WorkDir() {
  static const fs::path dir =
      fs::temp_directory_path() / ("inkbrite-bench-restore-" + std::to_string(getpid()));
  return dir;
}

// The scan with dark specks of 1 to 3 pixels, each on plain paper (nothing
// darker than the paper within 4 pixels), and how many.
struct Dust {
  DibImage page;
  int specks = 0;
};

bool PlainPaper(const DibImage& page, int32_t x, int32_t y, int size) {
  for (int32_t v = y - 4; v < y + size + 4; ++v) {
    const uint8_t* row = page.Row(v);
    for (int32_t u = x - 4; u < x + size + 4; ++u) {
      if (row[3 * u + 1] < 200) return false;
    }
  }
  return true;
}

const Dust& DustyPage() {
  static const Dust dust = [] {
    Dust d{b::ScanPage(), 0};
    DibImage& page = d.page;
    uint32_t state = 99;
    for (int i = 0; i < 20000 && d.specks < 2000; ++i) {
      const auto x = static_cast<int32_t>(8 + b::NextNoise(state) % (page.Width() - 16));
      const auto y = static_cast<int32_t>(8 + b::NextNoise(state) % (page.Height() - 16));
      const int size = 1 + static_cast<int>(b::NextNoise(state) % 3);
      if (!PlainPaper(page, x, y, size)) continue;
      for (int v = 0; v < size; ++v) {
        for (int u = 0; u < size; ++u) {
          uint8_t* p = page.Row(y + v) + 3 * (x + u);
          p[0] = p[1] = p[2] = 20;
        }
      }
      ++d.specks;
    }
    return d;
  }();
  return dust;
}

// The scan with a 45 degree screen of `period` pixels over its middle third,
// as print scanned: each pixel the share of its 4 x 4 samples inked.
DibImage ScreenedPage(double period) {
  DibImage page = b::ScanPage();
  const double k = 2 * 3.14159265358979 / (period * std::sqrt(2.0));
  for (int32_t y = page.Height() / 3; y < 2 * page.Height() / 3; ++y) {
    uint8_t* p = page.Row(y);
    for (int32_t x = 0; x < page.Width(); ++x, p += 3) {
      int inked = 0;
      for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
          const double u = x + (i + 0.5) / 4, v = y + (j + 0.5) / 4;
          inked += std::cos(k * (u + v)) + std::cos(k * (u - v)) > 0.4 ? 1 : 0;
        }
      }
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(p[c] * (16 - inked) / 16);
    }
  }
  return page;
}

const DibImage& Decoded(int quality) {
  static std::map<int, DibImage> pages;
  auto it = pages.find(quality);
  if (it == pages.end()) {
    const fs::path file = WorkDir() / ("scan" + std::to_string(quality) + ".jpg");
    DibImage page;
    if (!inkbrite::SaveImageFile(file, b::ScanPage(), 0, quality) ||
        !inkbrite::LoadImageFile(file, page, nullptr)) {
      std::fprintf(stderr, "cannot write or read %s\n", file.c_str());
    }
    it = pages.emplace(quality, std::move(page)).first;
  }
  return it->second;
}

}  // namespace

int main(int argc, char** argv) {
  std::error_code ec;
  fs::create_directories(WorkDir(), ec);
  Decoded(90);
  b::RegisterCopy();
  b::Register(kDecode, [](benchmark::State& s) {
    const fs::path file = WorkDir() / "scan90.jpg";
    for (auto _ : s) {
      DibImage page;
      if (!inkbrite::LoadImageFile(file, page, nullptr)) s.SkipWithError("cannot read");
      benchmark::DoNotOptimize(page.Bits());
    }
  });
  b::Register("despeckle 6 px", [](benchmark::State& s) {
    // Most of the specks go (a few land near another and stay).
    const Dust& dust = DustyPage();
    b::RunOnPage(s, dust.page, [&dust](DibImage& p) {
      return inkbrite::Despeckle(p, 6).dark >= dust.specks * 9 / 10;
    });
  });
  for (const auto& [name, period] :
       {std::pair{"descreen 100 %", 6.0}, std::pair{"descreen, 4 px screen", 4.0},
        std::pair{"descreen, 12 px screen", 12.0}}) {
    b::Register(name, [period = period](benchmark::State& s) {
      const DibImage page = ScreenedPage(period);
      b::RunOnPage(s, page, [](DibImage& p) { return inkbrite::Descreen(p, 100, 0).found; });
    });
  }
  b::Register("JPEG clean-up (q40)", [](benchmark::State& s) {
    const inkbrite::JpegQuantisers q = inkbrite::StandardJpegQuantisers(40);
    b::RunOnPage(s, Decoded(40),
                 [&q](DibImage& p) { return inkbrite::CleanJpegArtefacts(p, &q).smoothed > 0; });
  });
  const std::map<std::string, double> limits = {{kDecode, 1000.0},
                                                {"despeckle 6 px", 1.5},
                                                {"descreen 100 %", 1.5},
                                                {"descreen, 4 px screen", 1.5},
                                                {"descreen, 12 px screen", 1.5},
                                                {"JPEG clean-up (q40)", 0.5}};
  const std::map<std::string, std::string> yardsticks = {{"despeckle 6 px", kDecode},
                                                         {"descreen 100 %", kDecode},
                                                         {"descreen, 4 px screen", kDecode},
                                                         {"descreen, 12 px screen", kDecode},
                                                         {"JPEG clean-up (q40)", kDecode}};
  b::RatioReporter reporter(1000.0, limits, yardsticks);
  const int status = b::RunAll(argc, argv, reporter);
  fs::remove_all(WorkDir(), ec);
  return status;
}
