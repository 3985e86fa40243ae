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

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "core/dib_image.h"

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

}  // namespace inkbrite::jpeg_detail
