// SPDX-License-Identifier: GPL-2.0-or-later
// Resampling kernels of Inkbrite.
//
// The resize operations themselves are members of DibImage (ResizeTo,
// ResizePercent, Crop, FitSize; see core/dib_image.h and core/resample.cpp).
// This header gives the two integer kernel tables of the bicubic resampler,
// built once and read by tests.
//
// Both tables hold trunc(256 * W(d)) for the Mitchell-Netravali kernel with
// B = C = 1/3:
//
//   W(x) =  7/6 |x|^3 - 2 x^2 + 8/9                  for |x| < 1
//   W(x) = -7/18 |x|^3 + 2 x^2 - 10/3 |x| + 16/9     for 1 <= |x| < 2
//   W(x) =  0                                        otherwise
//
//   d       0     0.5    1     1.5    2
//   256 W   227   136    14    -8     0     (truncated toward zero)
//
// Entry (k, f), tap k = 0 to 3, fraction f = 0 to 255, is at k * 256 + f and
// holds the weight of the distance 1 + f/256, f/256, 1 - f/256, 2 - f/256 for
// k = 0, 1, 2, 3 (the weights of the samples one before, at, one after and
// two after the position): at fraction 0 they are 14, 227, 14, 0, at 128
// they are -8, 136, 136, -8. The bicubic resampler lays tap 0 on the
// sample's own row and column (see resample.cpp).
// RowKernel is computed from d = (k - 1) - f/256 and ColKernel from
// d = f/256 + 1 - k; the two hold the same numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace inkbrite {

inline constexpr int kKernelTaps = 4;
inline constexpr int kKernelFractions = 256;
inline constexpr size_t kKernelTableSize =
    static_cast<size_t>(kKernelTaps) * static_cast<size_t>(kKernelFractions);

// Position of the entry for tap k and fraction f (both in range).
constexpr size_t KernelIndex(int k, int f) {
  return static_cast<size_t>(k) * kKernelFractions + static_cast<size_t>(f);
}

// Fills both tables. Called at start-up after the tone tables; safe to call
// again and from several threads: the tables are built exactly once. The
// resamplers and the accessors below call it first.
void BuildKernelTables();

using KernelTable = std::span<const int32_t, kKernelTableSize>;
KernelTable RowKernel();
KernelTable ColKernel();

}  // namespace inkbrite
