// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/image_file.h"

#include <exception>

#include "formats/format_table.h"

namespace inkbrite {

int LoadImageFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  const FileFormat* format = FindFileFormat(DetectImageFormat(path, true));
  // Unknown files are never read.
  if (format == nullptr || format->read == nullptr) return 0;
  int grey = 0;
  if (format->read(path, image, &grey) == 0) return 0;
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
  const FileFormat* format = FindFileFormat(DetectImageFormat(path, false));
  if (format == nullptr || format->write == nullptr) {
    return fail(SaveError::kUnsupportedExtension);
  }
  int result = 0;
  // No error may leave this function: a caller inside an event loop would be
  // ended by it.
  try {
    result = format->write(path, image, colourMode, quality);
  } catch (const std::exception&) {
    result = 0;
  }
  if (result == 0) return fail(SaveError::kWriteFailed);
  if (error != nullptr) *error = SaveError::kNone;
  return 1;
}

}  // namespace inkbrite
