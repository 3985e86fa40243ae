// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/page_source.h"

#include <cstdio>
#include <cstring>

#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "platform/file_io.h"
#include "sources/book_limits.h"
#include "sources/book_source.h"
#include "sources/srch_dir.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The picture files of one folder, as the walk hands them out.
class FolderLister : public CSrchDir {
 public:
  std::vector<PageEntry> pages;

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& find) override {
    PageEntry page;
    const std::u8string name = find.name.u8string();
    page.name.assign(name.begin(), name.end());
    page.size = find.size;
    page.time = find.creationTime;
    page.path = fullPath;
    pages.push_back(std::move(page));
  }
};

class FolderSource : public PageSource {
 public:
  FolderSource(const fs::path& folder, std::string_view patterns)
      : PageSource(SourceKind::kFolder, folder) {
    FolderLister lister;
    lister.Init(patterns.empty() ? std::string_view(ReadablePatterns()) : patterns, false);
    lister.Search(folder);
    m_pages = std::move(lister.pages);
  }

  SourceError ReadPage(size_t index, std::vector<uint8_t>& bytes) override {
    bytes.clear();
    if (index >= m_pages.size()) return SourceError::kPageUnreadable;
    return ReadFileBytes(m_pages[index].path, kMaxPageFileBytes, bytes) ? SourceError::kNone
                                                                        : SourceError::kOpenFailed;
  }

  using PageSource::LoadPage;
  SourceError LoadPage(size_t index, DibImage& image, int* greySource, ReadStatus* status,
                       std::optional<JpegQuantisers>* jpeg) override {
    if (index >= m_pages.size()) return SourceError::kPageUnreadable;
    int loaded = 0;
    try {
      FileProbe file(m_pages[index].path);
      loaded = LoadImageFile(file, image, greySource, status);
      JpegQuantisers tables;
      if (jpeg != nullptr && loaded && DetectImageFormat(file) == kFormatJpeg &&
          ReadJpegQuantisers(file, tables)) {
        *jpeg = tables;
      }
    } catch (...) {
      loaded = 0;
    }
    return loaded ? SourceError::kNone : SourceError::kPageUnreadable;
  }
};

}  // namespace

size_t PageSource::FindPage(std::string_view name) const {
  for (size_t i = 0; i < m_pages.size(); ++i) {
    if (m_pages[i].name == name) return i;
  }
  return static_cast<size_t>(-1);
}

std::unique_ptr<PageSource> OpenFolderSource(const fs::path& folder, std::string_view patterns) {
  return std::make_unique<FolderSource>(folder, patterns);
}

std::unique_ptr<PageSource> OpenPageSource(const fs::path& path, SourceError& error) {
  error = SourceError::kNone;
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    error = SourceError::kOpenFailed;
    return nullptr;
  }
  if (fs::is_directory(path, ec)) return OpenFolderSource(path);
  if (IsBookFile(path)) return BookSource::Open(path, error);
  const fs::path parent = path.parent_path();
  return OpenFolderSource(parent.empty() ? fs::path(".") : parent);
}

ImageFormat BookKindOf(const fs::path& path) {
  FileProbe file(path);
  return BookKindOf(file);
}

ImageFormat BookKindOf(FileProbe& file) {
  // Enough for the signatures and a tar file's "ustar" mark at byte 257
  // (POSIX and GNU tar).
  constexpr size_t kTarMarkEnd = 262;
  const std::span<const uint8_t> head = file.Head(kTarMarkEnd);
  if (head.empty()) return kFormatUnknown;
  // The signatures alone (no name given).
  const FileFormat* byContent =
      FindFileFormat(DetectImageFormatInMemory(head.data(), head.size(), ""));
  if (byContent != nullptr && byContent->role == FormatRole::kBook) return byContent->code;
  if (head.size() == kTarMarkEnd && std::memcmp(head.data() + 257, "ustar", 5) == 0) {
    return kFormatTarBook;
  }
  // A picture's content wins over a book's name, as it wins over another
  // picture's name.
  if (byContent != nullptr) return kFormatUnknown;
  const FileFormat* named = BookRowOfName(file.Path().filename().native());
  return named != nullptr ? named->code : kFormatUnknown;
}

uint64_t WindowsFileTime(int64_t unixSeconds) {
  if (unixSeconds == 0) return 0;
  // 369 years from 1601 to 1970, in 100 ns units.
  constexpr int64_t kEpochDifference = 11644473600;
  const int64_t seconds = unixSeconds + kEpochDifference;
  return seconds <= 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000u;
}

}  // namespace inkbrite
