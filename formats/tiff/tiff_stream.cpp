// SPDX-License-Identifier: GPL-2.0-or-later
// The memory stream handed to libtiff, and opening libtiff on it.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "formats/tiff/tiff_pvt.h"
#include "platform/read_status.h"

namespace inkbrite::tiff {
namespace {

TiffMemoryStream& StreamOf(thandle_t handle) { return *static_cast<TiffMemoryStream*>(handle); }

tmsize_t StreamRead(thandle_t handle, void* buffer, tmsize_t count) {
  TiffMemoryStream& s = StreamOf(handle);
  if (s.data == nullptr || count <= 0 || s.position >= s.size) return 0;
  // Deliberately bounded: a damaged file may make libtiff ask for more than
  // the buffer holds; only the bytes that remain are returned, which libtiff
  // then treats as a short read.
  const uint64_t available = s.size - s.position;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), available);
  std::memcpy(buffer, s.data + s.position, n);
  s.position += static_cast<uint32_t>(n);
  return static_cast<tmsize_t>(n);
}

tmsize_t StreamWrite(thandle_t handle, void* buffer, tmsize_t count) {
  TiffMemoryStream& s = StreamOf(handle);
  // An input stream wraps bytes the caller owns: it never accepts a write.
  if (s.fixed || count <= 0) return 0;
  const uint64_t end = uint64_t{s.position} + static_cast<uint64_t>(count);
  if (end > kMaxStreamBytes) return 0;
  try {
    if (end > s.storage.size()) {
      if (end > s.storage.capacity())
        s.storage.reserve(std::max<uint64_t>(end, s.storage.size() * 2));
      s.storage.resize(end);
    }
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return 0;
  }
  s.data = s.storage.data();
  std::memcpy(s.data + s.position, buffer, static_cast<size_t>(count));
  s.position = static_cast<uint32_t>(end);
  s.size = std::max(s.size, static_cast<uint32_t>(end));
  return count;
}

toff_t StreamSeek(thandle_t handle, toff_t offset, int whence) {
  TiffMemoryStream& s = StreamOf(handle);
  int64_t target = 0;
  const auto signedOffset = static_cast<int64_t>(offset);
  switch (whence) {
    case SEEK_SET: target = offset > kMaxStreamBytes ? int64_t{s.size} + 1 : signedOffset; break;
    case SEEK_CUR: target = int64_t{s.position} + signedOffset; break;
    case SEEK_END: target = int64_t{s.size} + signedOffset; break;
    default: return static_cast<toff_t>(-1);
  }
  if (target < 0) target = 0;
  // An input stream clamps to its size. An output stream may be placed past
  // its end: libtiff aligns a directory to an even offset by seeking one byte
  // beyond the data, and the gap is filled with zeros when written. Clamping
  // there would make libtiff record a directory offset that is not where the
  // directory went.
  const int64_t limit = s.fixed ? int64_t{s.size} : static_cast<int64_t>(kMaxStreamBytes);
  if (target > limit) target = limit;
  s.position = static_cast<uint32_t>(target);
  return static_cast<toff_t>(target);
}

int StreamClose(thandle_t) { return 0; }

toff_t StreamSize(thandle_t handle) { return StreamOf(handle).size; }

int StreamMap(thandle_t handle, void** base, toff_t* size) {
  TiffMemoryStream& s = StreamOf(handle);
  if (!s.fixed || s.data == nullptr) return 0;
  *base = s.data;
  *size = s.size;
  return 1;
}

void StreamUnmap(thandle_t, void*, toff_t) {}

int Swallow(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TiffMemoryStream TiffMemoryStream::Input(const uint8_t* bytes, size_t count) {
  TiffMemoryStream stream;
  // libtiff's procedures take non-const pointers; an input stream never
  // writes through this one.
  stream.data = const_cast<uint8_t*>(bytes);
  stream.size = count > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                             : static_cast<uint32_t>(count);
  stream.fixed = 1;
  return stream;
}

bool TiffMemoryStream::Append(const uint8_t* bytes, size_t count) {
  if (count == 0) return true;
  position = size;
  return StreamWrite(this, const_cast<uint8_t*>(bytes), static_cast<tmsize_t>(count)) ==
         static_cast<tmsize_t>(count);
}

TIFF* OpenStream(TiffMemoryStream& stream, const char* name, const char* mode) {
  // Messages raised before a handle exists go to the process-wide handlers.
  // They are silenced once for the whole process: setting them at every
  // open, from several batch workers at once, was a data race.
  static std::once_flag silenced;
  std::call_once(silenced, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, Swallow, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Swallow, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxStreamBytes));
  TIFF* tif = TIFFClientOpenExt(name, mode, &stream, StreamRead, StreamWrite, StreamSeek,
                                StreamClose, StreamSize, StreamMap, StreamUnmap, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace inkbrite::tiff
