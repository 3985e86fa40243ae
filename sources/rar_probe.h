// SPDX-License-Identifier: GPL-2.0-or-later
// What the block headers of a RAR archive say about it that the unpacker
// does not tell: whether it is one volume of several, whether it is solid,
// and (RAR 5) which files' data and whether its headers are encrypted.
//
// The probe walks the headers from the archive's start (signature at byte
// 0), each block's size checked against the archive's size, at most
// kMaxBookEntries + 2 blocks; it reads no data. It never fails: what it
// cannot follow ends the walk with what it found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

namespace inkbrite {

struct RarProbe {
  int version = 0;                // 4 (RAR 1.5 to 4.x) or 5; 0: not a RAR archive
  bool volume = false;            // a part of a multi-volume archive
  bool solid = false;             // entries can only be unpacked in order
  bool headersEncrypted = false;  // nothing can be listed without a password
  // RAR 5 files whose data is encrypted (names as stored: UTF-8, '/').
  std::set<std::string> encryptedFiles;
};

// Reads up to `length` bytes at `offset` into `buffer` and returns how many
// it read.
using ArchiveBytes = std::function<size_t(uint64_t offset, uint8_t* buffer, size_t length)>;

RarProbe ProbeRar(const ArchiveBytes& read, uint64_t size);

}  // namespace inkbrite
