// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG files over libjpeg (the 6b interface, library version 62, as
// libjpeg-turbo provides it), and UFO files: JPEG files whose first ten bytes
// were replaced.
//
// Readers deliver a 24-bit DibImage and set *greySource (when given) to 1 for
// a one-component (greyscale) file, else 0. They return 1 on success and 0 on
// any failure; no exception leaves them. Truncated data decodes as far as it
// goes and counts as success. Pictures above the DibImage limits are refused
// before any pixel memory is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "formats/file_probe.h"
#include "formats/page_rows.h"

namespace inkbrite {

// An error reported by libjpeg: its message code and formatted text.
class CJPEGException : public std::exception {
 public:
  CJPEGException(int32_t code, std::string message)
      : m_nCode(code), m_strMessage(std::move(message)) {}

  int32_t Code() const noexcept { return m_nCode; }
  const std::string& Message() const noexcept { return m_strMessage; }
  const char* what() const noexcept override { return m_strMessage.c_str(); }

  // Copies the text into `buffer`, cut to `length` - 1 characters and
  // terminated. True unless the buffer is null or of length 0.
  bool GetErrorMessage(char* buffer, size_t length) const noexcept;

 private:
  int32_t m_nCode;
  std::string m_strMessage;
};

// Decodes a JPEG file. 0 when the file cannot be opened or decoded.
int ReadJpegFile(FileProbe& file, DibImage& image, int* greySource);
int ReadJpegFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// A JPEG picture's size in pixels, as its header gives it.
struct JpegSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Reads only the header of a JPEG file; false when it cannot be read.
bool ReadJpegSize(FileProbe& file, JpegSize& size);
bool ReadJpegSize(const std::filesystem::path& path, JpegSize& size);

// Decodes a JPEG file at 1/`denominator` of its size (1, 2, 4 or 8; the
// width and height rounded up), quickly and for showing only: the integer
// transform and plain upsampling. `fullSize` gets the picture's own size.
// 0 when the file cannot be opened or decoded, or for another denominator.
int ReadJpegFileReduced(FileProbe& file, int denominator, DibImage& image, int* greySource,
                        JpegSize* fullSize);
int ReadJpegFileReduced(const std::filesystem::path& path, int denominator, DibImage& image,
                        int* greySource, JpegSize* fullSize);

// The same for JPEG data held in memory (a book's page). The caller keeps
// the buffer.
int ReadJpegMemoryReduced(const uint8_t* data, size_t size, int denominator, DibImage& image,
                          int* greySource);

// Decodes JPEG data held in memory (for instance inside a TIFF file). The
// caller keeps the buffer. 0 at once for a null buffer or one shorter than 10
// bytes.
int ReadJpegMemory(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes a 24-bit image as a baseline-or-extended sequential JPEG with
// optimised Huffman tables and the floating-point DCT. `quality` goes to the
// library's quality scaling (0 acts as 1, above 100 as 100). A nonzero
// `grey` writes one component of the levels DibImage::Greyscale gives. The
// file is written through a
// SafeFileWriter: a failure leaves any previous file whole.
//
// Returns 0 when the image is not 24-bit or the file cannot be created or
// committed, 1 on success. A library error during compression (a picture
// wider or taller than 65500, a failed write) throws CJPEGException carrying
// the library's message; the partial output is discarded first.
int WriteJpegFile(const std::filesystem::path& path, const DibImage& image, int quality, int grey);

// WriteJpegFile with the writers' common arguments (`colourMode` nonzero
// writes grey); a library error gives 0 instead of an exception.
int WriteJpegPage(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality);

// Row by row (formats/page_rows.h): the rows of ReadJpegFile, and the bytes
// of WriteJpegPage. Null where those would fail at the start (a header that
// does not read or claims too large a picture; a file that cannot be
// created). The probe outlives the reader.
std::unique_ptr<PageRowReader> OpenJpegRowReader(FileProbe& file);
std::unique_ptr<PageRowWriter> OpenJpegRowWriter(const std::filesystem::path& path, int32_t width,
                                                 int32_t height, int colourMode, int quality);
// The same over bytes in memory: the rows of ReadJpegMemory; the bytes
// WriteJpegPage writes, put in `out` by Commit.
std::unique_ptr<PageRowReader> OpenJpegRowReaderMemory(const uint8_t* data, size_t size);
std::unique_ptr<PageRowWriter> OpenJpegRowWriterMemory(std::vector<uint8_t>& out, int32_t width,
                                                       int32_t height, int colourMode, int quality);

// Decodes a UFO file: its first ten bytes are replaced by the JFIF start
// (FF D8 FF E0 00 10 "JFIF") and the rest is read as JPEG data. Files shorter
// than 11 bytes give 0.
int ReadUfoFile(FileProbe& file, DibImage& image, int* greySource);
int ReadUfoFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// ReadUfoFile on bytes already in memory (copied: the caller's are kept).
int DecodeUfoBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// The luminance quantisation table (table 0) of a JPEG file, read from
// the segments before its first scan, for the JPEG clean-up step. False
// when the data is not a JPEG file, a segment is damaged or there is no
// table 0. The file forms read the file's first 64 KiB only.
bool ReadJpegQuantisers(const uint8_t* data, size_t size, JpegQuantisers& out);
bool ReadJpegQuantisers(FileProbe& file, JpegQuantisers& out);
bool ReadJpegQuantisers(const std::filesystem::path& path, JpegQuantisers& out);

}  // namespace inkbrite
