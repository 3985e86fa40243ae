// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/seven_zip_probe.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sources/book_limits.h"

namespace inkbrite {

namespace {

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t kStartHeader = 32;
// Where libarchive looks for the archive inside a self-extracting program.
constexpr uint64_t kSfxEnd = 0x60000;

// Property ids of the header.
enum : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEncodedHeader = 0x17,
};

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }

// Thrown through the walk: why the header is refused.
struct Refusal {
  SourceError error;
};
[[noreturn]] void Refuse(SourceError error = SourceError::kDamaged) { throw Refusal{error}; }

struct Coder {
  std::vector<uint8_t> id;
  std::vector<uint8_t> properties;
  uint64_t inStreams = 1;
  uint64_t outStreams = 1;
};

struct Folder {
  std::vector<Coder> coders;
  uint64_t outStreams = 0;
  std::vector<uint64_t> unpackSizes;  // one per out stream
  std::vector<uint64_t> boundOut;     // out streams that feed another coder
  bool crc = false;                   // its unpacked data has a checksum
};

struct StreamsInfo {
  uint64_t packPos = 0;
  std::vector<uint64_t> packSizes;
  std::vector<Folder> folders;
};

// Reads the header's bytes, every length checked against what is left.
class Walk {
 public:
  Walk(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}

  size_t Left() const { return static_cast<size_t>(m_end - m_p); }
  uint8_t Byte() {
    if (m_p == m_end) Refuse();
    return *m_p++;
  }
  const uint8_t* Bytes(uint64_t n) {
    if (n > Left()) Refuse();
    const uint8_t* at = m_p;
    m_p += n;
    return at;
  }
  // A 7z number: the leading 1 bits of the first byte say how many bytes
  // follow.
  uint64_t Number() {
    const uint8_t first = Byte();
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) {
        return value | (uint64_t{static_cast<uint8_t>(first & (mask - 1))} << (8 * i));
      }
      value |= uint64_t{Byte()} << (8 * i);
      mask = static_cast<uint8_t>(mask >> 1);
    }
    return value;
  }
  // A count of things that each take at least `bitsEach` bits of what is
  // left, and at most `limit`.
  uint64_t Count(uint64_t limit, uint64_t bitsEach, SourceError beyond) {
    const uint64_t n = Number();
    if (n > limit) Refuse(beyond);
    if (bitsEach > 0 && n > uint64_t{Left()} * 8 / bitsEach) Refuse();
    return n;
  }
  void Expect(uint8_t id) {
    if (Byte() != id) Refuse();
  }
  // A bit vector of `n` items, or "all defined"; then a checksum for each
  // item defined. Which are.
  std::vector<bool> Digests(uint64_t n) {
    std::vector<bool> defined(n, true);
    if (Byte() == 0) {
      const uint8_t* bits = Bytes((n + 7) / 8);
      for (uint64_t i = 0; i < n; ++i) defined[i] = ((bits[i / 8] >> (7 - i % 8)) & 1) != 0;
    }
    Bytes(static_cast<uint64_t>(std::count(defined.begin(), defined.end(), true)) * 4);
    return defined;
  }

  void PackInfo(StreamsInfo& info) {
    info.packPos = Number();
    const uint64_t n = Count(kMaxBookEntries, 0, SourceError::kTooManyEntries);
    for (;;) {
      const uint8_t id = Byte();
      if (id == kEnd) break;
      if (id == kSize) {
        info.packSizes.resize(n);
        for (uint64_t& s : info.packSizes) s = Number();
      } else if (id == kCrc) {
        Digests(n);
      } else {
        Refuse();
      }
    }
    if (info.packSizes.empty()) info.packSizes.assign(n, 0);
  }

  Folder ReadFolder() {
    Folder folder;
    const uint64_t coders = Count(kMax7zFolderStreams, 8, SourceError::kDamaged);
    if (coders == 0) Refuse();
    uint64_t inStreams = 0;
    for (uint64_t i = 0; i < coders; ++i) {
      Coder coder;
      const uint8_t flags = Byte();
      if ((flags & 0x80) != 0) Refuse();  // alternative methods: never written
      const uint8_t* id = Bytes(flags & 0x0F);
      coder.id.assign(id, id + (flags & 0x0F));
      if ((flags & 0x10) != 0) {
        coder.inStreams = Count(kMax7zFolderStreams, 8, SourceError::kDamaged);
        coder.outStreams = Count(kMax7zFolderStreams, 8, SourceError::kDamaged);
      }
      if ((flags & 0x20) != 0) {
        const uint64_t length = Number();
        const uint8_t* p = Bytes(length);
        coder.properties.assign(p, p + length);
      }
      inStreams += coder.inStreams;
      folder.outStreams += coder.outStreams;
      if (inStreams > kMax7zFolderStreams || folder.outStreams > kMax7zFolderStreams) Refuse();
      folder.coders.push_back(std::move(coder));
    }
    if (folder.outStreams == 0) Refuse();
    const uint64_t bindPairs = folder.outStreams - 1;
    if (inStreams < bindPairs) Refuse();
    for (uint64_t i = 0; i < bindPairs; ++i) {
      Number();  // the in stream it feeds
      folder.boundOut.push_back(Number());
    }
    const uint64_t packed = inStreams - bindPairs;
    if (packed == 0) Refuse();
    if (packed > 1) {
      for (uint64_t i = 0; i < packed; ++i) Number();
    }
    return folder;
  }

  void UnpackInfo(StreamsInfo& info) {
    Expect(kFolder);
    const uint64_t n = Count(kMaxBookEntries, 16, SourceError::kTooManyEntries);
    if (Byte() != 0) Refuse();  // folders kept in another stream: never written
    for (uint64_t i = 0; i < n; ++i) info.folders.push_back(ReadFolder());
    Expect(kCodersUnpackSize);
    for (Folder& folder : info.folders) {
      folder.unpackSizes.resize(folder.outStreams);
      for (uint64_t& s : folder.unpackSizes) s = Number();
    }
    for (;;) {
      const uint8_t id = Byte();
      if (id == kEnd) break;
      if (id != kCrc) Refuse();
      const std::vector<bool> defined = Digests(n);
      for (size_t i = 0; i < info.folders.size(); ++i) info.folders[i].crc = defined[i];
    }
  }

  void SubStreamsInfo(const StreamsInfo& info) {
    std::vector<uint64_t> streams(info.folders.size(), 1);
    uint64_t total = info.folders.size();
    uint8_t id = Byte();
    if (id == kNumUnpackStream) {
      total = 0;
      for (uint64_t& n : streams) {
        n = Number();
        total += std::min<uint64_t>(n, kMaxBookEntries + 1);
        if (total > kMaxBookEntries) Refuse(SourceError::kTooManyEntries);
      }
      id = Byte();
    }
    if (id == kSize) {
      for (uint64_t n : streams) {
        for (uint64_t i = 1; i < n; ++i) Number();
      }
      id = Byte();
    }
    // Checksums of the streams whose folder gives none.
    uint64_t unknown = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
      if (streams[i] != 1 || !info.folders[i].crc) unknown += streams[i];
    }
    while (id != kEnd) {
      if (id != kCrc) Refuse();
      Digests(unknown);
      id = Byte();
    }
  }

  StreamsInfo Streams() {
    StreamsInfo info;
    uint8_t id = Byte();
    if (id == kPackInfo) {
      PackInfo(info);
      id = Byte();
    }
    if (id == kUnpackInfo) {
      UnpackInfo(info);
      id = Byte();
    }
    if (id == kSubStreamsInfo) {
      SubStreamsInfo(info);
      id = Byte();
    }
    if (id != kEnd) Refuse();
    return info;
  }

  // The header proper, up to the number of files (everything after it is
  // sized by that number or by lengths checked against the header).
  void Header() {
    Expect(kHeader);
    uint8_t id = Byte();
    if (id == kArchiveProperties) {
      while (Number() != 0) Bytes(Number());
      id = Byte();
    }
    if (id == kAdditionalStreamsInfo) {
      Streams();
      id = Byte();
    }
    if (id == kMainStreamsInfo) {
      Streams();
      id = Byte();
    }
    if (id == kFilesInfo) Count(kMaxBookEntries, 0, SourceError::kTooManyEntries);
  }

 private:
  const uint8_t* m_p;
  const uint8_t* m_end;
};

bool IsId(const Coder& coder, std::initializer_list<uint8_t> id) {
  return coder.id.size() == id.size() && std::equal(id.begin(), id.end(), coder.id.begin());
}

// Unpacks `packed` into `out` (its size set) with LZMA or LZMA2; the
// dictionary is never larger than the output, whatever the header claims.
bool UnpackLzma(const Coder& coder, bool lzma2, const std::vector<uint8_t>& packed,
                std::vector<uint8_t>& out) {
  lzma_filter filters[2] = {};
  filters[0].id = lzma2 ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1;
  filters[1].id = LZMA_VLI_UNKNOWN;
  if (lzma_properties_decode(&filters[0], nullptr, coder.properties.data(),
                             coder.properties.size()) != LZMA_OK) {
    return false;
  }
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  const uint64_t dictionary = std::max<uint64_t>(out.size(), LZMA_DICT_SIZE_MIN);
  if (options->dict_size > dictionary) options->dict_size = static_cast<uint32_t>(dictionary);
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret r = lzma_raw_decoder(&stream, filters);
  std::free(filters[0].options);
  if (r != LZMA_OK) return false;
  stream.next_in = packed.data();
  stream.avail_in = packed.size();
  stream.next_out = out.data();
  stream.avail_out = out.size();
  do {
    r = lzma_code(&stream, LZMA_FINISH);
  } while (r == LZMA_OK && stream.avail_out > 0 && stream.avail_in > 0);
  const bool whole = stream.avail_out == 0 && (r == LZMA_OK || r == LZMA_STREAM_END);
  lzma_end(&stream);
  return whole;
}

bool UnpackDeflate(const std::vector<uint8_t>& packed, std::vector<uint8_t>& out) {
  z_stream stream = {};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(packed.data());
  stream.avail_in = static_cast<uInt>(std::min<size_t>(packed.size(), UINT32_MAX));
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int r = Z_OK;
  do {
    r = inflate(&stream, Z_FINISH);
  } while (r == Z_OK && stream.avail_out > 0 && stream.avail_in > 0);
  const bool whole = stream.avail_out == 0 && (r == Z_OK || r == Z_STREAM_END || r == Z_BUF_ERROR);
  inflateEnd(&stream);
  return whole;
}

// The header whose next header is at `base` + 32 + its offset.
void CheckAt(const ArchiveBytes& read, uint64_t size, uint64_t base) {
  uint8_t start[kStartHeader];
  if (read(base, start, kStartHeader) != kStartHeader) Refuse();
  const uint64_t offset = Le64(start + 12);
  const uint64_t length = Le64(start + 20);
  const uint64_t end = base + kStartHeader;
  if (length == 0) return;  // an empty archive
  if (offset > size - end || length > size - end - offset) Refuse();
  if (length > kMax7zHeaderBytes) Refuse(SourceError::kTooLarge);
  std::vector<uint8_t> header(static_cast<size_t>(length));
  if (read(end + offset, header.data(), header.size()) != header.size()) Refuse();
  if (lzma_crc32(header.data(), header.size(), 0) != Le32(start + 28)) Refuse();
  if (header[0] != kEncodedHeader) {
    Walk(header.data(), header.size()).Header();
    return;
  }

  // The header is stored in a folder of its own: one coder, one packed stream.
  Walk walk(header.data() + 1, header.size() - 1);
  const StreamsInfo info = walk.Streams();
  if (info.folders.empty() || info.packSizes.empty()) Refuse();
  const Folder& folder = info.folders[0];
  const Coder& coder = folder.coders[0];
  const bool encrypted =
      std::any_of(folder.coders.begin(), folder.coders.end(), [](const Coder& c) {
        return IsId(c, {0x06, 0xF1, 0x07, 0x01});
      });
  // Its counts are out of sight for the unpacker too, which refuses it.
  if (encrypted) return;
  if (folder.coders.size() != 1 || folder.unpackSizes.empty()) Refuse(SourceError::kNotABook);
  const uint64_t unpacked = folder.unpackSizes.back();
  const uint64_t packedSize = info.packSizes[0];
  if (unpacked > kMax7zHeaderBytes) Refuse(SourceError::kTooLarge);
  if (info.packPos > size - end || packedSize > size - end - info.packPos) Refuse();
  if (packedSize > kMax7zHeaderBytes) Refuse(SourceError::kTooLarge);
  std::vector<uint8_t> packed(static_cast<size_t>(packedSize));
  if (read(end + info.packPos, packed.data(), packed.size()) != packed.size()) Refuse();
  std::vector<uint8_t> plain(static_cast<size_t>(unpacked));
  bool whole = false;
  if (IsId(coder, {0x00})) {
    whole = packed.size() >= plain.size();
    if (whole) std::memcpy(plain.data(), packed.data(), plain.size());
  } else if (IsId(coder, {0x03, 0x01, 0x01}) || IsId(coder, {0x21})) {
    whole = UnpackLzma(coder, IsId(coder, {0x21}), packed, plain);
  } else if (IsId(coder, {0x04, 0x01, 0x08})) {
    whole = UnpackDeflate(packed, plain);
  } else {
    Refuse(SourceError::kNotABook);
  }
  if (!whole || plain.empty()) Refuse();
  Walk(plain.data(), plain.size()).Header();
}

bool IsSignatureHeader(const uint8_t* p) {
  return std::memcmp(p, kSignature, sizeof kSignature) == 0 && p[6] == 0 &&
         lzma_crc32(p + 12, 20, 0) == Le32(p + 8);
}

}  // namespace

SourceError CheckSevenZipHeaders(const ArchiveBytes& read, uint64_t size) {
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, kSfxEnd + kStartHeader)));
  if (head.size() < kStartHeader || read(0, head.data(), head.size()) != head.size()) {
    return SourceError::kNone;
  }
  std::vector<uint64_t> places;
  if (std::memcmp(head.data(), kSignature, sizeof kSignature) == 0) {
    places.push_back(0);
  } else if ((head[0] == 'M' && head[1] == 'Z') || std::memcmp(head.data(),
                                                               "\x7F"
                                                               "ELF",
                                                               4) == 0) {
    for (size_t at = 0; at + kStartHeader <= head.size(); ++at) {
      if (head[at] == kSignature[0] && IsSignatureHeader(head.data() + at)) places.push_back(at);
    }
  }
  try {
    for (uint64_t at : places) CheckAt(read, size, at);
  } catch (const Refusal& refusal) {
    return refusal.error;
  }
  return SourceError::kNone;
}

}  // namespace inkbrite
