// SPDX-License-Identifier: GPL-2.0-or-later
// CSrchDir: the one file-system walker of Inkbrite.
//
// A walker visits one folder, and on request every folder below it, and hands
// each file whose name matches one of its wildcard patterns to the virtual
// OnFileFound. Subclasses count the files, keep the first one, or collect
// them into records; the batch job converts them.
//
// Rules of the walk:
// - Patterns are split at spaces and semicolons ("*.jpg;*.jpeg *.png" is
//   three patterns; runs of separators give no empty pattern). `*` matches
//   any run of characters, `?` exactly one character (one UTF-8 code point).
//   Letters are compared without regard to case, as on Windows: ASCII,
//   Latin-1, Latin Extended-A, Greek, Cyrillic and full-width Latin letters
//   fold; a pattern ending in ".*" also matches names without a dot, so
//   "*.*" matches every file.
// - Depth first: all files of a folder, grouped by pattern in list order,
//   come before anything in its subfolders. A file matching two patterns is
//   reported once for each (no de-duplication).
// - Within a folder, entries are taken in byte order of their UTF-8 names
//   (the file system's own order is arbitrary on Linux; sorting makes every
//   walk repeatable).
// - Only regular files (symbolic links followed) are reported. Folders are
//   never reported, even when their name matches; FIFOs, sockets, devices and
//   dangling links are skipped, since opening a FIFO would block the caller.
//   Hidden (dot) files are reported like any other.
// - The excluded folder, and everything below it, is never entered. It is
//   compared by identity (same device and inode), so a trailing slash, a
//   relative path or a symbolic link to it excludes it all the same; it may
//   also be created while the walk runs (the batch job creates its target
//   folders as it goes).
// - Symbolic links to folders are followed, but every folder is walked at
//   most once per Search (by device and inode, one stat a folder), so link
//   loops end and a deep tree costs no more than its folders.
// - A folder that cannot be read (no permission, a path too long for the
//   system) is skipped and handed to the virtual OnFolderUnreadable with the
//   system's error (a missing start folder, or one removed while the walk
//   runs, is not); the base class passes it over.
// - The stop flag is cleared only by Init. Once set (by a subclass, or by the
//   owner through RequestStop), the walk ends at its next check: after each
//   file, after each pattern and before each folder.
//
// Full paths handed out are `directory / relative-path`, where directory is
// exactly the path given to Search, so fullPath.lexically_relative(directory)
// gives the part below it.
//
// Threads: a walker is a short-lived local of one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace inkbrite {

// What the walk knows about a file besides its path.
struct FindData {
  // Creation time as a Windows file time: 100 ns units since 1601-01-01 UTC.
  // The birth time where the file system records it (statx), otherwise the
  // last modification time; 0 when neither can be read.
  uint64_t creationTime = 0;
  uint64_t size = 0;
  std::filesystem::path name;  // the entry's own name, without its folder
};

// A folder a walk could not list, and why.
struct UnreadableFolder {
  std::filesystem::path path;
  std::error_code error;
};

// One file of a folder listing.
struct FileRecord {
  uint64_t creationTime = 0;  // as FindData::creationTime
  uint32_t sizeHigh = 0;
  uint32_t sizeLow = 0;
  std::filesystem::path path;  // full path

  uint64_t Size() const { return (uint64_t{sizeHigh} << 32) | sizeLow; }
};

// True when `name` matches one wildcard pattern (no separators), with the
// walker's rules above. Exposed for the tests and for callers that filter a
// single name the way the walk would.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

class CSrchDir {
 public:
  CSrchDir() = default;
  virtual ~CSrchDir() = default;
  CSrchDir(const CSrchDir&) = delete;
  CSrchDir& operator=(const CSrchDir&) = delete;

  // Stores the pattern list and the subfolder flag, clears the stop flag and
  // remembers the excluded folder (empty: none).
  virtual void Init(std::string_view patterns, bool includeSubdirs,
                    const std::filesystem::path& excluded = {});

  // Walks `directory`; an empty or missing one does nothing.
  void Search(const std::filesystem::path& directory);

  void RequestStop() { m_stop = true; }
  bool Stopped() const { return m_stop; }

 protected:
  // Called once per matching file (and per matching pattern).
  virtual void OnFileFound(const std::filesystem::path& fullPath, const FindData& find);
  // Called for a folder the walk could not list (or not list to its end).
  virtual void OnFolderUnreadable(const std::filesystem::path& folder,
                                  const std::error_code& error);

 private:
  struct Entry;

  bool IsExcluded(const std::filesystem::path& dir) const;
  void WalkFiles(const std::filesystem::path& dir, const std::vector<Entry>& entries);

  std::vector<std::u32string> m_compiled;  // folded code points
  std::filesystem::path m_excluded;
  bool m_includeSubdirs = false;
  bool m_stop = false;
};

// Counts the matching files.
class CSrchDirCounter : public CSrchDir {
 public:
  // Answers true when the owner wants the walk to stop; it may pump the
  // user interface's events first. None: the count always runs to the end.
  using StopCheck = std::function<bool()>;

  // Returns the number of matching files; 0 when the stop check stopped the
  // count (Stopped() then tells it apart from an empty folder).
  std::size_t Count(const std::filesystem::path& directory, std::string_view patterns,
                    bool includeSubdirs, const std::filesystem::path& excluded = {},
                    StopCheck stopCheck = {});

 protected:
  void OnFileFound(const std::filesystem::path& fullPath, const FindData& find) override;

 private:
  std::size_t m_count = 0;
  StopCheck m_stopCheck;
};

// Finds the first matching file in walk order.
class CSrchDirFirst : public CSrchDir {
 public:
  // The first file's full path, or an empty path when none matched.
  std::filesystem::path FindFirst(const std::filesystem::path& directory, std::string_view patterns,
                                  bool includeSubdirs, const std::filesystem::path& excluded = {});

 protected:
  void OnFileFound(const std::filesystem::path& fullPath, const FindData& find) override;

 private:
  std::filesystem::path m_result;
};

// Fills caller-owned records, one per matching file.
class CSrchDirCollector : public CSrchDir {
 public:
  // Writes at most records.size() records, in walk order, and returns how
  // many it wrote. The caller sizes the array from an earlier count: files
  // that appeared since are left out (the walk stops once the array is full),
  // and when files vanished since, fewer records are filled; callers must use
  // the returned number, not the array's size.
  std::size_t Collect(const std::filesystem::path& directory, std::string_view patterns,
                      bool includeSubdirs, const std::filesystem::path& excluded,
                      std::span<FileRecord> records);

 protected:
  void OnFileFound(const std::filesystem::path& fullPath, const FindData& find) override;

 private:
  std::span<FileRecord> m_records;
  std::size_t m_filled = 0;
};

}  // namespace inkbrite
