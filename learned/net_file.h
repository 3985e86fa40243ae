// SPDX-License-Identifier: GPL-2.0-or-later
// The network file of the learned upscaling and denoising steps: a
// convolutional network's layers and float32 weights, converted from the
// waifu2x networks by scripts/convert-ncnn-weights.py.
//
// Layout: the 8 bytes "IBNET001", the JSON header's length (uint32,
// little-endian), the JSON header, zero bytes to a multiple of 4, then the
// tensors, `floats` little-endian float32 values. The header names the
// network (name, scale 1 or 2, noise -1 for none or 0..3, margin: the input
// pixels a side the network reads beyond its output), its input and output
// blobs, and the layers in the order they run, each with its input blob
// names, its output blob name and, for layers with weights, where the
// tensors start among the floats:
//   conv, deconv  in, out, kernel, stride, pad, weights (out x in x k x k),
//                 bias (out, or -1), act none|relu|leaky|sigmoid, slope
//   dense         in, out, weights (out x in), bias, act
//   mean          the mean of each channel over the picture
//   scale         input 1 times input 2's value for its channel
//   crop          input 1 cut to input 2's size from x, y
//   add           input 1 plus input 2
//   prelu         count (1 or the channels), slopes
// The reader is safe on any bytes: every size is checked against the limits
// below and against the file before anything is allocated or read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace inkbrite::learned {

inline constexpr size_t kMaxNetFileBytes = 64u << 20;
inline constexpr size_t kMaxNetHeaderBytes = 1u << 20;
inline constexpr size_t kMaxNetLayers = 256;
inline constexpr int kMaxNetChannels = 1024;
inline constexpr int kMaxNetKernel = 7;
inline constexpr int kMaxNetStride = 4;
inline constexpr int kMaxNetMargin = 64;

enum class LayerKind { kConv, kDeconv, kDense, kMean, kScale, kCrop, kAdd, kPrelu };
enum class Activation { kNone, kRelu, kLeaky, kSigmoid };

inline constexpr size_t kNoTensor = static_cast<size_t>(-1);

struct NetLayer {
  LayerKind kind = LayerKind::kConv;
  int input = 0;    // blob index
  int input2 = -1;  // second input (scale, crop, add), else -1
  int output = 0;
  int in = 0, out = 0, kernel = 1, stride = 1, pad = 0;
  Activation act = Activation::kNone;
  float slope = 0;
  int cropX = 0, cropY = 0;
  size_t weights = kNoTensor;  // first float of the tensor, or kNoTensor
  size_t bias = kNoTensor;
};

struct Net {
  std::string name;
  int scale = 1;
  int noise = -1;
  int margin = 0;
  int inputBlob = 0;
  int outputBlob = 0;
  std::vector<int> blobChannels;  // per blob; a dense or mean output is a vector
  std::vector<bool> blobIsVector;
  std::vector<NetLayer> layers;
  std::vector<float> floats;
};

// Reads a network file from memory. False with the reason in `why` (English,
// for logs and tests) when the bytes are not a sound network file; `net` is
// then left empty.
bool ReadNetFile(std::span<const uint8_t> bytes, Net& net, std::string* why = nullptr);

// Reads one from a file of at most kMaxNetFileBytes.
bool LoadNetFile(const std::filesystem::path& path, Net& net, std::string* why = nullptr);

// The output size of an input of w x h pixels (each side in 1..65535), from
// every layer's rule (conv (n + 2 pad - k) / stride + 1 and exact, deconv
// (n - 1) stride + k - 2 pad, crop within its input). False when some layer
// cannot take the size.
bool NetOutputSize(const Net& net, int w, int h, int& outW, int& outH);

// Every blob's size for that input (a vector's is 1 x 1), by the same rules;
// no side beyond 2^20.
struct BlobSize {
  int w = 0, h = 0;
};
bool NetBlobSizes(const Net& net, int w, int h, std::vector<BlobSize>& sizes);

}  // namespace inkbrite::learned
