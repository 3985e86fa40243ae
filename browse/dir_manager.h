// SPDX-License-Identifier: GPL-2.0-or-later
// CDirManager: the list of the picture files in the folder of a document's
// file, in the user's display order, with a cursor on the file shown.
//
// The viewer's page commands move the cursor and open the file under it. The
// list watches its folder (names created, deleted or renamed; not content
// changes) and rebuilds itself lazily, at the next move, so a file added to
// the folder appears at the next page command.
//
// The display order is one setting for the whole program (SortType: 0 file
// name, 2 size, anything else creation time; SortDir: 1 descending, anything
// else ascending), kept in the settings under "ShowOrder" and changed through
// the display-order dialog.
//
// Running past either end is not an error: the cursor stays on the end file,
// the move returns it again and the system beep sounds.
//
// Threads: user-interface thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "sources/srch_dir.h"

namespace inkbrite {

class DirectoryWatch;

class CDirManager {
 public:
  CDirManager();
  ~CDirManager();
  CDirManager(const CDirManager&) = delete;
  CDirManager& operator=(const CDirManager&) = delete;

  // Lists the file's folder and puts the cursor on the file. An empty path
  // does nothing.
  void SetCurrentFile(const std::filesystem::path& path);
  // Lists `directory` (empty: an empty list), sorted, cursor on the first
  // file, and watches it.
  void BuildList(const std::filesystem::path& directory);
  // Puts the cursor on `path`. In name order a path not in the list puts it
  // on the first file sorting after it (the last file when none does); in
  // the other orders it leaves no cursor.
  void Locate(const std::filesystem::path& path);

  // Moves the cursor and returns the new current file, or an empty path when
  // there is no cursor. `index` receives its 1-based position (the count for
  // Next/Last and 0 for Previous/First when there is no cursor).
  std::filesystem::path Next(int& index);
  std::filesystem::path Previous(int& index);
  std::filesystem::path First(int& index);
  std::filesystem::path Last(int& index);

  // 1-based position of the cursor; 0 with no cursor.
  int GetCurrentIndex() const;
  int GetCount() const;
  const std::filesystem::path& Directory() const { return m_directory; }
  // The listed files in order (for tests and the order dialog's callers).
  const std::vector<FileRecord>& Records() const { return m_records; }

  // Changes the program-wide order (and stores it), re-sorts this list and
  // keeps the cursor on the same file.
  void SetOrder(int type, int direction);

  // The program-wide order, read from and written to the settings.
  static void LoadOrder();
  static void SaveOrder(int type, int direction);
  static int SortType();
  static int SortDir();

 private:
  enum class Move { kNext, kPrevious, kFirst, kLast };
  std::filesystem::path MoveCursor(Move move, int& index);
  void CheckForChanges();
  void Sort();

  std::vector<FileRecord> m_records;
  int m_current = -1;  // index into m_records; -1: no cursor
  std::unique_ptr<DirectoryWatch> m_watch;
  std::filesystem::path m_directory;
  std::filesystem::path m_currentPath;
};

// Compares two records by the program-wide order: <0, 0 or >0.
int CompareFileRecords(const FileRecord& a, const FileRecord& b);

}  // namespace inkbrite
