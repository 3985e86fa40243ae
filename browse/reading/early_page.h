// SPDX-License-Identifier: GPL-2.0-or-later
// The page a start of the viewer names, decoded on a thread of its own while
// the window is being built, for the document that then opens it: the
// decode no longer waits for the window, nor the window for the decode.
//
//   main:      EarlyPage::Start(path);          before the window is built
//   document:  if (auto page = EarlyPage::Take(path)) ...   the decoded page
//
// Only a loose picture file small enough to be decoded in the foreground
// (under `maxPixels` by its header) is decoded; a book, a folder or a big
// page (shown reduced first) is left to the usual way. Take waits for the
// decode when it is still running; what was started for another file, or
// not taken at all, is dropped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "browse/reading/page_prefetch.h"

namespace inkbrite {

class EarlyPage {
 public:
  static void Start(const std::filesystem::path& file, uint64_t maxPixels);
  // The page decoded for `file` (the same file however it is spelled),
  // once; nothing when none was started for it or it did not decode.
  static std::optional<DecodedPage> Take(const std::filesystem::path& file);
};

}  // namespace inkbrite
