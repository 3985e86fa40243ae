// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/sources/archive_maker.h"

#include <archive.h>
#include <archive_entry.h>
#include <lzma.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace inkbrite::test {

namespace {

la_ssize_t Append(archive*, void* data, const void* buffer, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(data);
  const auto* p = static_cast<const uint8_t*>(buffer);
  out->insert(out->end(), p, p + length);
  return static_cast<la_ssize_t>(length);
}

void Check(int r, archive* a) {
  if (r < ARCHIVE_WARN) throw std::runtime_error(archive_error_string(a));
}

}  // namespace

std::vector<uint8_t> MakeArchive(MadeFormat format, const std::vector<MadeEntry>& entries,
                                 const char* passphrase) {
  std::vector<uint8_t> out;
  archive* a = archive_write_new();
  switch (format) {
    case MadeFormat::kZipStored:
      Check(archive_write_set_format_zip(a), a);
      Check(archive_write_set_options(a, "zip:compression=store"), a);
      break;
    case MadeFormat::kZipDeflated:
      Check(archive_write_set_format_zip(a), a);
      Check(archive_write_set_options(a, "zip:compression=deflate"), a);
      break;
    case MadeFormat::kSevenZip: Check(archive_write_set_format_7zip(a), a); break;
    case MadeFormat::kTar: Check(archive_write_set_format_pax_restricted(a), a); break;
  }
  if (passphrase != nullptr) {
    Check(archive_write_set_options(a, "zip:encryption=zipcrypt"), a);
    Check(archive_write_set_passphrase(a, passphrase), a);
  }
  archive_write_set_bytes_in_last_block(a, 1);
  Check(archive_write_open(a, &out, nullptr, Append, nullptr), a);
  for (const MadeEntry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_mtime(entry, e.mtime, 0);
    if (e.kind == MadeEntry::kFolder) {
      archive_entry_set_filetype(entry, AE_IFDIR);
      archive_entry_set_perm(entry, 0755);
    } else if (e.kind == MadeEntry::kSymlink) {
      archive_entry_set_filetype(entry, AE_IFLNK);
      archive_entry_set_perm(entry, 0777);
      archive_entry_set_symlink(entry, e.linkTarget.c_str());
    } else {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_perm(entry, 0644);
      if (e.sparseSize > 0) {
        archive_entry_set_size(entry, e.sparseSize);
        archive_entry_sparse_add_entry(entry, 0, static_cast<la_int64_t>(e.data.size()));
      } else if (!e.unsized) {
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
      }
    }
    Check(archive_write_header(a, entry), a);
    if (e.kind == MadeEntry::kFile && !e.data.empty()) {
      archive_write_data(a, e.data.data(), e.data.size());
    }
    archive_entry_free(entry);
  }
  Check(archive_write_close(a), a);
  archive_write_free(a);
  return out;
}

std::vector<uint8_t> MakeStreamedZip(std::vector<MadeEntry> entries) {
  for (MadeEntry& e : entries) e.unsized = true;
  std::vector<uint8_t> zip = MakeArchive(MadeFormat::kZipDeflated, entries);
  static constexpr uint8_t kCentral[] = {'P', 'K', 1, 2};
  const auto at = std::search(zip.begin(), zip.end(), std::begin(kCentral), std::end(kCentral));
  // The directory's first signature stays: where a streaming reader stops.
  zip.erase(std::min(at + 4, zip.end()), zip.end());
  return zip;
}

void WriteArchive(const std::filesystem::path& path, MadeFormat format,
                  const std::vector<MadeEntry>& entries, const char* passphrase) {
  const std::vector<uint8_t> bytes = MakeArchive(format, entries, passphrase);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<MadeEntry> ReadArchive(const std::filesystem::path& path) {
  std::vector<MadeEntry> entries;
  archive* a = archive_read_new();
  archive_read_support_format_all(a);
  if (archive_read_open_filename(a, path.c_str(), 1 << 16) != ARCHIVE_OK) {
    archive_read_free(a);
    return entries;
  }
  archive_entry* e = nullptr;
  for (int r = archive_read_next_header(a, &e); r == ARCHIVE_OK || r == ARCHIVE_WARN;
       r = archive_read_next_header(a, &e)) {
    MadeEntry made;
    const char* utf8 = archive_entry_pathname_utf8(e);
    const char* raw = archive_entry_pathname(e);
    made.name = utf8 != nullptr ? utf8 : raw != nullptr ? raw : "";
    made.mtime = archive_entry_mtime(e);
    if (archive_entry_filetype(e) == AE_IFDIR) made.kind = MadeEntry::kFolder;
    uint8_t buffer[65536];
    la_ssize_t got;
    while ((got = archive_read_data(a, buffer, sizeof buffer)) > 0) {
      made.data.insert(made.data.end(), buffer, buffer + got);
    }
    entries.push_back(std::move(made));
  }
  archive_read_free(a);
  return entries;
}

}  // namespace inkbrite::test

namespace inkbrite::test {

std::vector<uint8_t> SevenZipNumber(uint64_t value) {
  // The first byte's leading 1 bits count the bytes that follow (little
  // endian); its remaining bits hold the value's highest bits.
  for (int extra = 0; extra < 8; ++extra) {
    if (value < (uint64_t{1} << (7 * (extra + 1)))) {
      std::vector<uint8_t> out{static_cast<uint8_t>((0xFF00 >> extra) & 0xFF)};
      out[0] = static_cast<uint8_t>(out[0] | (value >> (8 * extra)));
      for (int i = 0; i < extra; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
      return out;
    }
  }
  std::vector<uint8_t> out{0xFF};
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}

std::vector<uint8_t> SevenZipAround(const std::vector<uint8_t>& header, bool lzma,
                                    const std::vector<uint8_t>& prefix) {
  std::vector<uint8_t> packed;
  std::vector<uint8_t> next = header;
  if (lzma) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6)) throw std::runtime_error("lzma preset");
    options.dict_size = 1 << 20;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t properties[5];
    if (lzma_properties_encode(&filters[0], properties) != LZMA_OK) {
      throw std::runtime_error("lzma properties");
    }
    packed.resize(header.size() * 2 + 1024);
    size_t length = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, header.data(), header.size(), packed.data(),
                               &length, packed.size()) != LZMA_OK) {
      throw std::runtime_error("lzma");
    }
    packed.resize(length);
    next = {0x17, 0x06, 0x00, 0x01, 0x09};
    const auto add = [&next](const std::vector<uint8_t>& bytes) {
      next.insert(next.end(), bytes.begin(), bytes.end());
    };
    add(SevenZipNumber(packed.size()));
    add({0x00, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x23, 0x03, 0x01, 0x01, 0x05});
    add(std::vector<uint8_t>(properties, properties + 5));
    add({0x0C});
    add(SevenZipNumber(header.size()));
    add({0x00, 0x00});
  }
  std::vector<uint8_t> start = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
  start.resize(32);
  const auto put = [&start](size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) start[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(12, packed.size(), 8);
  put(20, next.size(), 8);
  put(28, lzma_crc32(next.data(), next.size(), 0), 4);
  put(8, lzma_crc32(start.data() + 12, 20, 0), 4);
  std::vector<uint8_t> out = prefix;
  out.insert(out.end(), start.begin(), start.end());
  out.insert(out.end(), packed.begin(), packed.end());
  out.insert(out.end(), next.begin(), next.end());
  return out;
}

}  // namespace inkbrite::test
