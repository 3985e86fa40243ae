// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-pdf: one PDF request served in a process of its own
// (sources/pdf_protocol.h says why and how it is spoken to). The PDF file is
// standard input, the answer goes to standard output.
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string_view>

#include "sources/pdf_protocol.h"
#include "sources/pdf_render.h"

namespace {

// An allocation that fails ends the request at once, with the status that
// says why: the address-space limit is what made it fail.
void OutOfMemory() { _exit(inkbrite::pdf_helper::kExitOutOfMemory); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) return 2;
  std::set_new_handler(OutOfMemory);
  try {
    return inkbrite::ServePdfRequest(argv[1], argc == 3 ? std::string_view(argv[2]) : "",
                                     STDIN_FILENO, STDOUT_FILENO);
  } catch (const std::bad_alloc&) {
    return inkbrite::pdf_helper::kExitOutOfMemory;
  } catch (...) {
    return 1;
  }
}
