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

bool Encode(CxImage& image, std::vector<uint8_t>& out) {
  out.clear();
  if (!image.IsValid()) {
    image.SetLastError("null image!!!");
    return false;
  }
  const int32_t bpp = image.Bpp();
  const auto width = static_cast<uint32_t>(image.Width());
  const auto height = static_cast<uint32_t>(image.Height());
  const uint16_t samples = bpp == 24 ? 3 : 1;
  const auto bitsPerSample = static_cast<uint16_t>(bpp / samples);
  const std::vector<RgbQuad> palette = image.GetPalette();

  uint16_t photometric = PHOTOMETRIC_RGB;
  uint16_t compression = COMPRESSION_NONE;
  bool invert = false;
  bool colourMap = false;
  switch (bpp) {
    case 1:
      // White is zero: when entry 0 is the darker colour the bits are
      // inverted so that 0 stands for the brighter one.
      photometric = PHOTOMETRIC_MINISWHITE;
      compression = COMPRESSION_CCITTFAX4;
      invert = palette.size() >= 2 && Brightness(palette[0]) < Brightness(palette[1]);
      break;
    case 4:
      photometric = IsGreyRamp(palette) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
      colourMap = photometric == PHOTOMETRIC_PALETTE;
      compression = COMPRESSION_LZW;
      break;
    case 8:
      // Only a grey ramp is written as JPEG grey. A colour palette keeps its
      // colour map with lossless LZW: JPEG would store the palette indices
      // as grey levels and lose every colour.
      if (IsGreyRamp(palette)) {
        photometric = PHOTOMETRIC_MINISBLACK;
        compression = COMPRESSION_JPEG;
      } else {
        photometric = PHOTOMETRIC_PALETTE;
        colourMap = true;
        compression = COMPRESSION_LZW;
      }
      break;
    case 24:
      photometric = PHOTOMETRIC_YCBCR;
      compression = COMPRESSION_JPEG;
      break;
    default: image.SetLastError("Error saving TIFF file"); return false;
  }

  tiff::TiffMemoryStream stream = tiff::TiffMemoryStream::Output();
  TiffHandle tif(tiff::OpenStream(stream, "(FakeOutput)", "w"));
  if (!tif) {
    image.SetLastError("initialization fail");
    return false;
  }
  TIFF* t = tif.get();
  const uint32_t rowsPerStrip = (height + 7) / 8 * 8;  // one strip
  bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0) && TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width) &&
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, height) &&
            TIFFSetField(t, TIFFTAG_COMPRESSION, compression) &&
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples) &&
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bitsPerSample) &&
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric) &&
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
            TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(image.XDpi())) &&
            TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(image.YDpi()));
  if (ok && compression == COMPRESSION_JPEG) {
    ok = TIFFSetField(t, TIFFTAG_JPEGQUALITY, std::clamp(image.JpegQuality(), 1, 100)) != 0;
    if (ok && photometric == PHOTOMETRIC_YCBCR)
      ok = TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) != 0;
  }
  if (ok && colourMap) {
    const size_t entries = size_t{1} << bitsPerSample;
    std::vector<uint16_t> red(entries), green(entries), blue(entries);
    for (size_t i = 0; i < entries && i < palette.size(); ++i) {
      red[i] = static_cast<uint16_t>(palette[i].red * 257);
      green[i] = static_cast<uint16_t>(palette[i].green * 257);
      blue[i] = static_cast<uint16_t>(palette[i].blue * 257);
    }
    ok = TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()) != 0;
  }
  const tmsize_t lineSize = TIFFScanlineSize(t);
  const size_t rowBytes = (static_cast<size_t>(width) * static_cast<size_t>(bpp) + 7) / 8;
  if (!ok || lineSize < static_cast<tmsize_t>(rowBytes)) {
    image.SetLastError("initialization fail");
    return false;
  }
  std::vector<uint8_t> line(static_cast<size_t>(lineSize));
  for (uint32_t r = 0; r < height && ok; ++r) {
    const uint8_t* src = image.StoredRow(static_cast<int32_t>(height - 1 - r));
    if (bpp == 24) {
      for (uint32_t x = 0; x < width; ++x) {
        line[3 * x] = src[3 * x + 2];
        line[3 * x + 1] = src[3 * x + 1];
        line[3 * x + 2] = src[3 * x];
      }
    } else {
      std::copy(src, src + rowBytes, line.begin());
      if (invert)
        for (size_t i = 0; i < rowBytes; ++i) line[i] = static_cast<uint8_t>(~line[i]);
    }
    ok = TIFFWriteScanline(t, line.data(), r, 0) >= 0;
  }
  ok = ok && TIFFFlush(t);
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
