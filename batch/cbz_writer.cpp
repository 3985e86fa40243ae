// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/cbz_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include "platform/file_io.h"

namespace inkbrite {

namespace {

la_ssize_t WriteToFile(archive*, void* data, const void* buffer, size_t length) {
  auto* out = static_cast<SafeFileWriter*>(data);
  return out->Write(buffer, length) ? static_cast<la_ssize_t>(length) : -1;
}

}  // namespace

struct CbzWriter::Archive {
  archive* a = nullptr;
  SafeFileWriter* out = nullptr;
  bool open = false;
};

CbzWriter::CbzWriter(SafeFileWriter& out) : m_archive(new Archive) { m_archive->out = &out; }

CbzWriter::~CbzWriter() {
  if (m_archive->a != nullptr) archive_write_free(m_archive->a);
  delete m_archive;
}

bool CbzWriter::Open() {
  archive* a = archive_write_new();
  m_archive->a = a;
  // Names are UTF-8: with the header charset named, every name that is not
  // plain ASCII carries the zip's UTF-8 flag (general purpose bit 11), so
  // other readers do not take it for their code page; ASCII names are
  // written as before.
  if (a == nullptr || archive_write_set_format_zip(a) != ARCHIVE_OK ||
      archive_write_set_format_option(a, "zip", "hdrcharset", "UTF-8") != ARCHIVE_OK ||
      archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK ||
      archive_write_open(a, m_archive->out, nullptr, WriteToFile, nullptr) != ARCHIVE_OK) {
    m_failed = true;
    return false;
  }
  m_archive->open = true;
  return true;
}

bool CbzWriter::AddFile(const std::string& name, const uint8_t* data, size_t size, int64_t mtime,
                        bool store) {
  if (m_failed || !m_archive->open) return false;
  archive* a = m_archive->a;
  archive_entry* e = archive_entry_new();
  archive_entry_set_pathname_utf8(e, name.c_str());
  archive_entry_set_filetype(e, AE_IFREG);
  archive_entry_set_perm(e, 0644);
  archive_entry_set_uid(e, 0);
  archive_entry_set_gid(e, 0);
  archive_entry_set_size(e, static_cast<la_int64_t>(size));
  if (mtime != 0) archive_entry_set_mtime(e, mtime, 0);
  // Chosen entry by entry (the format's options can only be set before the
  // archive is opened).
  bool ok = (store ? archive_write_zip_set_compression_store(a)
                   : archive_write_zip_set_compression_deflate(a)) == ARCHIVE_OK &&
            archive_write_header(a, e) == ARCHIVE_OK;
  size_t written = 0;
  while (ok && written < size) {
    const la_ssize_t n = archive_write_data(a, data + written, size - written);
    ok = n > 0;
    if (ok) written += static_cast<size_t>(n);
  }
  archive_entry_free(e);
  m_failed = m_failed || !ok;
  return ok;
}

bool CbzWriter::AddFolder(const std::string& name, int64_t mtime) {
  if (m_failed || !m_archive->open) return false;
  archive_entry* e = archive_entry_new();
  const std::string folder = name.empty() || name.back() == '/' ? name : name + "/";
  archive_entry_set_pathname_utf8(e, folder.c_str());
  archive_entry_set_filetype(e, AE_IFDIR);
  archive_entry_set_perm(e, 0755);
  archive_entry_set_uid(e, 0);
  archive_entry_set_gid(e, 0);
  archive_entry_set_size(e, 0);
  if (mtime != 0) archive_entry_set_mtime(e, mtime, 0);
  const bool ok = archive_write_header(m_archive->a, e) == ARCHIVE_OK;
  archive_entry_free(e);
  m_failed = m_failed || !ok;
  return ok;
}

bool CbzWriter::Close() {
  if (!m_archive->open) return false;
  m_archive->open = false;
  const bool ok = archive_write_close(m_archive->a) == ARCHIVE_OK;
  m_failed = m_failed || !ok;
  return !m_failed;
}

}  // namespace inkbrite
