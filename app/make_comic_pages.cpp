// SPDX-License-Identifier: GPL-2.0-or-later
// make_comic_pages: a synthetic corpus of scanned comic pages, for the peer
// benchmark (bench/peers/run.sh) and for the viewer's sample pages.
//
// Each page is drawn from its own fixed seed, so a run always writes the same
// files: a grid of panels with thick borders, figures drawn with ink strokes,
// buildings and speed lines, speech balloons holding text-like lettering,
// screentone (rotated dot screens with graded tone), all on slightly
// off-white paper with uneven lighting and scanner noise. Most pages are
// black and white: some stored as one-component (grey) JPEG files, some as
// three-component files as many scanners save them; every eighth page is a
// colour page with flat pastel fills.
//
//   make_comic_pages [options] OUT_DIR
//     --pages N        normal pages (default 40)
//     --large N        large pages, 4000 x 6000 (default 4)
//     --size WxH       size of the normal pages (default 1700x2400)
//     --quality Q      JPEG quality (default 90)
//     --samples        small pages for the viewer: 1200x1700, quality 85,
//                      no large pages (other options may follow and win)
//     --prefix TEXT    file name prefix (default "page")
//     --grey           every page black and white, stored as one-component
//                      (grey) JPEG, as most manga and comic scans are
//
// Files are named PREFIX_NNN.jpg and PREFIX_large_NN.jpg.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "formats/image_file.h"

namespace {

using inkbrite::DibImage;

struct Rgb {
  float r, g, b;
};

constexpr Rgb kInk{18, 16, 20};
constexpr Rgb kWhite{250, 249, 246};

// A 24-bit page with painter's-algorithm drawing: every primitive computes an
// anti-aliased coverage per pixel and blends its colour over what is there.
class Canvas {
 public:
  Canvas(DibImage& image, float scale) : m_image(image), m_scale(scale) {}

  int Width() const { return m_image.Width(); }
  int Height() const { return m_image.Height(); }
  float Scale() const { return m_scale; }

  void Blend(int x, int y, const Rgb& c, float cover) {
    if (cover <= 0.0f || x < 0 || y < 0 || x >= Width() || y >= Height()) return;
    cover = std::min(cover, 1.0f);
    uint8_t* p = m_image.Row(y) + 3 * static_cast<size_t>(x);
    const auto mix = [cover](uint8_t below, float over) {
      const auto from = static_cast<float>(below);
      return static_cast<uint8_t>(std::lround(from + (over - from) * cover));
    };
    p[0] = mix(p[0], c.b);
    p[1] = mix(p[1], c.g);
    p[2] = mix(p[2], c.r);
  }

  // A round-capped segment of width w (its capsule).
  void Segment(float x0, float y0, float x1, float y1, float w, const Rgb& c) {
    const float r = w * 0.5f;
    const int bx0 = static_cast<int>(std::floor(std::min(x0, x1) - r - 1));
    const int bx1 = static_cast<int>(std::ceil(std::max(x0, x1) + r + 1));
    const int by0 = static_cast<int>(std::floor(std::min(y0, y1) - r - 1));
    const int by1 = static_cast<int>(std::ceil(std::max(y0, y1) + r + 1));
    const float dx = x1 - x0, dy = y1 - y0;
    const float len2 = dx * dx + dy * dy;
    for (int y = std::max(by0, m_clipY0); y <= std::min(by1, m_clipY1); ++y) {
      for (int x = std::max(bx0, m_clipX0); x <= std::min(bx1, m_clipX1); ++x) {
        const float px = static_cast<float>(x) + 0.5f - x0, py = static_cast<float>(y) + 0.5f - y0;
        float t = len2 > 0 ? (px * dx + py * dy) / len2 : 0.0f;
        t = std::clamp(t, 0.0f, 1.0f);
        const float ex = px - t * dx, ey = py - t * dy;
        const float d = std::sqrt(ex * ex + ey * ey);
        Blend(x, y, c, r + 0.5f - d);
      }
    }
  }

  // A pen stroke along a cubic Bezier curve, its width tapering at both ends
  // as a brush stroke does.
  void Stroke(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3,
              float w, const Rgb& c, bool taper = true) {
    const float len =
        std::hypot(x3 - x0, y3 - y0) + std::hypot(x1 - x0, y1 - y0) + std::hypot(x2 - x3, y2 - y3);
    const int n = std::max(4, static_cast<int>(len / (2.0f * m_scale)));
    float px = x0, py = y0;
    for (int i = 1; i <= n; ++i) {
      const float t = static_cast<float>(i) / static_cast<float>(n), u = 1 - t;
      const float x = u * u * u * x0 + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3;
      const float y = u * u * u * y0 + 3 * u * u * t * y1 + 3 * u * t * t * y2 + t * t * t * y3;
      const float k =
          taper ? 0.35f + 0.65f * std::sin(3.14159f * (t - 0.5f / static_cast<float>(n))) : 1.0f;
      Segment(px, py, x, y, std::max(1.0f, w * k), c);
      px = x;
      py = y;
    }
  }

  // A filled ellipse, optionally outlined.
  void Ellipse(float cx, float cy, float rx, float ry, const Rgb* fill, float outline,
               const Rgb& line) {
    const int x0 = static_cast<int>(cx - rx - outline - 2),
              x1 = static_cast<int>(cx + rx + outline + 2);
    const int y0 = static_cast<int>(cy - ry - outline - 2),
              y1 = static_cast<int>(cy + ry + outline + 2);
    const float rm = std::min(rx, ry);
    for (int y = std::max(y0, m_clipY0); y <= std::min(y1, m_clipY1); ++y) {
      for (int x = std::max(x0, m_clipX0); x <= std::min(x1, m_clipX1); ++x) {
        const float ux = (static_cast<float>(x) + 0.5f - cx) / rx;
        const float uy = (static_cast<float>(y) + 0.5f - cy) / ry;
        // Signed distance, close enough for round-ish ellipses.
        const float d = (std::sqrt(ux * ux + uy * uy) - 1.0f) * rm;
        if (fill != nullptr) Blend(x, y, *fill, 0.5f - d);
        if (outline > 0) Blend(x, y, line, outline * 0.5f + 0.5f - std::fabs(d));
      }
    }
  }

  void FillRect(float x0, float y0, float x1, float y1, const Rgb& c) {
    for (int y = std::max(static_cast<int>(y0), m_clipY0);
         y < std::min(static_cast<int>(y1), m_clipY1 + 1); ++y) {
      for (int x = std::max(static_cast<int>(x0), m_clipX0);
           x < std::min(static_cast<int>(x1), m_clipX1 + 1); ++x) {
        Blend(x, y, c, 1.0f);
      }
    }
  }

  void Rect(float x0, float y0, float x1, float y1, float w, const Rgb& c) {
    Segment(x0, y0, x1, y0, w, c);
    Segment(x1, y0, x1, y1, w, c);
    Segment(x1, y1, x0, y1, w, c);
    Segment(x0, y1, x0, y0, w, c);
  }

  // Screentone over a rectangle: a dot screen at 45 degrees, period `period`
  // pixels, its tone going from `tone0` at the top to `tone1` at the bottom
  // (0 white, 1 solid).
  void Tone(float x0, float y0, float x1, float y1, float period, float tone0, float tone1,
            const Rgb& c) {
    const float inv = 1.0f / period;
    const int iy0 = std::max(static_cast<int>(y0), m_clipY0),
              iy1 = std::min(static_cast<int>(y1), m_clipY1);
    const int ix0 = std::max(static_cast<int>(x0), m_clipX0),
              ix1 = std::min(static_cast<int>(x1), m_clipX1);
    for (int y = iy0; y <= iy1; ++y) {
      const float t = (static_cast<float>(y) - y0) / std::max(1.0f, y1 - y0);
      const float tone = tone0 + (tone1 - tone0) * t;
      // Dot radius giving that covered fraction of the cell.
      const float r = std::sqrt(tone / 3.14159f) * period;
      for (int x = ix0; x <= ix1; ++x) {
        const float u = (static_cast<float>(x) + static_cast<float>(y)) * 0.70710678f * inv;
        const float v = (static_cast<float>(x) - static_cast<float>(y)) * 0.70710678f * inv;
        const float fu = (u - std::floor(u) - 0.5f) * period;
        const float fv = (v - std::floor(v) - 0.5f) * period;
        const float d = std::sqrt(fu * fu + fv * fv);
        Blend(x, y, c, r + 0.5f - d);
      }
    }
  }

  void Clip(int x0, int y0, int x1, int y1) {
    m_clipX0 = std::max(0, x0);
    m_clipY0 = std::max(0, y0);
    m_clipX1 = std::min(Width() - 1, x1);
    m_clipY1 = std::min(Height() - 1, y1);
  }
  void NoClip() { Clip(0, 0, Width() - 1, Height() - 1); }

 private:
  DibImage& m_image;
  float m_scale;
  int m_clipX0 = 0, m_clipY0 = 0, m_clipX1 = 0, m_clipY1 = 0;
};

class Painter {
 public:
  Painter(Canvas& canvas, uint32_t seed, bool colour)
      : m_c(canvas), m_rng(seed), m_colour(colour), m_s(canvas.Scale()) {}

  float U(float a, float b) { return std::uniform_real_distribution<float>(a, b)(m_rng); }
  int I(int a, int b) { return std::uniform_int_distribution<int>(a, b)(m_rng); }

  Rgb Pastel() {
    if (!m_colour) return kWhite;
    static constexpr Rgb kPalette[] = {{236, 214, 170}, {190, 214, 236}, {214, 236, 190},
                                       {240, 196, 196}, {220, 204, 236}, {244, 228, 160}};
    return kPalette[I(0, 5)];
  }

  // Lettering: rows of words, each letter two or three short strokes.
  void Text(float x0, float y0, float width, int lines) {
    const float h = 15 * m_s, gap = 7 * m_s, letter = 10 * m_s;
    for (int l = 0; l < lines; ++l) {
      const float y = y0 + static_cast<float>(l) * (h + gap);
      const float lineWidth = width * U(0.7f, 1.0f);
      float x = x0 + (width - lineWidth) * 0.5f;
      while (x < x0 + (width + lineWidth) * 0.5f - 3 * letter) {
        const int letters = I(2, 7);
        for (int k = 0; k < letters; ++k) {
          const int strokes = I(2, 3);
          for (int s = 0; s < strokes; ++s) {
            const float ax = x + U(0, letter * 0.7f), ay = y + U(0, h);
            const float bx = x + U(0, letter * 0.7f), by = y + U(0, h);
            m_c.Segment(ax, ay, bx, by, 2.2f * m_s, kInk);
          }
          x += letter;
        }
        x += letter * 0.9f;
      }
    }
  }

  // A speech balloon with a tail towards (tx, ty), holding lettering.
  void Balloon(float cx, float cy, float rx, float ry, float tx, float ty) {
    const Rgb white = kWhite;
    // Tail first, so the balloon's fill covers its root.
    const float bx = cx + (tx - cx) * 0.3f, by = cy + (ty - cy) * 0.3f;
    for (float k = -1; k <= 1; k += 0.05f) {
      m_c.Segment(bx + k * rx * 0.15f, by, tx, ty, 3 * m_s, white);
    }
    m_c.Segment(bx - rx * 0.15f, by, tx, ty, 3 * m_s, kInk);
    m_c.Segment(bx + rx * 0.15f, by, tx, ty, 3 * m_s, kInk);
    m_c.Ellipse(cx, cy, rx, ry, &white, 3.0f * m_s, kInk);
    const int lines = std::max(1, static_cast<int>(ry * 1.2f / (22 * m_s)));
    Text(cx - rx * 0.62f, cy - static_cast<float>(lines) * 11 * m_s, rx * 1.24f, lines);
  }

  // A standing figure of height h whose feet are at (x, y).
  void Figure(float x, float y, float h) {
    const float w = std::max(2.0f, h * 0.012f);
    const Rgb skin = m_colour ? Rgb{246, 214, 190} : kWhite;
    const float head = h * 0.11f;
    const float hx = x + U(-0.03f, 0.03f) * h, hy = y - h + head;
    const float neckY = hy + head * 1.05f, hipY = y - h * 0.47f;
    // Body: a filled coat outline.
    const Rgb coat = m_colour ? Pastel() : kWhite;
    for (float k = -1; k <= 1; k += 0.1f) {
      m_c.Segment(hx + k * h * 0.08f, neckY + h * 0.03f, x + k * h * 0.11f, hipY, w * 3, coat);
    }
    m_c.Stroke(hx - h * 0.08f, neckY + h * 0.03f, hx - h * 0.11f, neckY + h * 0.15f, x - h * 0.12f,
               hipY - h * 0.1f, x - h * 0.11f, hipY, w, kInk);
    m_c.Stroke(hx + h * 0.08f, neckY + h * 0.03f, hx + h * 0.11f, neckY + h * 0.15f, x + h * 0.12f,
               hipY - h * 0.1f, x + h * 0.11f, hipY, w, kInk);
    m_c.Segment(x - h * 0.11f, hipY, x + h * 0.11f, hipY, w, kInk);
    // Legs.
    for (int side = -1; side <= 1; side += 2) {
      const float fx = x + static_cast<float>(side) * h * U(0.05f, 0.16f);
      m_c.Stroke(x + static_cast<float>(side) * h * 0.06f, hipY, fx, hipY + h * 0.2f, fx,
                 y - h * 0.15f, fx, y, w * 1.3f, kInk);
      m_c.Segment(fx, y, fx + static_cast<float>(side) * h * 0.06f, y, w * 1.6f, kInk);
    }
    // Arms, one raised now and then.
    for (int side = -1; side <= 1; side += 2) {
      const float sx = hx + static_cast<float>(side) * h * 0.09f, sy = neckY + h * 0.05f;
      const bool raised = I(0, 3) == 0;
      const float ex = sx + static_cast<float>(side) * h * U(0.08f, 0.16f);
      const float ey = raised ? sy - h * U(0.1f, 0.2f) : sy + h * U(0.15f, 0.25f);
      m_c.Stroke(sx, sy, sx + static_cast<float>(side) * h * 0.05f, sy + (ey - sy) * 0.3f, ex,
                 (sy + ey) * 0.5f, ex, ey, w * 1.2f, kInk);
      m_c.Ellipse(ex, ey, h * 0.018f, h * 0.018f, &skin, w, kInk);
    }
    // Head, hair and face.
    m_c.Ellipse(hx, hy, head * 0.85f, head, &skin, w * 1.2f, kInk);
    const int hairs = I(6, 12);
    for (int i = 0; i < hairs; ++i) {
      const float a = 3.14159f * (1.05f + 0.9f * static_cast<float>(i) / static_cast<float>(hairs));
      const float sx = hx + std::cos(a) * head * 0.2f, sy = hy - head * 0.9f;
      const float ex = hx + std::cos(a) * head * 1.05f, ey = hy + std::sin(a) * head * 0.6f;
      m_c.Stroke(sx, sy, sx + (ex - sx) * 0.3f, sy - head * 0.4f, ex, ey - head * 0.3f, ex, ey,
                 w * 1.1f, kInk);
    }
    m_c.Ellipse(hx - head * 0.3f, hy, head * 0.08f, head * 0.13f, &kInk, 0, kInk);
    m_c.Ellipse(hx + head * 0.3f, hy, head * 0.08f, head * 0.13f, &kInk, 0, kInk);
    m_c.Stroke(hx - head * 0.25f, hy + head * 0.45f, hx - head * 0.1f, hy + head * 0.6f,
               hx + head * 0.1f, hy + head * 0.6f, hx + head * 0.25f, hy + head * 0.45f, w * 0.8f,
               kInk);
  }

  // A row of buildings along a ground line at y.
  void Buildings(float x0, float x1, float y, float maxH) {
    float x = x0 - U(0, 40) * m_s;
    while (x < x1) {
      const float bw = U(0.12f, 0.3f) * (x1 - x0), bh = U(0.4f, 1.0f) * maxH;
      const Rgb wall = m_colour ? Pastel() : kWhite;
      m_c.FillRect(x, y - bh, x + bw, y, wall);
      m_c.Rect(x, y - bh, x + bw, y, 2.5f * m_s, kInk);
      const float win = 18 * m_s;
      for (float wy = y - bh + win; wy < y - 2 * win; wy += 2.2f * win) {
        for (float wx = x + win * 0.8f; wx < x + bw - 1.6f * win; wx += 2 * win) {
          m_c.Rect(wx, wy, wx + win, wy + win * 1.3f, 1.5f * m_s, kInk);
          if (I(0, 2) == 0) m_c.Tone(wx, wy, wx + win, wy + win * 1.3f, 5 * m_s, 0.5f, 0.5f, kInk);
        }
      }
      x += bw + U(0, 10) * m_s;
    }
    m_c.Segment(x0, y, x1, y, 3 * m_s, kInk);
  }

  void Panel(float x0, float y0, float x1, float y1) {
    const float border = 6 * m_s;
    const float w = x1 - x0, h = y1 - y0;
    m_c.Clip(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
             static_cast<int>(y1));
    if (m_colour) m_c.FillRect(x0, y0, x1, y1, Pastel());
    const int kind = I(0, 3);
    const float ground = y0 + h * U(0.7f, 0.9f);
    if (kind == 0) {
      // Sky in graded screentone, buildings, figures.
      m_c.Tone(x0, y0, x1, ground, U(7, 10) * m_s, U(0.3f, 0.5f), U(0.02f, 0.1f), kInk);
      Buildings(x0, x1, ground, h * 0.55f);
    } else if (kind == 1) {
      // Speed lines converging on the middle.
      const float cx = x0 + w * 0.5f, cy = y0 + h * 0.45f;
      const int lines = I(40, 80);
      for (int i = 0; i < lines; ++i) {
        const float a = U(0, 6.2832f), r0 = U(0.25f, 0.4f) * std::min(w, h);
        const float r1 = std::max(w, h);
        m_c.Stroke(cx + std::cos(a) * r1, cy + std::sin(a) * r1, cx + std::cos(a) * r1 * 0.7f,
                   cy + std::sin(a) * r1 * 0.7f, cx + std::cos(a) * r0 * 1.3f,
                   cy + std::sin(a) * r0 * 1.3f, cx + std::cos(a) * r0, cy + std::sin(a) * r0,
                   U(2, 6) * m_s, kInk);
      }
    } else if (kind == 2) {
      // Flat tone background with a hatched floor.
      m_c.Tone(x0, y0, x1, y1, 6 * m_s, U(0.15f, 0.35f), U(0.15f, 0.35f), kInk);
      m_c.FillRect(x0, ground, x1, y1, m_colour ? Pastel() : kWhite);
      for (float hx = x0 - h; hx < x1; hx += 14 * m_s) {
        m_c.Segment(hx, y1, hx + (y1 - ground), ground, 1.6f * m_s, kInk);
      }
      m_c.Segment(x0, ground, x1, ground, 3 * m_s, kInk);
    } else {
      // A close-up: one large head, dark tone behind it.
      m_c.Tone(x0, y0, x1, y1, 5 * m_s, 0.55f, 0.25f, kInk);
    }
    // Figures standing on the ground (a close-up shows one big figure).
    const int figures = kind == 3 ? 1 : I(1, 3);
    for (int i = 0; i < figures; ++i) {
      const float fh = kind == 3 ? h * 1.6f : h * U(0.45f, 0.7f);
      const float fx = x0 + w * (static_cast<float>(i) + 0.5f) / static_cast<float>(figures) +
                       U(-0.05f, 0.05f) * w;
      Figure(fx, kind == 3 ? y1 + h * 0.6f : ground + h * 0.02f, fh);
    }
    // One or two balloons near the top.
    const int balloons = I(0, 2);
    for (int i = 0; i < balloons; ++i) {
      const float rx = std::min(w * U(0.18f, 0.28f), 320 * m_s);
      const float ry = std::min(h * U(0.14f, 0.22f), 170 * m_s);
      const float cx = x0 + rx + border + (w - 2 * rx - 2 * border) * U(0, 1);
      const float cy = y0 + ry + border + h * 0.04f + static_cast<float>(i) * ry * 1.2f;
      Balloon(cx, cy, rx, ry, cx + U(-0.4f, 0.4f) * rx, cy + ry * 1.7f);
    }
    m_c.NoClip();
    m_c.Rect(x0, y0, x1, y1, border, kInk);
  }

  void Page() {
    const float W = static_cast<float>(m_c.Width()), H = static_cast<float>(m_c.Height());
    const float margin = W * 0.06f, gutter = W * 0.022f;
    const int rows = I(3, 4);
    float y = margin;
    const float rowH =
        (H - 2 * margin - gutter * static_cast<float>(rows - 1)) / static_cast<float>(rows);
    for (int r = 0; r < rows; ++r) {
      const int cols = I(1, 3);
      float x = margin;
      // Uneven panel widths, summing to the live area.
      std::vector<float> share(static_cast<size_t>(cols));
      float total = 0;
      for (float& s : share) total += (s = U(0.7f, 1.3f));
      const float live = W - 2 * margin - gutter * static_cast<float>(cols - 1);
      for (int c = 0; c < cols; ++c) {
        const float pw = live * share[static_cast<size_t>(c)] / total;
        Panel(x, y, x + pw, y + rowH);
        x += pw + gutter;
      }
      y += rowH + gutter;
    }
    // Page number at the foot.
    Text(W * 0.47f, H - margin * 0.6f, W * 0.06f, 1);
  }

 private:
  Canvas& m_c;
  std::mt19937 m_rng;
  bool m_colour;
  float m_s;
};

// Paper: off-white with a faint tint, uneven lighting across the page.
void FillPaper(DibImage& image, std::mt19937& rng, bool colourScan) {
  const int w = image.Width(), h = image.Height();
  std::uniform_real_distribution<float> u(-1, 1);
  const float base = 238 + 6 * u(rng), tintR = colourScan ? 4.0f : 2.0f, tintB = -3.0f;
  const float gx = 5 * u(rng), gy = 6 * u(rng);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.Row(y);
    const float fy = static_cast<float>(y) / static_cast<float>(h) - 0.5f;
    for (int x = 0; x < w; ++x) {
      const float fx = static_cast<float>(x) / static_cast<float>(w) - 0.5f;
      const float v = base + gx * fx + gy * fy - 10 * (fx * fx + fy * fy);
      uint8_t* pixel = row + 3 * static_cast<size_t>(x);
      pixel[0] = static_cast<uint8_t>(std::clamp(v + tintB, 0.0f, 255.0f));
      pixel[1] = static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f));
      pixel[2] = static_cast<uint8_t>(std::clamp(v + tintR, 0.0f, 255.0f));
    }
  }
}

// Scanner noise: a little Gaussian-like noise on every pixel (the same on all
// three channels of a black-and-white page) and faint vertical streaks.
void AddNoise(DibImage& image, uint32_t seed, bool colour) {
  const int w = image.Width(), h = image.Height();
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&s] {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  std::vector<float> streak(static_cast<size_t>(w));
  for (float& v : streak) v = (next() % 1000 < 4) ? -static_cast<float>(next() % 5) : 0.0f;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < w; ++x) {
      const uint32_t r = next();
      // Sum of four bytes: roughly normal, sigma about 2.5 levels.
      const float n =
          (static_cast<float>((r & 255) + ((r >> 8) & 255) + ((r >> 16) & 255) + (r >> 24)) -
           510.0f) /
              60.0f +
          streak[static_cast<size_t>(x)];
      for (int c = 0; c < 3; ++c) {
        const float extra =
            colour ? static_cast<float>(static_cast<int>(next() & 3) - 1) * 0.5f : 0.0f;
        uint8_t& byte = row[3 * x + c];
        byte = static_cast<uint8_t>(std::clamp(static_cast<float>(byte) + n + extra, 0.0f, 255.0f));
      }
    }
  }
}

bool MakePage(const std::filesystem::path& path, int width, int height, int quality, uint32_t seed,
              bool colour, bool oneComponent) {
  DibImage image;
  if (!image.Create(width, height, 24)) return false;
  std::mt19937 rng(seed);
  FillPaper(image, rng, colour);
  Canvas canvas(image, static_cast<float>(width) / 1700.0f);
  canvas.NoClip();
  Painter painter(canvas, seed ^ 0x5bd1e995u, colour);
  painter.Page();
  AddNoise(image, seed, colour);
  return inkbrite::SaveImageFile(path, image, oneComponent ? 1 : 0, quality) == 1;
}

bool ParseSize(std::string_view text, int& w, int& h) {
  return std::sscanf(std::string(text).c_str(), "%dx%d", &w, &h) == 2 && w >= 64 && h >= 64 &&
         w <= 20000 && h <= 20000;
}

int Usage() {
  std::fprintf(stderr,
               "usage: make_comic_pages [--pages N] [--large N] [--size WxH] [--quality Q]\n"
               "                        [--samples] [--prefix TEXT] [--grey] OUT_DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int pages = 40, large = 4, width = 1700, height = 2400, quality = 90;
  std::string prefix = "page";
  bool allGrey = false;
  std::filesystem::path out;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--samples") {
      width = 1200;
      height = 1700;
      quality = 85;
      large = 0;
      pages = 6;
    } else if (a == "--pages" && hasValue) {
      pages = std::atoi(argv[++i]);
    } else if (a == "--large" && hasValue) {
      large = std::atoi(argv[++i]);
    } else if (a == "--quality" && hasValue) {
      quality = std::atoi(argv[++i]);
    } else if (a == "--grey") {
      allGrey = true;
    } else if (a == "--prefix" && hasValue) {
      prefix = argv[++i];
    } else if (a == "--size" && hasValue) {
      if (!ParseSize(argv[++i], width, height)) return Usage();
    } else if (!a.empty() && a[0] != '-' && out.empty()) {
      out = a;
    } else {
      return Usage();
    }
  }
  if (out.empty() || pages < 0 || large < 0 || quality < 1 || quality > 100) return Usage();
  std::error_code ec;
  std::filesystem::create_directories(out, ec);

  auto name = [&prefix](const char* middle, int index) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", index);
    return prefix + middle + number + ".jpg";
  };
  for (int i = 0; i < pages; ++i) {
    // Every eighth page in colour; of the black-and-white pages one in three
    // is stored with three components, the rest with one.
    const bool colour = !allGrey && i % 8 == 5;
    const bool oneComponent = allGrey || (!colour && i % 3 != 0);
    if (!MakePage(out / name("_", i + 1), width, height, quality, 1000u + static_cast<uint32_t>(i),
                  colour, oneComponent)) {
      std::fprintf(stderr, "make_comic_pages: cannot write %s\n", name("_", i + 1).c_str());
      return 1;
    }
  }
  for (int i = 0; i < large; ++i) {
    const bool colour = !allGrey && i == 1;
    if (!MakePage(out / name("_large_", i + 1), 4000, 6000, quality,
                  9000u + static_cast<uint32_t>(i), colour, !colour)) {
      std::fprintf(stderr, "make_comic_pages: cannot write %s\n", name("_large_", i + 1).c_str());
      return 1;
    }
  }
  return 0;
}
