// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the tone operations on a full comic page, measured against a
// plain copy of the same pixel bytes. Targets: each operation within 4 times
// the copy, i.e. one table lookup per byte at close to memory speed, and the
// pipeline's one pass over all five steps (TonePass) within 1.5 times on the
// scan-like page.
//
// Every operation starts each iteration from the same page (restored outside
// the timed region), so repeated runs never saturate it to one colour. The
// single operations run on the noise page; the pass runs on the scan-like
// page and, for information, on the noise page, where no run of paper or
// ink lets the highlight test use one table for a group of pixels.
// "portable" rows show the loops used on processors without the vector
// instructions.
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "core/tone.h"

namespace {

using inkbrite::DibImage;
using inkbrite::ToneSettings;
namespace b = inkbrite::bench;

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

// The pipeline's tone with every step on (the typical comic set of
// bench_enhance), and the three steps of the peer benchmark's W1.
ToneSettings AllFive() {
  ToneSettings s;
  s.curveX1 = 195;
  s.curveY1 = -39;
  s.curveX2 = 60;
  s.curveY2 = 293;
  s.brightness = 110;
  s.highlightGain = 150;
  s.contrast = 120;
  s.gamma = 90;
  return s;
}

ToneSettings W1Tone() {
  ToneSettings s;
  s.brightness = 110;
  s.contrast = 120;
  s.gamma = 90;
  return s;
}

struct PassCase {
  const char* name;
  ToneSettings (*settings)();
  const DibImage& (*page)();
  double target;  // x copy
};

const PassCase kPassCases[] = {
    {"TonePass(all five)", AllFive, b::ScanPage, 1.5},
    {"TonePass(110,120,90)", W1Tone, b::ScanPage, 1.5},
    {"TonePass(all five) noise", AllFive, b::NoisePage, 4.0},
};

template <typename Fn>
void WithKernels(benchmark::State& state, bool vector, Fn run) {
  const bool previous = inkbrite::SetToneVectorKernels(vector);
  run(state);
  inkbrite::SetToneVectorKernels(previous);
}

void RegisterAll(bool vector, std::map<std::string, double>& targets) {
  const std::string suffix = vector ? "" : " portable";
  for (const ToneCase& c : kToneCases) {
    b::Register(c.name + suffix, [c, vector](benchmark::State& s) {
      WithKernels(s, vector, [&](benchmark::State& st) { b::RunOnPage(st, b::NoisePage(), c.op); });
    });
  }
  for (const PassCase& c : kPassCases) {
    b::Register(c.name + suffix, [c, vector](benchmark::State& s) {
      WithKernels(s, vector, [&](benchmark::State& st) {
        const inkbrite::TonePass pass(c.settings());
        b::RunOnPage(st, c.page(), [&pass](DibImage& i) { return pass.Apply(i); });
      });
    });
    if (vector) targets[c.name] = c.target;
  }
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildToneTables();
  b::RegisterCopy();
  std::map<std::string, double> targets;
  RegisterAll(true, targets);
  if (inkbrite::ToneVectorKernelsAvailable()) RegisterAll(false, targets);
  b::RatioReporter reporter(4.0, targets);
  return b::RunAll(argc, argv, reporter);
}
