// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the automatic clean-up steps on a 1700 x 2400 scanned page, side
// by side with the W1 work (brightness 110, contrast 120, gamma 90): each
// step's analysis and change alone, then whole files converted as
// inkbrite-batch --jobs 1 converts them (the JPEG read, the source stage,
// the pipeline, the JPEG written at quality 70) with the steps off, with
// auto levels and margin crop, and with all four, each set's time given as a
// multiple of W1's on the same page with PASS or MISS against its target.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "core/auto_levels.h"
#include "core/auto_steps.h"
#include "core/deskew.h"
#include "core/enhance.h"
#include "core/margin_crop.h"
#include "core/spread_split.h"
#include "core/tone.h"
#include "formats/image_file.h"

namespace {

using inkbrite::CParaBlock;
using inkbrite::DibImage;
namespace b = inkbrite::bench;

// A scan as the steps meet it: the standard page's textured content framed
// into panels inside margins of paper, its tones squeezed into 40 to 215 (a
// washed-out scan) and the whole turned by 1.2 degrees.
DibImage ScanPage() {
  DibImage page = b::MakePage(true);
  const int w = page.Width();
  const int h = page.Height();
  auto fill = [&](int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y < y1; ++y) {
      uint8_t* p = page.Row(y) + 3 * x0;
      for (int i = 0; i < 3 * (x1 - x0); ++i) p[i] = v;
    }
  };
  const int mx = 110;
  const int my = 140;
  fill(0, 0, w, my, 250);
  fill(0, h - my, w, h, 250);
  fill(0, 0, mx, h, 250);
  fill(w - mx, 0, w, h, 250);
  for (int tier = 0; tier < 3; ++tier) {  // frames of 3 x 2 panels, 24 pixels apart
    const int top = my + tier * (h - 2 * my) / 3;
    const int bottom = my + (tier + 1) * (h - 2 * my) / 3;
    fill(mx, top, w - mx, top + 6, 10);
    fill(mx, bottom - 6, w - mx, bottom, 10);
    fill(mx, top, mx + 6, bottom, 10);
    fill(w - mx - 6, top, w - mx, bottom, 10);
    fill(w / 2 - 12, top, w / 2 + 12, bottom, 250);
    if (tier < 2) fill(mx, bottom - 12, w - mx, bottom, 250);
  }
  std::array<uint8_t, 256> squeeze;
  for (int v = 0; v < 256; ++v)
    squeeze[static_cast<size_t>(v)] = static_cast<uint8_t>(40 + v * 175 / 255);
  inkbrite::MapPixelBytes(page, squeeze);
  inkbrite::RotateImage(page, 1.2, {218, 218, 218});
  return page;
}

const DibImage& Scan() {
  static const DibImage page = ScanPage();
  return page;
}

void W1(CParaBlock& params) {
  params.SetValue(inkbrite::kBrightness, 110);
  params.SetValue(inkbrite::kContrast, 120);
  params.SetValue(inkbrite::kGamma, 90);
}

namespace fs = std::filesystem;

// The sets of steps timed on whole files, and the most each may cost as a
// multiple of W1 alone.
struct StepSet {
  const char* name;
  bool levels;
  bool crop;
  bool split;
  bool deskew;
  double limit;  // x W1; 0 for W1 itself
};
constexpr StepSet kStepSets[] = {
    {"W1", false, false, false, false, 0.0},
    {"W1 + levels + crop", true, true, false, false, 1.10},
    {"W1 + all four steps", true, true, true, true, 1.25},
};

// The pages converted: the scan above (every step has work to do) and the
// standard upright colour scan with content to its edges (the steps look
// and mostly leave it alone).
struct SourcePage {
  const char* name;
  const char* file;
  const DibImage& (*image)();
};
const SourcePage kSourcePages[] = {
    {"skewed scan", "skewed.jpg", Scan},
    {"upright scan", "upright.jpg", b::ScanPage},
};

fs::path WorkDir() {
  static const fs::path dir =
      fs::temp_directory_path() / ("inkbrite-bench-autofix-" + std::to_string(getpid()));
  return dir;
}

fs::path SourceFile(const SourcePage& page) { return WorkDir() / page.file; }

// One file as the batch job converts it: read, the source stage (one page or
// the two of a spread), the pipeline in batch mode, each page written as a
// JPEG in the colour mode "keep as is" resolves to.
// What the steps found on the first page goes to `found`.
bool ConvertFile(const CParaBlock& params, const fs::path& source, const fs::path& target,
                 inkbrite::PageFindings& found) {
  DibImage image;
  int greySource = 0;
  if (!inkbrite::LoadImageFile(source, image, &greySource)) return false;
  const int mode =
      inkbrite::ResolveKeepAsIs(params.GetValue(inkbrite::kGreyScale), greySource != 0);
  DibImage second;
  inkbrite::PageFindings findings[2];
  const inkbrite::SourceStage stage = inkbrite::PrepareSourcePages(params, image, second, findings);
  DibImage* pages[2] = {&image, &second};
  for (int i = 0; i < stage.pages; ++i) {
    inkbrite::EnhanceHooks hooks;
    hooks.mode = inkbrite::EnhanceMode::kBatch;
    hooks.findings = &findings[i];
    if (inkbrite::EnhanceImage(params, *pages[i], hooks) != 0) return false;
    fs::path out = target;
    if (stage.pages == 2)
      out.replace_filename(target.stem().string() + "_" + std::to_string(i + 1) + ".jpg");
    if (!inkbrite::SavePageInColourMode(out, *pages[i], mode, false,
                                        params.GetValue(inkbrite::kJpegQuality))) {
      return false;
    }
  }
  found = findings[0];
  return true;
}

std::string FileBenchName(const SourcePage& page, const StepSet& set) {
  return std::string(set.name) + ", file (" + page.name + ")";
}

void RegisterFileBenchmarks() {
  for (const SourcePage& page : kSourcePages) {
    for (const StepSet& set : kStepSets) {
      b::Register(FileBenchName(page, set), [&page, &set](benchmark::State& s) {
        CParaBlock params;
        W1(params);
        params.SetValue(inkbrite::kAutoLevels, set.levels ? 1 : 0);
        params.SetValue(inkbrite::kAutoCrop, set.crop ? 1 : 0);
        params.SetValue(inkbrite::kSplitSpreads, set.split ? 1 : 0);
        params.SetValue(inkbrite::kDeskew, set.deskew ? 1 : 0);
        const fs::path source = SourceFile(page);
        const fs::path target = WorkDir() / "out.jpg";
        inkbrite::PageFindings found;
        for (auto _ : s) {
          if (!ConvertFile(params, source, target, found)) {
            s.SkipWithError("the conversion failed");
            break;
          }
        }
        // On the skewed scan the steps must have done their work, or the
        // time says nothing about them.
        const bool skewed = &page == &kSourcePages[0];
        if (skewed && ((set.levels && !found.levels.applied) || (set.crop && !found.crop.applied) ||
                       (set.deskew && std::fabs(found.skew.angle - 1.2) > 0.1))) {
          s.SkipWithError("the steps did not find what the skewed scan holds");
        }
      });
    }
  }
}

// Each set's time on whole files as a multiple of W1's on the same page;
// returns the number of targets missed.
int PrintStepSummary(const b::RatioReporter& reporter) {
  int missed = 0;
  std::printf("\n%-46s %10s %8s %8s\n", "whole file, --jobs 1", "cpu ms", "x W1", "target");
  for (const SourcePage& page : kSourcePages) {
    const double w1 = reporter.CpuMs(FileBenchName(page, kStepSets[0]));
    for (const StepSet& set : kStepSets) {
      const std::string name = FileBenchName(page, set);
      const double ms = reporter.CpuMs(name);
      if (ms < 0.0 || w1 <= 0.0) {
        std::printf("%-46s %10s\n", name.c_str(), "not run");
        continue;
      }
      if (set.limit == 0.0) {
        std::printf("%-46s %10.2f %8.3f\n", name.c_str(), ms, 1.0);
        continue;
      }
      const double ratio = ms / w1;
      const bool pass = ratio <= set.limit;
      missed += pass ? 0 : 1;
      std::printf("%-46s %10.2f %8.3f %7.2fx  %s\n", name.c_str(), ms, ratio, set.limit,
                  pass ? "PASS" : "MISS");
    }
  }
  return missed;
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildToneTables();
  b::RegisterCopy();
  b::Register("W1 enhance", [](benchmark::State& s) {
    static CParaBlock params;
    W1(params);
    b::RunOnPage(s, Scan(),
                 [](DibImage& page) { return inkbrite::EnhanceImage(params, page) == 0; });
  });
  b::Register("find levels", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(),
                 [](DibImage& page) { return inkbrite::FindAutoLevels(page, {}).applied; });
  });
  b::Register("auto levels", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) { return inkbrite::AutoLevels(page, {}).applied; });
  });
  b::Register("find crop", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(),
                 [](DibImage& page) { return inkbrite::FindMarginCrop(page, {}).applied; });
  });
  b::Register("margin crop", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) { return inkbrite::MarginCrop(page, {}).applied; });
  });
  b::Register("find spread (landscape)", [](benchmark::State& s) {
    static DibImage landscape = [] {
      DibImage p = Scan();
      p.Rotate90(true);
      return p;
    }();
    b::RunOnPage(s, landscape, [](DibImage& page) { return inkbrite::FindSpread(page).split; });
  });
  b::Register("find skew", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) {
      return std::fabs(inkbrite::FindSkew(page, {}).angle - 1.2) < 0.1;
    });
  });
  b::Register("rotate", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) {
      return inkbrite::RotateImage(page, -1.2, {250, 250, 250});
    });
  });
  RegisterFileBenchmarks();

  // The source files, written once (JPEG quality 90, as a scanner might).
  std::error_code ec;
  fs::create_directories(WorkDir(), ec);
  for (const SourcePage& page : kSourcePages) {
    if (!inkbrite::SaveImageFile(SourceFile(page), page.image(), inkbrite::kColourComic, 90)) {
      std::fprintf(stderr, "cannot write %s\n", SourceFile(page).c_str());
      fs::remove_all(WorkDir(), ec);
      return 1;
    }
  }
  // A whole file costs far more than the copy: its bound against the copy is
  // only a sanity check; its targets are the ratios to W1 below.
  std::map<std::string, double> limits;
  for (const SourcePage& page : kSourcePages) {
    for (const StepSet& set : kStepSets) limits[FileBenchName(page, set)] = 1000.0;
  }
  b::RatioReporter reporter(100.0, limits);
  const int status = b::RunAll(argc, argv, reporter);
  PrintStepSummary(reporter);  // a MISS is reported, as in the other tables, not an exit status
  fs::remove_all(WorkDir(), ec);
  return status;
}
