// SPDX-License-Identifier: GPL-2.0-or-later
// Running a helper program on bytes: its standard input is the bytes given,
// its standard output is collected, its standard error discarded. Neither
// side waits on a pipe (both are in-memory files), so a helper that dies
// early costs the caller nothing but a failed result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace inkbrite {

struct ChildLimits {
  uint64_t maxOutputBytes = 0;  // more output than this is a failure
  int cpuSeconds = 0;           // 0: no limit; else the child is ended past it
};

// Runs `program` with `arguments` (argv[1] on). True when it exited with
// status 0, with everything it wrote to its standard output in `output`
// (at most limits.maxOutputBytes bytes). False when it could not be started,
// failed, was ended by a signal or the CPU limit, or wrote too much.
bool RunChildProgram(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments, std::span<const uint8_t> input,
                     const ChildLimits& limits, std::vector<uint8_t>& output);

}  // namespace inkbrite
