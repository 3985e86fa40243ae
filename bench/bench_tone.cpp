// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the tone operations on a full comic page, measured against a
// plain copy of the same pixel bytes. Target: each operation within 4 times
// the copy, i.e. one table lookup per byte at close to memory speed.
//
// Every operation starts each iteration from the same page (restored outside
// the timed region), so repeated runs never saturate it to one colour.
// "portable" rows show the loops used on processors without the vector
// instructions.
#include <string>

#include "bench/bench_support.h"
#include "core/tone.h"

namespace {

using inkbrite::DibImage;
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

void RunTone(benchmark::State& state, bool (*op)(DibImage&), bool vector) {
  const bool previous = inkbrite::SetToneVectorKernels(vector);
  b::RunOnPage(state, b::NoisePage(), op);
  inkbrite::SetToneVectorKernels(previous);
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildToneTables();
  b::RegisterCopy();
  for (const ToneCase& c : kToneCases) {
    b::Register(c.name, [c](benchmark::State& s) { RunTone(s, c.op, true); });
  }
  if (inkbrite::ToneVectorKernelsAvailable()) {
    for (const ToneCase& c : kToneCases) {
      b::Register(std::string(c.name) + " portable",
                  [c](benchmark::State& s) { RunTone(s, c.op, false); });
    }
  }
  b::RatioReporter reporter(4.0);
  return b::RunAll(argc, argv, reporter);
}
