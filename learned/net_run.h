// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a network of learned/net_file.h through oneDNN: the convolutions and
// deconvolutions (with their activation fused) as oneDNN primitives in the
// memory layouts oneDNN picks for this processor, the small layers (channel
// means, dense layers, channel scaling, crops, sums, PReLU) as plain loops.
// A runner keeps the primitives made for each input size it has seen (a
// tiled page has few), so the tiles after the first reuse them. One runner
// serves one thread at a time; oneDNN spreads each layer over the threads
// SetLearnedThreads gives it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "learned/net_file.h"

namespace inkbrite::learned {

// The threads every layer is spread over (at least 1), for the process.
void SetLearnedThreads(int threads);

class NetRunner {
 public:
  explicit NetRunner(const Net& net);  // `net` outlives the runner
  ~NetRunner();
  NetRunner(const NetRunner&) = delete;
  NetRunner& operator=(const NetRunner&) = delete;

  // Runs the network on a picture of 3 planes (red, green, blue) of w x h
  // values in 0..1, plane after plane. `out` gets the output's 3 planes,
  // its size in outW, outH. False (the reason in `why`) when the network
  // cannot take that size or oneDNN fails.
  bool Run(const float* planes, int w, int h, std::vector<float>& out, int& outW, int& outH,
           std::string* why = nullptr);

  // The multiply-adds of the convolution layers for one input of w x h (for
  // the benchmark's GFLOP/s), 0 when the size does not fit.
  double ConvolutionMacs(int w, int h) const;

  struct Plan;

 private:
  Plan* PlanFor(int w, int h);

  const Net& net_;
  std::map<std::pair<int, int>, std::unique_ptr<Plan>> plans_;
};

}  // namespace inkbrite::learned
