// SPDX-License-Identifier: GPL-2.0-or-later
// What the batch job's source files share (batch_job.cpp, batch_rows.cpp).
#pragma once

#include <climits>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "batch/batch_job.h"

namespace inkbrite {

// What converting one file reports as it goes: the host itself in a
// one-at-a-time run, shared counters in a run with workers.
class CBatchJob::FileProgress {
 public:
  virtual ~FileProgress() = default;
  virtual void Advance(int units) = 0;
  virtual void Status(StatusLine line, std::string_view text) = 0;
  // True when the run is to stop.
  virtual bool Stop() = 0;
};

namespace batch_detail {

// Longest path and name the file system takes.
inline bool PathFits(const std::filesystem::path& p) {
  return p.native().size() < PATH_MAX && p.filename().native().size() <= NAME_MAX;
}

// A path as the run's name sets hold it.
inline std::filesystem::path NameKey(const std::filesystem::path& path) {
  return path.lexically_normal();
}

// True when `target` is `source` itself: a page converted in place.
inline bool IsSameFile(const std::filesystem::path& source, const std::filesystem::path& target) {
  if (NameKey(source) == NameKey(target)) return true;
  std::error_code ec;
  return std::filesystem::equivalent(source, target, ec) && !ec;
}

}  // namespace batch_detail
}  // namespace inkbrite
