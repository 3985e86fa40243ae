// SPDX-License-Identifier: GPL-2.0-or-later
// A whole picture through a network, tile by tile: each tile of the output
// is made from its part of the picture and the network's margin around it
// (edge pixels repeated beyond the picture), so memory stays within one
// tile's layers however large the page (a 65535-wide page is many tiles).
// Tiles are made in the order given, so a caller can ask for the part in
// view first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "learned/net_run.h"

namespace inkbrite::learned {

// 8-bit pixels, 3 bytes each, rows `stride` bytes apart; `bgr` says the
// bytes are blue-green-red (a DIB's order) rather than red-green-blue.
struct PixelRows {
  uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  size_t stride = 0;
  bool bgr = false;
};

// A tile of the input picture: x, y, width, height.
struct TileRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The tiles that cover a w x h picture, `tile` pixels a side (the last row
// and column smaller), in rows from the top.
std::vector<TileRect> CoverTiles(int w, int h, int tile);

// Whether the network turns an input of `tile` + 2 margin pixels a side
// into exactly scale x `tile` pixels (a network with strided layers takes
// only some sizes).
bool NetTakesTile(const Net& net, int tile);

// Runs the network over `tiles` of `in` (each within it), writing each
// tile's scale x scale output into `out` (scale x the input's size, rows of
// its own). `progress(done, total)` is asked after each tile; false stops
// the run (the result is then incomplete and false is returned).
bool RunNetOnTiles(NetRunner& runner, const Net& net, const PixelRows& in, const PixelRows& out,
                   const std::vector<TileRect>& tiles,
                   const std::function<bool(size_t, size_t)>& progress = {},
                   std::string* why = nullptr);

// The whole picture, tiles of about `tile` pixels.
bool RunNetOnPicture(NetRunner& runner, const Net& net, const PixelRows& in, const PixelRows& out,
                     int tile = 160, std::string* why = nullptr);

}  // namespace inkbrite::learned
