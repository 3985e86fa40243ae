// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file_stamp.h"

#include <chrono>
#include <limits>
#include <system_error>

#ifdef __linux__
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace inkbrite {

uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds) {
  constexpr int64_t kEpochShift = 11644473600;  // seconds from 1601 to 1970
  constexpr int64_t kMaxSeconds =
      static_cast<int64_t>(std::numeric_limits<uint64_t>::max() / 10000000) - kEpochShift - 1;
  if (seconds < -kEpochShift) return 0;
  if (seconds > kMaxSeconds) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(seconds + kEpochShift) * 10000000 + nanoseconds / 100;
}

bool ReadFileStamp(const std::filesystem::path& path, FileStamp& stamp) {
#ifdef __linux__
  struct statx stx {};
  if (statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &stx) ==
      0) {
    const statx_timestamp& t = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime;
    stamp.creationTime = ToFileTime(t.tv_sec, t.tv_nsec);
    stamp.size = stx.stx_size;
    return true;
  }
#endif
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return false;
  const std::filesystem::file_time_type written = std::filesystem::last_write_time(path, ec);
  if (ec) return false;
  const auto sys = std::chrono::file_clock::to_sys(written);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch());
  const auto s = std::chrono::floor<std::chrono::seconds>(ns);
  stamp.size = size;
  stamp.creationTime = ToFileTime(s.count(), static_cast<uint32_t>((ns - s).count()));
  return true;
}

}  // namespace inkbrite
