// SPDX-License-Identifier: GPL-2.0-or-later
// File reading and crash-safe file writing.
//
// Nothing in Inkbrite writes a file in place. SafeFileWriter writes to a new
// temporary file in the target's folder and renames it over the target only
// when every byte was written and flushed to disk; a failed or interrupted
// write leaves the previous file (possibly the source page itself) intact and
// never leaves a half-written file under the target's name.
//
// A target that is a symbolic link is written through the link: the
// temporary file goes in the folder of the file the link (or chain of links)
// finally names, and is renamed over that file, so the link stays a link and
// the file it points to gets the new contents.
//
// Temporary file names. The temporary file of a target named NAME is
//
//   "." + NAME' + "." + PID + "@" + MACHINE + "." + RANDOM + ".inkbrite-tmp"
//
// where PID is the decimal id of the writing process, MACHINE the writer's
// machine tag (8 characters of [0-9a-f], see ThisMachineTag; "@" + MACHINE is
// left out where the tag cannot be read), RANDOM is 8 characters of [a-z0-9],
// and NAME' is NAME shortened at the end (never inside a UTF-8 sequence) so
// that the whole name stays within kMaxFileNameBytes: every target name the
// file system accepts can be written. A name ending in ".inkbrite-tmp" whose
// two fields before it are a process id (with or without its machine) and 8
// random characters is one of ours (TempFileOrigin).
//
// A process id only names a process on the machine that made it: shards of
// one job on several hosts, or in several containers, may write into one
// shared folder, and a pid that no process has here may be a live writer
// there. IsStaleTempFile therefore asks ProcessIsRunning only about files
// of this machine (and about those without a machine, written by older
// versions); a file of another machine is stale once nothing has written to
// it for kForeignTempFileAge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inkbrite {

// Opens a regular file for reading in binary mode; nullptr for anything else.
// A FIFO, socket or device is refused without blocking: opening a FIFO that
// no process writes to would otherwise wait forever. Every reader opens its
// file through this.
std::FILE* OpenRegularFile(const std::filesystem::path& path);
// How many times OpenRegularFile was called in this process, from any
// thread: what a reading costs in opens (a loose file is opened once a use).
uint64_t RegularFileOpens();

// Reads a whole regular file. False when it cannot be opened or read, is not
// a regular file, or is larger than maxBytes (nothing is read then).
bool ReadFileBytes(const std::filesystem::path& path, uint64_t maxBytes,
                   std::vector<uint8_t>& bytes);

// The longest file name (one path component) in bytes that the file systems
// we write to accept.
inline constexpr size_t kMaxFileNameBytes = 255;

// The tag of the set of processes in which a process id names one process:
// this kernel's boot and this process's pid namespace (a container has its
// own), hashed to 8 characters of [0-9a-f]. Empty where neither can be read.
const std::string& ThisMachineTag();

// The temporary file name SafeFileWriter uses for a target named
// `targetName`, for process `pid` of machine `machine` (empty: none) and the
// 8-character `random` part.
std::string TempFileName(std::string_view targetName, int64_t pid, std::string_view random,
                         std::string_view machine = {});

// Who wrote a temporary file: its process id and machine tag (empty for a
// name without one).
struct TempFileOrigin {
  int64_t pid = 0;
  std::string machine;
};

// When `fileName` (a name, not a path) is a temporary file name made by
// TempFileName, who made it; otherwise nothing.
std::optional<TempFileOrigin> TempFileOriginOf(std::string_view fileName);
// The process id alone.
std::optional<int64_t> TempFileOwner(std::string_view fileName);

// True while a process with this id exists (also one of another user).
bool ProcessIsRunning(int64_t pid);

// How long a temporary file of another machine must have been left alone
// before IsStaleTempFile calls it stale.
inline constexpr int64_t kForeignTempFileAgeSeconds = int64_t{24} * 60 * 60;

// True when `path` is a regular file (not a link) with one of our temporary
// names whose writer is gone: of this machine (or of none) and its process
// no longer runs, or of another machine and unchanged for
// kForeignTempFileAgeSeconds.
bool IsStaleTempFile(const std::filesystem::path& path);

// The file a path finally names: `path` itself unless it is a symbolic link,
// else the end of its chain of links (which need not exist). Nothing when the
// chain loops or is longer than 40 links.
std::optional<std::filesystem::path> ResolveLinks(const std::filesystem::path& path);

class SafeFileWriter {
 public:
  explicit SafeFileWriter(std::filesystem::path target);
  ~SafeFileWriter();  // discards the temporary file unless committed
  SafeFileWriter(const SafeFileWriter&) = delete;
  SafeFileWriter& operator=(const SafeFileWriter&) = delete;

  // Creates the temporary file beside the target (beside the file it links
  // to, when the target is a symbolic link). False when the folder is missing
  // or not writable, or the target is a looping link.
  bool Open();
  // Appends bytes; false (and the writer is failed) on any error.
  bool Write(const void* data, size_t size);
  // The open stream, for codec libraries that write to a FILE*. Errors they
  // hit show in ferror() and make Commit fail.
  std::FILE* Stream() { return m_file; }
  // Flushes, syncs, closes and renames over the target. False on any error,
  // in which case the target is unchanged and the temporary file removed.
  bool Commit();
  // Closes and removes the temporary file; the target is unchanged.
  void Discard();
  // Names another target before Commit, one in the folder of the
  // temporary file (through its links). False, the target kept, otherwise.
  bool Retarget(std::filesystem::path target);

  const std::filesystem::path& Target() const { return m_target; }
  const std::filesystem::path& TempPath() const { return m_temp; }

 private:
  std::filesystem::path m_target;
  std::filesystem::path m_real;  // the target with its links followed
  std::filesystem::path m_temp;
  std::FILE* m_file = nullptr;
  bool m_failed = false;
};

// Writes a whole buffer to `target` through a SafeFileWriter.
bool WriteFileBytesSafely(const std::filesystem::path& target, const void* data, size_t size);

}  // namespace inkbrite
