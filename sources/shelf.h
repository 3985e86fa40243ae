// SPDX-License-Identifier: GPL-2.0-or-later
// A shelf: what one folder of a comic library holds, as a reader browses it.
//
// Its items are the folder's books (sources/folder_books.h), its sub-folders
// of loose pages (read as one book each) and its sub-folders that hold books
// or further folders (shown as folders to go into). Hidden names (".x") are
// left out, and so is a sub-folder that holds neither pages, books nor
// folders. A folder of pages is never also a folder to go into: its
// pictures make it a book.
//
// Listing reads only the folder and its sub-folders' names; what a book says
// of itself (its ComicInfo.xml title, series, number and writer, and its page
// count) comes later, from ReadShelfDetails, which opens the book and so is
// for a background thread. The reading progress is the caller's to set (the
// viewer keeps it with its reading places).
//
// Orders: natural order of the names, by title (natural order of the title
// shown), by date added (the file's modification time, newest first) or by
// last read (newest first, books never read after them in natural order).
// Folders come before books in every order.
//
// Threads: a Shelf is one thread's; ReadShelfDetails may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "platform/thumbnail_cache.h"

namespace inkbrite {

enum class ShelfKind {
  kBook,        // a book file
  kPageFolder,  // a folder of loose pages, read as one book
  kFolder,      // a folder of books or folders, to go into
};

enum class ShelfOrder { kNatural, kTitle, kAdded, kLastRead };

// Where the reader is in a book: page `page` (1-based) of `count`, last read
// at `lastRead` (seconds since the epoch). page 0: never opened.
struct ShelfProgress {
  int page = 0;
  int count = 0;
  int64_t lastRead = 0;
};

// What a book says of itself.
struct ShelfDetails {
  bool known = false;  // read (or tried: an unreadable book stays with its name)
  bool readable = false;
  std::string title, series, number, writer;
  int pageCount = 0;
};

struct ShelfItem {
  std::filesystem::path path;
  ShelfKind kind = ShelfKind::kBook;
  std::string name;   // the file or folder name
  int64_t added = 0;  // modification time, seconds since the epoch
  int pageCount = 0;  // a page folder's pictures, known at listing
  ShelfDetails details;
  ShelfProgress progress;

  bool IsBook() const { return kind != ShelfKind::kFolder; }
  // The ComicInfo title, else the name without a book's extension.
  std::string Title() const;
  // The pages the book has: its details' count, else the progress's.
  int Pages() const;
  // Never opened.
  bool IsNew() const { return IsBook() && progress.page <= 0; }
  // Its last page reached.
  bool IsRead() const { return IsBook() && progress.page > 0 && progress.page >= Pages(); }
  // Begun and not finished.
  bool IsBegun() const { return IsBook() && !IsNew() && !IsRead(); }
};

class Shelf {
 public:
  // Lists `folder` in natural order; an empty shelf when it cannot be read.
  static Shelf List(const std::filesystem::path& folder);
  // A shelf of the given items in their order (books gathered from several
  // folders, e.g. those begun).
  static Shelf Of(std::vector<ShelfItem> items);

  const std::filesystem::path& Folder() const { return m_folder; }
  const std::vector<ShelfItem>& Items() const { return m_items; }
  size_t size() const { return m_items.size(); }
  const ShelfItem& operator[](size_t i) const { return m_items[i]; }

  // The position of the item at `path`; npos when none.
  size_t Find(const std::filesystem::path& path) const;
  void SetDetails(size_t i, ShelfDetails details);
  void SetProgress(size_t i, const ShelfProgress& progress);

  // Puts the items in `order` (stable: equal items keep natural order).
  void Sort(ShelfOrder order);
  ShelfOrder Order() const { return m_order; }

  // The positions of the items matching `query`: every word of it (split at
  // spaces) found in the name, title, series or writer, ASCII letters
  // compared without case. An empty query matches every item.
  std::vector<size_t> Search(std::string_view query) const;

  // The book `step` places from the book at `path` in the shelf's order
  // (folders passed over); empty when there is none.
  std::filesystem::path NeighbourBook(const std::filesystem::path& path, int step) const;

 private:
  std::filesystem::path m_folder;
  std::vector<ShelfItem> m_items;
  ShelfOrder m_order = ShelfOrder::kNatural;
};

// Opens the book of `item` and reads its details, and with `cover` the
// thumbnail of its first page (sources/page_thumbnails.h: from the cache
// when it is current; `cover` left empty when the page cannot be read);
// `known` stays true and `readable` false when the book cannot be opened.
// A folder to go into has no details; its cover is that of its first book
// in natural order, else of the first book of its first folder that holds
// one (four folders down at most).
ShelfDetails ReadShelfDetails(const ShelfItem& item, DibImage* cover = nullptr,
                              ThumbnailSize size = ThumbnailSize::kLarge);

// The books begun and not finished among `items`, last read first.
std::vector<ShelfItem> BooksBegun(std::vector<ShelfItem> items);

}  // namespace inkbrite
