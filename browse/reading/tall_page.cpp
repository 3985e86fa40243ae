// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/tall_page.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>

#include "formats/page_rows.h"
#include "sources/page_source.h"

namespace inkbrite {

namespace {

// About this many fitted rows a piece, and at least this many page rows
// read beyond its edges (the bicubic kernel reaches two rows, scaled when
// shrinking).
constexpr int32_t kPieceRows = 512;
constexpr int32_t kLeastMargin = 4;

int32_t RoundUpTo(int64_t value, int32_t multiple) {
  return static_cast<int32_t>((value + multiple - 1) / multiple * multiple);
}

}  // namespace

bool IsTallPage(int32_t width, int32_t height) {
  return width > 0 && height >= kTallPageRows && int64_t{height} > int64_t{width} * 4;
}

TallGeometry TallGeometry::For(int32_t width, int32_t height, int32_t column) {
  TallGeometry g;
  g.width = std::max(width, 1);
  g.height = std::max(height, 1);
  g.column = std::max(column, 1);
  const int32_t common = std::gcd(g.column, g.width);
  g.up = g.column / common;
  g.down = g.width / common;
  g.step = RoundUpTo(int64_t{kPieceRows} * g.down / g.up, g.down);
  const int64_t reach = int64_t{kLeastMargin} * g.width / g.column + kLeastMargin;
  g.margin = RoundUpTo(reach, g.down);
  return g;
}

int TallGeometry::Pieces() const { return static_cast<int>((height + step - 1) / step); }

int64_t TallGeometry::Top(int k) const {
  // Whole steps scale exactly; the last piece's rows are rounded.
  const int full = std::min(k, height / step);
  int64_t top = int64_t{full} * step / down * up;
  if (k > full) top += (int64_t{height - full * step} * up * 2 + down) / (2 * down);
  return top;
}

int32_t TallGeometry::Rows(int k) const { return static_cast<int32_t>(Top(k + 1) - Top(k)); }

int TallGeometry::PieceAt(int64_t y) const {
  const int last = Pieces() - 1;
  const int guess = static_cast<int>(std::clamp<int64_t>(y * down / up / step, 0, last));
  int k = guess;
  while (k > 0 && Top(k) > y) --k;
  while (k < last && Top(k + 1) <= y) ++k;
  return k;
}

TallPageBands::TallPageBands(std::shared_ptr<PageSource> source, size_t index,
                             TallGeometry geometry)
    : m_source(std::move(source)), m_index(index), m_geometry(geometry) {}

TallPageBands::~TallPageBands() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void TallPageBands::Want(std::vector<int> pieces) {
  std::sort(pieces.begin(), pieces.end());
  {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_pieces, [&](const auto& kept) {
      return !std::binary_search(pieces.begin(), pieces.end(), kept.first);
    });
    m_wanted = std::move(pieces);
  }
  if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
  m_wake.notify_all();
}

std::unique_ptr<TallPiece> TallPageBands::Take(int piece) {
  std::lock_guard lock(m_mutex);
  auto it = m_pieces.find(piece);
  if (it == m_pieces.end()) return nullptr;
  std::unique_ptr<TallPiece> taken = std::move(it->second);
  m_pieces.erase(it);
  // Handed over: no longer wanted from here.
  std::erase(m_wanted, piece);
  return taken;
}

void TallPageBands::WantSample() {
  {
    std::lock_guard lock(m_mutex);
    if (m_sampleWanted) return;
    m_sampleWanted = true;
  }
  if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
  m_wake.notify_all();
}

std::shared_ptr<const DibImage> TallPageBands::Sample() const {
  std::lock_guard lock(m_mutex);
  return m_sample;
}

bool TallPageBands::Unstreamable() const {
  std::lock_guard lock(m_mutex);
  return m_unstreamable;
}

int TallPageBands::Made() const {
  std::lock_guard lock(m_mutex);
  return m_made;
}

int TallPageBands::Opens() const {
  std::lock_guard lock(m_mutex);
  return m_opens;
}

void TallPageBands::Run() {
  for (;;) {
    int next = -1;
    {
      std::unique_lock lock(m_mutex);
      // The first wanted piece below the rows read goes on reading; one
      // above them opens the file again.
      const auto due = [&] {
        if (m_stop || m_unstreamable) return true;
        next = -1;
        if (m_sampleWanted && !m_sampleTried) return true;
        for (int piece : m_wanted) {
          if (m_pieces.count(piece)) continue;
          const bool ahead = piece * int64_t{m_geometry.step} >= m_lastTop;
          if (next < 0 || (ahead && next * int64_t{m_geometry.step} < m_lastTop)) next = piece;
          if (ahead) break;
        }
        return next >= 0;
      };
      m_wake.wait(lock, due);
      if (m_stop) return;
      if (m_unstreamable) {
        lock.unlock();
        if (m_ready) m_ready();
        return;
      }
    }
    if (next < 0) {
      std::shared_ptr<const DibImage> sample = MakeSample();
      {
        std::lock_guard lock(m_mutex);
        m_sampleTried = true;
        m_sample = std::move(sample);
      }
      if (m_ready) m_ready();
      continue;
    }
    std::unique_ptr<TallPiece> made = Make(next);
    {
      std::lock_guard lock(m_mutex);
      if (!made) {
        m_unstreamable = true;
      } else {
        ++m_made;
        if (std::binary_search(m_wanted.begin(), m_wanted.end(), next)) {
          m_pieces[next] = std::move(made);
        }
      }
    }
    if (m_ready) m_ready();
  }
}

bool TallPageBands::Open() {
  m_reader.reset();
  m_lastBand.Clear();
  m_lastTop = 0;
  m_nextRow = 0;
  {
    std::lock_guard lock(m_mutex);
    ++m_opens;
  }
  if (m_bytes.empty() && m_source->ReadPage(m_index, m_bytes) != SourceError::kNone) return false;
  const std::string& name = m_source->Pages().at(m_index).name;
  m_reader = OpenPageRowReaderMemory(m_bytes.data(), m_bytes.size(), name);
  return m_reader && m_reader->Width() == m_geometry.width &&
         m_reader->Height() == m_geometry.height;
}

bool TallPageBands::ReadBand(int32_t top, int32_t bottom, DibImage& band) {
  if (!m_reader || top < m_lastTop) {
    if (!Open()) return false;
  }
  if (!band.Create(m_geometry.width, bottom - top, 24)) return false;
  const size_t rowBytes = static_cast<size_t>(m_geometry.width) * 3;
  // The rows of the band read before, then the file's next rows.
  int32_t y = top;
  for (; y < bottom && y < m_nextRow && !m_lastBand.IsEmpty(); ++y) {
    std::memcpy(band.Row(y - top), m_lastBand.Row(y - m_lastTop), rowBytes);
  }
  if (m_nextRow < top) {
    if (!m_reader->SkipRows(top - m_nextRow)) return false;
    m_nextRow = top;
  }
  for (; y < bottom; ++y, ++m_nextRow) {
    if (!m_reader->ReadRows(band.Row(y - top), rowBytes, 1)) return false;
  }
  m_lastBand = band;
  m_lastTop = top;
  return true;
}

std::shared_ptr<const DibImage> TallPageBands::MakeSample() {
  const TallGeometry& g = m_geometry;
  const int32_t rows = std::min(g.height, kSampleRows);
  std::shared_ptr<DibImage> sample;
  try {
    sample = std::make_shared<DibImage>();
    const size_t rowBytes = static_cast<size_t>(g.width) * 3;
    bool read = Open() && sample->Create(g.width, rows, 24);
    // Row k from the middle of the k-th of `rows` equal bands, top first.
    for (int32_t k = 0; read && k < rows; ++k) {
      const auto y = static_cast<int32_t>((int64_t{2} * k + 1) * g.height / (int64_t{2} * rows));
      read = (y == m_nextRow || m_reader->SkipRows(y - m_nextRow)) &&
             m_reader->ReadRows(sample->Row(k), rowBytes, 1);
      m_nextRow = y + 1;
    }
    if (!read) sample.reset();
  } catch (const std::bad_alloc&) {
    sample.reset();
  }
  // The pieces read from the top again (a file that does not stream is
  // found so by the first of them).
  m_reader.reset();
  return sample;
}

std::unique_ptr<TallPiece> TallPageBands::Make(int piece) {
  const TallGeometry& g = m_geometry;
  auto made = std::make_unique<TallPiece>();
  const int32_t own = piece * g.step;
  const int32_t top = std::max(own - g.margin, 0);
  const auto bottom =
      static_cast<int32_t>(std::min(int64_t{own} + g.step + g.margin, int64_t{g.height}));
  try {
    DibImage band;
    if (!ReadBand(top, bottom, band)) {
      // A file that streams but fails in its rows is unreadable there; one
      // that does not stream is decoded whole by the caller.
      if (!m_reader) return nullptr;
      made->failed = true;
      m_reader.reset();
      return made;
    }
    // The band fitted by the page's scale: its top row falls on the fitted
    // page's row top * up / down exactly.
    const int64_t fittedTop = int64_t{top} / g.down * g.up;
    const int64_t fittedBottom =
        bottom == g.height ? g.FittedHeight() : int64_t{bottom} / g.down * g.up;
    if (!band.ResizeTo(g.column, static_cast<int32_t>(fittedBottom - fittedTop))) {
      made->failed = true;
      return made;
    }
    const int64_t from = std::max(g.Top(piece) - kPieceContext, fittedTop);
    const int64_t to = std::min(g.Top(piece + 1) + kPieceContext, fittedBottom);
    made->above = static_cast<int32_t>(g.Top(piece) - from);
    made->rows = g.Rows(piece);
    if (!made->image.Create(g.column, static_cast<int32_t>(to - from), 24)) {
      made->failed = true;
      return made;
    }
    const size_t rowBytes = static_cast<size_t>(g.column) * 3;
    for (int64_t y = from; y < to; ++y) {
      std::memcpy(made->image.Row(static_cast<int32_t>(y - from)),
                  band.Row(static_cast<int32_t>(y - fittedTop)), rowBytes);
    }
  } catch (const std::bad_alloc&) {
    made->image.Clear();
    made->failed = true;
  }
  return made;
}

}  // namespace inkbrite
