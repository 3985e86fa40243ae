// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/reduce_save.h"

#include "core/colour.h"
#include "core/ximage.h"
#include "formats/container_save.h"
#include "formats/format_table.h"

namespace inkbrite {

namespace {

// The container type a reduced page is saved with, from the file's name.
int ReducedSaveType(const std::filesystem::path& path) {
  const FileFormat* format = FindFileFormat(DetectImageFormat(path, false));
  return format == nullptr ? kCxImageUnknown : format->reducedPages;
}

}  // namespace

bool SaveReducedPage(const DibImage& image, bool grey, int bits, int colours,
                     const std::filesystem::path& path, int deflateLevel) {
  const int type = ReducedSaveType(path);
  if (type == kCxImageUnknown) return false;
  CxImage reduced;
  if (!ReduceToContainer(image, grey, bits, colours, reduced)) return false;
  reduced.SetDeflateLevel(deflateLevel);
  return SaveContainer(reduced, path, type);
}

bool ReduceColoursAndSave(DibImage& image, bool grey, int bits, int colours,
                          const std::filesystem::path& path) {
  if (!SaveReducedPage(image, grey, bits, colours, path)) return false;
  // The reduction greyed a copy of the pixels; the page follows only now
  // that the file is written, so a failure leaves it as it was.
  if (grey) image.Greyscale();
  return true;
}

}  // namespace inkbrite
