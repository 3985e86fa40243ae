// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-thumbnailer: the desktop's thumbnailer for comic books and
// pictures (dist/inkbrite.thumbnailer). See sources/cover_thumbnail.h.
//
//   inkbrite-thumbnailer [-s SIZE] INPUT OUTPUT
//
// Writes OUTPUT, a PNG of INPUT's cover no larger than SIZE pixels a side
// (default 256). Exit status 0 when written, 1 when INPUT has no cover we
// read or OUTPUT cannot be written, 2 for a wrong command line. A file
// manager is never held: after kGiveUpSeconds the program stops its PDF
// helper and ends with status 1.
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "sources/cover_thumbnail.h"

namespace {

constexpr unsigned kGiveUpSeconds = 4;

void GiveUp(int /*signal*/) {
  inkbrite::StopChildPrograms();
  _exit(1);
}

int Usage() {
  std::fputs("usage: inkbrite-thumbnailer [-s SIZE] INPUT OUTPUT\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int size = 256;
  int first = 1;
  if (argc > 2 && std::string_view(argv[1]) == "-s") {
    const std::string_view text(argv[2]);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (ec != std::errc() || end != text.data() + text.size() || size < 1 ||
        size > inkbrite::kMaxCoverThumbnailSize) {
      return Usage();
    }
    first = 3;
  }
  if (argc - first != 2) return Usage();
  signal(SIGALRM, GiveUp);
  alarm(kGiveUpSeconds);
  std::string why;
  const inkbrite::CoverResult result =
      inkbrite::WriteCoverThumbnail(argv[first], argv[first + 1], size, why);
  if (result == inkbrite::CoverResult::kWritten) return 0;
  std::fprintf(stderr, "inkbrite-thumbnailer: %s: %s\n", argv[first], why.c_str());
  return 1;
}
