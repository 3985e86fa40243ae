// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/folder_books.h"

#include <algorithm>
#include <system_error>

#include "formats/format_table.h"
#include "sources/natural_order.h"
#include "sources/page_source.h"

namespace inkbrite {

namespace fs = std::filesystem;

std::vector<fs::path> BooksInFolder(const fs::path& folder) {
  std::vector<fs::path> books;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (name.empty() || name.front() == '.' || BookRowOfName(path.filename().native()) == nullptr) {
      continue;
    }
    std::error_code typeError;
    if (!it->is_regular_file(typeError) || !IsBookFile(path)) continue;
    books.push_back(path);
  }
  std::sort(books.begin(), books.end(), [](const fs::path& a, const fs::path& b) {
    return NaturalLess(a.filename().string(), b.filename().string());
  });
  return books;
}

fs::path NeighbourBook(const fs::path& book, int step) {
  const std::vector<fs::path> books = BooksInFolder(book.parent_path());
  for (size_t i = 0; i < books.size(); ++i) {
    if (books[i].filename() != book.filename()) continue;
    const auto target = static_cast<long long>(i) + step;
    if (target < 0 || target >= static_cast<long long>(books.size())) return {};
    return books[static_cast<size_t>(target)];
  }
  return {};
}

}  // namespace inkbrite
