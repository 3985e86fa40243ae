// SPDX-License-Identifier: GPL-2.0-or-later
// The tests' own network files and the plain-loop network that checks
// oneDNN's: every layer written the slow, obvious way from its definition
// in learned/net_file.h.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "learned/net_file.h"

namespace inkbrite::learned::testing {

// A network being written: layers as JSON text and their tensors.
class NetMaker {
 public:
  explicit NetMaker(int scale = 2, int margin = 0, uint32_t seed = 1)
      : scale_(scale), margin_(margin), random_(seed) {}

  // A conv or deconv from `input` to `output`, random weights in +-range.
  void Conv(const std::string& kind, const std::string& input, const std::string& output, int in,
            int out, int kernel, int stride, int pad, const std::string& act, float range = 0.3f);
  void Dense(const std::string& input, const std::string& output, int in, int out,
             const std::string& act);
  void Plain(const std::string& type, const std::string& input, const std::string& input2,
             const std::string& output, const std::string& extra = "");
  void Prelu(const std::string& input, const std::string& output, int count);

  // The file's bytes with this header text around the layers (`floats`
  // overridden when >= 0).
  std::vector<uint8_t> Bytes(const std::string& output = "out", long floats = -1) const;
  // The header alone, for tests that corrupt it.
  std::string Header(const std::string& output = "out", long floats = -1) const;
  static std::vector<uint8_t> WithHeader(const std::string& header,
                                         const std::vector<float>& values);
  const std::vector<float>& Values() const { return values_; }

 private:
  size_t Tensor(size_t count, float range);

  int scale_;
  int margin_;
  std::mt19937 random_;
  std::string layers_;
  std::vector<float> values_;
};

// The network run by plain loops on 3 planes of w x h (values 0..1).
bool ReferenceRun(const Net& net, const std::vector<float>& planes, int w, int h,
                  std::vector<float>& out, int& outW, int& outH);

// The largest difference between two equally long arrays.
float MaxDifference(const std::vector<float>& a, const std::vector<float>& b);

}  // namespace inkbrite::learned::testing
