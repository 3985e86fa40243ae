// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/image_file.h"

#include "formats/gif/gif_codec.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"

namespace inkbrite {

int LoadImageFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  int grey = 0;
  int result = 0;
  switch (DetectImageFormat(path, true)) {
    case kFormatJpeg: result = ReadJpegFile(path, image, &grey); break;
    case kFormatUfo: result = ReadUfoFile(path, image, &grey); break;
    case kFormatGif: result = ReadGifFile(path, image, &grey); break;
    case kFormatPng: result = ReadPngFile(path, image, &grey); break;
    case kFormatTiff: result = ReadTiffFile(path, image, &grey); break;
    case kFormatMetafile: result = ReadPictureFile(path, image, &grey); break;
    case kFormatJ2kStream:
    case kFormatJp2: result = ReadJpeg2000File(path, image, &grey); break;
    case kFormatBmp: {
      // Grey when the file is bilevel, measured before the conversion to 24
      // bits that LoadBmp ends with.
      int bits = 0;
      result = image.LoadBmp(path, &bits) ? 1 : 0;
      grey = bits < 2 ? 1 : 0;
      break;
    }
    default:
      // Unknown files are never read.
      return 0;
  }
  if (result == 0) return 0;
  if (greySource != nullptr) *greySource = grey;
  return 1;
}

int SaveImageFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality, SaveError* error) {
  auto fail = [error](SaveError why) {
    if (error != nullptr) *error = why;
    return 0;
  };
  if (image.IsEmpty()) return fail(SaveError::kEmptyImage);
  int result = 0;
  switch (DetectImageFormat(path, false)) {
    case kFormatJpeg:
      // A library error must not leave this function: a caller inside an
      // event loop would be ended by it.
      try {
        result = WriteJpegFile(path, image, quality, colourMode);
      } catch (const CJPEGException&) {
        result = 0;
      }
      break;
    case kFormatBmp: result = image.SaveBmp(path) ? 1 : 0; break;
    case kFormatPng: result = WritePngFile(path, image, colourMode); break;
    case kFormatJp2: result = WriteJp2File(path, image, colourMode, quality); break;
    case kFormatTiff: result = WriteTiffFile(path, image, colourMode, quality); break;
    default: return fail(SaveError::kUnsupportedExtension);
  }
  if (result == 0) return fail(SaveError::kWriteFailed);
  if (error != nullptr) *error = SaveError::kNone;
  return 1;
}

}  // namespace inkbrite
