// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing a page a band of rows at a time, so that a converted
// page never waits whole in memory between its decoder and its encoder (the
// batch converter's streaming path, batch/stream_convert.h).
//
// A row reader gives the rows of the whole-page reader of its format, byte
// for byte, and fails where that reader fails; a row writer writes the bytes
// of SaveImageFile for the same rows, colour mode and quality, through a
// SafeFileWriter (nothing is left behind unless it commits). The formats
// that stream have both in their row of the format table (JPEG today); any
// other file is read and written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite {

class FileProbe;

class PageRowReader {
 public:
  virtual ~PageRowReader() = default;
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  // The whole-page reader's grey-source flag.
  bool GreySource() const { return m_greySource; }

  // Decodes the next `count` rows, top first, as 24-bit blue-green-red rows
  // of Width() * 3 bytes, `stride` bytes apart. False when the data cannot
  // be decoded: the file is unreadable (its whole-page reader fails too).
  virtual bool ReadRows(uint8_t* rows, size_t stride, int32_t count) = 0;
  // Passes over the next `count` rows (at most those left): the rows read
  // after are those ReadRows would give after reading these. A format may
  // skip them faster than it decodes them. False as ReadRows.
  virtual bool SkipRows(int32_t count);
  // After the last row: false when the end of the file holds an error the
  // whole-page reader fails on.
  virtual bool Finish() = 0;

  // True when every pixel ReadRows gives has three equal bytes (a
  // one-component file): the rows may then be read as grey levels instead,
  // one byte a pixel, the byte ReadRows would give three times. A reader is
  // read one way or the other from its first row to its last.
  bool ReadsGrey() const { return m_readsGrey; }
  virtual bool ReadGreyRows(uint8_t* rows, size_t stride, int32_t count) {
    (void)rows, (void)stride, (void)count;
    return false;
  }

  // Keeps `owner` (the probe of the file read) until the reader is gone.
  void KeepAlive(std::shared_ptr<void> owner) { m_owner = std::move(owner); }

 protected:
  int32_t m_width = 0;
  int32_t m_height = 0;
  bool m_greySource = false;
  bool m_readsGrey = false;

 private:
  std::shared_ptr<void> m_owner;
};

class PageRowWriter {
 public:
  // Without a successful Commit, nothing of the file is left.
  virtual ~PageRowWriter() = default;
  // Encodes the next `count` rows (top first, Width() * 3 bytes of
  // blue-green-red each, `stride` bytes apart). False on a failure (a
  // library error, a full disk): the file is then not written.
  virtual bool WriteRows(const uint8_t* rows, size_t stride, int32_t count) = 0;
  // After the last row: finishes the file and puts it in place.
  virtual bool Commit() = 0;

  // True when the writer also takes rows of grey levels (Width() bytes
  // each), as every writer opened for grey does: its grey rows write the
  // bytes that WriteRows writes for pixels repeating each level three times.
  // A writer is written one way or the other from its first row to its last.
  virtual bool TakesGreyRows() const { return false; }
  virtual bool WriteGreyRows(const uint8_t* rows, size_t stride, int32_t count) {
    (void)rows, (void)stride, (void)count;
    return false;
  }
};

// A reader of a probed file, which outlives it.
using RowReaderOpener = std::unique_ptr<PageRowReader> (*)(FileProbe& file);
using RowWriterOpener = std::unique_ptr<PageRowWriter> (*)(const std::filesystem::path& path,
                                                           int32_t width, int32_t height,
                                                           int colourMode, int quality);
// The same over bytes in memory: a reader of a file's bytes (which must
// outlive it), a writer whose Commit puts the file's bytes in `out`.
using RowBytesReaderOpener = std::unique_ptr<PageRowReader> (*)(const uint8_t* data, size_t size);
using RowBytesWriterOpener = std::unique_ptr<PageRowWriter> (*)(std::vector<uint8_t>& out,
                                                                int32_t width, int32_t height,
                                                                int colourMode, int quality);

// A row reader of the file, when LoadImageFile would read it with a format
// that streams and its header reads; null otherwise (the caller reads the
// page whole, and meets any failure there). The probe outlives the reader;
// the path form probes the file for the reader alone.
std::unique_ptr<PageRowReader> OpenPageRowReader(FileProbe& file);
std::unique_ptr<PageRowReader> OpenPageRowReader(const std::filesystem::path& path);

// A row writer of `path` for a width x height page, when SaveImageFile
// would write it with a format that streams (by the name's extension) and
// the file can be started; null otherwise. `colourMode` 0 writes colour, 1
// grey (SaveImageFile's one grey rule); `quality` as SaveImageFile takes it.
std::unique_ptr<PageRowWriter> OpenPageRowWriter(const std::filesystem::path& path, int32_t width,
                                                 int32_t height, int colourMode, int quality);

// The same for a file's bytes in memory (a page of a book): a reader when
// LoadImageMemory would read them (`nameHint` as it takes it) with a format
// that streams; a writer whose Commit leaves in `out` the bytes
// SaveImageFile would write to a file of that name (`out` is written as the
// rows arrive, from the capacity the caller reserved; emptied on a failure).
std::unique_ptr<PageRowReader> OpenPageRowReaderMemory(const uint8_t* data, size_t size,
                                                       std::string_view nameHint);
std::unique_ptr<PageRowWriter> OpenPageRowWriterMemory(std::vector<uint8_t>& out,
                                                       const std::filesystem::path& name,
                                                       int32_t width, int32_t height,
                                                       int colourMode, int quality);

// The whole page of a file that reads as grey levels (ReadsGrey), as a page
// of grey levels (DibImage::CreateGreyLevels): the 24-bit page LoadImageFile
// gives, at a third of the memory. False,
// `page` untouched, for any other file, and when the rows fail (the caller
// reads the file the usual way and meets its failure there).
bool LoadGreyLevels(PageRowReader& reader, DibImage& page);

// True when SavePageInColourMode writes a page of grey levels to `path` in
// `colourMode` (resolved) from its grey levels, without a 24-bit copy: grey
// into a format whose row writer takes grey rows, or a grey reduction.
bool SavesGreyLevels(const std::filesystem::path& path, int colourMode);

}  // namespace inkbrite
