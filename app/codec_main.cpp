// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-codec: the AVIF and JPEG XL codecs in a program of their own
// (formats/apart_protocol.h says why and how it is spoken to).
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/limits.h"
#include "formats/apart_server.h"

namespace {

bool ReadStdin(std::vector<uint8_t>& bytes) {
  uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes.size() + static_cast<size_t>(n) > inkbrite::kMaxDibBytes + 64) return false;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
}

bool WriteStdout(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  try {
    std::vector<uint8_t> input, output;
    if (!ReadStdin(input)) return 1;
    if (!inkbrite::ServeCodecRequest(argv[1], input, output)) return 1;
    return WriteStdout(output) ? 0 : 1;
  } catch (...) {
    return 1;
  }
}
