// SPDX-License-Identifier: GPL-2.0-or-later
// TIFF reading: the JPEG fast paths, the general RGBA path, square pixels
// and orientation.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/limits.h"
#include "core/para_block.h"
#include "formats/decode_guard.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/tiff/tiff_pvt.h"

namespace inkbrite {
namespace tiff {
namespace {

// The first image file directory of a classic TIFF, read straight from the
// file's bytes. Old-style JPEG keeps its tables behind offsets that libtiff
// does not hand out as data, so they are read here, each access checked
// against the file's bounds.
class FirstDirectory {
 public:
  bool Parse(const uint8_t* file, size_t size) {
    m_file = file;
    m_size = size;
    if (size < 8) return false;
    if (file[0] == 'I' && file[1] == 'I') {
      m_big = false;
    } else if (file[0] == 'M' && file[1] == 'M') {
      m_big = true;
    } else {
      return false;
    }
    if (U16(2) != TIFF_VERSION_CLASSIC) return false;  // BigTIFF is left to libtiff
    const uint64_t ifd = U32(4);
    if (ifd > size || size - ifd < 2) return false;
    const uint64_t count = U16(ifd);
    if ((size - ifd - 2) / 12 < count) return false;
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t at = ifd + 2 + i * 12;
      m_entries.push_back({U16(at), U16(at + 2), U32(at + 4), at + 8});
    }
    return true;
  }

  bool Has(uint16_t tag) const { return Find(tag) != nullptr; }

  // The values of a BYTE, SHORT or LONG tag; false when absent, of another
  // type, or reaching outside the file.
  bool Values(uint16_t tag, std::vector<uint64_t>& values) const {
    values.clear();
    const Entry* e = Find(tag);
    if (e == nullptr) return false;
    const uint64_t unit = e->type == TIFF_BYTE    ? 1
                          : e->type == TIFF_SHORT ? 2
                          : e->type == TIFF_LONG  ? 4
                                                  : 0;
    if (unit == 0 || e->count == 0) return false;
    const uint64_t bytes = unit * e->count;
    uint64_t at = e->valueAt;
    if (bytes > 4) {
      at = U32(e->valueAt);
      if (at > m_size || m_size - at < bytes) return false;
    }
    for (uint64_t i = 0; i < e->count; ++i) {
      const uint64_t p = at + i * unit;
      values.push_back(unit == 1 ? m_file[p] : unit == 2 ? U16(p) : U32(p));
    }
    return true;
  }

  uint64_t Value(uint16_t tag, uint64_t fallback) const {
    std::vector<uint64_t> v;
    return Values(tag, v) ? v[0] : fallback;
  }

  // `count` bytes at `offset`, or null when they are not all in the file.
  const uint8_t* Bytes(uint64_t offset, uint64_t count) const {
    if (offset > m_size || m_size - offset < count) return nullptr;
    return m_file + offset;
  }

 private:
  struct Entry {
    uint32_t tag;
    uint32_t type;
    uint32_t count;
    uint64_t valueAt;
  };
  const Entry* Find(uint16_t tag) const {
    for (const Entry& e : m_entries)
      if (e.tag == tag) return &e;
    return nullptr;
  }
  uint32_t U16(uint64_t at) const {
    const uint8_t* p = m_file + at;
    return m_big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
  }
  uint32_t U32(uint64_t at) const {
    const uint8_t* p = m_file + at;
    return m_big ? (uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3])
                 : (uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0]);
  }

  const uint8_t* m_file = nullptr;
  size_t m_size = 0;
  bool m_big = false;
  std::vector<Entry> m_entries;
};

// The JPEG header built from the tags lives in a fixed 2048-byte buffer; a
// put that would pass its end fails the whole build instead of writing on.
class HeaderBuffer {
 public:
  void Byte(uint32_t b) {
    if (m_length < m_bytes.size()) {
      m_bytes[m_length++] = static_cast<uint8_t>(b);
    } else {
      m_ok = false;
    }
  }
  void Word(uint32_t w) {
    Byte(w >> 8);
    Byte(w & 0xFF);
  }
  void Copy(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) Byte(p[i]);
  }
  bool Ok() const { return m_ok; }
  const uint8_t* Data() const { return m_bytes.data(); }
  size_t Length() const { return m_length; }

 private:
  std::array<uint8_t, 2048> m_bytes{};
  size_t m_length = 0;
  bool m_ok = true;
};

// Appends one Huffman table (16 code counts, then their values) found at
// `offset` in the file as a DHT segment of class `tableClass`, number `id`.
bool PutHuffmanTable(const FirstDirectory& dir, uint64_t offset, int tableClass, int id,
                     HeaderBuffer& header) {
  const uint8_t* counts = dir.Bytes(offset, 16);
  if (counts == nullptr) return false;
  uint32_t total = 0;
  for (int i = 0; i < 16; ++i) total += counts[i];
  const uint8_t* values = dir.Bytes(offset + 16, total);
  if (total > 256 || values == nullptr) return false;
  header.Word(0xFFC4);
  header.Word(2 + 1 + 16 + total);
  header.Byte(static_cast<uint32_t>(tableClass << 4 | id));
  header.Copy(counts, 16);
  header.Copy(values, total);
  return header.Ok();
}

bool BuildHeader(const FirstDirectory& dir, uint32_t width, uint32_t height, uint32_t spp,
                 uint32_t h, uint32_t v, bool restart, uint32_t restartInterval,
                 HeaderBuffer& header) {
  const uint64_t proc = dir.Value(TIFFTAG_JPEGPROC, 0);
  if (proc != JPEGPROC_BASELINE && proc != JPEGPROC_LOSSLESS) return false;
  const bool baseline = proc == JPEGPROC_BASELINE;
  std::vector<uint64_t> q, dc, ac, predictors;
  if (!dir.Values(TIFFTAG_JPEGQTABLES, q)) return false;
  dir.Values(TIFFTAG_JPEGDCTABLES, dc);
  if (baseline) dir.Values(TIFFTAG_JPEGACTABLES, ac);
  if (!baseline && (!dir.Values(TIFFTAG_JPEGLOSSLESSPREDICTORS, predictors) ||
                    !dir.Has(TIFFTAG_JPEGPOINTTRANSFORM)))
    return false;
  const uint32_t bits = static_cast<uint32_t>(dir.Value(TIFFTAG_BITSPERSAMPLE, 8));
  const uint32_t tables = baseline && spp > 2 ? 2 : spp;

  header.Word(0xFFD8);
  header.Word(baseline ? 0xFFC0 : 0xFFC3);
  header.Word(8 + 3 * spp);
  header.Byte(bits);
  header.Word(height);
  header.Word(width);
  header.Byte(spp);
  for (uint32_t i = 0; i < spp; ++i) {
    header.Byte(i);
    header.Byte(i == 0 ? (h << 4 | v) : 0x11);
    header.Byte(i);
  }
  for (uint32_t j = 0; j < spp; ++j) {
    // A file with fewer tables than components shares its last one.
    const uint8_t* table = dir.Bytes(q[std::min<size_t>(j, q.size() - 1)], 64);
    if (table == nullptr) return false;
    header.Word(0xFFDB);
    header.Word(67);
    header.Byte(j);
    header.Copy(table, 64);
  }
  for (uint32_t i = 0; i < tables; ++i) {
    if (!dc.empty() && !PutHuffmanTable(dir, dc[std::min<size_t>(i, dc.size() - 1)], 0,
                                        static_cast<int>(i), header))
      return false;
    if (!ac.empty() && !PutHuffmanTable(dir, ac[std::min<size_t>(i, ac.size() - 1)], 1,
                                        static_cast<int>(i), header))
      return false;
  }
  if (restart) {
    header.Word(0xFFDD);
    header.Word(4);
    header.Word(restartInterval);
  }
  header.Word(0xFFDA);
  header.Word(6 + 2 * spp);
  header.Byte(spp);
  for (uint32_t k = 0; k < spp; ++k) {
    header.Byte(k);
    const uint32_t t = std::min(tables - 1, k);
    header.Byte(baseline ? (t << 4 | t) : (k << 4));
  }
  if (baseline) {
    header.Byte(0);
    header.Byte(63);
    header.Byte(0);
  } else {
    header.Byte(static_cast<uint32_t>(predictors[0]));
    header.Byte(0);
    header.Byte(static_cast<uint32_t>(dir.Value(TIFFTAG_JPEGPOINTTRANSFORM, 0)) & 0x0F);
  }
  return header.Ok();
}

// Where the scan header (SOS) of a JPEG header starts, or `length` when it
// has none.
size_t FindScanHeader(const uint8_t* p, size_t length) {
  size_t at = 2;
  while (at + 4 <= length && p[at] == 0xFF) {
    if (p[at + 1] == 0xDA) return at;
    at += 2 + (static_cast<size_t>(p[at + 2]) << 8 | p[at + 3]);
  }
  return length;
}

// What the tags of an old-style JPEG page say about its data.
struct OJpegPage {
  uint64_t width = 0, height = 0, spp = 1, rowsPerStrip = 0;
  uint32_t h = 1, v = 1;  // YCbCr subsampling
  std::vector<uint64_t> counts, offsets;
  uint64_t total = 0;  // bytes in all strips
  bool restart = false;
  uint64_t restartInterval = 0;
};

// False for a page this extraction does not handle: tiled, a size beyond the
// limits, strips outside the file, odd sampling.
bool ReadOJpegPage(const FirstDirectory& dir, OJpegPage& p) {
  // Tiled old-style JPEG is left to libtiff's own decoder.
  if (dir.Has(TIFFTAG_TILEWIDTH) || dir.Has(TIFFTAG_TILEOFFSETS)) return false;
  p.width = dir.Value(TIFFTAG_IMAGEWIDTH, 0);
  p.height = dir.Value(TIFFTAG_IMAGELENGTH, 0);
  p.spp = dir.Value(TIFFTAG_SAMPLESPERPIXEL, 1);
  if (p.width == 0 || p.height == 0 || p.width > kMaxDibDimension || p.height > kMaxDibDimension)
    return false;
  if (p.spp < 1 || p.spp > 4) return false;  // a JPEG scan holds at most 4 components
  p.rowsPerStrip = std::min(dir.Value(TIFFTAG_ROWSPERSTRIP, p.height), p.height);
  if (p.rowsPerStrip == 0) return false;
  if (!dir.Values(TIFFTAG_STRIPBYTECOUNTS, p.counts) ||
      !dir.Values(TIFFTAG_STRIPOFFSETS, p.offsets) || p.offsets.size() != p.counts.size())
    return false;
  for (size_t i = 0; i < p.counts.size(); ++i) {
    if (dir.Bytes(p.offsets[i], p.counts[i]) == nullptr) return false;
    p.total += p.counts[i];
  }
  std::vector<uint64_t> sampling;
  if (dir.Values(TIFFTAG_YCBCRSUBSAMPLING, sampling) && sampling.size() >= 2) {
    p.h = static_cast<uint32_t>(sampling[0]);
    p.v = static_cast<uint32_t>(sampling[1]);
  }
  if ((p.h != 1 && p.h != 2 && p.h != 4) || (p.v != 1 && p.v != 2 && p.v != 4)) return false;
  if (p.spp == 1) p.h = p.v = 1;
  p.restartInterval =
      ((p.width + 8 * p.h - 1) / (8 * p.h)) * ((p.rowsPerStrip + 8 * p.v - 1) / (8 * p.v));
  p.restart = p.counts.size() > 1;
  return !(p.restart && p.restartInterval > 0xFFFF);
}

// The stream the JPEGInterchangeFormat tags point at. A complete one is
// copied as it is (*complete set); a short one covers only the header, and
// the restart interval goes in front of its scan header (a marker placed
// after it would land in the entropy-coded data).
bool AppendInterchange(const FirstDirectory& dir, uint64_t interchange, const OJpegPage& p,
                       TiffMemoryStream& out, bool& complete) {
  if (!dir.Has(TIFFTAG_JPEGIFBYTECOUNT)) return false;
  const uint64_t length = dir.Value(TIFFTAG_JPEGIFBYTECOUNT, 0);
  const uint8_t* stream = dir.Bytes(interchange, length);
  if (stream == nullptr || length < 4) return false;
  complete = length >= p.total;
  if (complete) return out.Append(stream, length);
  const size_t sos = FindScanHeader(stream, length);
  const uint8_t dri[] = {0xFF,
                         0xDD,
                         0x00,
                         0x04,
                         static_cast<uint8_t>(p.restartInterval >> 8),
                         static_cast<uint8_t>(p.restartInterval & 0xFF)};
  return out.Append(stream, sos) && (!p.restart || out.Append(dri, sizeof dri)) &&
         out.Append(stream + sos, length - sos);
}

// The strips, each after the first behind its restart marker, and an end
// marker when the header was built here and the data lacks one.
bool AppendStrips(const uint8_t* file, const OJpegPage& p, bool builtHeader,
                  TiffMemoryStream& out) {
  for (size_t i = 0; i < p.counts.size(); ++i) {
    if (i > 0) {
      const uint8_t marker[] = {0xFF, static_cast<uint8_t>(0xD0 + (i - 1) % 8)};
      if (!out.Append(marker, 2)) return false;
    }
    if (!out.Append(file + p.offsets[i], p.counts[i])) return false;
  }
  const bool ended =
      out.size >= 2 && out.data[out.size - 2] == 0xFF && out.data[out.size - 1] == 0xD9;
  const uint8_t eoi[] = {0xFF, 0xD9};
  return !builtHeader || ended || out.Append(eoi, 2);
}

}  // namespace

int ExtractOJpegStream(const uint8_t* file, size_t fileSize, TiffMemoryStream& out) {
  FirstDirectory dir;
  OJpegPage page;
  if (file == nullptr || !dir.Parse(file, fileSize) || !ReadOJpegPage(dir, page)) return 1;
  out.storage.clear();
  out.size = out.position = 0;
  const uint64_t interchange =
      dir.Has(TIFFTAG_JPEGIFOFFSET) ? dir.Value(TIFFTAG_JPEGIFOFFSET, 0) : 0;
  if (interchange != 0) {
    bool complete = false;
    if (!AppendInterchange(dir, interchange, page, out, complete)) return 1;
    if (complete) return 0;
    return AppendStrips(file, page, false, out) ? 0 : 1;
  }
  HeaderBuffer header;
  if (!BuildHeader(dir, static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height),
                   static_cast<uint32_t>(page.spp), page.h, page.v, page.restart,
                   static_cast<uint32_t>(page.restartInterval), header))
    return 1;
  if (!out.Append(header.Data(), header.Length())) return 1;
  return AppendStrips(file, page, true, out) ? 0 : 1;
}

namespace {

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Compression 7 in one strip without shared tables: the strip is a complete
// JPEG stream.
bool ReadJpegStrip(TIFF* tif, uint32_t height, size_t fileSize, DibImage& image, int& grey) {
  uint32_t tableCount = 0;
  void* tableData = nullptr;
  if (TIFFGetField(tif, TIFFTAG_JPEGTABLES, &tableCount, &tableData) && tableCount > 0 &&
      tableData != nullptr)
    return false;
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (TIFFIsTiled(tif) || TIFFNumberOfStrips(tif) != 1 || rowsPerStrip < height) return false;
  uint64_t* byteCounts = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &byteCounts) || byteCounts == nullptr)
    return false;
  const tmsize_t stripSize = TIFFStripSize(tif);
  uint64_t length = std::min<uint64_t>(byteCounts[0], fileSize);
  if (stripSize > 0) length = std::min<uint64_t>(length, static_cast<uint64_t>(stripSize));
  if (length < 10) return false;
  std::vector<uint8_t> raw(length);
  const tmsize_t got = TIFFReadRawStrip(tif, 0, raw.data(), static_cast<tmsize_t>(length));
  if (got <= 0) return false;
  return ReadJpegMemory(raw.data(), static_cast<size_t>(got), image, &grey) == 1;
}

bool ReadRgba(TIFF* tif, uint32_t width, uint32_t height, DibImage& image) {
  std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
  if (!TIFFReadRGBAImage(tif, width, height, raster.data(), 0)) return false;
  DibImage out;
  if (!out.Create(static_cast<int32_t>(width), static_cast<int32_t>(height), 24)) return false;
  // The raster's first row is the bottom of the picture, as is the first
  // stored row. Red and blue are exchanged on every path: libtiff 4's RGBA
  // reader already delivers JPEG-compressed RGB files in red-green-blue
  // order, so keeping its byte order would swap their colours.
  for (uint32_t r = 0; r < height; ++r) {
    const uint32_t* src = raster.data() + static_cast<size_t>(r) * width;
    uint8_t* dst = out.Bits() + static_cast<size_t>(r) * static_cast<size_t>(out.RowBytes());
    for (uint32_t x = 0; x < width; ++x) {
      dst[3 * x] = static_cast<uint8_t>(TIFFGetB(src[x]));
      dst[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(src[x]));
      dst[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(src[x]));
    }
  }
  image = std::move(out);
  return true;
}

// Puts a picture stored with TIFF orientation 2 to 8 upright.
bool ApplyOrientation(DibImage& image, uint16_t orientation) {
  switch (orientation) {
    case ORIENTATION_TOPRIGHT: return image.MirrorHorizontal();
    case ORIENTATION_BOTRIGHT: return image.Rotate90(true) && image.Rotate90(true);
    case ORIENTATION_BOTLEFT:
      return image.Rotate90(true) && image.Rotate90(true) && image.MirrorHorizontal();
    case ORIENTATION_LEFTTOP: return image.Rotate90(true) && image.MirrorHorizontal();
    case ORIENTATION_RIGHTTOP: return image.Rotate90(true);
    case ORIENTATION_RIGHTBOT: return image.Rotate90(false) && image.MirrorHorizontal();
    case ORIENTATION_LEFTBOT: return image.Rotate90(false);
    default: return true;
  }
}

// The compressed bytes the file's strips or tiles hold, each count taken
// only as far as the file reaches. Old-style JPEG may keep its data behind
// its own offset and files without byte counts have them estimated, so
// those count the whole file.
uint64_t CompressedBytes(TIFF* tif, uint16_t compression, size_t fileSize) {
  if (compression == COMPRESSION_OJPEG) return fileSize;
  const bool tiled = TIFFIsTiled(tif) != 0;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint64_t* counts = nullptr;
  if (!TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) ||
      counts == nullptr) {
    return fileSize;
  }
  uint64_t total = 0;
  for (uint32_t i = 0; i < count && total < fileSize; ++i) {
    total += std::min<uint64_t>(counts[i], fileSize);
  }
  return std::min<uint64_t>(total, fileSize);
}

// The most pixels one compressed byte can give with a compression, at one
// bit per pixel: a bound for complete data that lets the reader refuse a
// file claiming a picture far larger than its data. Fax codes spend as
// little as one bit on a blank row, so for them (and codecs not listed) only
// the row count is bounded.
uint64_t MaxPixelsPerByte(uint16_t compression, uint32_t width) {
  switch (compression) {
    case COMPRESSION_NONE: return 8;
    case COMPRESSION_PACKBITS: return 8 * 64;  // 2 bytes give 128
    case COMPRESSION_LZW: return 8 * 4096;     // a 12-bit code gives 4096 at most
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 8 * kMaxDeflateRatio;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return kMaxPixelsPerInputByte;
    default: return std::max<uint64_t>(kMaxPixelsPerInputByte, uint64_t{8} * width);
  }
}

int Decode(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  if (data == nullptr || size < 8) return 0;
  TiffMemoryStream input = TiffMemoryStream::Input(data, size);
  TiffHandle tif(OpenStream(input, "(FakeInput)", "r"));
  if (!tif) return 0;

  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetField(tif.get(), TIFFTAG_ORIENTATION, &orientation);
  uint32_t width = 0, height = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  if (width == 0 || height == 0) return 0;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
  // A compression this build of libtiff has no codec for.
  if (TIFFIsCODECConfigured(compression) == 0) {
    NoteReadFailure(ReadError::kUnsupported);
    return 0;
  }
  // The limits, with libtiff's 32-bit RGBA raster as the decoder's memory,
  // checked against the strip or tile data the file really holds: a file of
  // a few hundred bytes claiming a page of 16000 x 16000 would otherwise get
  // its raster of 1 GiB before the first strip fails to read.
  if (!DecodeWithinLimits(width, height, CompressedBytes(tif.get(), compression, size),
                          uint64_t{width} * height * 4, MaxPixelsPerByte(compression, width))) {
    return 0;
  }
  float xRes = 0, yRes = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xRes) || !(xRes >= 20)) xRes = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yRes) || !(yRes >= 20)) yRes = 0;

  // A JPEG fast path counts only when it gives the picture the tags
  // describe; anything else falls back on libtiff's decoder.
  DibImage decoded;
  int grey = 0;
  bool fast = false;
  if (compression == COMPRESSION_JPEG) {
    fast = ReadJpegStrip(tif.get(), height, size, decoded, grey);
  } else if (compression == COMPRESSION_OJPEG) {
    TiffMemoryStream jpeg = TiffMemoryStream::Output();
    fast = ExtractOJpegStream(data, size, jpeg) == 0 &&
           ReadJpegMemory(jpeg.data, jpeg.size, decoded, &grey) == 1;
  }
  if (fast && (decoded.Width() != static_cast<int32_t>(width) ||
               decoded.Height() != static_cast<int32_t>(height)))
    fast = false;
  if (fast) {
    tif.reset();
    CorrectPixelAspect(decoded, xRes, yRes);
    // The JPEG stream knows nothing of the TIFF orientation, so all of it is
    // applied here; otherwise the same file would come out differently
    // whether or not the fast path took it.
    if (!ApplyOrientation(decoded, orientation)) return 0;
  } else {
    uint16_t photometric = PHOTOMETRIC_RGB;
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    if (!ReadRgba(tif.get(), width, height, decoded)) return 0;
    tif.reset();
    CorrectPixelAspect(decoded, xRes, yRes);
    // libtiff's RGBA reader flips orientations 2 to 4 but treats 5 to 8 like
    // 1 to 4 without transposing, so all four come out on their side. After
    // its flips, 6 and 8 need a quarter turn anticlockwise and a mirror;
    // 5 and 7 (flipped the other way) a quarter turn clockwise and a mirror,
    // as the same turn as 6 would leave them upside down.
    if (orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT) {
      const bool clockwise =
          orientation == ORIENTATION_LEFTTOP || orientation == ORIENTATION_RIGHTBOT;
      if (!decoded.Rotate90(clockwise) || !decoded.MirrorHorizontal()) return 0;
    }
  }
  image = std::move(decoded);
  if (greySource != nullptr) *greySource = grey ? 1 : 0;
  return 1;
}

}  // namespace
}  // namespace tiff

void CorrectPixelAspect(DibImage& image, double xResolution, double yResolution) {
  if (image.IsEmpty() || xResolution < 0.001 || yResolution < 0.001) return;
  const double c = xResolution / yResolution;
  if (std::fabs(c - 1.0) <= 0.001) return;
  const double width = image.Width();
  const double height = image.Height();
  // Stretch the height by c; when that would more than double it (c > 2,
  // which includes the 204 x 98 dpi fax at c = 2.0816), narrow the width by c
  // instead.
  double newWidth = width;
  double newHeight = std::trunc(height * c);
  if (2.0 * height < newHeight) {
    newHeight = height;
    newWidth = std::trunc(width / c);
  }
  // A stretched picture beyond the readers' limits is left as it is.
  if (newWidth < 10 || newHeight < 10 ||
      !ImageSizeWithinLimits(static_cast<int64_t>(newWidth), static_cast<int64_t>(newHeight)))
    return;
  image.ResizeTo(static_cast<int32_t>(newWidth), static_cast<int32_t>(newHeight),
                 AppParams().GetValue(kResizeType));
}

int DecodeTiffBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] { return tiff::Decode(data, size, image, greySource); });
}

int ReadTiffFile(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, tiff::kMaxStreamBytes, DecodeTiffBytes, image, greySource);
}

int ReadTiffFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadTiffFile(file, image, greySource);
}

}  // namespace inkbrite
