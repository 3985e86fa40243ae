// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dir_manager.h"

#include <QApplication>
#include <QSettings>
#include <QString>
#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>

#include "browse/ui_services.h"
#include "formats/format_table.h"
#include "platform/ascii_case.h"
#include "platform/dir_watch.h"

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

int CompareFileRecords(const FileRecord& a, const FileRecord& b) {
  int result;
  if (g_sortType == 0) {
    result = CompareNames(a.path, b.path);
  } else if (g_sortType == 2) {
    result = CompareUnsigned(a.sizeHigh, b.sizeHigh);
    if (result == 0) result = CompareUnsigned(a.sizeLow, b.sizeLow);
  } else {
    result = CompareUnsigned(a.creationTime, b.creationTime);
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

void CDirManager::BuildList(const fs::path& directory) {
  m_records.clear();
  m_current = -1;
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

  CSrchDirCounter counter;
  const size_t count = counter.Count(m_directory, ReadablePatterns(), false);
  if (count == 0) return;
  m_records.resize(count);
  CSrchDirCollector collector;
  // Files that vanished since the count leave records unfilled, files that
  // appeared since are left out: keep exactly what was filled.
  const size_t filled =
      collector.Collect(m_directory, ReadablePatterns(), false, fs::path(), m_records);
  m_records.resize(filled);
  if (m_records.empty()) return;
  Sort();
  m_current = 0;
}

void CDirManager::Sort() {
  std::sort(m_records.begin(), m_records.end(),
            [](const FileRecord& a, const FileRecord& b) { return CompareFileRecords(a, b) < 0; });
}

void CDirManager::Locate(const fs::path& path) {
  if (m_records.empty()) {
    m_current = -1;
    return;
  }
  if (path.empty()) return;

  if (g_sortType == 0) {
    // Binary search in name order. Without a match the cursor goes to the
    // first record sorting after the path, or to the last record when the
    // path sorts after all of them.
    ptrdiff_t low = 0;
    ptrdiff_t high = static_cast<ptrdiff_t>(m_records.size()) - 1;
    while (low <= high) {
      const ptrdiff_t middle = low + (high - low) / 2;
      const int c = ApplyDirection(CompareNames(path, m_records[static_cast<size_t>(middle)].path));
      if (c < 0) {
        high = middle - 1;
      } else if (c > 0) {
        low = middle + 1;
      } else {
        m_current = static_cast<int>(middle);
        return;
      }
    }
    const ptrdiff_t last = static_cast<ptrdiff_t>(m_records.size()) - 1;
    m_current = static_cast<int>(std::min(low, last));
    return;
  }

  // Other orders: the first record naming the same file without regard to
  // case; none leaves no cursor.
  const QString key = ToQString(path);
  m_current = -1;
  for (size_t i = 0; i < m_records.size(); ++i) {
    if (QString::compare(ToQString(m_records[i].path), key, Qt::CaseInsensitive) == 0) {
      m_current = static_cast<int>(i);
      return;
    }
  }
}

void CDirManager::CheckForChanges() {
  if (!m_watch || !m_watch->TakeSignal()) return;
  const fs::path directory = m_directory;  // BuildList replaces the member
  BuildList(directory);
  if (!m_currentPath.empty()) Locate(m_currentPath);
}

fs::path CDirManager::MoveCursor(Move move, int& index) {
  CheckForChanges();
  m_currentPath.clear();
  const int count = GetCount();
  index = (move == Move::kNext || move == Move::kLast) ? count : 0;
  if (m_current < 0 || m_records.empty()) return {};

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
  m_currentPath = m_records[static_cast<size_t>(m_current)].path;
  return m_currentPath;
}

fs::path CDirManager::Next(int& index) { return MoveCursor(Move::kNext, index); }
fs::path CDirManager::Previous(int& index) { return MoveCursor(Move::kPrevious, index); }
fs::path CDirManager::First(int& index) { return MoveCursor(Move::kFirst, index); }
fs::path CDirManager::Last(int& index) { return MoveCursor(Move::kLast, index); }

int CDirManager::GetCurrentIndex() const {
  if (m_records.empty() || m_current < 0) return 0;
  return m_current + 1;
}

int CDirManager::GetCount() const { return static_cast<int>(m_records.size()); }

void CDirManager::SetOrder(int type, int direction) {
  const fs::path remembered =
      m_current >= 0 ? m_records[static_cast<size_t>(m_current)].path : fs::path();
  SaveOrder(type, direction);
  Sort();
  if (!remembered.empty()) Locate(remembered);
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
