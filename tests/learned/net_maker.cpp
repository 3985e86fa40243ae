// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/learned/net_maker.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace inkbrite::learned::testing {

size_t NetMaker::Tensor(size_t count, float range) {
  std::uniform_real_distribution<float> d(-range, range);
  const size_t at = values_.size();
  for (size_t i = 0; i < count; ++i) values_.push_back(d(random_));
  return at;
}

void NetMaker::Conv(const std::string& kind, const std::string& input, const std::string& output,
                    int in, int out, int kernel, int stride, int pad, const std::string& act,
                    float range) {
  const size_t w = Tensor(static_cast<size_t>(in * out * kernel * kernel), range);
  const size_t b = Tensor(static_cast<size_t>(out), 0.1f);
  if (!layers_.empty()) layers_ += ",";
  layers_ += "{\"type\":\"" + kind + "\",\"inputs\":[\"" + input + "\"],\"output\":\"" + output +
             "\",\"in\":" + std::to_string(in) + ",\"out\":" + std::to_string(out) +
             ",\"kernel\":" + std::to_string(kernel) + ",\"stride\":" + std::to_string(stride) +
             ",\"pad\":" + std::to_string(pad) + ",\"weights\":" + std::to_string(w) +
             ",\"bias\":" + std::to_string(b) + ",\"act\":\"" + act + "\",\"slope\":0.1}";
}

void NetMaker::Dense(const std::string& input, const std::string& output, int in, int out,
                     const std::string& act) {
  const size_t w = Tensor(static_cast<size_t>(in * out), 0.5f);
  if (!layers_.empty()) layers_ += ",";
  layers_ += "{\"type\":\"dense\",\"inputs\":[\"" + input + "\"],\"output\":\"" + output +
             "\",\"in\":" + std::to_string(in) + ",\"out\":" + std::to_string(out) +
             ",\"weights\":" + std::to_string(w) + ",\"bias\":-1,\"act\":\"" + act + "\"}";
}

void NetMaker::Plain(const std::string& type, const std::string& input, const std::string& input2,
                     const std::string& output, const std::string& extra) {
  if (!layers_.empty()) layers_ += ",";
  layers_ += "{\"type\":\"" + type + "\",\"inputs\":[\"" + input + "\"" +
             (input2.empty() ? "" : ",\"" + input2 + "\"") + "],\"output\":\"" + output + "\"" +
             extra + "}";
}

void NetMaker::Prelu(const std::string& input, const std::string& output, int count) {
  const size_t s = Tensor(static_cast<size_t>(count), 0.5f);
  Plain("prelu", input, "", output,
        ",\"count\":" + std::to_string(count) + ",\"slopes\":" + std::to_string(s));
}

std::string NetMaker::Header(const std::string& output, long floats) const {
  return "{\"name\":\"test\",\"scale\":" + std::to_string(scale_) +
         ",\"noise\":-1,\"margin\":" + std::to_string(margin_) + ",\"input\":\"in\",\"output\":\"" +
         output + "\",\"floats\":" +
         std::to_string(floats >= 0 ? floats : static_cast<long>(values_.size())) +
         ",\"layers\":[" + layers_ + "]}";
}

std::vector<uint8_t> NetMaker::WithHeader(const std::string& header,
                                          const std::vector<float>& values) {
  std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>("IBNET001"),
                             reinterpret_cast<const uint8_t*>("IBNET001") + 8);
  const uint32_t n = static_cast<uint32_t>(header.size());
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(n >> (8 * i)));
  bytes.insert(bytes.end(), header.begin(), header.end());
  while (bytes.size() % 4 != 0) bytes.push_back(0);
  const size_t at = bytes.size();
  bytes.resize(at + values.size() * 4);
  std::memcpy(bytes.data() + at, values.data(), values.size() * 4);  // little-endian machine
  return bytes;
}

std::vector<uint8_t> NetMaker::Bytes(const std::string& output, long floats) const {
  return WithHeader(Header(output, floats), values_);
}

namespace {

struct Blob {
  int c = 0, w = 0, h = 0;
  std::vector<float> v;
  float& at(int ch, int y, int x) {
    return v[(static_cast<size_t>(ch) * static_cast<size_t>(h) + static_cast<size_t>(y)) *
                 static_cast<size_t>(w) +
             static_cast<size_t>(x)];
  }
};

float Act(Activation a, float slope, float v) {
  if (a == Activation::kRelu) return std::max(v, 0.f);
  if (a == Activation::kLeaky) return v > 0 ? v : v * slope;
  if (a == Activation::kSigmoid) return 1 / (1 + std::exp(-v));
  return v;
}

Blob Convolve(const Net& net, const NetLayer& l, Blob& in) {
  const float* w = net.floats.data() + l.weights;
  const int k = l.kernel;
  Blob out{l.out, 0, 0, {}};
  if (l.kind == LayerKind::kConv) {
    out.w = (in.w + 2 * l.pad - k) / l.stride + 1;
    out.h = (in.h + 2 * l.pad - k) / l.stride + 1;
  } else {
    out.w = (in.w - 1) * l.stride + k - 2 * l.pad;
    out.h = (in.h - 1) * l.stride + k - 2 * l.pad;
  }
  out.v.assign(static_cast<size_t>(out.c * out.w * out.h), 0.f);
  for (int o = 0; o < l.out; ++o) {
    for (int i = 0; i < l.in; ++i) {
      const float* wk = w + (static_cast<size_t>(o) * l.in + i) * static_cast<size_t>(k * k);
      for (int y = 0; y < (l.kind == LayerKind::kConv ? out.h : in.h); ++y) {
        for (int x = 0; x < (l.kind == LayerKind::kConv ? out.w : in.w); ++x) {
          for (int ky = 0; ky < k; ++ky) {
            for (int kx = 0; kx < k; ++kx) {
              const int sy = y * l.stride + ky - l.pad, sx = x * l.stride + kx - l.pad;
              if (l.kind == LayerKind::kConv) {
                if (sy >= 0 && sy < in.h && sx >= 0 && sx < in.w) {
                  out.at(o, y, x) += in.at(i, sy, sx) * wk[ky * k + kx];
                }
              } else if (sy >= 0 && sy < out.h && sx >= 0 && sx < out.w) {
                out.at(o, sy, sx) += in.at(i, y, x) * wk[ky * k + kx];
              }
            }
          }
        }
      }
    }
  }
  for (int o = 0; o < l.out; ++o) {
    const float b = l.bias == kNoTensor ? 0.f : net.floats[l.bias + static_cast<size_t>(o)];
    for (int y = 0; y < out.h; ++y) {
      for (int x = 0; x < out.w; ++x) out.at(o, y, x) = Act(l.act, l.slope, out.at(o, y, x) + b);
    }
  }
  return out;
}

Blob Other(const Net& net, const NetLayer& l, Blob& in, Blob& second) {
  Blob out = in;
  const int c = in.c;
  if (l.kind == LayerKind::kMean || l.kind == LayerKind::kDense) {
    std::vector<float> v(static_cast<size_t>(c));
    for (int ch = 0; ch < c; ++ch) {
      double s = 0;
      for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) s += in.at(ch, y, x);
      v[static_cast<size_t>(ch)] = l.kind == LayerKind::kMean
                                       ? static_cast<float>(s / (in.w * in.h))
                                       : in.v[static_cast<size_t>(ch)];
    }
    if (l.kind == LayerKind::kDense) {
      std::vector<float> d(static_cast<size_t>(l.out));
      for (int o = 0; o < l.out; ++o) {
        double s = l.bias == kNoTensor ? 0 : net.floats[l.bias + static_cast<size_t>(o)];
        for (int i = 0; i < l.in; ++i)
          s +=
              net.floats[l.weights + static_cast<size_t>(o * l.in + i)] * v[static_cast<size_t>(i)];
        d[static_cast<size_t>(o)] = Act(l.act, l.slope, static_cast<float>(s));
      }
      v = d;
    }
    return Blob{static_cast<int>(v.size()), 1, 1, v};
  }
  if (l.kind == LayerKind::kCrop) {
    out = Blob{c, second.w, second.h,
               std::vector<float>(static_cast<size_t>(c * second.w * second.h))};
  }
  for (int ch = 0; ch < c; ++ch) {
    for (int y = 0; y < out.h; ++y) {
      for (int x = 0; x < out.w; ++x) {
        float& v = out.at(ch, y, x);
        switch (l.kind) {
          case LayerKind::kCrop: v = in.at(ch, y + l.cropY, x + l.cropX); break;
          case LayerKind::kAdd: v += second.at(ch, y, x); break;
          case LayerKind::kScale: v *= second.v[static_cast<size_t>(ch)]; break;
          default: {
            const float s = net.floats[l.weights + (l.in == 1 ? 0 : static_cast<size_t>(ch))];
            v = v > 0 ? v : v * s;
          }
        }
      }
    }
  }
  return out;
}

}  // namespace

bool ReferenceRun(const Net& net, const std::vector<float>& planes, int w, int h,
                  std::vector<float>& out, int& outW, int& outH) {
  std::vector<Blob> blobs(net.blobChannels.size());
  blobs[static_cast<size_t>(net.inputBlob)] = Blob{3, w, h, planes};
  for (const NetLayer& l : net.layers) {
    Blob& in = blobs[static_cast<size_t>(l.input)];
    Blob& second = blobs[static_cast<size_t>(l.input2 < 0 ? l.input : l.input2)];
    blobs[static_cast<size_t>(l.output)] =
        l.kind == LayerKind::kConv || l.kind == LayerKind::kDeconv ? Convolve(net, l, in)
                                                                   : Other(net, l, in, second);
  }
  const Blob& result = blobs[static_cast<size_t>(net.outputBlob)];
  out = result.v;
  outW = result.w;
  outH = result.h;
  return true;
}

float MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return INFINITY;
  float m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

}  // namespace inkbrite::learned::testing
