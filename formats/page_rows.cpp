// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/page_rows.h"

#include <exception>
#include <new>
#include <utility>

#include "core/para_block.h"
#include "formats/detect.h"
#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "platform/read_status.h"

namespace inkbrite {

bool PageRowReader::SkipRows(int32_t count) {
  std::vector<uint8_t> row(static_cast<size_t>(m_width) * 3);
  for (int32_t i = 0; i < count; ++i) {
    if (!ReadRows(row.data(), row.size(), 1)) return false;
  }
  return true;
}

std::unique_ptr<PageRowReader> OpenPageRowReader(FileProbe& file) {
  // The format LoadImageFile would read the file with.
  const FileFormat* format = FindFileFormat(DetectImageFormat(file));
  if (format == nullptr || format->openRowReader == nullptr) return nullptr;
  try {
    return format->openRowReader(file);
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::unique_ptr<PageRowReader> OpenPageRowReader(const std::filesystem::path& path) {
  auto file = std::make_shared<FileProbe>(path);
  std::unique_ptr<PageRowReader> reader = OpenPageRowReader(*file);
  if (reader != nullptr) reader->KeepAlive(std::move(file));
  return reader;
}

std::unique_ptr<PageRowWriter> OpenPageRowWriter(const std::filesystem::path& path, int32_t width,
                                                 int32_t height, int colourMode, int quality) {
  // The format SaveImageFile would write the file with.
  const FileFormat* format = FindFileFormat(DetectImageFormat(path, false));
  if (format == nullptr || format->write == nullptr || format->openRowWriter == nullptr) {
    return nullptr;
  }
  try {
    return format->openRowWriter(path, width, height, colourMode, quality);
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::unique_ptr<PageRowReader> OpenPageRowReaderMemory(const uint8_t* data, size_t size,
                                                       std::string_view nameHint) {
  // The format LoadImageMemory would read the bytes with.
  const FileFormat* format = FindFileFormat(DetectImageFormatInMemory(data, size, nameHint));
  if (format == nullptr || format->readBytes == nullptr || format->openRowReaderBytes == nullptr ||
      data == nullptr || size == 0) {
    return nullptr;
  }
  try {
    return format->openRowReaderBytes(data, size);
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::unique_ptr<PageRowWriter> OpenPageRowWriterMemory(std::vector<uint8_t>& out,
                                                       const std::filesystem::path& name,
                                                       int32_t width, int32_t height,
                                                       int colourMode, int quality) {
  const FileFormat* format = FindFileFormat(DetectImageFormat(name, false));
  if (format == nullptr || format->write == nullptr || format->openRowWriterBytes == nullptr) {
    return nullptr;
  }
  try {
    return format->openRowWriterBytes(out, width, height, colourMode, quality);
  } catch (const std::exception&) {
    return nullptr;
  }
}

bool SavesGreyLevels(const std::filesystem::path& path, int colourMode) {
  const FileFormat* format = FindFileFormat(DetectImageFormat(path, false));
  if (format == nullptr || format->write == nullptr) return false;
  if (colourMode == kGreyComic) return format->openRowWriter != nullptr;
  return IsGreyMode(colourMode) && IsReducedMode(colourMode) && TakesReducedPages(path);
}

bool LoadGreyLevels(PageRowReader& reader, DibImage& page) {
  if (!reader.ReadsGrey()) return false;
  DibImage levels;
  try {
    if (!levels.CreateGreyLevels(reader.Width(), reader.Height())) return false;
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return false;
  }
  for (int32_t y = 0; y < reader.Height(); ++y) {
    if (!reader.ReadGreyRows(levels.Row(y), static_cast<size_t>(levels.RowBytes()), 1)) {
      return false;
    }
  }
  if (!reader.Finish()) return false;
  page = std::move(levels);
  return true;
}

}  // namespace inkbrite
