// SPDX-License-Identifier: GPL-2.0-or-later
// Archives made for the tests with libarchive's writers: books of any
// shape, with the faults the readers must refuse.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace inkbrite::test {

struct MadeEntry {
  MadeEntry() = default;
  MadeEntry(std::string entryName, std::vector<uint8_t> bytes)
      : name(std::move(entryName)), data(std::move(bytes)) {}

  std::string name;
  std::vector<uint8_t> data;
  enum Kind { kFile, kFolder, kSymlink } kind = kFile;
  std::string linkTarget;
  int64_t mtime = 1577836800;  // 2020-01-01 00:00:00 UTC
  // Written without a size before the data (zip: sizes in a descriptor
  // after it).
  bool unsized = false;
  // Tar: a sparse file of `sparseSize` bytes whose only data is `data` at
  // its start (0: not sparse).
  int64_t sparseSize = 0;
};

enum class MadeFormat { kZipStored, kZipDeflated, kSevenZip, kTar };

// The archive's bytes; with a passphrase (zip only) every file is encrypted.
std::vector<uint8_t> MakeArchive(MadeFormat format, const std::vector<MadeEntry>& entries,
                                 const char* passphrase = nullptr);
void WriteArchive(const std::filesystem::path& path, MadeFormat format,
                  const std::vector<MadeEntry>& entries, const char* passphrase = nullptr);

// A 7z archive around the given next header (bytes from kHeader on), stored
// as it is or compressed with LZMA in a folder of its own (an encoded
// header, as 7-Zip writes it); `prefix` goes before the archive (a
// self-extracting program).
std::vector<uint8_t> SevenZipAround(const std::vector<uint8_t>& header, bool lzma,
                                    const std::vector<uint8_t>& prefix = {});
// A number as 7z headers store it.
std::vector<uint8_t> SevenZipNumber(uint64_t value);

// A zip whose entries are all streamed (sizes after the data) and whose
// central directory is cut off after its first signature: what a reader
// sees of a zip written to a pipe and cut short, read only as a stream.
std::vector<uint8_t> MakeStreamedZip(std::vector<MadeEntry> entries);

// The entries of a zip or other archive, in its order, read back with
// libarchive alone (name, bytes, modification time).
std::vector<MadeEntry> ReadArchive(const std::filesystem::path& path);

}  // namespace inkbrite::test
