// SPDX-License-Identifier: GPL-2.0-or-later
// What the PNG reader, writer and container encoder share: ownership of the
// libpng structures, the silent error handlers, the FILE* output callbacks
// and the one place where libpng's longjmp error path is caught.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "platform/read_status.h"

namespace inkbrite::png_detail {

// libpng errors unwind to the setjmp of RunGuarded; nothing is printed
// (a desktop program has no console to read it, and the result says enough).
// A side beyond png_set_user_limits is refused by libpng itself: a warning
// with this message, then the error. Noted as the side limit it is.
inline void NoteIfSideLimit(png_const_charp message) {
  if (message != nullptr && std::strstr(message, "exceeds user limit") != nullptr) {
    NoteReadFailure(ReadError::kOverSideLimit);
  }
}
[[noreturn]] inline void OnPngError(png_structp png, png_const_charp message) {
  NoteIfSideLimit(message);
  // libpng's own allocations failed ("Out of memory", "Insufficient memory").
  if (message != nullptr && (std::strstr(message, "ut of memory") != nullptr ||
                             std::strstr(message, "nsufficient memory") != nullptr)) {
    NoteReadFailure(ReadError::kOutOfMemory);
  }
  png_longjmp(png, 1);
}
inline void OnPngWarning(png_structp /*png*/, png_const_charp message) { NoteIfSideLimit(message); }

// Runs `body`, a lambda full of libpng calls, with libpng's error return
// point set: true when it ran to its end, false when libpng raised an error.
// A longjmp skips destructors, so `body` must hold only plain data (pointers,
// numbers, C arrays): allocate in the caller's frame, before the call.
template <typename Body>
bool RunGuarded(png_structp png, Body&& body) {
  if (setjmp(png_jmpbuf(png))) return false;
  body();
  return true;
}

// A read or write structure with its information structure, destroyed
// together. `png` is null when the library could not make the structure,
// `info` null when it could not make the information structure.
class PngReadHandle {
 public:
  PngReadHandle() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~PngReadHandle() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
  PngReadHandle(const PngReadHandle&) = delete;
  PngReadHandle& operator=(const PngReadHandle&) = delete;

  png_structp png = nullptr;
  png_infop info = nullptr;
};

class PngWriteHandle {
 public:
  PngWriteHandle() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~PngWriteHandle() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
  PngWriteHandle(const PngWriteHandle&) = delete;
  PngWriteHandle& operator=(const PngWriteHandle&) = delete;

  png_structp png = nullptr;
  png_infop info = nullptr;
};

// Output to a C stream. A short write or a failed flush is a library error,
// so the encoder stops at once and reports the failure.
inline void WriteToFile(png_structp png, png_bytep data, size_t size) {
  auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, size, file) != size) png_error(png, "Write Error");
}
inline void FlushFile(png_structp png) {
  auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
  if (std::fflush(file) != 0) png_error(png, "Flush Error");
}

}  // namespace inkbrite::png_detail
