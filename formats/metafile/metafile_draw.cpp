// SPDX-License-Identifier: GPL-2.0-or-later
// The metafile module's drawing: header checks, picture size, the choice of
// converter, and the module's entry table (metafile_module.h). See
// metafile_codec.h for the size rules.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/limits.h"
#include "formats/metafile/metafile_module.h"
#include "formats/metafile/metafile_pvt.h"

namespace inkbrite {
namespace metafile {

namespace {

// Placeable WMF header: key, handle, bounding box (four signed 16-bit
// values), units per inch, reserved, checksum; the WMF header follows.
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr size_t kPlaceableHeaderBytes = 22;
constexpr size_t kWmfHeaderBytes = 18;

// EMF header: record type 1, record size, bounds (device pixels), frame
// (0.01 mm), then the signature " EMF" at byte 40.
constexpr uint32_t kEmfSignature = 0x464D4520u;
constexpr size_t kEmfMinHeaderBytes = 88;

// libwmf and libemf2svg make no promise about threads: one conversion at a
// time (the batch job reads files on several threads).
std::mutex g_converterMutex;

constexpr int64_t kHimetricPerInch = 2540;
constexpr int64_t kScreenDpi = 96;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t S32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }

bool IsPlaceableWmf(const uint8_t* data, size_t size) {
  return size >= kPlaceableHeaderBytes + kWmfHeaderBytes && U32(data) == kPlaceableKey;
}

// A plain WMF starts with its file type (1 memory, 2 disk) and a header size
// of 9 words.
bool IsPlainWmf(const uint8_t* data, size_t size) {
  return size >= kWmfHeaderBytes && (U16(data) == 1 || U16(data) == 2) && U16(data + 2) == 9;
}

bool IsEmf(const uint8_t* data, size_t size) {
  return size >= kEmfMinHeaderBytes && U32(data) == 1 && U32(data + 40) == kEmfSignature;
}

// HIMETRIC extent to pixels at the screen's 96 dots per inch.
bool HimetricToPixels(int64_t himetricWidth, int64_t himetricHeight, PictureSize& size) {
  const int64_t w = MulDiv(himetricWidth, kScreenDpi, kHimetricPerInch);
  const int64_t h = MulDiv(himetricHeight, kScreenDpi, kHimetricPerInch);
  if (w <= 0 || h <= 0 || !SizeFits(w, h)) return false;
  size.width = static_cast<int32_t>(w);
  size.height = static_cast<int32_t>(h);
  return true;
}

bool HeaderSize(const uint8_t* data, size_t size, PictureSize& pictureSize) {
  if (IsPlaceableWmf(data, size)) {
    const int64_t left = static_cast<int16_t>(U16(data + 6));
    const int64_t top = static_cast<int16_t>(U16(data + 8));
    const int64_t right = static_cast<int16_t>(U16(data + 10));
    const int64_t bottom = static_cast<int16_t>(U16(data + 12));
    const int64_t inch = U16(data + 14);
    if (inch == 0) return false;
    // The box may be given right to left or bottom to top.
    const int64_t himetricWidth = MulDiv(std::llabs(right - left), kHimetricPerInch, inch);
    const int64_t himetricHeight = MulDiv(std::llabs(bottom - top), kHimetricPerInch, inch);
    return HimetricToPixels(himetricWidth, himetricHeight, pictureSize);
  }
  if (IsEmf(data, size)) {
    const int64_t left = S32(data + 24);
    const int64_t top = S32(data + 28);
    const int64_t right = S32(data + 32);
    const int64_t bottom = S32(data + 36);
    return HimetricToPixels(right - left, bottom - top, pictureSize);
  }
  return false;
}

}  // namespace

int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
  // Operands up to 2^31 in magnitude keep the product within 63 bits.
  constexpr int64_t kMaxOperand = int64_t{1} << 31;
  if (c == 0 || a > kMaxOperand || a < -kMaxOperand || b > kMaxOperand || b < -kMaxOperand ||
      c > kMaxOperand || c < -kMaxOperand)
    return -1;
  const bool negative = ((a < 0) != (b < 0)) != (c < 0);
  const int64_t num = (a < 0 ? -a : a) * (b < 0 ? -b : b);
  const int64_t den = c < 0 ? -c : c;
  const int64_t q = (num + den / 2) / den;
  if (q > INT32_MAX) return -1;
  return negative ? -q : q;
}

bool SizeFits(int64_t width, int64_t height) { return ImageSizeWithinLimits(width, height); }

namespace {

thread_local ReadError t_failure = ReadError::kNone;

}  // namespace

void NoteFailure(ReadError error) {
  if (t_failure == ReadError::kNone) t_failure = error;
}

bool WithinLimits(int64_t width, int64_t height, uint64_t inputBytes, uint64_t maxPixelsPerByte) {
  const ReadError exceeded = ExceededLimit(width, height, inputBytes, 0, maxPixelsPerByte);
  if (exceeded == ReadError::kNone) return true;
  NoteFailure(exceeded);
  return false;
}

bool HeaderPictureSize(const uint8_t* data, size_t size, int32_t& width, int32_t& height) {
  PictureSize pictureSize;
  if (data == nullptr || !HeaderSize(data, size, pictureSize)) return false;
  width = pictureSize.width;
  height = pictureSize.height;
  return true;
}

namespace {

// True when a picture of this size from a file of `size` bytes is within
// the limits (a refusal noted).
bool PictureWithinLimits(PictureSize pictureSize, size_t size) {
  return WithinLimits(pictureSize.width, pictureSize.height, size, kMaxMetafilePixelsPerByte);
}

// The metafile as an SVG document and the size it is drawn at.
bool ConvertToSvg(const uint8_t* data, size_t size, Deadline deadline, PictureSize& pictureSize,
                  std::string& svg) {
  const bool placeable = IsPlaceableWmf(data, size);
  if (placeable || IsEmf(data, size)) {
    if (!HeaderSize(data, size, pictureSize) || !PictureWithinLimits(pictureSize, size)) {
      return false;
    }
    return placeable ? WmfToSvg(data, size, pictureSize, svg, deadline)
                     : EmfToSvg(data, size, pictureSize, svg);
  }
  return IsPlainWmf(data, size) && WmfToSvg(data, size, pictureSize, svg, deadline);
}

}  // namespace

int DrawMetafile(const uint8_t* data, size_t size, std::chrono::milliseconds budget,
                 const InkbriteMetafileCanvas& canvas, ReadError& error) {
  error = ReadError::kNone;
  t_failure = ReadError::kNone;
  Deadline deadline{};
  try {
    if (data == nullptr || canvas.make == nullptr) {
      error = ReadError::kDamaged;
      return 0;
    }
    PictureSize pictureSize;
    std::string svg;
    std::unique_lock converterLock(g_converterMutex);
    // One budget for the whole reading, the drawing of the picture included.
    deadline = std::chrono::steady_clock::now() + budget;
    bool drawn = ConvertToSvg(data, size, deadline, pictureSize, svg);
    converterLock.unlock();
    // A drawing's size is whatever its header says: a file of a few hundred
    // bytes claiming a picture of tens of millions of pixels only costs time
    // to draw (every tile draws the whole document), and is refused by the
    // metafiles' pixels-per-byte bound.
    drawn = drawn && PictureWithinLimits(pictureSize, size) &&
            RasteriseSvg(svg, pictureSize, canvas, deadline, LayerBytesFor(svg.size()));
    if (drawn) return 1;
  } catch (const std::bad_alloc&) {
    NoteFailure(ReadError::kOutOfMemory);
  } catch (const std::exception&) {
    NoteFailure(ReadError::kDamaged);
  }
  error = t_failure;
  if (error == ReadError::kNone) {
    const bool late = deadline != Deadline{} && std::chrono::steady_clock::now() > deadline;
    error = late ? ReadError::kOverTimeLimit : ReadError::kDamaged;
  }
  return 0;
}

}  // namespace metafile
}  // namespace inkbrite

namespace {

int Draw(const uint8_t* data, size_t size, int64_t budgetMilliseconds,
         const InkbriteMetafileCanvas* canvas, int* error) {
  inkbrite::ReadError why = inkbrite::ReadError::kDamaged;
  const int drawn =
      canvas == nullptr
          ? 0
          : inkbrite::metafile::DrawMetafile(
                data, size, std::chrono::milliseconds(budgetMilliseconds), *canvas, why);
  if (error != nullptr) *error = drawn != 0 ? 0 : static_cast<int>(why);
  return drawn;
}

constexpr InkbriteMetafileModule kModule = {
    .version = kMetafileModuleVersion,
    .size = sizeof(InkbriteMetafileModule),
    .draw = Draw,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const InkbriteMetafileModule*
inkbrite_metafile_module() {
  return &kModule;
}
