// SPDX-License-Identifier: GPL-2.0-or-later
#include "learned/upscale.h"

#include <algorithm>
#include <cmath>

namespace inkbrite::learned {

std::vector<TileRect> CoverTiles(int w, int h, int tile) {
  std::vector<TileRect> tiles;
  if (w <= 0 || h <= 0 || tile <= 0) return tiles;
  for (int y = 0; y < h; y += tile) {
    for (int x = 0; x < w; x += tile) {
      tiles.push_back({x, y, std::min(tile, w - x), std::min(tile, h - y)});
    }
  }
  return tiles;
}

bool NetTakesTile(const Net& net, int tile) {
  int ow = 0, oh = 0;
  const int side = tile + 2 * net.margin;
  return tile > 0 && NetOutputSize(net, side, side, ow, oh) && ow == net.scale * tile &&
         oh == net.scale * tile;
}

namespace {

// The smallest size at least `n` that the network takes (strided networks
// want multiples of 4), or 0.
int FittingSize(const Net& net, int n) {
  for (int t = n; t < n + 64; ++t) {
    if (NetTakesTile(net, t)) return t;
  }
  return 0;
}

// The tile's input planes: `w` x `h` pixels from (x0, y0), edge pixels
// repeated outside the picture.
void ReadPlanes(const PixelRows& in, int x0, int y0, int w, int h, std::vector<float>& planes) {
  const size_t area = static_cast<size_t>(w) * static_cast<size_t>(h);
  planes.resize(area * 3);
  const int r = in.bgr ? 2 : 0, b = in.bgr ? 0 : 2;
  for (int y = 0; y < h; ++y) {
    const int sy = std::clamp(y0 + y, 0, in.height - 1);
    const uint8_t* row = in.data + static_cast<size_t>(sy) * in.stride;
    float* pr = planes.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    float* pg = pr + area;
    float* pb = pg + area;
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = row + static_cast<size_t>(std::clamp(x0 + x, 0, in.width - 1)) * 3;
      pr[x] = static_cast<float>(p[r]) * (1.f / 255.f);
      pg[x] = static_cast<float>(p[1]) * (1.f / 255.f);
      pb[x] = static_cast<float>(p[b]) * (1.f / 255.f);
    }
  }
}

uint8_t ToByte(float v) {
  return static_cast<uint8_t>(std::lrint(std::clamp(v, 0.f, 1.f) * 255.f));
}

// Writes the part of a tile's output that lies in the picture.
void WritePlanes(const PixelRows& out, const TileRect& t, int scale, const std::vector<float>& p,
                 int pw, int ph) {
  const size_t area = static_cast<size_t>(pw) * static_cast<size_t>(ph);
  const int r = out.bgr ? 2 : 0, b = out.bgr ? 0 : 2;
  const int w = std::min(t.w * scale, out.width - t.x * scale);
  const int h = std::min(t.h * scale, out.height - t.y * scale);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = out.data + static_cast<size_t>(t.y * scale + y) * out.stride +
                   static_cast<size_t>(t.x * scale) * 3;
    const size_t at = static_cast<size_t>(y) * static_cast<size_t>(pw);
    for (int x = 0; x < w; ++x) {
      row[x * 3 + r] = ToByte(p[at + static_cast<size_t>(x)]);
      row[x * 3 + 1] = ToByte(p[area + at + static_cast<size_t>(x)]);
      row[x * 3 + b] = ToByte(p[2 * area + at + static_cast<size_t>(x)]);
    }
  }
}

}  // namespace

bool RunNetOnTiles(NetRunner& runner, const Net& net, const PixelRows& in, const PixelRows& out,
                   const std::vector<TileRect>& tiles,
                   const std::function<bool(size_t, size_t)>& progress, std::string* why) {
  if (in.width <= 0 || in.height <= 0 || out.width != in.width * net.scale ||
      out.height != in.height * net.scale) {
    if (why != nullptr) *why = "the output is not the network's scale of the input";
    return false;
  }
  std::vector<float> planes, result;
  for (size_t i = 0; i < tiles.size(); ++i) {
    const TileRect& t = tiles[i];
    // A tile the network cannot take as it is grows to a size it takes;
    // the extra pixels (repeated edge) are made and dropped.
    const int side = FittingSize(net, std::max(t.w, t.h));
    if (side == 0 || t.x < 0 || t.y < 0 || t.w <= 0 || t.h <= 0 || t.x + t.w > in.width ||
        t.y + t.h > in.height) {
      if (why != nullptr) *why = "a tile lies outside the picture or fits no network size";
      return false;
    }
    const int m = net.margin;
    ReadPlanes(in, t.x - m, t.y - m, side + 2 * m, side + 2 * m, planes);
    int ow = 0, oh = 0;
    if (!runner.Run(planes.data(), side + 2 * m, side + 2 * m, result, ow, oh, why)) return false;
    WritePlanes(out, t, net.scale, result, ow, oh);
    if (progress && !progress(i + 1, tiles.size())) return false;
  }
  return true;
}

bool RunNetOnPicture(NetRunner& runner, const Net& net, const PixelRows& in, const PixelRows& out,
                     int tile, std::string* why) {
  const int side = FittingSize(net, std::max(tile, 1));
  return RunNetOnTiles(runner, net, in, out, CoverTiles(in.width, in.height, side), {}, why);
}

}  // namespace inkbrite::learned
