// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/page_prefetch.h"

#include <algorithm>
#include <functional>
#include <new>
#include <system_error>
#include <utility>

#include "formats/detect.h"
#include "formats/file_probe.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/picture_size.h"

namespace inkbrite {

namespace {

// A folder page whose file's header gives more than `maxPixels`.
bool TooBigToDecodeAhead(const PageSource& source, size_t index, uint64_t maxPixels) {
  if (index >= source.PageCount()) return false;
  const std::filesystem::path& file = source.Pages()[index].path;
  PictureSize size;
  return !file.empty() && ReadPictureFileSize(file, size) && size.Pixels() > maxPixels;
}

// A page decoded by `load` (given the picture, its grey flag and status).
DecodedPage DecodeWith(const std::function<SourceError(DibImage&, int*, ReadStatus*,
                                                       std::optional<JpegQuantisers>*)>& load) {
  DecodedPage result;
  try {
    auto image = std::make_shared<DibImage>();
    result.error = load(*image, &result.grey, &result.status, &result.jpeg);
    if (result.error == SourceError::kNone) result.image = std::move(image);
    result.noMemory =
        result.status.error == ReadError::kOutOfMemory || result.error == SourceError::kOverMemory;
  } catch (const std::bad_alloc&) {
    result.error = SourceError::kPageUnreadable;
    result.noMemory = true;
  } catch (const std::exception&) {
    result.error = SourceError::kPageUnreadable;
  }
  if (!result.image) result.grey = 0;
  return result;
}

// A picture file's page from its probe, with its JPEG table.
DecodedPage DecodeProbed(FileProbe& file) {
  return DecodeWith(
      [&file](DibImage& image, int* grey, ReadStatus* status, std::optional<JpegQuantisers>* jpeg) {
        if (!LoadImageFile(file, image, grey, status)) return SourceError::kPageUnreadable;
        JpegQuantisers tables;
        if (DetectImageFormat(file) == kFormatJpeg && ReadJpegQuantisers(file, tables)) {
          *jpeg = tables;
        }
        return SourceError::kNone;
      });
}

// The page to decode ahead; *decoded false, nothing decoded, for a page
// whose file's header gives more than `maxPixels`. A folder's page file is
// opened once for its header and its decoding.
DecodedPage DecodeAhead(PageSource& source, size_t index, uint64_t maxPixels, bool& decoded) {
  decoded = false;
  DecodedPage page;
  try {
    if (source.Kind() != SourceKind::kFolder || index >= source.PageCount() ||
        source.Pages()[index].path.empty()) {
      decoded = !TooBigToDecodeAhead(source, index, maxPixels);
      return decoded ? DecodePage(source, index) : page;
    }
    FileProbe file(source.Pages()[index].path);
    PictureSize size;
    if (ReadPictureFileSize(file, size) && size.Pixels() > maxPixels) return page;
    decoded = true;
    return DecodeProbed(file);
  } catch (const std::exception&) {
    page.noMemory = true;
  }
  return page;
}

}  // namespace

DecodedPage DecodePage(PageSource& source, size_t index) {
  return DecodeWith([&source, index](DibImage& image, int* grey, ReadStatus* status,
                                     std::optional<JpegQuantisers>* jpeg) {
    return source.LoadPage(index, image, grey, status, jpeg);
  });
}

DecodedPage DecodePageFile(const std::filesystem::path& file) {
  FileProbe probe(file);
  return DecodeProbed(probe);
}

void FitAhead(DecodedPage& page, int32_t boxWidth, int32_t boxHeight) {
  int32_t width = 0, height = 0;
  page.image->FitSize(boxWidth, boxHeight, width, height);
  if (width <= 0 || height <= 0 ||
      (width == page.image->Width() && height == page.image->Height())) {
    return;
  }
  try {
    auto fitted = std::make_shared<DibImage>(*page.image);
    if (!fitted->ResizeTo(width, height)) return;
    page.fitted = std::move(fitted);
    page.fitBoxWidth = boxWidth;
    page.fitBoxHeight = boxHeight;
  } catch (const std::bad_alloc&) {
    // The window fits it when it shows it.
  }
}

CPagePrefetch::CPagePrefetch() = default;

CPagePrefetch::~CPagePrefetch() { Stop(); }

void CPagePrefetch::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

bool CPagePrefetch::IsWantedLocked(size_t index) const {
  return std::find(m_wanted.begin(), m_wanted.end(), index) != m_wanted.end();
}

void CPagePrefetch::Want(std::shared_ptr<PageSource> source, size_t readAheadFrom,
                         std::vector<size_t> pages) {
  {
    std::lock_guard lock(m_mutex);
    if (m_stop) return;
    if (source != m_source) m_kept.clear();
    m_source = std::move(source);
    m_wanted = std::move(pages);
    m_readAheadDue = m_source && m_source->IsBook();
    m_readAheadFrom = readAheadFrom;
    std::erase_if(m_kept, [this](const Kept& k) { return !IsWantedLocked(k.index); });
    if (!m_thread.joinable()) {
      try {
        m_thread = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        // No thread to be had: nothing is decoded ahead, and each page is
        // decoded when it is opened (Take).
        m_source.reset();
        m_wanted.clear();
        return;
      }
    }
  }
  m_changed.notify_all();
}

void CPagePrefetch::SetFitBox(int32_t width, int32_t height) {
  std::lock_guard lock(m_mutex);
  m_fitWidth = std::max(0, width);
  m_fitHeight = std::max(0, height);
}

void CPagePrefetch::SetReady(std::function<void()> ready) {
  std::lock_guard lock(m_mutex);
  m_ready = std::move(ready);
}

bool CPagePrefetch::Tried(const std::shared_ptr<PageSource>& source, size_t index) const {
  std::lock_guard lock(m_mutex);
  return source == m_source && std::any_of(m_kept.begin(), m_kept.end(),
                                           [index](const Kept& k) { return k.index == index; });
}

void CPagePrefetch::Clear() {
  std::lock_guard lock(m_mutex);
  m_source.reset();
  m_wanted.clear();
  m_kept.clear();
  m_readAheadDue = false;
}

int CPagePrefetch::Decodes() const {
  std::lock_guard lock(m_mutex);
  return m_decodes;
}

void CPagePrefetch::SetMaxPixels(uint64_t pixels) {
  std::lock_guard lock(m_mutex);
  m_maxPixels = pixels;
}

int CPagePrefetch::Hits() const {
  std::lock_guard lock(m_mutex);
  return m_hits;
}

bool CPagePrefetch::Holds(const std::shared_ptr<PageSource>& source, size_t index) const {
  std::lock_guard lock(m_mutex);
  return source == m_source && std::any_of(m_kept.begin(), m_kept.end(), [index](const Kept& k) {
           return k.index == index && k.page.image != nullptr;
         });
}

DecodedPage CPagePrefetch::Take(const std::shared_ptr<PageSource>& source, size_t index) {
  {
    std::unique_lock lock(m_mutex);
    if (source == m_source) {
      // Being decoded now: waiting costs less than decoding it again.
      m_changed.wait(lock, [&] { return !(m_busy && m_busyIndex == index) || m_stop; });
      for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->index != index) continue;
        DecodedPage page = std::move(it->page);
        m_kept.erase(it);
        // A page too big to keep was only looked at: decode it now.
        if (!page.image && page.error == SourceError::kNone) break;
        ++m_hits;
        return page;
      }
    }
  }
  return source ? DecodePage(*source, index) : DecodedPage{};
}

void CPagePrefetch::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    // The next thing to do: the book's read-ahead, then the first wanted
    // page not kept yet.
    size_t next = 0;
    bool decode = false;
    m_changed.wait(lock, [&] {
      if (m_stop) return true;
      if (!m_source) return false;
      if (m_readAheadDue) return true;
      for (size_t index : m_wanted) {
        const bool kept = std::any_of(m_kept.begin(), m_kept.end(),
                                      [index](const Kept& k) { return k.index == index; });
        if (!kept) {
          next = index;
          decode = true;
          return true;
        }
      }
      return false;
    });
    if (m_stop) return;
    std::shared_ptr<PageSource> source = m_source;
    if (m_readAheadDue) {
      m_readAheadDue = false;
      const size_t from = m_readAheadFrom;
      lock.unlock();
      try {
        source->ReadAhead(from);
      } catch (const std::exception&) {
        // No room to read ahead now: the pages are read when they are opened.
      }
      lock.lock();
      continue;
    }
    if (!decode) continue;
    m_busy = true;
    m_busyIndex = next;
    const int32_t boxWidth = m_fitWidth, boxHeight = m_fitHeight;
    const uint64_t maxPixels = m_maxPixels;
    lock.unlock();
    bool decoded = false;
    DecodedPage page = DecodeAhead(*source, next, maxPixels, decoded);
    if ((page.image &&
         uint64_t(page.image->Width()) * uint64_t(page.image->Height()) > maxPixels) ||
        page.noMemory) {
      // Too big to hold a second one, or no room for it now: decoded when
      // it is opened.
      page = DecodedPage{};
    }
    if (page.image && boxWidth > 0 && boxHeight > 0) FitAhead(page, boxWidth, boxHeight);
    lock.lock();
    m_decodes += decoded ? 1 : 0;
    m_busy = false;
    // Kept only while still wanted from the same source; a page too big to
    // keep is kept without its picture, so it is not tried again.
    const bool kept = source == m_source && IsWantedLocked(next);
    if (kept) m_kept.push_back({next, std::move(page)});
    m_changed.notify_all();
    if (kept && m_ready) {
      // Told outside the lock, so the one told may call in at once.
      const std::function<void()> ready = m_ready;
      lock.unlock();
      ready();
      lock.lock();
    }
  }
}

}  // namespace inkbrite
