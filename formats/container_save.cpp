// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/container_save.h"

#include "formats/apart_codecs.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/webp/webp_codec.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

using Encoder = bool (*)(CxImage&, std::FILE*);

bool EncodeBmpFile(CxImage& image, std::FILE* file) { return image.EncodeBmp(file); }

// The encoder of a container type; null when there is none.
Encoder EncoderFor(int type) {
  switch (type) {
    case kCxImageBmp: return EncodeBmpFile;
    case kCxImagePng: return EncodePng;
    case kCxImageJp2: return [](CxImage& image, std::FILE* file) { return EncodeJp2(image, file); };
    case kCxImageTiff: return EncodeTiff;
    case kCxImageWebp: return EncodeWebp;
    case kCxImageJxl: return EncodeJxlApart;
    default: return nullptr;
  }
}

}  // namespace

bool SaveContainer(CxImage& image, const std::filesystem::path& path, int type) {
  if (!image.IsValid()) {
    image.SetLastError("Encode: no picture");
    return false;
  }
  const Encoder encode = EncoderFor(type);
  if (encode == nullptr) {
    image.SetLastError("Encode: Unknown format");
    return false;
  }
  SafeFileWriter writer(path);
  if (!writer.Open()) {
    image.SetLastError("Encode: cannot create the file");
    return false;
  }
  if (!encode(image, writer.Stream())) {
    writer.Discard();
    return false;
  }
  if (!writer.Commit()) {
    image.SetLastError("Encode: cannot write the file");
    return false;
  }
  return true;
}

}  // namespace inkbrite
