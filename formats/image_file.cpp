// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/image_file.h"

#include <exception>
#include <memory>

#include "core/enhance.h"
#include "core/para_block.h"
#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "formats/page_rows.h"
#include "formats/reduce_save.h"

namespace inkbrite {

namespace {

// 0 with the reason of the failed read in *status (damage when nothing
// more precise was noted).
int Failed(const ReadNotes& notes, ReadStatus* status) {
  if (status != nullptr) {
    *status = notes.Status().Failed() ? notes.Status() : ReadStatus{ReadError::kDamaged, 0};
  }
  return 0;
}

// A page of grey levels saved grey by a writer that takes grey rows, from
// its rows as they are: 1 written, 0 failed, -1 no such writer here (the
// page is then widened for the format's writer).
int WriteGreyLevels(const std::filesystem::path& path, const DibImage& page, int colourMode,
                    int quality) {
  if (colourMode != 1) return -1;
  std::unique_ptr<PageRowWriter> writer =
      OpenPageRowWriter(path, page.Width(), page.Height(), colourMode, quality);
  if (writer == nullptr || !writer->TakesGreyRows()) return -1;
  for (int32_t y = 0; y < page.Height(); ++y) {
    if (!writer->WriteGreyRows(page.Row(y), static_cast<size_t>(page.RowBytes()), 1)) return 0;
  }
  return writer->Commit() ? 1 : 0;
}

// What the format's writer writes of the page: a page of grey levels as
// its 24-bit page.
int WritePage(const FileFormat& format, const std::filesystem::path& path, const DibImage& page,
              int colourMode, int quality) {
  if (!page.IsGreyLevels()) return format.write(path, page, colourMode, quality);
  if (const int written = WriteGreyLevels(path, page, colourMode, quality); written >= 0) {
    return written;
  }
  DibImage wide = page;
  if (!wide.ConvertTo24Bit()) return 0;
  return format.write(path, wide, colourMode, quality);
}

}  // namespace

int LoadImageFile(const std::filesystem::path& path, DibImage& image, int* greySource,
                  ReadStatus* status) {
  FileProbe file(path);
  return LoadImageFile(file, image, greySource, status);
}

int LoadImageFile(FileProbe& file, DibImage& image, int* greySource, ReadStatus* status) {
  ReadNotes notes;
  // A file that did not open fails for that, whatever its name says.
  file.NoteIfClosed();
  const FileFormat* format = FindFileFormat(DetectImageFormat(file));
  // Unknown files are never read.
  if (format == nullptr || format->read == nullptr) {
    notes.NoteIfNone(ReadError::kNotThisFormat);
    return Failed(notes, status);
  }
  int grey = 0;
  if (format->read(file, image, &grey) == 0) return Failed(notes, status);
  if (greySource != nullptr) *greySource = grey;
  if (status != nullptr) *status = {};
  return 1;
}

int LoadImageMemory(const uint8_t* data, size_t size, std::string_view nameHint, DibImage& image,
                    int* greySource, ReadStatus* status) {
  ReadNotes notes;
  const FileFormat* format = FindFileFormat(DetectImageFormatInMemory(data, size, nameHint));
  if (format == nullptr || format->readBytes == nullptr || data == nullptr || size == 0) {
    notes.NoteIfNone(ReadError::kNotThisFormat);
    return Failed(notes, status);
  }
  int grey = 0;
  if (format->readBytes(data, size, image, &grey) == 0) return Failed(notes, status);
  if (greySource != nullptr) *greySource = grey;
  if (status != nullptr) *status = {};
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
    result = WritePage(*format, path, image, colourMode, quality);
  } catch (const std::exception&) {
    result = 0;
  }
  if (result == 0) return fail(SaveError::kWriteFailed);
  if (error != nullptr) *error = SaveError::kNone;
  return 1;
}

int SavePageInColourMode(const std::filesystem::path& path, const DibImage& page, int colourMode,
                         bool greySource, int quality, SaveError* error, int deflateLevel) {
  const int mode = ResolveKeepAsIs(colourMode, greySource);
  if (!IsReducedMode(mode)) {
    return SaveImageFile(path, page, mode == kGreyComic ? 1 : 0, quality, error);
  }
  auto fail = [error](SaveError why) {
    if (error != nullptr) *error = why;
    return 0;
  };
  if (page.IsEmpty()) return fail(SaveError::kEmptyImage);
  if (!HasWriter(path)) return fail(SaveError::kUnsupportedExtension);
  if (!TakesReducedPages(path)) return fail(SaveError::kNoReducedPages);
  ColourReduction reduction{};
  bool saved = false;
  try {
    saved = ReductionForColourMode(mode, reduction) &&
            SaveReducedPage(page, reduction.grey, reduction.bits, reduction.colours, path,
                            deflateLevel);
  } catch (const std::exception&) {
    saved = false;
  }
  if (!saved) return fail(SaveError::kWriteFailed);
  if (error != nullptr) *error = SaveError::kNone;
  return 1;
}

}  // namespace inkbrite
