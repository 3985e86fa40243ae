// SPDX-License-Identifier: GPL-2.0-or-later
// TIFF writing: the container's encoder and WriteTiffFile.
//
// The page is encoded into a memory stream and reaches the file only when
// libtiff finished it without an error, so a failed encode never leaves a
// partial file.

#include <algorithm>
#include <memory>
#include <vector>

#include "formats/container_bytes.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/tiff/tiff_pvt.h"
#include "platform/file_io.h"

namespace inkbrite {
namespace {

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

bool IsGreyRamp(const std::vector<RgbQuad>& palette) {
  for (size_t i = 0; i < palette.size(); ++i) {
    const RgbQuad& c = palette[i];
    if (c.red != i || c.green != i || c.blue != i) return false;
  }
  return !palette.empty();
}

int Brightness(const RgbQuad& c) { return (c.red + c.green + c.blue) / 3; }

// JPEG (libjpeg) codes at most 65500 pixels per side. In a TIFF a JPEG
// strip spans the page's width and holds RowsPerStrip rows.
constexpr uint32_t kMaxJpegSide = 65500;
// The most rows a JPEG strip may hold when a page needs several: a multiple
// of 16 (two 8-row blocks of chroma subsampled 2 x 2) within that limit.
constexpr uint32_t kMaxJpegStripRows = kMaxJpegSide / 16 * 16;

// What the page's depth and palette make of the file.
struct TiffLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t samples = 1;
  uint16_t bitsPerSample = 8;
  uint16_t photometric = PHOTOMETRIC_RGB;
  uint16_t compression = COMPRESSION_NONE;
  uint32_t rowsPerStrip = 0;
  bool invert = false;     // 1 bit: the stored bits are inverted
  bool colourMap = false;  // a ColorMap tag is written
  size_t rowBytes = 0;     // of a stored row
};

// Compression and photometric interpretation by depth, and the strips.
// False for a depth the encoder does not write.
bool ChooseLayout(const CxImage& image, const std::vector<RgbQuad>& palette, TiffLayout& l) {
  const int32_t bpp = image.Bpp();
  l.width = static_cast<uint32_t>(image.Width());
  l.height = static_cast<uint32_t>(image.Height());
  l.samples = bpp == 24 ? 3 : 1;
  l.bitsPerSample = static_cast<uint16_t>(bpp / l.samples);
  l.rowBytes = (static_cast<size_t>(l.width) * static_cast<size_t>(bpp) + 7) / 8;
  switch (bpp) {
    case 1:
      // White is zero: when entry 0 is the darker colour the bits are
      // inverted so that 0 stands for the brighter one.
      l.photometric = PHOTOMETRIC_MINISWHITE;
      l.compression = COMPRESSION_CCITTFAX4;
      l.invert = palette.size() >= 2 && Brightness(palette[0]) < Brightness(palette[1]);
      break;
    case 4:
      l.photometric = IsGreyRamp(palette) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
      l.colourMap = l.photometric == PHOTOMETRIC_PALETTE;
      l.compression = COMPRESSION_LZW;
      break;
    case 8:
      // Only a grey ramp is written as JPEG grey. A colour palette keeps its
      // colour map with lossless LZW: JPEG would store the palette indices
      // as grey levels and lose every colour.
      l.colourMap = !IsGreyRamp(palette);
      l.photometric = l.colourMap ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_MINISBLACK;
      l.compression = l.colourMap ? COMPRESSION_LZW : COMPRESSION_JPEG;
      break;
    case 24:
      l.photometric = PHOTOMETRIC_YCBCR;
      l.compression = COMPRESSION_JPEG;
      break;
    default: return false;
  }
  // One strip; a JPEG page too tall for one JPEG strip gets several, and one
  // too wide for JPEG at all is written losslessly instead.
  l.rowsPerStrip = (l.height + 7) / 8 * 8;
  if (l.compression == COMPRESSION_JPEG && l.width > kMaxJpegSide) {
    l.compression = COMPRESSION_LZW;
    if (l.photometric == PHOTOMETRIC_YCBCR) l.photometric = PHOTOMETRIC_RGB;
  } else if (l.compression == COMPRESSION_JPEG && l.height > kMaxJpegSide) {
    l.rowsPerStrip = kMaxJpegStripRows;
  }
  return true;
}

bool SetColourMap(TIFF* t, const TiffLayout& l, const std::vector<RgbQuad>& palette) {
  const size_t entries = size_t{1} << l.bitsPerSample;
  std::vector<uint16_t> red(entries), green(entries), blue(entries);
  for (size_t i = 0; i < entries && i < palette.size(); ++i) {
    red[i] = static_cast<uint16_t>(palette[i].red * 257);
    green[i] = static_cast<uint16_t>(palette[i].green * 257);
    blue[i] = static_cast<uint16_t>(palette[i].blue * 257);
  }
  return TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()) != 0;
}

bool SetTags(TIFF* t, const CxImage& image, const TiffLayout& l,
             const std::vector<RgbQuad>& palette) {
  bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0) &&
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, l.width) &&
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, l.height) &&
            TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression) &&
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, l.samples) &&
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bitsPerSample) &&
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric) &&
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip) &&
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
            TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(image.XDpi())) &&
            TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(image.YDpi()));
  if (ok && l.compression == COMPRESSION_JPEG) {
    ok = TIFFSetField(t, TIFFTAG_JPEGQUALITY, std::clamp(image.JpegQuality(), 1, 100)) != 0;
    if (ok && l.photometric == PHOTOMETRIC_YCBCR)
      ok = TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) != 0;
  }
  if (ok && l.colourMap) ok = SetColourMap(t, l, palette);
  return ok;
}

// The rows from the top of the picture (the last stored row) down; 24-bit
// rows turned from blue-green-red into red-green-blue.
bool WriteRows(TIFF* t, const CxImage& image, const TiffLayout& l) {
  const tmsize_t lineSize = TIFFScanlineSize(t);
  if (lineSize < static_cast<tmsize_t>(l.rowBytes)) return false;
  std::vector<uint8_t> line(static_cast<size_t>(lineSize));
  for (uint32_t r = 0; r < l.height; ++r) {
    const uint8_t* src = image.StoredRow(static_cast<int32_t>(l.height - 1 - r));
    if (l.samples == 3) {
      for (uint32_t x = 0; x < l.width; ++x) {
        line[3 * x] = src[3 * x + 2];
        line[3 * x + 1] = src[3 * x + 1];
        line[3 * x + 2] = src[3 * x];
      }
    } else {
      std::copy(src, src + l.rowBytes, line.begin());
      if (l.invert)
        for (size_t i = 0; i < l.rowBytes; ++i) line[i] = static_cast<uint8_t>(~line[i]);
    }
    if (TIFFWriteScanline(t, line.data(), r, 0) < 0) return false;
  }
  return true;
}

bool Encode(CxImage& image, std::vector<uint8_t>& out) {
  out.clear();
  if (!image.IsValid()) {
    image.SetLastError("null image!!!");
    return false;
  }
  const std::vector<RgbQuad> palette = image.GetPalette();
  TiffLayout layout;
  if (!ChooseLayout(image, palette, layout)) {
    image.SetLastError("Error saving TIFF file");
    return false;
  }
  tiff::TiffMemoryStream stream = tiff::TiffMemoryStream::Output();
  TiffHandle tif(tiff::OpenStream(stream, "(FakeOutput)", "w"));
  if (!tif || !SetTags(tif.get(), image, layout, palette)) {
    image.SetLastError("initialization fail");
    return false;
  }
  const bool ok = WriteRows(tif.get(), image, layout) && TIFFFlush(tif.get());
  tif.reset();
  if (!ok) {
    image.SetLastError("Error saving TIFF file");
    return false;
  }
  stream.storage.resize(stream.size);
  out = std::move(stream.storage);
  return true;
}

}  // namespace

bool EncodeTiffBytes(CxImage& image, std::vector<uint8_t>& out) {
  try {
    return Encode(image, out);
  } catch (...) {
    image.SetLastError("Error saving TIFF file");
    out.clear();
    return false;
  }
}

bool EncodeTiff(CxImage& image, std::FILE* file) {
  return WriteEncodedContainer(image, file, EncodeTiffBytes, "Error saving TIFF file");
}

// The encoder's result counts: a failed encode returns 0 and writes nothing,
// where reporting success would leave a damaged or missing file.
int WriteTiffFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality) {
  return WriteThroughContainer(path, image, colourMode, quality, EncodeTiffBytes);
}

}  // namespace inkbrite
