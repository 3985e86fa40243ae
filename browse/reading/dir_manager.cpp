// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/dir_manager.h"

#include <QApplication>
#include <QSettings>
#include <QString>
#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>

#include "browse/services/ui_services.h"
#include "formats/format_table.h"
#include "platform/ascii_case.h"
#include "platform/dir_watch.h"
#include "sources/page_source.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The program-wide display order (see the header); read at start-up.
int g_sortType = 0;
int g_sortDir = 0;

// Where the order is stored: QSettings("Quillmark's Tools", "Inkbrite").
constexpr const char* kOrderGroup = "ShowOrder";
constexpr const char* kSortTypeKey = "SortType";
constexpr const char* kSortDirKey = "SortDir";

constexpr bool kNativeIsUtf8 = std::is_same_v<fs::path::value_type, char>;

// The path as UTF-8 bytes; `scratch` holds them when the native form is wide.
// (Templates so that the branch for the other platform is never compiled.)
template <class Path>
std::string_view Utf8Bytes(const Path& p, std::string& scratch) {
  if constexpr (kNativeIsUtf8) {
    return p.native();
  } else {
    const std::u8string u8 = p.u8string();
    scratch.assign(u8.begin(), u8.end());
    return scratch;
  }
}

template <class Path>
QString ToQString(const Path& p) {
  if constexpr (kNativeIsUtf8) {
    return QString::fromUtf8(p.native().data(), static_cast<qsizetype>(p.native().size()));
  } else {
    return QString::fromStdWString(p.native());
  }
}

// Byte by byte, ASCII letters folded to lower case, every other byte (those
// of multi-byte characters included) compared as an unsigned value.
int CompareNames(const fs::path& a, const fs::path& b) {
  std::string sa, sb;
  const std::string_view x = Utf8Bytes(a, sa);
  const std::string_view y = Utf8Bytes(b, sb);
  const size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    const auto cx = static_cast<unsigned char>(AsciiLower(x[i]));
    const auto cy = static_cast<unsigned char>(AsciiLower(y[i]));
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

template <class T>
int CompareUnsigned(T a, T b) {
  return a == b ? 0 : (a < b ? -1 : 1);
}

int ApplyDirection(int result) { return g_sortDir == 1 ? -result : result; }

// The listed folder as stored: without a trailing separator, except for a
// root ("/", "C:\").
fs::path StripTrailingSeparator(fs::path dir) {
  while (!dir.has_filename() && dir.has_relative_path()) dir = dir.parent_path();
  return dir;
}

}  // namespace

int CDirManager::Compare(size_t a, size_t b) const {
  const PageEntry& x = m_source->Pages()[a];
  const PageEntry& y = m_source->Pages()[b];
  int result;
  if (g_sortType == 0) {
    // A folder's files by their full paths; a book's pages in its reading
    // order.
    result = m_book ? CompareUnsigned(a, b) : CompareNames(x.path, y.path);
  } else if (g_sortType == 2) {
    result = CompareUnsigned(x.size, y.size);
  } else {
    result = CompareUnsigned(x.time, y.time);
  }
  return ApplyDirection(result);
}

CDirManager::CDirManager() = default;
CDirManager::~CDirManager() = default;

void CDirManager::SetCurrentFile(const fs::path& path) {
  if (path.empty()) return;
  // The folder of the file; a bare name with no folder part is taken whole
  // (and so lists nothing).
  const fs::path parent = path.parent_path();
  BuildList(parent.empty() ? path : parent);
  // The records are spelled "folder/name" with the folder as stored; spell
  // the key the same way, so that "/a//b.jpg" still finds "/a/b.jpg".
  m_currentPath = parent.empty() ? path : m_directory / path.filename();
  Locate(m_currentPath);
}

void CDirManager::SetBook(std::shared_ptr<PageSource> book, std::string_view entry) {
  m_watch.reset();
  m_currentPath.clear();
  m_order.clear();
  m_current = -1;
  m_source = std::move(book);
  m_book = m_source != nullptr;
  m_directory = m_source ? m_source->Path() : fs::path();
  if (!m_source || m_source->PageCount() == 0) return;
  m_order.resize(m_source->PageCount());
  for (size_t i = 0; i < m_order.size(); ++i) m_order[i] = i;
  Sort();
  m_current = 0;
  if (!entry.empty()) LocateEntry(entry);
}

void CDirManager::BuildList(const fs::path& directory) {
  m_order.clear();
  m_current = -1;
  m_book = false;
  m_source.reset();
  if (directory.empty()) {
    m_watch.reset();
    m_directory.clear();
    return;
  }
  m_directory = StripTrailingSeparator(directory);
  // The folder is stored and watched even when it holds no picture yet, so
  // that a picture saved into it later shows up at the next move (otherwise
  // the list would stay empty, or worse keep watching the folder listed
  // before and rebuild itself from that one). The watch is opened before the
  // walk, so a file that appears while the walk runs signals a rebuild
  // instead of being missed.
  auto watch = std::make_unique<DirectoryWatch>();
  if (watch->Open(m_directory)) {
    m_watch = std::move(watch);
  } else {
    m_watch.reset();  // never rebuilt by itself; the refresh command still works
  }

  // The folder's picture files (the walker of the batch job, this folder
  // only, the readable patterns).
  m_source = OpenFolderSource(m_directory, ReadablePatterns());
  if (m_source->PageCount() == 0) return;
  m_order.resize(m_source->PageCount());
  for (size_t i = 0; i < m_order.size(); ++i) m_order[i] = i;
  Sort();
  m_current = 0;
}

void CDirManager::Sort() {
  // Pages with equal keys keep no particular order in a folder; a book's
  // keep their reading order.
  if (m_book) {
    std::stable_sort(m_order.begin(), m_order.end(),
                     [this](size_t a, size_t b) { return Compare(a, b) < 0; });
  } else {
    std::sort(m_order.begin(), m_order.end(),
              [this](size_t a, size_t b) { return Compare(a, b) < 0; });
  }
}

const PageEntry& CDirManager::Entry(size_t position) const {
  return m_source->Pages()[m_order[position]];
}

ListedPage CDirManager::Listed(size_t position) const {
  ListedPage page;
  if (position >= m_order.size()) return page;
  const PageEntry& entry = Entry(position);
  page.index = m_order[position];
  if (m_book) {
    page.file = m_source->Path();
    page.entry = entry.name;
  } else {
    page.file = entry.path;
  }
  return page;
}

void CDirManager::Locate(const fs::path& path) {
  if (m_order.empty()) {
    m_current = -1;
    return;
  }
  if (path.empty() || m_book) return;

  if (g_sortType == 0) {
    // Binary search in name order. Without a match the cursor goes to the
    // first record sorting after the path, or to the last record when the
    // path sorts after all of them.
    ptrdiff_t low = 0;
    ptrdiff_t high = static_cast<ptrdiff_t>(m_order.size()) - 1;
    while (low <= high) {
      const ptrdiff_t middle = low + (high - low) / 2;
      const int c = ApplyDirection(CompareNames(path, Entry(static_cast<size_t>(middle)).path));
      if (c < 0) {
        high = middle - 1;
      } else if (c > 0) {
        low = middle + 1;
      } else {
        m_current = static_cast<int>(middle);
        return;
      }
    }
    const ptrdiff_t last = static_cast<ptrdiff_t>(m_order.size()) - 1;
    m_current = static_cast<int>(std::min(low, last));
    return;
  }

  // Other orders: the first record naming the same file without regard to
  // case; none leaves no cursor.
  const QString key = ToQString(path);
  m_current = -1;
  for (size_t i = 0; i < m_order.size(); ++i) {
    if (QString::compare(ToQString(Entry(i).path), key, Qt::CaseInsensitive) == 0) {
      m_current = static_cast<int>(i);
      return;
    }
  }
}

bool CDirManager::LocateEntry(std::string_view entry) {
  for (size_t i = 0; i < m_order.size(); ++i) {
    if (Entry(i).name == entry) {
      m_current = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

void CDirManager::CheckForChanges() {
  if (m_book || !m_watch || !m_watch->TakeSignal()) return;
  const fs::path directory = m_directory;  // BuildList replaces the member
  BuildList(directory);
  if (!m_currentPath.empty()) Locate(m_currentPath);
}

ListedPage CDirManager::MoveCursor(Move move, int& index) {
  CheckForChanges();
  m_currentPath.clear();
  const int count = GetCount();
  index = (move == Move::kNext || move == Move::kLast) ? count : 0;
  if (m_current < 0 || m_order.empty()) return {};

  switch (move) {
    case Move::kNext:
      if (m_current + 1 >= count) {
        m_current = count - 1;
        Beep();
      } else {
        ++m_current;
      }
      break;
    case Move::kPrevious:
      if (m_current <= 0) {
        m_current = 0;
        Beep();
      } else {
        --m_current;
      }
      break;
    case Move::kFirst: m_current = 0; break;
    case Move::kLast: m_current = count - 1; break;
  }
  index = m_current + 1;
  ListedPage page = Listed(static_cast<size_t>(m_current));
  if (!m_book) m_currentPath = page.file;
  return page;
}

ListedPage CDirManager::Next(int& index) { return MoveCursor(Move::kNext, index); }
ListedPage CDirManager::Previous(int& index) { return MoveCursor(Move::kPrevious, index); }
ListedPage CDirManager::First(int& index) { return MoveCursor(Move::kFirst, index); }
ListedPage CDirManager::Last(int& index) { return MoveCursor(Move::kLast, index); }

ListedPage CDirManager::MoveTo(int index) {
  CheckForChanges();
  if (index < 1 || index > GetCount()) return {};
  m_current = index - 1;
  ListedPage page = Listed(static_cast<size_t>(m_current));
  m_currentPath = m_book ? fs::path() : page.file;
  return page;
}

ListedPage CDirManager::PageAt(int index) const {
  if (index < 1 || index > GetCount()) return {};
  return Listed(static_cast<size_t>(index - 1));
}

const PageEntry& CDirManager::EntryAt(int index) const {
  static const PageEntry kNone;
  if (index < 1 || index > GetCount()) return kNone;
  return Entry(static_cast<size_t>(index - 1));
}

int CDirManager::GetCurrentIndex() const {
  if (m_order.empty() || m_current < 0) return 0;
  return m_current + 1;
}

int CDirManager::GetCount() const { return static_cast<int>(m_order.size()); }

void CDirManager::SetOrder(int type, int direction) {
  const ListedPage remembered =
      m_current >= 0 ? Listed(static_cast<size_t>(m_current)) : ListedPage();
  SaveOrder(type, direction);
  if (!m_source) return;
  Sort();
  if (remembered.empty()) return;
  if (m_book) {
    LocateEntry(remembered.entry);
  } else {
    Locate(remembered.file);
  }
}
void CDirManager::LoadOrder() {
  QSettings settings(QStringLiteral("Quillmark's Tools"), QStringLiteral("Inkbrite"));
  settings.beginGroup(QLatin1String(kOrderGroup));
  g_sortType = settings.value(QLatin1String(kSortTypeKey), 0).toInt();
  g_sortDir = settings.value(QLatin1String(kSortDirKey), 0).toInt();
}

void CDirManager::SaveOrder(int type, int direction) {
  g_sortType = type;
  g_sortDir = direction;
  QSettings settings(QStringLiteral("Quillmark's Tools"), QStringLiteral("Inkbrite"));
  settings.beginGroup(QLatin1String(kOrderGroup));
  settings.setValue(QLatin1String(kSortTypeKey), type);
  settings.setValue(QLatin1String(kSortDirKey), direction);
}

int CDirManager::SortType() { return g_sortType; }
int CDirManager::SortDir() { return g_sortDir; }

}  // namespace inkbrite
