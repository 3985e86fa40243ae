// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/ocf_zip.h"

#include <zlib.h>

#include <limits>

#include "platform/file_io.h"

namespace inkbrite {

namespace {

constexpr uint16_t kUtf8Names = 1u << 11;               // general purpose flag bit 11
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
constexpr uint16_t kDosTime = 0;
constexpr uint64_t kZipLimit = std::numeric_limits<uint32_t>::max();

void Le16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Le32(std::vector<uint8_t>& out, uint32_t v) {
  Le16(out, v & 0xFFFF);
  Le16(out, v >> 16);
}

// Raw deflate of `data` (no zlib header), or false.
bool Deflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  z_stream z = {};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int end = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return end == Z_STREAM_END;
}

}  // namespace

bool OcfZipWriter::Put(const std::vector<uint8_t>& bytes) {
  if (m_failed || !m_out.Write(bytes.data(), bytes.size())) m_failed = true;
  m_offset += bytes.size();
  return !m_failed;
}

bool OcfZipWriter::Add(const std::string& name, const uint8_t* data, size_t size, bool deflate) {
  if (m_failed) return false;
  if (name.empty() || name.size() > 0xFFFF || size > kZipLimit || m_entries.size() >= 0xFFFF ||
      m_offset > kZipLimit) {
    m_failed = true;
    return false;
  }
  std::vector<uint8_t> packed;
  const bool deflated = deflate && size > 0 && Deflate(data, size, packed) && packed.size() < size;
  Entry e;
  e.name = name;
  e.crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
  e.size = static_cast<uint32_t>(size);
  e.packed = deflated ? static_cast<uint32_t>(packed.size()) : e.size;
  e.method = deflated ? 8 : 0;
  e.offset = static_cast<uint32_t>(m_offset);
  if (m_offset + 30 + name.size() + e.packed > kZipLimit) {
    m_failed = true;
    return false;
  }
  std::vector<uint8_t> header;
  Le32(header, 0x04034b50);
  Le16(header, e.method == 8 ? 20 : 10);  // version needed
  Le16(header, kUtf8Names);
  Le16(header, e.method);
  Le16(header, kDosTime);
  Le16(header, kDosDate);
  Le32(header, e.crc);
  Le32(header, e.packed);
  Le32(header, e.size);
  Le16(header, static_cast<uint32_t>(name.size()));
  Le16(header, 0);  // no extra field
  header.insert(header.end(), name.begin(), name.end());
  if (!Put(header)) return false;
  if (deflated) {
    if (!Put(packed)) return false;
  } else if (size > 0) {
    m_failed = !m_out.Write(data, size);
    m_offset += size;
  }
  m_entries.push_back(std::move(e));
  return !m_failed;
}

bool OcfZipWriter::Close() {
  if (m_failed) return false;
  const uint64_t start = m_offset;
  std::vector<uint8_t> dir;
  for (const Entry& e : m_entries) {
    Le32(dir, 0x02014b50);
    Le16(dir, (3 << 8) | 20);  // made by Unix, zip 2.0
    Le16(dir, e.method == 8 ? 20 : 10);
    Le16(dir, kUtf8Names);
    Le16(dir, e.method);
    Le16(dir, kDosTime);
    Le16(dir, kDosDate);
    Le32(dir, e.crc);
    Le32(dir, e.packed);
    Le32(dir, e.size);
    Le16(dir, static_cast<uint32_t>(e.name.size()));
    Le16(dir, 0);               // extra field
    Le16(dir, 0);               // comment
    Le16(dir, 0);               // disk
    Le16(dir, 0);               // internal attributes
    Le32(dir, 0100644u << 16);  // external: a regular file, rw-r--r--
    Le32(dir, e.offset);
    dir.insert(dir.end(), e.name.begin(), e.name.end());
  }
  if (start + dir.size() > kZipLimit) return false;
  Le32(dir, 0x06054b50);
  Le16(dir, 0);
  Le16(dir, 0);
  Le16(dir, static_cast<uint32_t>(m_entries.size()));
  Le16(dir, static_cast<uint32_t>(m_entries.size()));
  Le32(dir, static_cast<uint32_t>(dir.size() - 0));  // patched below
  Le32(dir, static_cast<uint32_t>(start));
  Le16(dir, 0);
  // The directory's size, without the end record (22 bytes).
  const uint32_t dirSize = static_cast<uint32_t>(dir.size() - 22);
  for (int i = 0; i < 4; ++i) dir[dirSize + 12 + i] = static_cast<uint8_t>(dirSize >> (8 * i));
  return Put(dir);
}

}  // namespace inkbrite
