// SPDX-License-Identifier: GPL-2.0-or-later
// CPagePrefetch: decodes the pages a reader is about to turn to, on a thread
// of its own, so that the next page shows without waiting for its decoder.
//
// The document says which pages come next in reading order (Want); the
// thread first lets a book read its next pages' bytes ahead
// (PageSource::ReadAhead), then decodes the wanted pages one after the
// other and keeps them. Opening a page takes it from here (Take) when it is
// ready, waits for it when it is being decoded right now, and otherwise
// decodes it itself. Pages no longer wanted are dropped, so at most the
// wanted pages are held; a page of more than kMaxPrefetchPixels is not
// decoded ahead (its bytes are still read ahead in a book). A folder's page
// is measured by its file's header first, so such a page is not even
// decoded to be thrown away (a second big page in memory for a while, and
// the thread, and the viewer's exit, kept busy for half a second).
//
// Threads: Want, Take and Clear from the user-interface thread; the
// decoding on the prefetch thread. The sources are shared, never changed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "sources/page_source.h"

namespace inkbrite {

// Pages larger than this (in pixels) are not decoded ahead: holding one
// more of them would more than double the memory a big page needs.
inline constexpr uint64_t kMaxPrefetchPixels = uint64_t{40} << 20;

// A decoded page and its grey-source flag.
struct DecodedPage {
  std::shared_ptr<const DibImage> image;  // null when the page could not be read
  int grey = 0;
  SourceError error = SourceError::kNone;
  ReadStatus status;      // the reader's reason when it failed
  bool noMemory = false;  // the picture did not fit in memory
  // A JPEG page's own luminance table, read with the page, for the JPEG
  // clean-up (none for another format: the clean-up assumes the usual one).
  std::optional<JpegQuantisers> jpeg;
  // The picture fitted into the box a window showed pages fitted in when it
  // was decoded ahead (DibImage::FitSize, ResizeTo), so the window need not
  // scale it again; null when there was no box or it needs no scaling.
  std::shared_ptr<const DibImage> fitted;
  int32_t fitBoxWidth = 0;
  int32_t fitBoxHeight = 0;
};

class CPagePrefetch {
 public:
  CPagePrefetch();
  ~CPagePrefetch();
  CPagePrefetch(const CPagePrefetch&) = delete;
  CPagePrefetch& operator=(const CPagePrefetch&) = delete;

  // The pages of `source` (indexes into its Pages()) to have ready, nearest
  // first; `readAheadFrom` is the page shown (a book reads ahead after it).
  // Replaces what was wanted before; pages decoded earlier and still wanted
  // are kept.
  void Want(std::shared_ptr<PageSource> source, size_t readAheadFrom, std::vector<size_t> pages);
  // Page `index` of `source`: from the pages decoded ahead (waiting while it
  // is being decoded), else decoded here and now.
  DecodedPage Take(const std::shared_ptr<PageSource>& source, size_t index);
  // The box pages decoded from now on are also fitted into (a window that
  // fits pages to itself); 0 x 0 for none.
  void SetFitBox(int32_t width, int32_t height);
  // Called on the prefetch thread each time a wanted page is kept (a
  // window that shows several pages posts itself a call from there); set
  // before the first Want. Empty for none.
  void SetReady(std::function<void()> ready);
  // Forgets everything wanted and kept (the thread finishes the page it is
  // decoding).
  void Clear();

  // Pages handed out by Take that were decoded ahead, for tests and the
  // benchmark.
  int Hits() const;
  // Whether page `index` of `source` is decoded and kept, ready for Take.
  bool Holds(const std::shared_ptr<PageSource>& source, size_t index) const;
  // Whether page `index` of `source` was tried and kept: decoded, or found
  // unreadable, or too big to decode ahead (Take then decodes it).
  bool Tried(const std::shared_ptr<PageSource>& source, size_t index) const;
  // Pages the thread decoded (kept or not), for tests.
  int Decodes() const;
  // The largest page (in pixels) decoded ahead: kMaxPrefetchPixels unless a
  // test sets another.
  void SetMaxPixels(uint64_t pixels);
  // Stops the thread (the destructor does it too).
  void Stop();

 private:
  struct Kept {
    size_t index = 0;
    DecodedPage page;
  };
  void Run();
  bool IsWantedLocked(size_t index) const;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::shared_ptr<PageSource> m_source;
  std::vector<size_t> m_wanted;
  bool m_readAheadDue = false;
  size_t m_readAheadFrom = 0;
  std::vector<Kept> m_kept;
  bool m_busy = false;  // the thread is decoding m_busyIndex of m_source
  size_t m_busyIndex = 0;
  bool m_stop = false;
  int m_hits = 0;
  int m_decodes = 0;
  uint64_t m_maxPixels = kMaxPrefetchPixels;
  int32_t m_fitWidth = 0;
  int32_t m_fitHeight = 0;
  std::function<void()> m_ready;  // set before the thread starts
  std::thread m_thread;
};

// Adds to a decoded page its copy fitted into boxWidth x boxHeight, when it
// needs scaling and memory allows.
void FitAhead(DecodedPage& page, int32_t boxWidth, int32_t boxHeight);

// Decodes page `index` of `source` (no read-ahead).
DecodedPage DecodePage(PageSource& source, size_t index);
// Decodes a loose picture file, with its JPEG table, from one open.
DecodedPage DecodePageFile(const std::filesystem::path& file);

}  // namespace inkbrite
