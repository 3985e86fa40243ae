// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/core/scan_pages.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace inkbrite::test {

void FillRect(DibImage& image, const DibRect& rect, Bgr colour) {
  const int32_t x0 = std::max(0, rect.left);
  const int32_t x1 = std::min(image.Width(), rect.right);
  for (int32_t y = std::max(0, rect.top); y < std::min(image.Height(), rect.bottom); ++y) {
    uint8_t* p = image.Row(y) + static_cast<size_t>(x0) * 3;
    for (int32_t x = x0; x < x1; ++x, p += 3) {
      p[0] = colour.b;
      p[1] = colour.g;
      p[2] = colour.r;
    }
  }
}

namespace {

void Frame(DibImage& image, const DibRect& r, int32_t t, Bgr ink) {
  FillRect(image, {r.left, r.top, r.right, r.top + t}, ink);
  FillRect(image, {r.left, r.bottom - t, r.right, r.bottom}, ink);
  FillRect(image, {r.left, r.top, r.left + t, r.bottom}, ink);
  FillRect(image, {r.right - t, r.top, r.right, r.bottom}, ink);
}

// Text-like strokes and a grey shape inside a panel's frame.
void PanelContent(DibImage& image, const DibRect& panel, std::mt19937& rng, Bgr ink) {
  const int32_t inset = 10;
  const DibRect inside{panel.left + inset, panel.top + inset, panel.right - inset,
                       panel.bottom - inset};
  if (inside.Width() < 20 || inside.Height() < 20) return;
  // A grey shape in the lower part.
  const int32_t sw = Uniform(rng, inside.Width() / 4, inside.Width() / 2);
  const int32_t sh = Uniform(rng, inside.Height() / 6, inside.Height() / 3);
  const int32_t sx = Uniform(rng, inside.left, inside.right - sw);
  const auto grey = static_cast<uint8_t>(Uniform(rng, 90, 170));
  FillRect(image, {sx, inside.bottom - sh, sx + sw, inside.bottom}, {grey, grey, grey});
  // Lines of words in the upper part: strokes 3 pixels tall, 9 apart.
  const int32_t lines = std::min(6, (inside.Height() - sh) / 14);
  for (int32_t l = 0; l < lines; ++l) {
    const int32_t y = inside.top + 2 + l * 9;
    int32_t x = inside.left + Uniform(rng, 0, 10);
    const int32_t end = inside.left + Uniform(rng, inside.Width() / 2, inside.Width() - 1);
    while (x < end) {
      const int32_t word = Uniform(rng, 6, 30);
      FillRect(image, {x, y, std::min(x + word, end), y + 3}, ink);
      x += word + Uniform(rng, 4, 8);
    }
  }
}

}  // namespace

DibImage ComicPage(int32_t width, int32_t height, const DibRect& box, std::mt19937& rng, Bgr paper,
                   Bgr ink) {
  DibImage image;
  if (!image.Create(width, height, 24)) throw std::runtime_error("Create failed");
  FillRect(image, {0, 0, width, height}, paper);
  const int32_t gap = std::max<int32_t>(6, box.Width() / 40);
  const int32_t tiers = Uniform(rng, 2, 4);
  const int32_t tierHeight = (box.Height() - (tiers - 1) * gap) / tiers;
  for (int32_t t = 0; t < tiers; ++t) {
    const int32_t top = box.top + t * (tierHeight + gap);
    const int32_t bottom = t + 1 == tiers ? box.bottom : top + tierHeight;
    const int32_t panels = Uniform(rng, 1, 3);
    int32_t left = box.left;
    for (int32_t p = 0; p < panels; ++p) {
      const int32_t remaining = box.right - left;
      const int32_t right = p + 1 == panels ? box.right
                                            : left +
                                                  Uniform(rng, remaining / (panels - p) * 2 / 3,
                                                          remaining / (panels - p) * 4 / 3) -
                                                  gap;
      const DibRect panel{left, top, right, bottom};
      Frame(image, panel, 3, ink);
      PanelContent(image, panel, rng, ink);
      left = right + gap;
    }
  }
  return image;
}

void AddDust(DibImage& image, const DibRect& keepOut, int count, std::mt19937& rng) {
  for (int i = 0; i < count; ++i) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const int32_t size = Uniform(rng, 1, 2);
      const int32_t x = Uniform(rng, 0, image.Width() - size);
      const int32_t y = Uniform(rng, 0, image.Height() - size);
      const DibRect speck{x, y, x + size, y + size};
      const bool touches = speck.left < keepOut.right && keepOut.left < speck.right &&
                           speck.top < keepOut.bottom && keepOut.top < speck.bottom;
      if (touches) continue;
      FillRect(image, speck, {40, 40, 40});
      break;
    }
  }
}

DibImage TurnedCopy(const DibImage& page, double degrees, Bgr fill) {
  const double a = degrees * std::numbers::pi / 180.0;
  const double c = std::cos(a);
  const double s = std::sin(a);
  const int32_t w = page.Width();
  const int32_t h = page.Height();
  const double cx = w / 2.0;
  const double cy = h / 2.0;
  DibImage out;
  if (!out.Create(w, h, 24)) throw std::runtime_error("Create failed");
  const uint8_t outside[3] = {fill.b, fill.g, fill.r};
  // Sample (i, j) of pixel (x, y) comes from page point
  // (u0[i][j] + x c, v0[i][j] + x s), offset by 4 pixels so truncation floors.
  for (int32_t y = 0; y < h; ++y) {
    double u0[3][3];
    double v0[3][3];
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 3; ++i) {
        const double dx = (i + 0.5) / 3.0 - cx;
        const double dy = y + (j + 0.5) / 3.0 - cy;
        u0[j][i] = cx + dx * c - dy * s + 4.0;
        v0[j][i] = cy + dx * s + dy * c + 4.0;
      }
    }
    uint8_t* o = out.Row(y);
    for (int32_t x = 0; x < w; ++x, o += 3) {
      int sum[3] = {0, 0, 0};
      for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
          const double px = u0[j][i] + x * c;
          const double py = v0[j][i] + x * s;
          const int32_t sx = px < 0.0 ? -1 : static_cast<int32_t>(px) - 4;
          const int32_t sy = py < 0.0 ? -1 : static_cast<int32_t>(py) - 4;
          const uint8_t* v = sx >= 0 && sx < w && sy >= 0 && sy < h
                                 ? page.Row(sy) + static_cast<size_t>(sx) * 3
                                 : outside;
          sum[0] += v[0];
          sum[1] += v[1];
          sum[2] += v[2];
        }
      }
      for (int k = 0; k < 3; ++k) o[k] = static_cast<uint8_t>((sum[k] + 4) / 9);
    }
  }
  return out;
}

double DifferingShare(const DibImage& a, const DibImage& b, const DibRect& area, int tolerance) {
  int64_t differing = 0;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) {
      const Bgr p = PixelAt(a, x, y);
      const Bgr q = PixelAt(b, x, y);
      const int d = std::max({std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r)});
      differing += d > tolerance ? 1 : 0;
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(area.Width()) * area.Height());
}

}  // namespace inkbrite::test
