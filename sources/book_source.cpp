// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/book_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "sources/book_limits.h"
#include "sources/natural_order.h"
#include "sources/pdf_reader.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The book row of bytes in memory, by their content alone.
ImageFormat BookKindOfBytes(const uint8_t* data, size_t size) {
  const FileFormat* row =
      FindFileFormat(DetectImageFormatInMemory(data, std::min<size_t>(size, 16), ""));
  if (row != nullptr && row->role == FormatRole::kBook) return row->code;
  if (size >= 262 && std::memcmp(data + 257, "ustar", 5) == 0) return kFormatTarBook;
  return kFormatUnknown;
}

}  // namespace

BookSource::BookSource(fs::path path)
    : PageSource(SourceKind::kBook, std::move(path)),
      m_aheadBytes(kReadAheadBytes),
      m_aheadPages(kReadAheadPages) {}

BookSource::~BookSource() = default;

std::unique_ptr<BookSource> BookSource::Open(const fs::path& path, SourceError& error) {
  std::unique_ptr<BookSource> book(new BookSource(path));
  const ImageFormat kind = BookKindOf(path);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    error = SourceError::kOpenFailed;
  } else if (kind == kFormatUnknown) {
    error = SourceError::kNotABook;
  } else {
    error = kind == kFormatPdfBook ? book->OpenPdf(nullptr, 0) : book->OpenArchive(nullptr, 0);
  }
  if (error != SourceError::kNone) book.reset();
  return book;
}

std::unique_ptr<BookSource> BookSource::OpenMemory(const uint8_t* data, size_t size,
                                                   SourceError& error) {
  std::unique_ptr<BookSource> book(new BookSource(fs::path()));
  const ImageFormat kind = data == nullptr ? kFormatUnknown : BookKindOfBytes(data, size);
  if (kind == kFormatUnknown) {
    error = SourceError::kNotABook;
  } else {
    error = kind == kFormatPdfBook ? book->OpenPdf(data, size) : book->OpenArchive(data, size);
  }
  if (error != SourceError::kNone) book.reset();
  return book;
}

std::unique_ptr<BookSource> BookSource::OpenFolder(const fs::path& folder,
                                                   const std::vector<std::string>& names,
                                                   SourceError& error) {
  std::unique_ptr<BookSource> book(new BookSource(folder));
  book->m_folder = true;
  std::error_code ec;
  auto entryOf = [&folder, &ec](const std::string& name) {
    BookEntry b;
    b.entry.name = name;
    const fs::path path = folder / name;
    const fs::file_status st = fs::status(path, ec);
    b.entry.type = fs::is_regular_file(st) ? EntryType::kFile : EntryType::kOther;
    const uintmax_t size = fs::file_size(path, ec);
    b.entry.sizeKnown = !ec;
    b.entry.size = ec ? 0 : size;
    struct stat s = {};
    b.entry.mtimeKnown = stat(path.c_str(), &s) == 0;
    b.entry.mtime = b.entry.mtimeKnown ? static_cast<int64_t>(s.st_mtime) : 0;
    return b;
  };
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (EqualsIgnoringAsciiCase(name, "ComicInfo.xml")) {
      book->m_entries.push_back(entryOf(name));
      break;
    }
  }
  for (const std::string& name : names) {
    if (name.find('/') != std::string::npos || !IsPageEntryName(name)) continue;
    BookEntry b = entryOf(name);
    b.page = b.entry.type == EntryType::kFile;
    book->m_entries.push_back(std::move(b));
  }
  error = fs::is_directory(folder, ec) ? book->TakeListing() : SourceError::kOpenFailed;
  if (error != SourceError::kNone) book.reset();
  return book;
}

SourceError BookSource::ReadFolderFile(size_t entry, uint64_t maxBytes,
                                       std::vector<uint8_t>& bytes) const {
  const ArchiveEntry& e = m_entries[entry].entry;
  if (e.type != EntryType::kFile) return SourceError::kUnsafeName;
  std::error_code ec;
  const fs::path path = Path() / e.name;
  const uintmax_t size = fs::file_size(path, ec);
  if (!ec && size > maxBytes) return SourceError::kTooLarge;
  return ReadFileBytes(path, maxBytes, bytes) ? SourceError::kNone : SourceError::kPageUnreadable;
}

SourceError BookSource::OpenArchive(const uint8_t* data, size_t size) {
  m_archive = std::make_unique<ArchiveReader>();
  const SourceError e =
      data != nullptr ? m_archive->OpenMemory(data, size) : m_archive->Open(Path());
  if (e != SourceError::kNone) return e;
  m_container = m_archive->Kind();
  for (const ArchiveEntry& entry : m_archive->Entries()) {
    BookEntry b;
    b.entry = entry;
    b.page = entry.type == EntryType::kFile && !entry.unsafe && IsPageEntryName(entry.name);
    m_entries.push_back(std::move(b));
  }
  return TakeListing();
}

SourceError BookSource::OpenPdf(const uint8_t* data, size_t size) {
  m_pdf = std::make_unique<PdfReader>();
  const SourceError e = data != nullptr ? m_pdf->OpenMemory(data, size) : m_pdf->Open(Path());
  if (e != SourceError::kNone) return e;
  m_container = kFormatPdfBook;
  for (size_t i = 0; i < m_pdf->PageCount(); ++i) {
    BookEntry b;
    b.entry.name = std::to_string(i + 1);
    b.page = true;
    m_entries.push_back(std::move(b));
  }
  return TakeListing();
}

// The pages in natural order of their names (a PDF's in its order), and the
// limits the listing is held to.
SourceError BookSource::TakeListing() {
  std::vector<size_t> order;
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (m_entries[i].page) order.push_back(i);
  }
  if (!IsPdf()) {
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
      return NaturalLess(m_entries[a].entry.name, m_entries[b].entry.name);
    });
  }
  for (size_t p = 0; p < order.size(); ++p) {
    BookEntry& b = m_entries[order[p]];
    b.pageIndex = p;
    PageEntry page;
    page.name = b.entry.name;
    page.size = b.entry.size;
    page.time = b.entry.mtimeKnown ? WindowsFileTime(b.entry.mtime) : 0;
    m_pages.push_back(std::move(page));
  }
  m_entryOfPage = std::move(order);
  if (m_pages.empty()) return SourceError::kNoPages;
  return CheckLimits();
}

SourceError BookSource::CheckLimits() const {
  if (!m_archive) return SourceError::kNone;
  const uint64_t archiveBytes = m_archive->ArchiveSize();
  // Far more than the archive could hold: a bomb, not a book.
  auto beyondRatio = [archiveBytes](uint64_t bytes) {
    return bytes >= kRatioCheckedFrom && bytes / kMaxBookRatio > archiveBytes;
  };
  for (size_t entry : m_entryOfPage) {
    if (m_entries[entry].entry.encrypted) return SourceError::kEncrypted;
  }
  // Every file counts, page or not: an entry copied into the converted book
  // as it is costs its unpacking just the same.
  uint64_t total = 0;
  for (const BookEntry& b : m_entries) {
    const ArchiveEntry& e = b.entry;
    if (e.type != EntryType::kFile || !e.sizeKnown) continue;
    if ((b.page && e.size > kMaxPageFileBytes) || beyondRatio(e.size)) {
      return SourceError::kTooLarge;
    }
    total += e.size;
  }
  if (total > kMaxBookBytes || beyondRatio(total)) return SourceError::kTooLarge;
  return SourceError::kNone;
}

bool BookSource::InOrderOnly() const { return m_archive && m_archive->InOrderOnly(); }

ComicInfo BookSource::Info() {
  std::lock_guard lock(m_mutex);
  if (m_info) return *m_info;
  m_info = ComicInfo{};
  if (m_folder) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < m_entries.size(); ++i) {
      if (m_entries[i].page || ReadFolderFile(i, kMaxComicInfoBytes, bytes) != SourceError::kNone) {
        continue;
      }
      ParseComicInfo(bytes.data(), bytes.size(), *m_info);
      break;
    }
    return *m_info;
  }
  if (!m_archive) return *m_info;
  // The one at the top of the book, else the first anywhere in it.
  size_t found = m_entries.size();
  for (size_t i = 0; i < m_entries.size(); ++i) {
    const ArchiveEntry& e = m_entries[i].entry;
    if (e.type != EntryType::kFile || e.unsafe) continue;
    const size_t slash = e.name.rfind('/');
    const std::string_view last = slash == std::string::npos
                                      ? std::string_view(e.name)
                                      : std::string_view(e.name).substr(slash + 1);
    if (!EqualsIgnoringAsciiCase(last, "ComicInfo.xml")) continue;
    if (found == m_entries.size() || slash == std::string::npos) found = i;
    if (slash == std::string::npos) break;
  }
  std::vector<uint8_t> bytes;
  if (found < m_entries.size() &&
      m_archive->ReadEntry(found, kMaxComicInfoBytes, bytes) == SourceError::kNone) {
    ParseComicInfo(bytes.data(), bytes.size(), *m_info);
  }
  return *m_info;
}

bool BookSource::WantedAhead(size_t page) const {
  return page + 1 >= m_current && page <= m_current + m_aheadPages;
}

void BookSource::Keep(size_t page, const std::vector<uint8_t>& bytes) {
  if (m_kept.count(page) != 0 || !WantedAhead(page)) return;
  TrimKept();
  if (m_keptBytes + bytes.size() > m_aheadBytes) return;
  m_kept.emplace(page, bytes);
  m_keptBytes += bytes.size();
}

// Drops the pages outside the window around the current page, then the
// farthest ones while the budget is passed.
void BookSource::TrimKept() {
  auto drop = [this](std::map<size_t, std::vector<uint8_t>>::iterator it) {
    m_keptBytes -= it->second.size();
    return m_kept.erase(it);
  };
  for (auto it = m_kept.begin(); it != m_kept.end();) {
    it = WantedAhead(it->first) ? std::next(it) : drop(it);
  }
  while (m_keptBytes > m_aheadBytes && !m_kept.empty()) {
    auto first = m_kept.begin();
    auto last = std::prev(m_kept.end());
    const size_t before = m_current > first->first ? m_current - first->first : 0;
    const size_t after = last->first > m_current ? last->first - m_current : 0;
    drop(before > after ? first : last);
  }
}

SourceError BookSource::ReadPageLocked(size_t page, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (page < m_pages.size() && m_folder) {
    return ReadFolderFile(m_entryOfPage[page], kMaxPageFileBytes, bytes);
  }
  if (page >= m_pages.size() || !m_archive) return SourceError::kPageUnreadable;
  if (auto it = m_kept.find(page); it != m_kept.end()) {
    bytes = it->second;
    return SourceError::kNone;
  }
  const ArchiveReader::WantedEntry wanted = [this](size_t j) -> uint64_t {
    const BookEntry& b = m_entries[j];
    return b.page && WantedAhead(b.pageIndex) && m_kept.count(b.pageIndex) == 0 ? kMaxPageFileBytes
                                                                                : 0;
  };
  const ArchiveReader::KeepEntry keep = [this](size_t j, std::vector<uint8_t>& passed) {
    Keep(m_entries[j].pageIndex, passed);
  };
  const SourceError e =
      m_archive->ReadEntry(m_entryOfPage[page], kMaxPageFileBytes, bytes, wanted, keep);
  if (e == SourceError::kNone) Keep(page, bytes);
  return e;
}

SourceError BookSource::ReadPage(size_t index, std::vector<uint8_t>& bytes) {
  std::lock_guard lock(m_mutex);
  if (index < m_pages.size()) {
    m_current = index;
    TrimKept();
  }
  return ReadPageLocked(index, bytes);
}

uint64_t BookSource::DrawnPixels(size_t page) const {
  if (!m_pdf || page >= m_pdf->PageSizes().size()) return 0;
  const PdfPageSize& size = m_pdf->PageSizes()[page];
  return uint64_t{static_cast<uint32_t>(size.width)} * static_cast<uint32_t>(size.height);
}

SourceError BookSource::LoadPage(size_t index, DibImage& image, int* greySource, ReadStatus* status,
                                 std::optional<JpegQuantisers>* jpeg) {
  if (index >= m_pages.size()) return SourceError::kPageUnreadable;
  if (m_pdf) {
    std::lock_guard lock(m_mutex);
    return m_pdf->LoadPage(index, image, greySource);
  }
  std::vector<uint8_t> bytes;
  const SourceError e = ReadPage(index, bytes);
  if (e != SourceError::kNone) return e;
  int loaded = 0;
  try {
    loaded =
        LoadImageMemory(bytes.data(), bytes.size(), m_pages[index].name, image, greySource, status);
    JpegQuantisers tables;
    if (jpeg != nullptr && loaded && ReadJpegQuantisers(bytes.data(), bytes.size(), tables)) {
      *jpeg = tables;
    }
  } catch (...) {
    loaded = 0;
  }
  return loaded ? SourceError::kNone : SourceError::kPageUnreadable;
}

void BookSource::ReadAhead(size_t index) {
  if (!m_archive || index >= m_pages.size()) return;
  {
    std::lock_guard lock(m_mutex);
    m_current = index;
    TrimKept();
  }
  const size_t last = std::min(m_pages.size() - 1, index + m_aheadPages);
  {
    // Refilled once half the pages ahead are used up, not at every page:
    // where the archive stores the pages back to front, each refill starts
    // it again from its start, and a refill keeps every page it passes.
    std::lock_guard lock(m_mutex);
    const size_t half = std::min(last, index + std::max<size_t>(1, m_aheadPages / 2));
    bool needed = false;
    for (size_t page = index + 1; page <= half && !needed; ++page) {
      needed = m_kept.count(page) == 0;
    }
    if (!needed) return;
  }
  std::vector<uint8_t> bytes;
  // One page a time under the lock, so a page asked for meanwhile waits for
  // one read at most.
  for (size_t page = index + 1; page <= last; ++page) {
    std::lock_guard lock(m_mutex);
    if (m_current != index) return;  // the reader moved on: a new read-ahead follows
    if (m_kept.count(page) != 0) continue;
    const uint64_t declared = m_pages[page].size;
    if (m_keptBytes + declared > m_aheadBytes) return;
    if (ReadPageLocked(page, bytes) != SourceError::kNone) return;
  }
}

SourceError BookSource::ReadEntry(size_t index, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
  std::lock_guard lock(m_mutex);
  bytes.clear();
  if (m_folder && index < m_entries.size()) return ReadFolderFile(index, maxBytes, bytes);
  if (!m_archive || index >= m_entries.size()) return SourceError::kPageUnreadable;
  const ArchiveEntry& e = m_entries[index].entry;
  if (e.unsafe || e.type == EntryType::kSymlink || e.type == EntryType::kOther) {
    return SourceError::kUnsafeName;
  }
  return m_archive->ReadEntry(index, maxBytes, bytes);
}

void BookSource::SetReadAhead(uint64_t bytes, size_t pages) {
  std::lock_guard lock(m_mutex);
  m_aheadBytes = bytes;
  m_aheadPages = pages;
  TrimKept();
}

size_t BookSource::Restarts() const {
  std::lock_guard lock(m_mutex);
  return m_archive && m_archive->Starts() > 0 ? m_archive->Starts() - 1 : 0;
}

uint64_t BookSource::ReadAheadHeld() const {
  std::lock_guard lock(m_mutex);
  return m_keptBytes;
}

}  // namespace inkbrite
