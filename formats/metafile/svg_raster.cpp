// SPDX-License-Identifier: GPL-2.0-or-later
// SVG to a 24-bit picture with librsvg and cairo.
//
// The picture is drawn in tiles of at most kTile x kTile pixels: cairo image
// surfaces cannot exceed 32767 pixels per side, and a tile keeps the
// rasteriser's own buffer (4 bytes a pixel) near the size of the picture
// itself. Each tile is filled white, the whole document is drawn through it
// (cairo clips to the tile) and its pixels are copied into the image. The
// surface is opaque, so cairo's premultiplied ARGB words are plain blue,
// green, red bytes.
//
// Drawing has a deadline. librsvg cannot be interrupted while it draws, so
// the document is cut into layers of about LayerBytesFor its size
// (CutIntoLayers) and drawn one layer at a time (rsvg_handle_render_layer),
// the clock read between them: a document of many thick, self-crossing
// paths (hours of work) stops within one layer of its deadline, and the
// picture is given up.
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "formats/metafile/metafile_pvt.h"

namespace inkbrite::metafile {

namespace {

constexpr int32_t kTile = 2048;

// Owns the librsvg handle and a pending GError.
struct RsvgResources {
  RsvgHandle* handle = nullptr;
  GError* error = nullptr;
  ~RsvgResources() {
    if (error != nullptr) g_error_free(error);
    if (handle != nullptr) g_object_unref(handle);
  }
};

// The picture made on the canvas: its top row and the step to the next.
struct Picture {
  uint8_t* top = nullptr;
  ptrdiff_t rowStep = 0;
  uint8_t* Row(int32_t y) const { return top + static_cast<ptrdiff_t>(y) * rowStep; }
};

// Copies the tile's pixels into the picture at (x0, y0).
bool CopyTile(cairo_surface_t* surface, int32_t x0, int32_t y0, int32_t width, int32_t height,
              const Picture& image) {
  cairo_surface_flush(surface);
  const uint8_t* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  if (pixels == nullptr) return false;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
    uint8_t* dst = image.Row(y0 + y) + static_cast<size_t>(x0) * 3;
    for (int32_t x = 0; x < width; ++x, src += 4, dst += 3) {
      // Native-endian 0x00RRGGBB words: bytes blue, green, red on x86.
      uint32_t word;
      std::memcpy(&word, src, 4);
      dst[0] = static_cast<uint8_t>(word);
      dst[1] = static_cast<uint8_t>(word >> 8);
      dst[2] = static_cast<uint8_t>(word >> 16);
    }
  }
  return true;
}

// Draws every layer through the tile whose top-left corner is (x0, y0) of
// the picture, and copies its pixels into the image.
bool DrawTile(const RsvgResources& rsvg, const std::vector<std::string>& layers,
              PictureSize pictureSize, int32_t x0, int32_t y0, int32_t width, int32_t height,
              Deadline deadline, const Picture& image) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_paint(cr);
  cairo_translate(cr, -x0, -y0);
  const RsvgRectangle viewport = {0.0, 0.0, static_cast<double>(pictureSize.width),
                                  static_cast<double>(pictureSize.height)};
  bool ok = true;
  for (const std::string& layer : layers) {
    GError* error = nullptr;
    ok = std::chrono::steady_clock::now() <= deadline &&
         rsvg_handle_render_layer(rsvg.handle, cr, layer.c_str(), &viewport, &error) != FALSE &&
         cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    if (error != nullptr) g_error_free(error);
    if (!ok) break;
  }
  cairo_destroy(cr);
  ok = ok && CopyTile(surface, x0, y0, width, height, image);
  cairo_surface_destroy(surface);
  return ok;
}

}  // namespace

bool RasteriseSvg(const std::string& svg, PictureSize pictureSize,
                  const InkbriteMetafileCanvas& canvas, Deadline deadline, size_t layerBytes) {
  if (svg.empty() || !SizeFits(pictureSize.width, pictureSize.height)) return false;
  std::string layered = svg;
  std::vector<std::string> layers;
  if (!CutIntoLayers(layered, layerBytes, layers)) return false;
  Picture picture;
  picture.top = canvas.make(canvas.owner, pictureSize.width, pictureSize.height, &picture.rowStep);
  if (picture.top == nullptr) return false;

  RsvgResources rsvg;
  rsvg.handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(layered.data()),
                                          layered.size(), &rsvg.error);
  if (rsvg.handle == nullptr) return false;

  for (int32_t y0 = 0; y0 < pictureSize.height; y0 += kTile) {
    const int32_t tileHeight = std::min(kTile, pictureSize.height - y0);
    for (int32_t x0 = 0; x0 < pictureSize.width; x0 += kTile) {
      const int32_t tileWidth = std::min(kTile, pictureSize.width - x0);
      if (!DrawTile(rsvg, layers, pictureSize, x0, y0, tileWidth, tileHeight, deadline, picture))
        return false;
    }
  }
  return true;
}

}  // namespace inkbrite::metafile
