// SPDX-License-Identifier: GPL-2.0-or-later
// EMF to SVG with libemf2svg.
//
// The converter's SVG namespace prefix stays unset: with a prefix the
// library leaks a copy of it on every call. Its output buffer is ours to
// free, also when it reports a failure after writing part of a document.
#include <dlfcn.h>
#include <emf2svg.h>

#include <climits>
#include <cstdlib>

#include "formats/metafile/metafile_pvt.h"

namespace inkbrite::metafile {

namespace {

constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr size_t kHeaderDescriptionAt = 60;  // nDescription, then offDescription

uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// libemf2svg draws each record from the fields it holds without checking
// them against the record's size: a header whose description lies past the
// end of the file, or any record whose counts reach beyond it, is read out
// of bounds. libUEMF, which it is built on, exports the check for each
// record type (U_emf_record_safe, declared in its uemf_safe.h, which Debian
// does not ship); it is looked up in the already loaded library. The
// module that holds this code is loaded with RTLD_LOCAL, so libemf2svg and
// libUEMF are not in the program's global scope: the check is looked up
// from libemf2svg's own handle, which searches its dependencies.
using RecordCheck = int (*)(const char* record);
RecordCheck LookUpRecordCheck() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&emf2svg), &info) == 0 || info.dli_fname == nullptr) {
    return nullptr;
  }
  // Already loaded: this takes a reference to it and loads nothing.
  void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  return reinterpret_cast<RecordCheck>(dlsym(library, "U_emf_record_safe"));
}

RecordCheck FindRecordCheck() {
  static const RecordCheck check = LookUpRecordCheck();
  return check;
}

// Record types libUEMF has no check for: it would print a warning for each
// (and pass it), so they are not handed to it.
bool HasRecordCheck(uint32_t type) {
  switch (type) {
    case 69:
    case 96:
    case 97:
    case 102:
    case 103:
    case 105:
    case 106:
    case 107:
    case 109:
    case 110:
    case 111:
    case 112:
    case 113:
    case 117:
    case 119:
    case 120:
    case 121: return false;
    default: return type >= 1 && type <= 122;
  }
}

// True when the records, from the header to the end-of-file record, each
// lie inside the file and pass libUEMF's check of their fields. The
// converter then reads nothing outside the buffer.
bool RecordsAreSound(const uint8_t* data, size_t size) {
  const RecordCheck check = FindRecordCheck();
  size_t at = 0;
  for (;;) {
    if (size - at < 8) return false;  // no end-of-file record
    const uint8_t* record = data + at;
    const uint32_t type = U32(record);
    const uint32_t length = U32(record + 4);
    if (length < 8 || length % 4 != 0 || length > size - at) return false;
    if ((at == 0) != (type == kEmrHeader)) return false;
    if (type == kEmrHeader && length >= kHeaderDescriptionAt + 8) {
      const uint64_t characters = U32(record + kHeaderDescriptionAt);
      const uint64_t offset = U32(record + kHeaderDescriptionAt + 4);
      if (characters != 0 && (offset > length || (length - offset) / 2 < characters)) return false;
      // With no length the converter reads up to a zero character: it must
      // find one inside the header.
      if (characters == 0 && offset != 0) {
        bool terminated = false;
        for (uint64_t i = offset; i + 1 < length && !terminated; i += 2) {
          terminated = record[i] == 0 && record[i + 1] == 0;
        }
        if (!terminated) return false;
      }
    }
    if (check != nullptr && HasRecordCheck(type) &&
        check(reinterpret_cast<const char*>(record)) == 0) {
      return false;
    }
    if (type == kEmrEof) return true;
    at += length;
  }
}

}  // namespace

bool EmfToSvg(const uint8_t* data, size_t size, PictureSize pictureSize, std::string& svg) {
  if (data == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) return false;
  if (!RecordsAreSound(data, size)) return false;
  generatorOptions options = {};
  options.nameSpace = nullptr;
  options.verbose = false;
  options.emfplus = true;
  options.svgDelimiter = true;
  options.imgWidth = pictureSize.width;
  options.imgHeight = pictureSize.height;

  // The converter only reads the buffer.
  char* out = nullptr;
  size_t outLength = 0;
  const int converted = emf2svg(reinterpret_cast<char*>(const_cast<uint8_t*>(data)), size, &out,
                                &outLength, &options);
  bool ok = converted != 0 && out != nullptr && outLength > 0;
  if (ok) {
    try {
      svg.assign(out, outLength);
    } catch (...) {
      ok = false;
    }
  }
  std::free(out);
  return ok;
}

}  // namespace inkbrite::metafile
