// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/rar_probe.h"

#include <cstring>
#include <vector>

#include "sources/book_limits.h"

namespace inkbrite {

namespace {

constexpr uint8_t kRar4Mark[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t kRar5Mark[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

// The most header bytes looked at in one block (names are at most 64 KiB).
constexpr size_t kMaxHeaderBytes = size_t{1} << 17;

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A reader of RAR 5's variable-length integers within one header.
class Fields {
 public:
  Fields(const uint8_t* p, size_t size) : m_p(p), m_size(size) {}
  bool Vint(uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && m_at < m_size; shift += 7) {
      const uint8_t b = m_p[m_at++];
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }
  bool Skip(uint64_t n) {
    if (n > m_size - m_at) return false;
    m_at += static_cast<size_t>(n);
    return true;
  }
  size_t At() const { return m_at; }
  const uint8_t* Here() const { return m_p + m_at; }
  size_t Left() const { return m_size - m_at; }

 private:
  const uint8_t* m_p;
  size_t m_size;
  size_t m_at = 0;
};

// The size of a vint at p (at most 10 bytes), 0 when it does not end there.
size_t VintLength(const uint8_t* p, size_t size) {
  for (size_t i = 0; i < size && i < 10; ++i) {
    if ((p[i] & 0x80) == 0) return i + 1;
  }
  return 0;
}

void ProbeRar4(const ArchiveBytes& read, uint64_t size, RarProbe& probe) {
  uint64_t at = sizeof kRar4Mark;
  uint8_t head[11];
  for (size_t block = 0; block < kMaxBookEntries + 2 && at + 7 <= size; ++block) {
    if (read(at, head, sizeof head) < 7) return;
    const uint8_t type = head[2];
    const uint32_t flags = Le16(head + 3);
    const uint32_t headSize = Le16(head + 5);
    if (headSize < 7) return;
    uint64_t dataSize = 0;
    if (type == 0x73) {  // the archive header
      probe.volume = probe.volume || (flags & 0x0001) != 0;
      probe.solid = (flags & 0x0008) != 0;
      if ((flags & 0x0080) != 0) {
        probe.headersEncrypted = true;
        return;
      }
    } else if ((flags & 0x8000) != 0) {  // a block with data after its header
      if (read(at + 7, head + 7, 4) < 4) return;
      dataSize = Le32(head + 7);
      if (type == 0x74 && (flags & 0x0003) != 0) probe.volume = true;  // split file
      if (type == 0x74 && (flags & 0x0100) != 0) {
        uint8_t high[4];  // a large file's high 32 bits of the packed size
        if (headSize < 36 || read(at + 32, high, 4) < 4) return;
        dataSize |= uint64_t{Le32(high)} << 32;
      }
    }
    if (type == 0x7B) return;  // end of archive
    if (dataSize > size || at + headSize + dataSize > size) return;
    at += headSize + dataSize;
  }
}

// One RAR 5 file header's encryption record, from its extra area.
bool HasEncryptionRecord(const uint8_t* extra, size_t size) {
  Fields f(extra, size);
  while (f.Left() > 0) {
    uint64_t recordSize = 0, type = 0;
    if (!f.Vint(recordSize) || recordSize == 0 || recordSize > f.Left()) return false;
    const size_t end = f.At() + static_cast<size_t>(recordSize);
    if (!f.Vint(type)) return false;
    if (type == 0x01) return true;
    if (end < f.At() || !f.Skip(end - f.At())) return false;
  }
  return false;
}

void ProbeRar5File(Fields& f, const std::vector<uint8_t>& header, uint64_t extraSize,
                   RarProbe& probe) {
  uint64_t fileFlags = 0, unpacked = 0, attributes = 0, compression = 0, host = 0, nameLength = 0;
  if (!f.Vint(fileFlags) || !f.Vint(unpacked) || !f.Vint(attributes)) return;
  if ((fileFlags & 0x0002) != 0 && !f.Skip(4)) return;  // modification time
  if ((fileFlags & 0x0004) != 0 && !f.Skip(4)) return;  // data CRC
  if (!f.Vint(compression) || !f.Vint(host) || !f.Vint(nameLength)) return;
  if (nameLength > f.Left()) return;
  const std::string name(reinterpret_cast<const char*>(f.Here()), static_cast<size_t>(nameLength));
  if (extraSize > header.size()) return;
  const size_t extraAt = header.size() - static_cast<size_t>(extraSize);
  if (extraSize > 0 && extraAt >= f.At() &&
      HasEncryptionRecord(header.data() + extraAt, static_cast<size_t>(extraSize))) {
    probe.encryptedFiles.insert(name);
  }
}

void ProbeRar5(const ArchiveBytes& read, uint64_t size, RarProbe& probe) {
  uint64_t at = sizeof kRar5Mark;
  std::vector<uint8_t> header;
  for (size_t block = 0; block < kMaxBookEntries + 2 && at + 6 <= size; ++block) {
    uint8_t start[14];
    const size_t got = read(at, start, sizeof start);
    if (got < 6) return;
    const size_t lengthBytes = VintLength(start + 4, got - 4);
    if (lengthBytes == 0) return;
    Fields sizeField(start + 4, lengthBytes);
    uint64_t headerSize = 0;
    sizeField.Vint(headerSize);
    const uint64_t headerAt = at + 4 + lengthBytes;
    if (headerSize == 0 || headerSize > kMaxHeaderBytes || headerSize > size - headerAt) return;
    header.resize(static_cast<size_t>(headerSize));
    if (read(headerAt, header.data(), header.size()) < header.size()) return;
    Fields f(header.data(), header.size());
    uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
    if (!f.Vint(type) || !f.Vint(flags)) return;
    if ((flags & 0x0001) != 0 && !f.Vint(extraSize)) return;
    if ((flags & 0x0002) != 0 && !f.Vint(dataSize)) return;
    if ((flags & 0x0018) != 0) probe.volume = true;  // data continues across volumes
    if (type == 1) {                                 // the main archive header
      uint64_t archiveFlags = 0;
      if (!f.Vint(archiveFlags)) return;
      probe.volume = probe.volume || (archiveFlags & 0x0001) != 0;
      probe.solid = (archiveFlags & 0x0004) != 0;
    } else if (type == 4) {  // the archive encryption header
      probe.headersEncrypted = true;
      return;
    } else if (type == 2) {
      ProbeRar5File(f, header, extraSize, probe);
    } else if (type == 5) {
      return;  // end of archive
    }
    const uint64_t next = headerAt + headerSize;
    if (dataSize > size - next) return;
    at = next + dataSize;
  }
}

}  // namespace

RarProbe ProbeRar(const ArchiveBytes& read, uint64_t size) {
  RarProbe probe;
  uint8_t mark[8] = {};
  const size_t got = read(0, mark, sizeof mark);
  if (got >= sizeof kRar5Mark && std::memcmp(mark, kRar5Mark, sizeof kRar5Mark) == 0) {
    probe.version = 5;
    ProbeRar5(read, size, probe);
  } else if (got >= sizeof kRar4Mark && std::memcmp(mark, kRar4Mark, sizeof kRar4Mark) == 0) {
    probe.version = 4;
    ProbeRar4(read, size, probe);
  }
  return probe;
}

}  // namespace inkbrite
