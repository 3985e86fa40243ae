// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/shelf.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>

#include "formats/format_table.h"
#include "sources/book_source.h"
#include "sources/comic_info.h"
#include "sources/natural_order.h"
#include "sources/page_source.h"
#include "sources/page_thumbnails.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

int64_t ModifiedSeconds(const fs::directory_entry& entry) {
  std::error_code ec;
  const fs::file_time_type time = entry.last_write_time(ec);
  if (ec) return 0;
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

bool Hidden(const std::string& name) { return name.empty() || name.front() == '.'; }

// What a sub-folder is: a folder of pages when it holds a picture, else a
// folder to go into when it holds a book or a folder; `pages` the pictures.
bool ClassifyFolder(const fs::path& folder, ShelfKind& kind, int& pages) {
  pages = 0;
  bool inner = false;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (Hidden(name)) continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      inner = true;
    } else if (it->is_regular_file(typeError)) {
      if (IsPageEntryName(name)) {
        ++pages;
      } else if (!inner && BookRowOfName(it->path().filename().native()) != nullptr &&
                 IsBookFile(it->path())) {
        inner = true;
      }
    }
  }
  kind = pages > 0 ? ShelfKind::kPageFolder : ShelfKind::kFolder;
  return pages > 0 || inner;
}

// Lower-case ASCII letters; other bytes as they are.
std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool Matches(const ShelfItem& item, const std::vector<std::string>& words) {
  const std::string fields = Folded(item.name + '\n' + item.details.title + '\n' +
                                    item.details.series + '\n' + item.details.writer);
  return std::all_of(words.begin(), words.end(), [&fields](const std::string& word) {
    return fields.find(word) != std::string::npos;
  });
}

// <0, 0, >0 as `a` comes before, with or after `b` in `order`.
int CompareIn(ShelfOrder order, const ShelfItem& a, const ShelfItem& b) {
  if (a.IsBook() != b.IsBook()) return a.IsBook() ? 1 : -1;
  switch (order) {
    case ShelfOrder::kTitle: return CompareNatural(a.Title(), b.Title());
    case ShelfOrder::kAdded: return a.added == b.added ? 0 : (a.added > b.added ? -1 : 1);
    case ShelfOrder::kLastRead:
      return a.progress.lastRead == b.progress.lastRead
                 ? 0
                 : (a.progress.lastRead > b.progress.lastRead ? -1 : 1);
    case ShelfOrder::kNatural: break;
  }
  return 0;
}

}  // namespace

std::string ShelfItem::Title() const {
  if (!details.title.empty()) return details.title;
  if (kind != ShelfKind::kBook) return name;
  const fs::path file(name);
  return file.has_extension() ? file.stem().string() : name;
}

int ShelfItem::Pages() const {
  if (details.pageCount > 0) return details.pageCount;
  if (pageCount > 0) return pageCount;
  return progress.count;
}

Shelf Shelf::List(const fs::path& folder) {
  Shelf shelf;
  shelf.m_folder = folder;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    ShelfItem item;
    item.path = it->path();
    item.name = item.path.filename().string();
    if (Hidden(item.name)) continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (!ClassifyFolder(item.path, item.kind, item.pageCount)) continue;
    } else if (!it->is_regular_file(typeError) ||
               BookRowOfName(item.path.filename().native()) == nullptr || !IsBookFile(item.path)) {
      continue;
    }
    item.added = ModifiedSeconds(*it);
    shelf.m_items.push_back(std::move(item));
  }
  shelf.Sort(ShelfOrder::kNatural);
  return shelf;
}

Shelf Shelf::Of(std::vector<ShelfItem> items) {
  Shelf shelf;
  shelf.m_items = std::move(items);
  return shelf;
}

size_t Shelf::Find(const fs::path& path) const {
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i].path == path) return i;
  }
  return static_cast<size_t>(-1);
}

void Shelf::SetDetails(size_t i, ShelfDetails details) {
  if (i < m_items.size()) m_items[i].details = std::move(details);
}

void Shelf::SetProgress(size_t i, const ShelfProgress& progress) {
  if (i < m_items.size()) m_items[i].progress = progress;
}

void Shelf::Sort(ShelfOrder order) {
  m_order = order;
  std::sort(m_items.begin(), m_items.end(), [order](const ShelfItem& a, const ShelfItem& b) {
    const int by = CompareIn(order, a, b);
    if (by != 0) return by < 0;
    return CompareNatural(a.name, b.name) < 0;
  });
}

std::vector<size_t> Shelf::Search(std::string_view query) const {
  std::vector<std::string> words;
  const std::string folded = Folded(query);
  for (size_t start = 0; start < folded.size();) {
    const size_t stop = std::min(folded.find(' ', start), folded.size());
    if (stop > start) words.push_back(folded.substr(start, stop - start));
    start = stop + 1;
  }
  std::vector<size_t> found;
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (Matches(m_items[i], words)) found.push_back(i);
  }
  return found;
}

fs::path Shelf::NeighbourBook(const fs::path& path, int step) const {
  const size_t at = Find(path);
  if (at >= m_items.size() || step == 0) return {};
  const int direction = step > 0 ? 1 : -1;
  int left = step > 0 ? step : -step;
  for (auto i = static_cast<long long>(at) + direction;
       i >= 0 && i < static_cast<long long>(m_items.size()); i += direction) {
    const ShelfItem& item = m_items[static_cast<size_t>(i)];
    if (item.IsBook() && --left == 0) return item.path;
  }
  return {};
}

namespace {

// How far down a folder's cover is looked for.
constexpr int kCoverDepth = 4;

// The first book of `folder` in natural order, else the first book of its
// first folder that has one, `depth` folders down at most.
std::optional<ShelfItem> FirstBookIn(const fs::path& folder, int depth) {
  const Shelf shelf = Shelf::List(folder);
  for (const ShelfItem& item : shelf.Items()) {
    if (item.IsBook()) return item;
  }
  for (const ShelfItem& item : shelf.Items()) {
    if (depth <= 0) break;
    if (std::optional<ShelfItem> book = FirstBookIn(item.path, depth - 1)) return book;
  }
  return std::nullopt;
}

}  // namespace

ShelfDetails ReadShelfDetails(const ShelfItem& item, DibImage* cover, ThumbnailSize size) {
  ShelfDetails details;
  details.known = true;
  if (!item.IsBook()) {
    // A folder's cover is its first book's.
    if (cover != nullptr) {
      cover->Clear();
      if (const std::optional<ShelfItem> first = FirstBookIn(item.path, kCoverDepth)) {
        ReadShelfDetails(*first, cover, size);
      }
    }
    return details;
  }
  SourceError error = SourceError::kNone;
  std::unique_ptr<BookSource> book;
  if (item.kind == ShelfKind::kBook) {
    book = OpenBookSource(item.path, error);
  } else {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(item.path, ec), end; !ec && it != end; it.increment(ec)) {
      names.push_back(it->path().filename().string());
    }
    book = BookSource::OpenFolder(item.path, names, error);
  }
  if (!book) return details;
  details.readable = true;
  details.pageCount = static_cast<int>(book->PageCount());
  const ComicInfo info = book->Info();
  details.title = info.title;
  details.series = info.series;
  details.number = info.number;
  details.writer = info.writer;
  if (cover && book->PageCount() > 0 &&
      PageThumbnail(*book, 0, size, *cover) == ThumbnailOrigin::kFailed) {
    cover->Clear();
  }
  return details;
}

std::vector<ShelfItem> BooksBegun(std::vector<ShelfItem> items) {
  std::erase_if(items, [](const ShelfItem& item) { return !item.IsBegun(); });
  std::stable_sort(items.begin(), items.end(), [](const ShelfItem& a, const ShelfItem& b) {
    return a.progress.lastRead > b.progress.lastRead;
  });
  return items;
}

}  // namespace inkbrite
