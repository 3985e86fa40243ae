// SPDX-License-Identifier: GPL-2.0-or-later
// The result record as JSON lines, the earlier records a resumed run reads,
// and the merge of shard records.
//
// JSON lines (`--record-format jsonl`): one object per file that the run
// finished (a file a stop cut short has none), in walk order, e.g.
//
//   {"index":3,"source":"vol1/p004.png","target":"vol1/p004.jpg",
//    "result":"converted","reason":"","bytes_read":81234,
//    "bytes_written":40960,"ms":52,"settings":"5f0e3a9b1c2d4e6f"}
//
// - index: the file's place in the walk of the whole job (for --files-from:
//   in the list), the same in every shard, so records merge in walk order;
// - source: the path relative to the source folder; target: the file
//   written (or that would have been), relative to the target folder;
// - result: "converted", "copied" (a colour page copied under
//   --skip-colour; target names the copy), "skipped" (--skip-existing: done
//   by an earlier run), "read-failed", "write-failed" or "name-taken" (a
//   second source for a target this run wrote) or "out-of-memory"; reason:
//   the text record's words for a failure, in the run's language, else
//   empty; reason_code: the same as a fixed code, whatever the language
//   (the kReason... codes below), else empty;
// - bytes_read / bytes_written: the sizes of the source and of the file
//   written; ms: wall-clock milliseconds spent on the file;
// - settings: a fingerprint of everything that decides the written bytes
//   (the parameter block, the extension, colour mode, resize, quality, skip
//   colour), so a resumed run with other settings redoes the file;
// - attached (only with --use-attached, for a book converted with a set
//   attached to it or its series): that set's name and what it is attached
//   to, "manga（此系列）";
// - page_settings (only with --use-attached, for a book with pages that have
//   their own settings, "只用于此页"): per such page its name in the book, a
//   TAB and the settings it took, "manga（此系列）＋此页：GreyScale=0", pages
//   joined by a line feed.
//
// Strings are UTF-8. Names are bytes on Linux: a byte that does not belong
// to well-formed UTF-8 is written as the escape \udcXX (XX its value), as
// Python's "surrogateescape" does, so os.fsencode(json.loads(...)["source"])
// gives back the exact name, and our own reader turns it back into the byte.
// '"', '\\' and the control characters are escaped (\b \f \n \r \t, others
// \u00XX, DEL as \u007f). Lines end in "\n".
//
// The text record of a shard run (--shard) starts each line with the file's
// walk index and a TAB, so it can be merged too; --merge-records drops them.
//
// Threads: none of its own; callers serialise.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace inkbrite {

enum class RecordFormat { kText, kJsonLines };

// One object of a JSON lines record.
struct RecordEntry {
  int64_t index = -1;
  std::string source;
  std::string target;
  std::string result;
  std::string reason;
  std::string reasonCode;
  uint64_t bytesRead = 0;
  uint64_t bytesWritten = 0;
  uint64_t ms = 0;
  std::string settings;
  // With --report: per page written, its path below the target folder, a
  // TAB and what the automatic steps found (FindingsFields), pages joined by
  // a line feed; written only when not empty.
  std::string findings;
  // With --use-attached, the named set a book's pages were converted with
  // and what it is attached to ("NAME（此系列）"); written only when not empty.
  std::string attached;
  // With --use-attached, the pages converted with their own settings (see
  // page_settings above); written only when not empty.
  std::string pageSettings;
};

inline constexpr std::string_view kResultConverted = "converted";
inline constexpr std::string_view kResultCopied = "copied";
inline constexpr std::string_view kResultSkipped = "skipped";
inline constexpr std::string_view kResultReadFailed = "read-failed";
inline constexpr std::string_view kResultWriteFailed = "write-failed";
inline constexpr std::string_view kResultNameTaken = "name-taken";
inline constexpr std::string_view kResultOutOfMemory = "out-of-memory";

// The reason codes of failures (reason_code). A book that cannot be read
// gives "book-" and its reader's reason (sources/source_texts.h
// SourceErrorName, blanks as '-': "book-encrypted", "book-too-large").
inline constexpr std::string_view kReasonUnreadable = "unreadable";      // a file's bytes
inline constexpr std::string_view kReasonNotWritten = "not-written";     // the target
inline constexpr std::string_view kReasonNameTaken = "name-taken";       // a second source
inline constexpr std::string_view kReasonOutOfMemory = "out-of-memory";  // no memory for it
inline constexpr std::string_view kReasonFolderUnreadable = "folder-unreadable";
inline constexpr std::string_view kReasonPagesFailed = "pages-failed";     // a book's pages
inline constexpr std::string_view kReasonBookKindKept = "book-kind-kept";  // same folder, not a zip
inline constexpr std::string_view kReasonVolumeOverLimit = "volume-over-limit";  // --max-size
// --use-attached: the set attached to the book or its series is not in the
// settings file.
inline constexpr std::string_view kReasonAttachedSetMissing = "attached-set-missing";
// --use-attached: the book's set (or a page's own settings) reduces colours
// and the run's pages are of a format that cannot hold reduced pages.
inline constexpr std::string_view kReasonAttachedSetUnusable = "attached-set-unusable";

// Appends `bytes` as a JSON string (quotes included), escaped as above.
void AppendJsonString(std::string& out, std::string_view bytes);

// The entry as one line of JSON, "\n" included.
std::string JsonRecordLine(const RecordEntry& entry);

// Reads one line of a JSON lines record: any JSON object (whitespace,
// nesting and key order free); the keys above fill `entry`, others are
// skipped. False with `error` for text that is not one JSON object, or a key
// above with a value of the wrong kind.
bool ParseJsonRecordLine(std::string_view line, RecordEntry& entry, std::string& error);

// What earlier runs into one record file said about each source: the
// committed record and the temporary files of it that killed runs left
// (IsStaleTempFile), read oldest first so later entries win.
class EarlierRecords {
 public:
  // Lines that are not JSON objects (a text record, a line cut by a kill)
  // are passed over.
  void Read(const std::filesystem::path& recordPath);
  const RecordEntry* Find(const std::string& source) const;
  size_t Size() const { return m_entries.size(); }

 private:
  void ReadFile(const std::filesystem::path& path);
  std::unordered_map<std::string, RecordEntry> m_entries;
};

// Merges shard records (all text or all JSON lines) into one in walk order.
// False with `error` for a record that is neither, that mixes with the
// other kind, that has no walk indexes (a text record of a run without
// --shard), or two records naming one index (overlapping shards). `gaps`
// gets the indexes missing below the highest in a JSON merge (a shard that
// did not finish).
bool MergeRecords(const std::vector<std::filesystem::path>& records, std::string& merged,
                  std::vector<int64_t>& gaps, std::string& error);

}  // namespace inkbrite
