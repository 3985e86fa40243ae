// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the JPEG 2000 reader and writer: OpenJPEG objects owned by
// smart pointers, and the message handler that keeps the library silent.
#pragma once

#include <openjpeg.h>

#include <memory>

namespace inkbrite::jp2 {

inline void Silent(const char* /*message*/, void* /*clientData*/) {}

struct CodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

}  // namespace inkbrite::jp2
