// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the tests: the conformance corpus, PPM reference images,
// hand-made DIB blocks and temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"

namespace inkbrite::test {

// The conformance corpus folder: $INKBRITE_CORPUS_DIR when set, else the
// folder configured at build time (../shared/corpus beside the repository).
std::filesystem::path CorpusDir();

// True when the corpus folder holds its manifest. Tests that read corpus files
// start with INKBRITE_NEED_CORPUS(), which skips them with one clear message
// otherwise, so a fresh clone with nothing beside it passes.
bool HaveCorpus();
#define INKBRITE_NEED_CORPUS()                                                         \
  do {                                                                                 \
    if (!::inkbrite::test::HaveCorpus())                                               \
      GTEST_SKIP() << "corpus not found at " << ::inkbrite::test::CorpusDir().string() \
                   << " (set INKBRITE_CORPUS_DIR)";                                    \
  } while (0)

struct ManifestRow {
  std::string path;  // relative to the corpus folder
  int formatCode = 0;
  std::string expect;   // "ok", "load-only" or "fail"
  int greySource = -1;  // -1 when the manifest gives no requirement
  int tolerance = -1;
};

// Rows of MANIFEST.tsv and MANIFEST-modern.tsv whose path starts with
// `prefix`. The modern formats' rows (WebP, AVIF, JPEG XL) carry no format
// code or grey-source column: the code is that of the folder's name as an
// extension, the grey source -1.
std::vector<ManifestRow> ReadManifest(const std::string& prefix);

// Files for which the corpus accepts two answers (the README's "Either
// result accepted" and "Two answers accepted" lists): a "fail" row that a
// reader may also decode, an "ok" row that a reader may also refuse.
bool EitherResultAccepted(const std::string& path);

// For a file the manifest lists as loading: the reader succeeded, gave 24
// bits and the listed grey-source flag, and for "ok" rows the expected
// picture within the listed tolerance.
void ExpectLoadedAsListed(const ManifestRow& row, int result, const DibImage& image, int grey);

// Any row: a "fail" row gives 0 and no picture (unless the README accepts
// either result), any other as ExpectLoadedAsListed.
void ExpectAsListed(const ManifestRow& row, int result, const DibImage& image, int grey);

// The peak signal-to-noise ratio of two 24-bit pictures of one size over
// every channel, in dB (1000 for equal pictures, 0 for different sizes).
double Psnr(const DibImage& a, const DibImage& b);

// Binary PPM (P6, maxval 255), top row first, red-green-blue.
struct Ppm {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};
bool ReadPpm(const std::filesystem::path& path, Ppm& ppm);

// Empty string when the 24-bit image equals the reference within
// `tolerance` in every channel, else a description of the first difference.
std::string CompareWithPpm(const DibImage& image, const Ppm& ppm, int tolerance);

// A packed DIB with a 40-byte header (or a core header when `core`), the
// given colour table (blue, green, red per entry) and rows given top row
// first, each exactly RowBytesFor(width, bits) bytes long.
std::vector<uint8_t> MakeDib(int32_t width, int32_t height, int32_t bits,
                             const std::vector<RgbQuad>& table,
                             const std::vector<std::vector<uint8_t>>& rowsTopFirst,
                             bool core = false);

// 24-bit image whose pixel (x, y) is (x * 7 + y * 13 + c * 50) & 0xFF for
// channel c (0 blue, 1 green, 2 red).
DibImage MakePattern(int32_t width, int32_t height);

// The pixel (blue, green, red) at column x of row y counted from the top.
struct Bgr {
  uint8_t b, g, r;
  friend bool operator==(const Bgr&, const Bgr&) = default;
};
Bgr PixelAt(const DibImage& image, int32_t x, int32_t y);
void SetPixel(DibImage& image, int32_t x, int32_t y, Bgr c);
// Every pixel, row by row from the top.
std::vector<Bgr> Pixels(const DibImage& image);

// The tests' page builders. Every one makes a 24-bit image, rows counted from
// the top, and throws when it cannot be created.
//
// Pixel (x, y) is colour(x, y).
DibImage MakeImage(int32_t width, int32_t height,
                   const std::function<Bgr(int32_t, int32_t)>& colour);
// Every pixel `colour`.
DibImage MakeFilled(int32_t width, int32_t height, Bgr colour);
// The byte of channel c (0 blue, 1 green, 2 red) of pixel (x, y) is
// byte(x, y, c), asked row by row, then pixel by pixel, then channel by
// channel; every padding byte at the end of a row is `padding`.
DibImage MakeBytes(int32_t width, int32_t height,
                   const std::function<uint8_t(int32_t, int32_t, int)>& byte, uint8_t padding = 0);
// MakePattern's page as Greyscale greys it.
DibImage MakeGreyPattern(int32_t width, int32_t height);
// The page as a JPEG file of `quality` (1 to 100) reads back: the blocks
// and ringing of a scan saved as JPEG.
DibImage JpegRoundTrip(const DibImage& image, int quality);
// Pseudo-random bytes: noise that no encoder compresses.
DibImage MakeNoise(int32_t width, int32_t height, uint32_t seed = 12345);
// A palette container of `bits` per pixel (1, 4 or 8) and file type `type`
// (kCxImage...) with `palette`, whose pixel (x, y) holds index(x, y) in the
// container's own coordinates (y counted from the bottom row).
CxImage MakeIndexed(int32_t width, int32_t height, int bits, int type,
                    const std::vector<RgbQuad>& palette,
                    const std::function<uint8_t(int32_t, int32_t)>& index);
// The grey colour of level v (0 to 255) in every channel.
constexpr Bgr Grey(int v) {
  return Bgr{static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v)};
}

// Appends each value as a little- or big-endian word of `bytes` bytes.
void PutLE(std::vector<uint8_t>& out, int bytes, std::initializer_list<uint32_t> values);
void PutBE(std::vector<uint8_t>& out, int bytes, std::initializer_list<uint32_t> values);

// The chunks of a PNG file in order as (type, data), and the data of the
// first chunk of `type` (empty when absent).
std::vector<std::pair<std::string, std::vector<uint8_t>>> PngChunks(
    const std::vector<uint8_t>& file);
std::vector<uint8_t> PngChunk(const std::vector<uint8_t>& file, const std::string& type);

// A fresh empty folder removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

// While it lives, no file of this process can grow past `bytes` (the
// resource limit binds root too): writes beyond it fail with EFBIG instead of
// raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t m_oldSoft = 0;
  void (*m_oldHandler)(int) = nullptr;
};

// The growth of this process's peak resident memory since construction
// (Linux: the peak is reset through /proc/self/clear_refs). Available() is
// false where the peak cannot be reset; tests then skip.
class PeakMemory {
 public:
  PeakMemory();
  static bool Available();
  int64_t GrowthBytes() const;

 private:
  int64_t m_baseline = 0;
};

// The names in a folder, sorted.
std::vector<std::string> Listing(const std::filesystem::path& dir);

std::vector<uint8_t> ReadAll(const std::filesystem::path& path);
// A PDF of the given objects (object 1 the catalogue), with its cross
// reference table.
std::string PdfOf(const std::vector<std::string>& objects);
void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, std::string_view text);

}  // namespace inkbrite::test
