// SPDX-License-Identifier: GPL-2.0-or-later
// Running a helper program on bytes: its standard input is the bytes given
// (or a file the caller holds open), its standard output is collected, its
// standard error discarded. Neither side waits on a pipe (both are
// in-memory or regular files), so a helper that dies early costs the caller
// nothing but a failed result.
//
// A helper runs under the limits asked for (CPU time, address space, wall
// clock) and is ended at once, whatever it is doing, when the program is
// asked to stop (StopChildPrograms, safe to call from a signal handler):
// the caller gets kStopped within a few hundredths of a second.
#pragma once

#include <chrono>
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

// How a run of a helper ended.
enum class ChildEnd {
  kExited,      // on its own: `code` is its exit status
  kSignalled,   // by a signal of its own doing (a crash, an abort): `code` is the signal
  kOverCpu,     // past its CPU-time limit
  kOverTime,    // past its wall-clock limit
  kStopped,     // the program was asked to stop (StopChildPrograms)
  kNotStarted,  // it could not be started
};

struct ChildOutcome {
  ChildEnd end = ChildEnd::kNotStarted;
  int code = 0;
};

struct ChildRun {
  int inputFd = -1;                        // becomes its standard input (-1: none)
  int outputFd = -1;                       // becomes its standard output (-1: none)
  int cpuSeconds = 0;                      // 0: no limit
  uint64_t addressSpaceBytes = 0;          // 0: no limit (also where it cannot hold: see below)
  std::chrono::milliseconds wallClock{0};  // 0: no limit
};

// Runs `program` with `arguments` (argv[1] on) under `run`'s limits and
// waits for its end.
ChildOutcome RunChild(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments, const ChildRun& run);

// Runs `program` with `arguments` (argv[1] on). True when it exited with
// status 0, with everything it wrote to its standard output in `output`
// (at most limits.maxOutputBytes bytes). False when it could not be started,
// failed, was ended by a signal or the CPU limit, or wrote too much.
bool RunChildProgram(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments, std::span<const uint8_t> input,
                     const ChildLimits& limits, std::vector<uint8_t>& output);

// A memory file holding `bytes`, at its start; -1 when it cannot be made.
int MemoryFileWith(std::span<const uint8_t> bytes);

// Every helper running now or later is ended: the program is stopping.
void StopChildPrograms();
// Undoes StopChildPrograms (for the tests).
void AllowChildPrograms();

// False in builds whose sanitizer reserves terabytes of address space
// (AddressSanitizer, ThreadSanitizer): there an address-space limit is not
// set, and a helper is bounded by its time limits only.
bool AddressSpaceLimitsHold();

}  // namespace inkbrite
