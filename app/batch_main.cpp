// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-batch: the headless converter over the batch job. See
// batch/cli_host.h for the options and the exit status.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "batch/cli_host.h"
#include "platform/messages.h"
#include "platform/out_of_memory.h"
#include "platform/page_memory.h"

#ifndef INKBRITE_VERSION
#define INKBRITE_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  // The language first: the parser's errors and --help speak it too.
  inkbrite::SetMessageLanguage(inkbrite::CliLanguage(args));
  inkbrite::CliOptions options;
  std::string error;
  if (!inkbrite::ParseCliOptions(args, options, error)) {
    std::fputs(inkbrite::CliRefusalText(error).c_str(), stderr);
    return inkbrite::kCliRefused;
  }
  if (options.help) {
    std::fputs(inkbrite::CliUsageText().c_str(), stdout);
    return 0;
  }
  if (options.listDevices) {
    std::fputs(inkbrite::CliDeviceListText().c_str(), stdout);
    return 0;
  }
  if (options.listAttached) return inkbrite::ListAttachedRun(options, stdout, stderr);
  if (!options.exportAttached.empty() || !options.importAttached.empty()) {
    return inkbrite::TransferAttachedRun(options, stdout, stderr);
  }
  if (options.version) {
    std::printf("inkbrite-batch %s\n", INKBRITE_VERSION);
    return 0;
  }
  inkbrite::TunePageMemory();
  inkbrite::InstallOutOfMemoryHandler();
  inkbrite::InstallCliInterruptHandler();
  return inkbrite::RunCli(options, stdout, stderr);
}
