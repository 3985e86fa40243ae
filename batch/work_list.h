// SPDX-License-Identifier: GPL-2.0-or-later
// Splitting one batch job into independent parts, and the work list in text.
//
// Shards. `--shard K/N` converts the K-th of N parts (K from 0). A file's
// part follows from its work unit key alone, so the parts are disjoint,
// together cover the job, do not depend on the walk's order or timing, and a
// file keeps its part when others are added or removed:
//
//   key   = the file's path relative to the source folder (BatchRelativePath),
//           without the name's extension and without a trailing " (N)"
//   hash  = FNV-1a 64 (offset basis 14695981039346656037, prime
//           1099511628211) of the key's bytes
//   part  = MixBits(hash) modulo N
//
// MixBits is MurmurHash3's 64-bit finaliser. FNV-1a alone mixes badly at
// both ends: its low k bits depend only on the low k bits of each byte
// ("p1.jpg", "p5.jpg" and "p9.jpg" would share one of 4 parts), and a
// change in the last bytes barely reaches its high bits.
//
// The key is the one the --jobs splitter forms its chains with, relative
// instead of full: a source, its target (the same relative path with the new
// extension), the colour copy's free names "name (2).ext", ... and every
// other source that would write one of those targets share it. So two shards
// never write one file, and the one-run rule "a second source for a target
// already written fails" fails the same file in a shard as in one process.
// A book is one file of the walk and so one unit. With `--books folder` a
// file in the folder a book is unpacked into ("x/1.jpg" beside the book
// "x.cbz", at any depth) is keyed by the book's path instead of its own,
// since both write into that folder (BatchWorkList, batch/batch_job.h).
//
// `--shard auto` takes K and N from the scheduler: Slurm job arrays
// (SLURM_ARRAY_TASK_ID, counted from SLURM_ARRAY_TASK_MIN in steps of
// SLURM_ARRAY_TASK_STEP, N = SLURM_ARRAY_TASK_COUNT), or Kubernetes Indexed
// Jobs (JOB_COMPLETION_INDEX, whose count the pod does not see:
// `--shard auto/N`). `auto/N` checks N against Slurm's count.
//
// Work lists. `--list` prints one record per file, "SOURCE<TAB>TARGET"
// followed by a newline (`--list0`: by a NUL), SOURCE relative to the source
// folder. A field holding a control character (a TAB, a newline, ...) or
// starting with a double quote is written in double quotes with C escapes
// (\\ \" \t \n \r, any other control byte as \ooo); every other field,
// UTF-8 or not, is written as it is. `--files-from FILE` reads such a list
// or a plain one: records end at NULs when the file holds one, else at
// newlines (a CR before the newline is dropped); a record's path ends at its
// first TAB outside quotes (the target that --list prints is ignored); blank
// records are skipped. Paths are relative to the source folder and may not
// leave it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace inkbrite {

// A part of a job: `index` of `count`. count 0: the whole job, no --shard.
struct ShardSpec {
  int index = 0;
  int count = 0;
  bool Given() const { return count > 0; }
};

// Reads an environment variable; nullptr when unset.
using EnvLookup = std::function<const char*(const char*)>;

// Parses "K/N", "auto" or "auto/N" (K < N, 1 <= N <= kMaxShards). False with
// a one-line `error` for a malformed value or a scheduler's environment
// that does not give a part.
bool ParseShard(std::string_view text, const EnvLookup& env, ShardSpec& shard, std::string& error);

inline constexpr int kMaxShards = 1000000;

// "name (2)" and "name (12)" without the copy number; anything else as it is.
std::string StemWithoutCopyNumber(std::string stem);

// The work unit key of a path relative to the source folder (see above).
std::string WorkUnitKey(const std::filesystem::path& relative);

uint64_t Fnv1a64(std::string_view bytes);

// MurmurHash3's fmix64: x ^= x >> 33; x *= 0xff51afd7ed558ccd;
// x ^= x >> 33; x *= 0xc4ceb9fe1a85ec53; x ^= x >> 33.
uint64_t MixBits(uint64_t x);

// The part (0 .. count - 1) of the file at `relative`.
int ShardOfFile(const std::filesystem::path& relative, int count);

// One field of a --list record, quoted when it has to be.
std::string QuoteListField(std::string_view field);

// The relative paths of a --files-from list (see above). False with
// `error` naming the record for a bad quote or a path that is absolute or
// leaves the source folder.
bool ParseFileList(std::string_view text, std::vector<std::filesystem::path>& paths,
                   std::string& error);

}  // namespace inkbrite
