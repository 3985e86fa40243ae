// SPDX-License-Identifier: GPL-2.0-or-later
// What the JPEG reader and writer share: the error manager that turns
// libjpeg errors into CJPEGException, and the source manager that feeds the
// decoder from a file or a memory buffer.
//
// Errors leave libjpeg by a C++ exception thrown from error_exit and unwound
// through the library's frames (it is built with unwind tables and holds no
// resources of its own on the stack: everything lives in the compress or
// decompress object, which jpeg_destroy_* frees in whatever state it is).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

#include <jerror.h>
#include <jpeglib.h>

#include "core/dib_image.h"
#include "formats/jpeg/jpeg_codec.h"

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo is required: the codec reads and writes blue-green-red rows directly"
#endif

namespace inkbrite::jpeg_detail {

// Size of the source manager's buffer.
inline constexpr size_t kSourceBufferSize = 4096;

// A readable byte source for the decoder: a disk file or a caller's buffer.
class JpegInput {
 public:
  virtual ~JpegInput() = default;
  // Reads up to `size` bytes; returns the count read, 0 at the end or on a
  // read error.
  virtual size_t Read(uint8_t* buffer, size_t size) = 0;
  // The size of the whole input in bytes, for the limits of core/limits.h.
  virtual uint64_t Size() const = 0;
};

// The decoder's input from a caller's buffer of `size` bytes.
class MemoryInput final : public JpegInput {
 public:
  MemoryInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  size_t Read(uint8_t* buffer, size_t size) override {
    const size_t count = std::min(size, m_size - m_pos);
    std::memcpy(buffer, m_data + m_pos, count);
    m_pos += count;
    return count;
  }
  uint64_t Size() const override { return m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// The progress monitor that refuses a file of more than kMaxJpegScans scans
// (a progressive file may repeat scans without end): set it as the
// decompressor's progress_monitor.
void LimitScans(j_common_ptr cinfo);

// Sets `err` up as the library's standard error manager with two entries
// replaced: error_exit throws CJPEGException with the message code and text,
// output_message discards warnings and trace messages. Returns `err`.
jpeg_error_mgr* InitErrorManager(jpeg_error_mgr& err);

// Attaches a source manager reading from `input` to a created decompressor.
// Its 4096-byte buffer comes from the library's permanent pool, once per
// decompressor. An input that delivers nothing raises "Empty input file"; one
// that ends early gets an end-of-image marker (FF D9) inserted with the
// warning "Premature end of JPEG file", so the decoder finishes the picture.
void AttachSource(j_decompress_ptr cinfo, JpegInput& input);

// Decodes `input` into a 24-bit image; 1 or 0. Never throws.
int ReadJpegStream(JpegInput& input, DibImage& image, int* greySource);

// Decodes `input` at 1/denominator of its size (the width and height
// rounded up), quickly and for showing only: the integer transform and plain
// upsampling. `choose` gives the denominator (1, 2, 4 or 8; anything else
// refuses) from the picture's own size once the header is read;
// *fullSize gets that size. The limits of the full decoding hold. 1 or 0
// (the image cleared). Never throws.
int ReadJpegStreamReduced(JpegInput& input, const std::function<int(JpegSize)>& choose,
                          DibImage& image, int* greySource, JpegSize* fullSize);

}  // namespace inkbrite::jpeg_detail
