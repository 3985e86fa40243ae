// SPDX-License-Identifier: GPL-2.0-or-later
// CDirManager: the pages a document window turns through, in the user's
// display order, with a cursor on the page shown. The pages are the picture
// files of the folder of a document's file, or the pages of a book (an
// archive or a PDF file), both read through a page source
// (sources/page_source.h).
//
// The viewer's page commands move the cursor and open the page under it. A
// folder's list watches its folder (names created, deleted or renamed; not
// content changes) and rebuilds itself lazily, at the next move, so a file
// added to the folder appears at the next page command. A book does not
// change while it is open.
//
// The display order is one setting for the whole program (SortType: 0 file
// name, 2 size, anything else creation time; SortDir: 1 descending, anything
// else ascending), kept in the settings under "ShowOrder" and changed through
// the display-order dialog. In a book, name order is the book's reading
// order (natural order of the entry paths), time order the entries' times.
//
// Running past either end is not an error: the cursor stays on the end page,
// the move returns it again and the system beep sounds.
//
// Threads: user-interface thread only (the source it hands out may be read
// from other threads).
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sources/page_source.h"

namespace inkbrite {

class DirectoryWatch;

// A page of a list: the picture file, or the book holding the page and the
// page's name in it.
struct ListedPage {
  std::filesystem::path file;  // a loose picture file, or the book
  std::string entry;           // the page's name in its book; empty for a loose file
  size_t index = 0;            // its position in the source's Pages()

  bool empty() const { return file.empty(); }
  bool InBook() const { return !entry.empty(); }
};

class CDirManager {
 public:
  CDirManager();
  ~CDirManager();
  CDirManager(const CDirManager&) = delete;
  CDirManager& operator=(const CDirManager&) = delete;

  // Lists the file's folder and puts the cursor on the file. An empty path
  // does nothing.
  void SetCurrentFile(const std::filesystem::path& path);
  // Lists an opened book's pages and puts the cursor on the page named
  // `entry` (the first page in the display order when it names none).
  void SetBook(std::shared_ptr<PageSource> book, std::string_view entry);
  // Lists `directory` (empty: an empty list), sorted, cursor on the first
  // file, and watches it.
  void BuildList(const std::filesystem::path& directory);
  // Puts the cursor on `path`. In name order a path not in the list puts it
  // on the first file sorting after it (the last file when none does); in
  // the other orders it leaves no cursor.
  void Locate(const std::filesystem::path& path);
  // Puts the cursor on the book page named `entry`; false (cursor kept) when
  // there is none.
  bool LocateEntry(std::string_view entry);

  // Moves the cursor and returns the new current page, or an empty page when
  // there is no cursor. `index` receives its 1-based position (the count for
  // Next/Last and 0 for Previous/First when there is no cursor).
  ListedPage Next(int& index);
  ListedPage Previous(int& index);
  ListedPage First(int& index);
  ListedPage Last(int& index);
  // Moves the cursor to the 1-based position `index` (no beep, nothing
  // outside 1..count); the list is checked for changes first.
  ListedPage MoveTo(int index);

  // 1-based position of the cursor; 0 with no cursor.
  int GetCurrentIndex() const;
  int GetCount() const;
  // The page at the 1-based position `index` (empty outside the list), and
  // its entry in the source.
  ListedPage PageAt(int index) const;
  const PageEntry& EntryAt(int index) const;
  // The listed folder, or the book.
  const std::filesystem::path& Directory() const { return m_directory; }
  bool IsBook() const { return m_book; }
  // What the pages are read from (null while nothing is listed). A folder's
  // source is replaced when the list rebuilds.
  std::shared_ptr<PageSource> Source() const { return m_source; }

  // Changes the program-wide order (and stores it), re-sorts this list and
  // keeps the cursor on the same page.
  void SetOrder(int type, int direction);

  // The program-wide order, read from and written to the settings.
  static void LoadOrder();
  static void SaveOrder(int type, int direction);
  static int SortType();
  static int SortDir();

 private:
  enum class Move { kNext, kPrevious, kFirst, kLast };
  ListedPage MoveCursor(Move move, int& index);
  void CheckForChanges();
  void Sort();
  ListedPage Listed(size_t position) const;
  // The source's page at list position `position`.
  const PageEntry& Entry(size_t position) const;
  // Compares two pages of the source by the program-wide order.
  int Compare(size_t a, size_t b) const;

  std::shared_ptr<PageSource> m_source;
  bool m_book = false;
  std::vector<size_t> m_order;  // source page indexes in display order
  int m_current = -1;           // index into m_order; -1: no cursor
  std::unique_ptr<DirectoryWatch> m_watch;
  std::filesystem::path m_directory;
  std::filesystem::path m_currentPath;  // a loose file's path, for the rebuild
};

}  // namespace inkbrite
