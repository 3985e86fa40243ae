// SPDX-License-Identifier: GPL-2.0-or-later
// Tone tables of Inkbrite.
//
// Brightness, contrast, gamma and the gain of the highlight step map each
// channel byte through one of three fixed tables, computed once, so that a
// page of several million pixels costs one table lookup per byte. Each table
// has 256 rows (the input byte v) by 201 columns (the parameter p, 0 to 200),
// stored row after row: the entry for (v, p) is at v * 201 + p.
//
//   Gamma       e = p * 0.01; min(255, trunc(v^e / (255^e / 255) + 0.5))
//               (p = 0 gives 255 everywhere, black included: 0^0 is 1)
//   Brightness  min(255, v * p / 100)
//   Contrast    clamp(128 + (v - 128) * p / 100, 0, 255), the division
//               truncating toward zero
//
// The tone curve builds its own 256-entry table on every call.
//
// The operations themselves are members of DibImage (Brightness, Contrast,
// Gamma, Highlight, Curve); see core/dib_image.h. The pipeline runs all five
// as one TonePass (below).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace inkbrite {

class DibImage;

inline constexpr int kToneLevels = 256;    // rows: input byte 0 to 255
inline constexpr int kToneParamMax = 200;  // largest parameter column
inline constexpr int kToneParamCount = kToneParamMax + 1;
inline constexpr size_t kToneTableSize =
    static_cast<size_t>(kToneLevels) * static_cast<size_t>(kToneParamCount);

// Position of the entry for byte v and parameter p (both in range).
constexpr size_t ToneIndex(int v, int p) {
  return static_cast<size_t>(v) * kToneParamCount + static_cast<size_t>(p);
}

// Fills the brightness and contrast tables. Called at start-up; safe to call
// again and from several threads: the tables are built exactly once. Every
// tone operation and every accessor below calls it first, so nothing ever
// reads an unbuilt table. The gamma table (100,000 calls of pow) is filled
// the first time GammaTable is asked for; a tone pass computes only the
// column it uses, with the same expression, so both give the same bytes.
void BuildToneTables();

using ToneTable = std::span<const uint8_t, kToneTableSize>;
ToneTable GammaTable();
ToneTable BrightnessTable();
ToneTable ContrastTable();

// The operations run vector loops when the processor has them (x86-64,
// detected at run time): AVX-512 VBMI for every loop, else AVX2 for the byte
// lookups (a pass without the highlight, the grey pass), else portable
// loops; all give the same bytes. LimitToneLoops caps the loops used (the
// fastest available one below the cap is taken) and returns the previous
// cap, process-wide, for tests and benchmarks that compare them;
// SetToneVectorKernels(false) caps them at the portable loops, true lifts
// the cap, and it returns whether vector loops were allowed.
enum class ToneLoops { kPortable = 0, kAvx2 = 1, kAvx512 = 2 };
ToneLoops FastestToneLoops();
ToneLoops LimitToneLoops(ToneLoops widest);
bool ToneVectorKernelsAvailable();
bool SetToneVectorKernels(bool allowed);

// Table of the tone curve: a cubic Bezier curve over the control values
// 0, y1, y2, 255, evaluated at t = i / 256 for entry i (so entry 255 uses
// t = 255/256, not 1), rounded half up by trunc(value + 0.5) and clamped to
// 0 to 255. y1 and y2 may lie outside 0 to 255; only the entries are clamped.
//
//
//   255 |                          *******     . y1 = 85,  y2 = 170: the line
//       |                       *** ...oo      o y1 = 0,   y2 = 0:   255 t^3
//       |                    ***....  o        * y1 = -39, y2 = 293: S-curve
//       |                  **..     oo
//       |              .***.      oo
//       |           ..**       ooo
//       |      ....***      ooo
//       |   ... ***   oooooo
//     0 |*******oooooo
//       +---------------------------------
//       0                               255
std::array<uint8_t, 256> BuildCurveTable(int y1, int y2);

// Replaces every pixel byte v of a 24-bit image by lut[v], with the same
// loops as the tone operations (padding untouched). False for an empty or
// non-24-bit image.
bool MapPixelBytes(DibImage& image, const std::array<uint8_t, 256>& lut);

// The parameters of the pipeline's five tone steps, which run in this order:
// curve, brightness, highlight, contrast, gamma. The defaults leave every
// byte as it is.
struct ToneSettings {
  int curveX1 = 0, curveY1 = 0, curveX2 = 0, curveY2 = 0;
  int brightness = 100;
  int highlightGain = 100, highlightThreshold = 190;
  int contrast = 100;
  int gamma = 100;
};

// The five steps made one pass over the pixels, with the same bytes as the
// five operations one after the other (each with its own neutral value and
// parameter rules: a negative brightness does nothing, other parameters
// clamp into 0 to 200).
//
// Composing byte tables is exact: curve then brightness become one table
// `first`; highlight tests each pixel's sum of `first` values and picks one
// of two tables for its three bytes, contrast then gamma composed after
// `first` (an ordinary pixel) or after the gain of `first` (a light pixel):
//
//   v --first--> u ---------------------------> contrast --> gamma   plain
//                u --gain (sum of u > 3 t)-----> contrast --> gamma   light
//
// so each byte costs one lookup (three more per pixel for the test when the
// highlight is on), whatever the number of steps.
class TonePass {
 public:
  explicit TonePass(const ToneSettings& settings);
  // The same pass with every byte first mapped through `before` (a table
  // the pipeline runs just ahead of the tone steps): the bytes of mapping
  // through `before` and then the pass, in one pass.
  TonePass(const ToneSettings& settings, const std::array<uint8_t, 256>& before);

  // True when the pass changes no byte at all (every step neutral).
  bool IsIdentity() const { return m_identity; }

  // Maps `count` whole pixels (3 bytes each, blue-green-red) in place.
  void MapPixels(uint8_t* pixels, size_t count) const;

  // The pass over grey levels, one byte a pixel: each level v becomes what
  // MapPixels makes of the pixel (v, v, v), whose three bytes stay equal.
  // For such a pixel the highlight test depends on v alone, so the whole
  // pass is one table and costs one lookup a pixel.
  bool IsGreyIdentity() const { return m_greyIdentity; }
  void MapGrey(uint8_t* levels, size_t count) const;
  const std::array<uint8_t, 256>& GreyTable() const { return m_grey; }

  // The pass over every row of a 24-bit image or a page of grey levels
  // (MapGrey; padding untouched); false, changing nothing, for an empty
  // image or any other kind.
  bool Apply(DibImage& image) const;

 private:
  std::array<uint8_t, 256> m_first;  // curve then brightness
  std::array<uint8_t, 256> m_plain;  // the whole chain, pixel not light
  std::array<uint8_t, 256> m_light;  // the whole chain, light pixel
  std::array<uint8_t, 256> m_grey;   // the whole pass for the pixel (v, v, v)
  int m_limit = 765;                 // a pixel is light when its sum exceeds this
  bool m_highlight = false;
  bool m_firstIdentity = true;
  bool m_plainIdentity = true;
  bool m_identity = true;
  bool m_greyIdentity = true;
};

}  // namespace inkbrite
