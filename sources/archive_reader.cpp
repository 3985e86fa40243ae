// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/file_io.h"
#include "sources/book_limits.h"
#include "sources/natural_order.h"
#include "sources/seven_zip_probe.h"

namespace inkbrite {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// libarchive converts names to the C library's current character set: in
// the "C" locale a name outside ASCII cannot be converted at all. Every
// call runs with a UTF-8 character set for this thread only (the rest of
// the program keeps its locale).
class Utf8Names {
 public:
  Utf8Names() {
    static const locale_t utf8 = [] {
      locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
      if (l == static_cast<locale_t>(nullptr)) {
        l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
      }
      return l;
    }();
    if (utf8 != static_cast<locale_t>(nullptr)) m_previous = uselocale(utf8);
  }
  ~Utf8Names() {
    if (m_previous != static_cast<locale_t>(nullptr)) uselocale(m_previous);
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  locale_t m_previous = static_cast<locale_t>(nullptr);
};

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// A name as stored, in UTF-8: as it is when it is valid UTF-8, else its
// bytes taken as Latin-1 (what some zip tools write without saying so).
std::string AsUtf8(const char* utf8, const char* raw) {
  if (utf8 != nullptr) return utf8;
  if (raw == nullptr) return {};
  const std::string_view s(raw);
  if (IsValidUtf8(s)) return std::string(s);
  std::string out;
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

ImageFormat KindOfFormat(int format) {
  switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP: return kFormatZipBook;
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5: return kFormatRarBook;
    case ARCHIVE_FORMAT_7ZIP: return kFormat7zBook;
    case ARCHIVE_FORMAT_TAR: return kFormatTarBook;
    default: return kFormatUnknown;
  }
}

// The end-of-central-directory record of a zip file says which disk it is
// on: anything but the first (and only) disk is a part of a split archive.
bool IsZipVolume(const ArchiveBytes& read, uint64_t size) {
  constexpr size_t kRecord = 22;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>(size, kRecord + 65535));
  if (tail < kRecord) return false;
  std::vector<uint8_t> bytes(tail);
  if (read(size - tail, bytes.data(), tail) != tail) return false;
  for (size_t at = tail - kRecord + 1; at-- > 0;) {
    const uint8_t* p = bytes.data() + at;
    if (p[0] != 'P' || p[1] != 'K' || p[2] != 5 || p[3] != 6) continue;
    const unsigned comment = static_cast<unsigned>(p[20] | p[21] << 8);
    if (at + kRecord + comment != tail) continue;  // not the record that ends the file
    const unsigned disk = static_cast<unsigned>(p[4] | p[5] << 8);
    const unsigned directoryDisk = static_cast<unsigned>(p[6] | p[7] << 8);
    // 0xFFFF: the numbers are in the ZIP64 record.
    return (disk != 0 && disk != 0xFFFF) || (directoryDisk != 0 && directoryDisk != 0xFFFF);
  }
  return false;
}

// What libarchive does not tell: whether the archive is one volume of
// several, and what the RAR probe finds (RAR 5's encryption among it).
// kNone when the archive can be listed.
SourceError ProbeArchive(const fs::path& path, const uint8_t* memory, uint64_t size,
                         RarProbe& rar) {
  std::FILE* file = nullptr;
  if (memory == nullptr && !path.empty()) {
    file = OpenRegularFile(path);
    if (file == nullptr) return SourceError::kOpenFailed;
  }
  const ArchiveBytes read = [memory, size, file](uint64_t offset, uint8_t* buffer,
                                                 size_t length) -> size_t {
    if (offset >= size) return 0;
    length = static_cast<size_t>(std::min<uint64_t>(length, size - offset));
    if (file == nullptr) {
      std::memcpy(buffer, memory + offset, length);
      return length;
    }
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return std::fread(buffer, 1, length, file);
  };
  rar = ProbeRar(read, size);
  const bool volume = rar.volume || IsZipVolume(read, size);
  // The counts a 7z header announces, before the unpacker allocates for them.
  const SourceError sevenZip = volume ? SourceError::kNone : CheckSevenZipHeaders(read, size);
  if (file != nullptr) std::fclose(file);
  if (volume) return SourceError::kMultiVolume;
  if (sevenZip != SourceError::kNone) return sevenZip;
  if (rar.headersEncrypted) return SourceError::kEncrypted;
  return SourceError::kNone;
}

// The entry a header describes; `rar` names RAR 5's encrypted files.
ArchiveEntry EntryFromHeader(archive_entry* e, const RarProbe& rar) {
  ArchiveEntry entry;
  const std::string stored = AsUtf8(archive_entry_pathname_utf8(e), archive_entry_pathname(e));
  entry.name = CleanEntryName(stored);
  entry.unsafe = IsUnsafeEntryName(entry.name);
  const mode_t type = archive_entry_filetype(e);
  entry.type = EntryType::kOther;  // hard links and special files
  if (archive_entry_hardlink(e) == nullptr) {
    if (type == AE_IFDIR) {
      entry.type = EntryType::kFolder;
    } else if (type == AE_IFLNK) {
      entry.type = EntryType::kSymlink;
      entry.linkTarget = AsUtf8(archive_entry_symlink_utf8(e), archive_entry_symlink(e));
    } else if (type == AE_IFREG || type == 0) {
      entry.type = EntryType::kFile;
    }
  }
  entry.sizeKnown = archive_entry_size_is_set(e) != 0 && archive_entry_size(e) >= 0;
  entry.size = entry.sizeKnown ? static_cast<uint64_t>(archive_entry_size(e)) : 0;
  entry.mtimeKnown = archive_entry_mtime_is_set(e) != 0;
  entry.mtime = entry.mtimeKnown ? static_cast<int64_t>(archive_entry_mtime(e)) : 0;
  entry.permissions = static_cast<uint32_t>(archive_entry_perm(e)) & 0777;
  entry.encrypted = archive_entry_is_encrypted(e) != 0 || rar.encryptedFiles.count(stored) != 0;
  return entry;
}

}  // namespace

struct ArchiveReader::Handle {
  archive* a = nullptr;
  std::FILE* file = nullptr;  // the archive's file (none in memory)
  size_t next = 0;            // the entry the next header read gives
  ~Handle() {
    if (a != nullptr) archive_read_free(a);
    if (file != nullptr) std::fclose(file);
  }
};

ArchiveReader::ArchiveReader() : m_passLimit(std::chrono::seconds(kMaxArchiveSeconds)) {}
ArchiveReader::~ArchiveReader() {
  Utf8Names names;
  m_handle.reset();
}

// What is left of the pass's time budget, from now.
Clock::time_point ArchiveReader::Deadline() const {
  return Clock::now() + (m_passLimit - std::chrono::duration_cast<Clock::duration>(m_passSpent));
}

uint64_t ArchiveReader::PassByteLimit() const {
  // Whatever the listing's check lets through (the declared bytes divided by
  // the ratio at most the archive's size) fits.
  const uint64_t ratio =
      m_size >= kMaxBookBytes / kMaxBookRatio ? kMaxBookBytes : (m_size + 1) * kMaxBookRatio;
  return std::min(kMaxBookBytes, std::max(kRatioCheckedFrom, ratio));
}

SourceError ArchiveReader::Open(const fs::path& path) {
  m_path = path;
  m_memory = nullptr;
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec || !fs::is_regular_file(path, ec)) return SourceError::kOpenFailed;
  m_size = size;
  return List();
}

SourceError ArchiveReader::OpenMemory(const uint8_t* data, size_t size) {
  m_path.clear();
  m_memory = data;
  m_size = data == nullptr ? 0 : size;
  return List();
}

// A fresh libarchive reader at the archive's start.
SourceError ArchiveReader::Start() {
  ++m_starts;
  m_passSpent = {};
  m_passBytes = 0;
  m_handle = std::make_unique<Handle>();
  archive* a = archive_read_new();
  if (a == nullptr) return SourceError::kOpenFailed;
  m_handle->a = a;
  archive_read_support_format_zip(a);
  archive_read_support_format_rar(a);
  archive_read_support_format_rar5(a);
  archive_read_support_format_7zip(a);
  archive_read_support_format_tar(a);
  int r = ARCHIVE_FATAL;
  if (m_memory != nullptr || m_path.empty()) {
    r = archive_read_open_memory(a, m_memory, static_cast<size_t>(m_size));
  } else {
    // Only a regular file: opening a FIFO could wait forever.
    m_handle->file = OpenRegularFile(m_path);
    if (m_handle->file == nullptr) {
      m_handle.reset();
      return SourceError::kOpenFailed;
    }
    r = archive_read_open_fd(a, fileno(m_handle->file), 1 << 16);
  }
  if (r != ARCHIVE_OK) {
    m_handle.reset();
    return SourceError::kDamaged;  // bytes in no format we read
  }
  return SourceError::kNone;
}

SourceError ArchiveReader::List() {
  Utf8Names names;
  m_entries.clear();
  m_handle.reset();
  m_kind = kFormatUnknown;

  if (const SourceError e = ProbeArchive(m_path, m_memory, m_size, m_rar);
      e != SourceError::kNone) {
    return e;
  }

  if (const SourceError e = Start(); e != SourceError::kNone) return e;
  const Clock::time_point deadline = Deadline();
  int retries = 0;
  std::vector<ArchiveEntry> entries;
  for (;;) {
    if (Clock::now() > deadline) return SourceError::kTimedOut;
    archive_entry* e = nullptr;
    const int r = archive_read_next_header(m_handle->a, &e);
    if (r == ARCHIVE_EOF) break;
    if (r == ARCHIVE_RETRY) {
      if (++retries > kMaxArchiveRetries) return SourceError::kDamaged;
      continue;
    }
    if (r < ARCHIVE_WARN || e == nullptr) {
      const SourceError why = WhyHeaderFailed();
      m_handle.reset();
      return why;
    }
    if (entries.size() == kMaxBookEntries) {
      m_handle.reset();
      return SourceError::kTooManyEntries;
    }
    entries.push_back(EntryFromHeader(e, m_rar));
    if (const SourceError why = MeasureData(entries.back(), deadline); why != SourceError::kNone) {
      m_handle.reset();
      return why;
    }
    if (m_kind == kFormatUnknown) m_kind = KindOfFormat(archive_format(m_handle->a));
  }
  if (m_kind == kFormatUnknown) m_kind = KindOfFormat(archive_format(m_handle->a));
  const int base = archive_format(m_handle->a) & ARCHIVE_FORMAT_BASE_MASK;
  m_inOrderOnly = base == ARCHIVE_FORMAT_7ZIP || (m_kind == kFormatRarBook && m_rar.solid);
  m_entries = std::move(entries);
  // The next read starts again from the archive's start.
  m_handle.reset();
  return SourceError::kNone;
}

// After a header could not be read: encrypted data in the way (libarchive
// tells for zip, RAR 4 and 7z; the probe for RAR 5, whose solid data cannot
// be skipped when it is encrypted), else damage.
SourceError ArchiveReader::WhyHeaderFailed() const {
  if (m_handle && archive_read_has_encrypted_entries(m_handle->a) > 0) {
    return SourceError::kEncrypted;
  }
  return m_rar.encryptedFiles.empty() ? SourceError::kDamaged : SourceError::kEncrypted;
}

SourceError ArchiveReader::WhyDataFailed(const ArchiveEntry& entry) const {
  if (entry.encrypted) return SourceError::kEncrypted;
  // The unpacker found no memory for its work.
  if (m_handle && archive_errno(m_handle->a) == ENOMEM) return SourceError::kOverMemory;
  return SourceError::kDamaged;
}

SourceError ArchiveReader::Reopen() {
  m_handle.reset();
  return Start();
}

bool ArchiveReader::IsListedEntry(archive_entry* e, size_t index) const {
  // The archive must still be the one listed (it may have been replaced on
  // disk since).
  const std::string stored = AsUtf8(archive_entry_pathname_utf8(e), archive_entry_pathname(e));
  return CleanEntryName(stored) == m_entries[index].name;
}

// Moves past the entries before `index`: their data is skipped (sought over
// where the archive allows it, unpacked where it does not), or read for
// `keep` when `wanted`.
SourceError ArchiveReader::SkipTo(size_t index, Clock::time_point deadline,
                                  const WantedEntry& wanted, const KeepEntry& keep) {
  int retries = 0;
  std::vector<uint8_t> passed;
  while (m_handle->next < index) {
    if (Clock::now() > deadline) return SourceError::kTimedOut;
    archive_entry* e = nullptr;
    const int r = archive_read_next_header(m_handle->a, &e);
    if (r == ARCHIVE_RETRY) {
      if (++retries > kMaxArchiveRetries) return SourceError::kDamaged;
      continue;
    }
    if (r == ARCHIVE_EOF) return SourceError::kDamaged;  // fewer entries than listed
    if (r < ARCHIVE_WARN || e == nullptr) return WhyHeaderFailed();
    const size_t j = m_handle->next++;
    if (!IsListedEntry(e, j)) return SourceError::kDamaged;
    const ArchiveEntry& entry = m_entries[j];
    const uint64_t limit =
        wanted && keep && entry.type == EntryType::kFile && !entry.encrypted ? wanted(j) : 0;
    if (limit == 0 || (entry.sizeKnown && entry.size > limit)) continue;
    passed.clear();
    if (ReadData(entry, limit, deadline, passed) == SourceError::kNone) {
      keep(j, passed);
    } else if (Clock::now() > deadline) {
      return SourceError::kTimedOut;
    }
  }
  return SourceError::kNone;
}

SourceError ArchiveReader::ReadEntry(size_t index, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                                     const WantedEntry& wanted, const KeepEntry& keep) {
  try {
    return ReadListedEntry(index, maxBytes, bytes, wanted, keep);
  } catch (const std::bad_alloc&) {
    bytes = {};
    m_handle.reset();  // left in the middle of an entry
    return SourceError::kOverMemory;
  }
}

SourceError ArchiveReader::ReadListedEntry(size_t index, uint64_t maxBytes,
                                           std::vector<uint8_t>& bytes, const WantedEntry& wanted,
                                           const KeepEntry& keep) {
  bytes.clear();
  if (index >= m_entries.size()) return SourceError::kDamaged;
  const ArchiveEntry& entry = m_entries[index];
  if (entry.type != EntryType::kFile) return SourceError::kNone;
  if (entry.encrypted) return SourceError::kEncrypted;
  if (entry.sizeKnown && entry.size > maxBytes) return SourceError::kTooLarge;

  Utf8Names names;
  if (!m_handle || m_handle->next > index) {
    if (const SourceError e = Reopen(); e != SourceError::kNone) return e;
  }
  // The time spent here counts against the pass, however the call ends.
  struct Spent {
    Clock::duration& total;
    Clock::time_point began = Clock::now();
    ~Spent() { total += Clock::now() - began; }
  } spent{m_passSpent};
  const Clock::time_point deadline = Deadline();
  SourceError result = SkipTo(index, deadline, wanted, keep);
  if (result == SourceError::kNone) {
    archive_entry* e = nullptr;
    int r = ARCHIVE_RETRY;
    for (int retries = 0; r == ARCHIVE_RETRY && retries <= kMaxArchiveRetries; ++retries) {
      r = archive_read_next_header(m_handle->a, &e);
    }
    if (r < ARCHIVE_WARN || e == nullptr) {
      result = r == ARCHIVE_EOF ? SourceError::kDamaged : WhyHeaderFailed();
    } else {
      ++m_handle->next;
      result = IsListedEntry(e, index) ? ReadData(entry, maxBytes, deadline, bytes)
                                       : SourceError::kDamaged;
    }
  }
  if (result != SourceError::kNone) {
    bytes.clear();
    bytes.shrink_to_fit();
    m_handle.reset();  // after a failure the unpacker's state is not to be trusted
  }
  return result;
}

SourceError ArchiveReader::PumpData(const ArchiveEntry& entry, Clock::time_point deadline,
                                    const std::function<std::pair<uint8_t*, size_t>()>& room,
                                    const std::function<SourceError(size_t)>& took) {
  int retries = 0;
  for (;;) {
    if (Clock::now() > deadline) return SourceError::kTimedOut;
    const auto [to, want] = room();
    const la_ssize_t got = archive_read_data(m_handle->a, to, want);
    if (got == 0) return SourceError::kNone;
    if (got == ARCHIVE_RETRY) {
      if (++retries > kMaxArchiveRetries) return SourceError::kDamaged;
      continue;
    }
    // A warning here is a checksum that does not match, or a size that
    // does not: the bytes are not the entry's.
    if (got < 0) return WhyDataFailed(entry);
    m_passBytes += static_cast<uint64_t>(got);
    if (m_passBytes > PassByteLimit()) return SourceError::kTooLarge;
    if (const SourceError e = took(static_cast<size_t>(got)); e != SourceError::kNone) return e;
  }
}

SourceError ArchiveReader::ReadData(const ArchiveEntry& entry, uint64_t maxBytes,
                                    Clock::time_point deadline, std::vector<uint8_t>& bytes) {
  // At most the declared size (when there is one) and the caller's limit;
  // one byte more is asked for, to see data that runs past it.
  const uint64_t limit = entry.sizeKnown ? std::min(entry.size, maxBytes) : maxBytes;
  constexpr size_t kChunk = size_t{1} << 18;
  bytes.reserve(static_cast<size_t>(std::min<uint64_t>(limit, uint64_t{16} << 20)));
  uint64_t length = 0;
  const SourceError read = PumpData(
      entry, deadline,
      [&] {
        const uint64_t want = std::min<uint64_t>(kChunk, limit + 1 - length);
        if (bytes.size() < length + want) bytes.resize(static_cast<size_t>(length + want));
        return std::pair{bytes.data() + length, static_cast<size_t>(want)};
      },
      [&](size_t got) {
        length += got;
        if (length <= limit) return SourceError::kNone;
        return entry.sizeKnown && entry.size <= maxBytes ? SourceError::kDamaged
                                                         : SourceError::kTooLarge;
      });
  if (read != SourceError::kNone) return read;
  if (entry.sizeKnown && length != entry.size) return SourceError::kDamaged;
  bytes.resize(static_cast<size_t>(length));
  return SourceError::kNone;
}

// An entry listed without a size (a zip entry whose sizes follow its data):
// unpacked now, counted against the pass's budgets, and listed with the
// size measured, so that the book's limits hold it as they hold a declared
// size. Skipping it would unpack it just the same, inside libarchive and
// uncounted.
SourceError ArchiveReader::MeasureData(ArchiveEntry& entry, Clock::time_point deadline) {
  if (entry.type != EntryType::kFile || entry.sizeKnown || entry.encrypted)
    return SourceError::kNone;
  std::vector<uint8_t> scratch(size_t{1} << 18);
  uint64_t length = 0;
  const SourceError read = PumpData(
      entry, deadline,
      [&] {
        return std::pair{scratch.data(), scratch.size()};
      },
      [&](size_t got) {
        length += got;
        return SourceError::kNone;
      });
  if (read != SourceError::kNone) return read;
  entry.sizeKnown = true;
  entry.size = length;
  return SourceError::kNone;
}

}  // namespace inkbrite
