// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/sources/archive_maker.h"

#include <archive.h>
#include <archive_entry.h>

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
      archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
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
