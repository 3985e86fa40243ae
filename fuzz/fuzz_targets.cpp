// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz/fuzz_targets.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "formats/avif/avif_codec.h"
#include "formats/image_file.h"
#include "formats/jxl/jxl_codec.h"
#include "learned/net_file.h"
#include "sources/book_limits.h"
#include "sources/book_source.h"
#include "sources/comic_info.h"
#include "sources/pdf_reader.h"

namespace inkbrite::fuzz {
namespace {

// What every reader promises on success: a 24-bit picture whose rows are
// all there. Touching the first and last byte lets the sanitizers see a
// block that is shorter than it claims.
int Check(int result, const DibImage& image) {
  if (result == 0) return 0;
  if (!image.Is24Bit() || image.Width() <= 0 || image.Height() <= 0) __builtin_trap();
  const uint8_t* first = image.Row(0);
  const uint8_t* last = image.Row(image.Height() - 1) + image.Width() * 3 - 1;
  volatile uint8_t sink = static_cast<uint8_t>(*first ^ *last);
  (void)sink;
  return 0;
}

// Mutated chunks almost never keep a valid CRC, and libpng rejects them
// before anything of ours runs: the CRCs are put right in a copy first.
std::vector<uint8_t> WithPngCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> png(data, data + size);
  size_t at = 8;
  while (at <= png.size() && png.size() - at >= 12) {
    const uint8_t* p = png.data() + at;
    const size_t length = size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3];
    if (length > png.size() - at - 12) break;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, p + 4, static_cast<uInt>(length + 4)));
    uint8_t* out = png.data() + at + 8 + length;
    out[0] = static_cast<uint8_t>(crc >> 24);
    out[1] = static_cast<uint8_t>(crc >> 16);
    out[2] = static_cast<uint8_t>(crc >> 8);
    out[3] = static_cast<uint8_t>(crc);
    at += 12 + length;
  }
  return png;
}

// The AVIF and JPEG XL rows read through the helper program
// (formats/apart_codecs.h); their codecs are fuzzed in this process, where
// the fuzzer sees their coverage and the sanitizers their memory.
BytesReader InProcessReader(const FileFormat& format) {
  switch (format.code) {
    case kFormatAvif: return DecodeAvifBytes;
    case kFormatJxl: return DecodeJxlBytes;
    default: return format.readBytes;
  }
}

int FuzzReader(const FileFormat& format, const uint8_t* data, size_t size) {
  DibImage image;
  int grey = 0;
  if (format.code == kFormatPng) {
    const std::vector<uint8_t> png = WithPngCrcs(data, size);
    return Check(format.readBytes(png.data(), png.size(), image, &grey), image);
  }
  return Check(InProcessReader(format)(data, size, image, &grey), image);
}

// Every extension the table names, and one it does not.
std::vector<std::string> LoadExtensions() {
  std::vector<std::string> list;
  for (const FileFormat& f : FileFormats()) {
    for (const FormatExtension& e : f.extensions) {
      if (e.text != nullptr) list.emplace_back(e.text);
    }
  }
  list.emplace_back(".dat");
  return list;
}

// LoadImageFile reads from a file: the bytes go to a file of this process.
// Files without a signature (UFO, EMF, a plain WMF) are recognised by their
// extension, which the last byte of the input chooses.
int FuzzLoad(const uint8_t* data, size_t size) {
  static const std::vector<std::string> extensions = LoadExtensions();
  const std::string& ext = extensions[size == 0 ? 0 : data[size - 1] % extensions.size()];
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("inkbrite-fuzz-" + std::to_string(getpid()) + ext);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  DibImage image;
  int grey = 0;
  const int ok = written ? LoadImageFile(path, image, &grey) : 0;
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return Check(ok, image);
}

// A book in memory: listed, its ComicInfo.xml parsed, its first pages
// decoded and its other entries read, as the viewer and the batch job do.
int FuzzBook(const uint8_t* data, size_t size) {
  SourceError error = SourceError::kNone;
  std::unique_ptr<BookSource> book = BookSource::OpenMemory(data, size, error);
  if (!book) return 0;
  const ComicInfo info = book->Info();
  (void)info;
  constexpr size_t kPages = 16;
  for (size_t i = 0; i < book->PageCount() && i < kPages; ++i) {
    DibImage image;
    int grey = 0;
    Check(book->LoadPage(i, image, &grey) == SourceError::kNone ? 1 : 0, image);
  }
  for (size_t i = 0; i < book->Entries().size() && i < kPages; ++i) {
    if (book->Entries()[i].page) continue;
    std::vector<uint8_t> bytes;
    book->ReadEntry(i, kMaxOtherEntryBytes, bytes);
  }
  return 0;
}

// An answer of the PDF helper, as the reader takes it from its memory file:
// whatever it holds, the page sizes kept are within the limits and a page
// given is whole.
int FuzzPdfAnswer(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  PdfAnswer answer;
  answer.size = size - 1;
  answer.read = [data, size](uint64_t offset, void* out, size_t length) {
    if (offset > size - 1 || length > size - 1 - offset) return false;
    std::memcpy(out, data + 1 + offset, length);
    return true;
  };
  if (data[0] % 2 == 0) {
    std::vector<PdfPageSize> pages;
    const SourceError e = ReadPdfInfoAnswer(answer, pages);
    if (e != SourceError::kNone && !pages.empty()) __builtin_trap();
    for (const PdfPageSize& p : pages) {
      if (!ImageSizeWithinLimits(p.width, p.height)) __builtin_trap();
    }
    return 0;
  }
  DibImage image;
  int grey = 0;
  return Check(ReadPdfPageAnswer(answer, image, &grey) == SourceError::kNone ? 1 : 0, image);
}

// A ComicInfo.xml parsed, and rewritten for the pages a conversion wrote
// (left out, one page or two each, chosen by the first bytes).
int FuzzComicInfo(const uint8_t* data, size_t size) {
  ComicInfo info;
  ParseComicInfo(data, size, info);
  // Whatever came in, every field is valid UTF-8 of bounded length.
  for (const std::string* field : {&info.title, &info.series, &info.number, &info.writer}) {
    if (field->size() > kMaxComicInfoText) __builtin_trap();
  }
  if (size == 0) return 0;
  std::vector<uint8_t> outputs(static_cast<size_t>(data[0] % 16) + 1);
  for (size_t i = 0; i < outputs.size(); ++i) {
    outputs[i] = static_cast<uint8_t>((data[i % size] + i) % 3);
  }
  const std::optional<std::string> rewritten = ComicInfoForPages(data, size, outputs);
  // What it gives back is a ComicInfo document again.
  ComicInfo again;
  if (rewritten && !ParseComicInfo(reinterpret_cast<const uint8_t*>(rewritten->data()),
                                   rewritten->size(), again)) {
    __builtin_trap();
  }
  return 0;
}

// A network file: whatever it holds, a network read is whole (every tensor
// within the weights, every blob made before it is read) and its sizes can
// be asked for any input.
int FuzzNetFile(const uint8_t* data, size_t size) {
  learned::Net net;
  if (!learned::ReadNetFile({data, size}, net)) {
    if (!net.layers.empty() || !net.floats.empty()) __builtin_trap();
    return 0;
  }
  for (const learned::NetLayer& l : net.layers) {
    const size_t count = static_cast<size_t>(l.in) * static_cast<size_t>(std::max(l.out, 1)) *
                         static_cast<size_t>(l.kernel * l.kernel);
    if (l.weights != learned::kNoTensor && l.weights + count > net.floats.size() &&
        l.kind != learned::LayerKind::kPrelu) {
      __builtin_trap();
    }
    if (l.input >= l.output || l.input2 >= l.output) __builtin_trap();
  }
  int w = 0, h = 0;
  for (const int side : {1, 37, 4096}) learned::NetOutputSize(net, side, side, w, h);
  return 0;
}

}  // namespace

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = [] {
    std::vector<Target> list;
    for (const FileFormat& f : FileFormats()) {
      const Feed feed = f.role == FormatRole::kBook ? Feed::kBook : Feed::kReader;
      for (const char* name : f.fuzzTargets) {
        if (name != nullptr) list.push_back({name, &f, feed});
      }
    }
    list.push_back({"comicinfo", nullptr, Feed::kComicInfo});
    list.push_back({"load", nullptr, Feed::kLoad});
    list.push_back({"pdf-answer", nullptr, Feed::kPdfAnswer});
    list.push_back({"net-file", nullptr, Feed::kNetFile});
    return list;
  }();
  return targets;
}

const Target* FindTarget(std::string_view name) {
  for (const Target& t : Targets()) {
    if (name == t.name) return &t;
  }
  return nullptr;
}

int RunTarget(const Target& target, const uint8_t* data, size_t size) {
  switch (target.feed) {
    case Feed::kReader: return FuzzReader(*target.format, data, size);
    case Feed::kBook: return FuzzBook(data, size);
    case Feed::kComicInfo: return FuzzComicInfo(data, size);
    case Feed::kLoad: return FuzzLoad(data, size);
    case Feed::kPdfAnswer: return FuzzPdfAnswer(data, size);
    case Feed::kNetFile: return FuzzNetFile(data, size);
  }
  return 0;
}

}  // namespace inkbrite::fuzz
