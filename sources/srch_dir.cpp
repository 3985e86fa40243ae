// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/srch_dir.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <system_error>
#include <utility>

#include "platform/file_stamp.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Folds one code point to lower case for the comparisons of file names.
// Covers the letters that Windows folds in names people actually use; other
// characters compare as they are.
char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // Latin-1
  if (c >= 0x100 && c <= 0x17F) {                            // Latin Extended-A
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    const bool evenUpper = c < 0x138 || (c > 0x149 && c < 0x178);
    return ((c % 2 == 0) == evenUpper) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;  // full-width Latin
  return c;
}

// UTF-8 to folded code points. A byte that does not start a well-formed
// sequence stands for itself as U+DC00 + byte (a value no valid sequence
// decodes to), so names that are not valid UTF-8 still match byte for byte.
std::u32string DecodeFolded(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b < 0x80) {
      len = 1, c = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, c = b & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    ok = ok && c >= min && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    if (!ok) {
      out.push_back(0xDC00 + b);
      ++i;
      continue;
    }
    out.push_back(FoldCase(c));
    i += len;
  }
  return out;
}

// `*` any run, `?` one code point; both sides already folded. Greedy with
// backtracking to the last star only, so the cost stays near linear.
bool MatchFolded(std::u32string_view p, std::u32string_view n) {
  size_t pi = 0, ni = 0;
  size_t starP = std::u32string_view::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == U'*') {
      starP = pi++;
      starN = ni;
    } else if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++pi, ++ni;
    } else if (starP != std::u32string_view::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  if (pi == p.size()) return true;
  // As on Windows, a trailing ".*" also matches a name without extension.
  return p.size() >= 2 && p.substr(p.size() - 2) == U".*" &&
         MatchFolded(p.substr(0, p.size() - 2), n);
}

std::string Utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

FindData ReadFindData(const fs::path& full, const fs::path& name) {
  FindData data;
  data.name = name;
  FileStamp stamp;
  if (ReadFileStamp(full, stamp)) {
    data.creationTime = stamp.creationTime;
    data.size = stamp.size;
  }
  return data;
}

}  // namespace

struct CSrchDir::Entry {
  fs::path name;
  std::string key;        // UTF-8 name: the sort key
  std::u32string folded;  // for matching
  bool isDirectory = false;
  bool isFile = false;  // regular file, links followed
};

namespace {

// One folder's entries in byte order of their names; empty, with `ec` set,
// when the folder cannot be read. An error part-way keeps what was read so
// far (and sets `ec`).
template <typename Entry>
std::vector<Entry> ReadFolder(const fs::path& dir, std::error_code& ec) {
  std::vector<Entry> entries;
  fs::directory_iterator it(dir, ec);
  const fs::directory_iterator end;
  while (!ec && it != end) {
    Entry e;
    e.name = it->path().filename();
    e.key = Utf8(e.name);
    e.folded = DecodeFolded(e.key);
    std::error_code typeError;
    e.isDirectory = it->is_directory(typeError);
    e.isFile = !e.isDirectory && it->is_regular_file(typeError);
    entries.push_back(std::move(e));
    it.increment(ec);
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.key < b.key; });
  return entries;
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  return MatchFolded(DecodeFolded(pattern), DecodeFolded(name));
}

void CSrchDir::Init(std::string_view patterns, bool includeSubdirs, const fs::path& excluded) {
  m_compiled.clear();
  size_t pos = 0;
  while (pos < patterns.size()) {
    const size_t start = patterns.find_first_not_of(" ;", pos);
    if (start == std::string_view::npos) break;
    size_t stop = patterns.find_first_of(" ;", start);
    if (stop == std::string_view::npos) stop = patterns.size();
    m_compiled.push_back(DecodeFolded(patterns.substr(start, stop - start)));
    pos = stop;
  }
  m_includeSubdirs = includeSubdirs;
  m_stop = false;
  // Made absolute now, so the comparison does not depend on a later change
  // of the working folder; identity is checked at each folder, because the
  // excluded folder may not exist yet.
  std::error_code ec;
  m_excluded = excluded.empty() ? fs::path() : fs::absolute(excluded, ec);
  if (ec) m_excluded = excluded;
}

bool CSrchDir::IsExcluded(const fs::path& dir) const {
  if (m_excluded.empty()) return false;
  std::error_code ec;
  const bool same = fs::equivalent(dir, m_excluded, ec);
  return !ec && same;
}

void CSrchDir::Search(const fs::path& directory) {
  if (directory.empty()) return;
  // The folders walked, by device and inode: a folder reached again through
  // a symbolic link is not walked again, which also ends link loops. (One
  // stat a folder: resolving each folder's whole path would cost the square
  // of the depth.)
  std::set<std::pair<dev_t, ino_t>> visited;
  // Depth first without recursion: subfolders are pushed in reverse order so
  // they come off the stack in name order.
  std::vector<fs::path> pending{directory};
  while (!pending.empty() && !m_stop) {
    const fs::path dir = std::move(pending.back());
    pending.pop_back();
    if (IsExcluded(dir)) continue;
    std::error_code ec;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) ec.assign(errno, std::generic_category());
    // A folder gone since it was listed (or a missing start) is no fault.
    if (ec && ec != std::errc::no_such_file_or_directory) OnFolderUnreadable(dir, ec);
    if (ec || !visited.insert({st.st_dev, st.st_ino}).second) continue;

    const std::vector<Entry> entries = ReadFolder<Entry>(dir, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) OnFolderUnreadable(dir, ec);
    WalkFiles(dir, entries);
    if (!m_includeSubdirs || m_stop) break;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      if (it->isDirectory) pending.push_back(dir / it->name);
    }
  }
}

void CSrchDir::WalkFiles(const fs::path& dir, const std::vector<Entry>& entries) {
  for (const std::u32string& pattern : m_compiled) {
    for (const Entry& e : entries) {
      if (!e.isFile || !MatchFolded(pattern, e.folded)) continue;
      const fs::path full = dir / e.name;
      OnFileFound(full, ReadFindData(full, e.name));
      if (m_stop) return;
    }
  }
}

void CSrchDir::OnFileFound(const fs::path&, const FindData&) {}

void CSrchDir::OnFolderUnreadable(const fs::path&, const std::error_code&) {}

// ---- CSrchDirCounter ----

std::size_t CSrchDirCounter::Count(const fs::path& directory, std::string_view patterns,
                                   bool includeSubdirs, const fs::path& excluded,
                                   StopCheck stopCheck) {
  m_count = 0;
  m_stopCheck = std::move(stopCheck);
  Init(patterns, includeSubdirs, excluded);
  Search(directory);
  m_stopCheck = nullptr;
  if (Stopped()) m_count = 0;  // a stopped count is no count
  return m_count;
}

void CSrchDirCounter::OnFileFound(const fs::path&, const FindData&) {
  if (m_stopCheck && m_stopCheck()) {
    RequestStop();
    m_count = 0;
    return;
  }
  ++m_count;
}

// ---- CSrchDirFirst ----

fs::path CSrchDirFirst::FindFirst(const fs::path& directory, std::string_view patterns,
                                  bool includeSubdirs, const fs::path& excluded) {
  m_result.clear();
  Init(patterns, includeSubdirs, excluded);
  Search(directory);
  return m_result;
}

void CSrchDirFirst::OnFileFound(const fs::path& fullPath, const FindData&) {
  m_result = fullPath;
  RequestStop();
}

// ---- CSrchDirCollector ----

std::size_t CSrchDirCollector::Collect(const fs::path& directory, std::string_view patterns,
                                       bool includeSubdirs, const fs::path& excluded,
                                       std::span<FileRecord> records) {
  m_records = records;
  m_filled = 0;
  Init(patterns, includeSubdirs, excluded);
  if (!records.empty()) Search(directory);
  m_records = {};
  return m_filled;
}

void CSrchDirCollector::OnFileFound(const fs::path& fullPath, const FindData& find) {
  // The array was sized by an earlier count; a file that appeared since has
  // no room and is left out, never written past the end.
  if (m_filled >= m_records.size()) {
    RequestStop();
    return;
  }
  FileRecord& r = m_records[m_filled++];
  r.creationTime = find.creationTime;
  r.sizeHigh = static_cast<uint32_t>(find.size >> 32);
  r.sizeLow = static_cast<uint32_t>(find.size & 0xFFFFFFFFu);
  r.path = fullPath;
  if (m_filled == m_records.size()) RequestStop();  // full: nothing more fits
}

}  // namespace inkbrite
