// SPDX-License-Identifier: GPL-2.0-or-later
// Why a folder, a book or one of its pages could not be read, and the texts
// the user sees for it: every text of the page sources is here, in one
// place, for the viewer's messages and the batch job's record.
#pragma once

#include <string_view>

namespace inkbrite {

enum class SourceError {
  kNone = 0,
  kOpenFailed,      // the file or folder cannot be opened or read
  kNotABook,        // neither an archive we read nor a PDF file
  kEncrypted,       // encrypted entries, data or headers (no password is asked for)
  kDamaged,         // corrupt, truncated, or refused by the unpacker
  kNoPages,         // a valid archive without a single page
  kMultiVolume,     // one part of an archive split into volumes
  kTooManyEntries,  // more entries than kMaxBookEntries
  kTooLarge,        // a page or the book beyond the size limits (a bomb)
  kTimedOut,        // a pass over the archive took longer than allowed
  kPageUnreadable,  // the page's bytes are not a picture we can decode
  kUnsafeName,      // an entry named outside the book ("../x", "/x") or a link
  kOverMemory,      // a page that would pass the memory limit
};

// The message for the user, e.g. "加密的压缩包无法读取。". `pdf` words it for a
// PDF file.
std::string_view SourceErrorText(SourceError error, bool pdf = false);

// A short English name for logs and test output ("encrypted").
std::string_view SourceErrorName(SourceError error);

}  // namespace inkbrite
