// SPDX-License-Identifier: GPL-2.0-or-later
// The archive layer: an archive's entries and their bytes, read through
// libarchive (zip, RAR 4 and 5, 7z, tar) straight into memory; nothing is
// unpacked to disk.
//
// Open lists every entry in the archive's own order (names as UTF-8 with
// '/', whatever the archive stored: RAR's '\' and names in the RAR 4
// Unicode encoding included; names that are not valid UTF-8 are taken as
// Latin-1). ReadEntry then reads one entry's bytes: the reader keeps its
// place after the entry it read last, so reading entries in order is one
// pass over the archive; an entry before that place is reached by starting
// again and skipping (cheap where the archive can seek: zip, tar, non-solid
// RAR; unpacking everything before it in a solid RAR or a 7z archive, which
// is why a book keeps a read-ahead of pages).
//
// Every refusal is a SourceError and leaves the reader usable for the
// other entries: encrypted entries or headers (no password is ever asked
// for), a part of a multi-volume archive, damage, more than kMaxBookEntries
// entries, an entry beyond the caller's size limit, or data that runs past
// the entry's declared size (a declared size is never trusted: the buffer
// grows as bytes arrive). libarchive 3.6.2 can repeat an error without end
// on some damaged RAR 5 files; a pass that asks to retry too often is given
// up as damaged. A pass over the archive (from a start to the next) has one
// time budget, kMaxArchiveSeconds spent inside the reader whatever the
// caller does between reads, and one byte budget, what the book's limits
// let the whole archive unpack to (kMaxBookRatio times its size, at least
// kRatioCheckedFrom, at most kMaxBookBytes); both count every byte unpacked
// while it arrives, the entries passed over included. An entry that
// declares no size (a zip entry streamed with its sizes after its data) is
// unpacked once while the archive is listed, within that budget, and
// listed with the size measured.
//
// Threads: one reader is used by one thread at a time (the book above it
// holds a lock).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/detect.h"
#include "sources/rar_probe.h"
#include "sources/source_texts.h"

struct archive_entry;

namespace inkbrite {

enum class EntryType : uint8_t { kFile, kFolder, kSymlink, kOther };

struct ArchiveEntry {
  std::string name;  // cleaned (CleanEntryName): UTF-8, '/', no trailing '/'
  EntryType type = EntryType::kFile;
  bool sizeKnown = false;
  uint64_t size = 0;  // the declared unpacked size (files; 0 when not known)
  bool mtimeKnown = false;
  int64_t mtime = 0;         // modification time, seconds since 1970-01-01 UTC
  uint32_t permissions = 0;  // rwx bits as stored (0 when none)
  std::string linkTarget;    // symbolic links
  bool encrypted = false;    // its data (or its header) is encrypted
  bool unsafe = false;       // its name leads outside the archive (IsUnsafeEntryName)
};

class ArchiveReader {
 public:
  ArchiveReader();
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Opens the archive and lists its entries. kNone, or why it cannot be
  // read (the entries listed before a failure are dropped).
  SourceError Open(const std::filesystem::path& path);
  // The same for an archive held in memory; the bytes must outlive the
  // reader.
  SourceError OpenMemory(const uint8_t* data, size_t size);

  const std::vector<ArchiveEntry>& Entries() const { return m_entries; }
  // The book row of the container found (kFormatZipBook, ...).
  ImageFormat Kind() const { return m_kind; }
  // True when entries can only be unpacked in order (solid RAR, 7z).
  bool InOrderOnly() const { return m_inOrderOnly; }
  uint64_t ArchiveSize() const { return m_size; }

  // Reads entry `index` whole into `bytes` (a file; other entries give no
  // bytes). kTooLarge when it declares more than `maxBytes`, or gives more
  // without declaring a size; kDamaged when it gives more or fewer bytes
  // than it declares, or the unpacker fails; kEncrypted, kMultiVolume,
  // kTimedOut as their names say; kOverMemory when no memory could be had
  // for the bytes (here or inside the unpacker). On failure `bytes` is
  // empty.
  //
  // Entries passed on the way (those between the reader's place and
  // `index`) are skipped, except those for which `wanted` gives a limit
  // above 0: they are read too (within that limit) and handed to `keep`, so
  // that a caller with a read-ahead gets them without a second pass. A
  // passed entry that fails is left out.
  using WantedEntry = std::function<uint64_t(size_t index)>;
  using KeepEntry = std::function<void(size_t index, std::vector<uint8_t>& bytes)>;
  SourceError ReadEntry(size_t index, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                        const WantedEntry& wanted = {}, const KeepEntry& keep = {});

  // How often reading started from the archive's start (the listing
  // included): for the tests and the benchmarks.
  size_t Starts() const { return m_starts; }

  // One pass's time limit (kMaxArchiveSeconds unless a test shortens it).
  void SetPassLimit(std::chrono::milliseconds limit) { m_passLimit = limit; }
  // The bytes one pass may unpack (see above); fixed once the archive's size
  // is known.
  uint64_t PassByteLimit() const;

 private:
  struct Handle;

  SourceError Start();
  SourceError List();
  SourceError Reopen();
  SourceError SkipTo(size_t index, std::chrono::steady_clock::time_point deadline,
                     const WantedEntry& wanted, const KeepEntry& keep);
  SourceError ReadListedEntry(size_t index, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                              const WantedEntry& wanted, const KeepEntry& keep);
  bool IsListedEntry(archive_entry* e, size_t index) const;
  SourceError ReadData(const ArchiveEntry& entry, uint64_t maxBytes,
                       std::chrono::steady_clock::time_point deadline, std::vector<uint8_t>& bytes);
  SourceError MeasureData(ArchiveEntry& entry, std::chrono::steady_clock::time_point deadline);
  // The entry's data, chunk by chunk: `room` says where the next chunk may
  // go and how long it may be, `took` is told how much came (and may end
  // the read with its error); retries, the deadline and the pass's budget
  // are kept here.
  SourceError PumpData(const ArchiveEntry& entry, std::chrono::steady_clock::time_point deadline,
                       const std::function<std::pair<uint8_t*, size_t>()>& room,
                       const std::function<SourceError(size_t)>& took);
  SourceError WhyHeaderFailed() const;
  SourceError WhyDataFailed(const ArchiveEntry& entry) const;
  std::chrono::steady_clock::time_point Deadline() const;

  std::filesystem::path m_path;  // empty: in memory
  const uint8_t* m_memory = nullptr;
  uint64_t m_size = 0;
  std::unique_ptr<Handle> m_handle;
  std::vector<ArchiveEntry> m_entries;
  ImageFormat m_kind = kFormatUnknown;
  bool m_inOrderOnly = false;
  RarProbe m_rar;
  std::chrono::milliseconds m_passLimit;
  // What the current pass has spent: time inside the reader, bytes unpacked.
  std::chrono::steady_clock::duration m_passSpent{};
  uint64_t m_passBytes = 0;
  size_t m_starts = 0;
};

}  // namespace inkbrite
