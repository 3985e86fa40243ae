// SPDX-License-Identifier: GPL-2.0-or-later
// TallPage: a page far taller than it is wide (one image of a whole webtoon
// chapter, 800 x 60,000 pixels) shown in the continuous layout in pieces,
// each a band of the page fitted to the column, decoded from the file a
// band of rows at a time (formats/page_rows.h) so the page is never whole
// in memory, neither at its own size nor fitted. Only the pieces the view
// asks for are made and kept.
//
// A piece is `step` rows of the page (the last fewer), about 512 rows
// fitted to the column: its band is read with `margin` rows either side and
// resampled whole, so the resampler sees the rows beyond the piece's edges
// as they are; `step` and `margin` are multiples of the scale's denominator,
// so every band starts on a whole fitted row. Each band is fitted on its own
// (the resampler's step, rounded to 1/256 of a row, drifts over a band, not
// over the whole page): every fitted row shows the page's row at its place
// within a fraction of a row, where the page fitted whole drifts by rows
// towards its top. Each piece
// keeps kPieceContext fitted rows above and below it (where the page has
// them) for the enhancement's filters, whose rows the piece is drawn
// without.
//
// The rows are read in order: a piece above the rows read opens the file
// again. The band read last is kept, so the next piece down reads only its
// new rows.
//
// Threads: the calls from one owning thread; the pieces are made on a
// thread of the object's own, `ready` called there as each is kept.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite {

class PageSource;
class PageRowReader;

// Pages at least this tall, and more than four times as tall as wide, are
// shown in pieces.
inline constexpr int32_t kTallPageRows = 4096;
bool IsTallPage(int32_t width, int32_t height);

inline constexpr int32_t kPieceContext = 2;
inline constexpr int32_t kSampleRows = 384;

// How a page of width x height is cut into pieces for a column.
struct TallGeometry {
  int32_t width = 0, height = 0, column = 0;
  int32_t step = 0;          // page rows per piece
  int32_t margin = 0;        // page rows read beyond each side of a piece
  int32_t up = 1, down = 1;  // the scale column / width, reduced

  static TallGeometry For(int32_t width, int32_t height, int32_t column);
  int Pieces() const;
  // Piece k's first row in the fitted page and its rows.
  int64_t Top(int k) const;
  int32_t Rows(int k) const;
  // The fitted page's height (the pieces' rows together).
  int64_t FittedHeight() const { return Top(Pieces()); }
  // The piece whose rows hold fitted row `y` (clamped to the pieces).
  int PieceAt(int64_t y) const;
};

struct TallPiece {
  DibImage image;       // the piece with its context rows, column wide
  int32_t above = 0;    // context rows above the piece's own
  int32_t rows = 0;     // the piece's own rows
  bool failed = false;  // the file could not be read there
};

class TallPageBands {
 public:
  // Page `index` of `source`, of the size its header gave, for `column`.
  TallPageBands(std::shared_ptr<PageSource> source, size_t index, TallGeometry geometry);
  ~TallPageBands();
  TallPageBands(const TallPageBands&) = delete;
  TallPageBands& operator=(const TallPageBands&) = delete;

  const TallGeometry& Geometry() const { return m_geometry; }
  // Called on the object's thread each time a piece is kept, or when the
  // page turns out not to read in bands. Set before the first Want.
  void SetReady(std::function<void()> ready) { m_ready = std::move(ready); }
  // The pieces to have ready (made top first); kept pieces not among them
  // are dropped.
  void Want(std::vector<int> pieces);
  // A piece made, handed over (and forgotten here); null when not ready.
  std::unique_ptr<TallPiece> Take(int piece);
  // Rows spread evenly down the whole page (kSampleRows of them, at the
  // page's width), for what is measured on the page rather than on a piece
  // (auto levels): read before any piece once asked for. Null until then,
  // and when the file fails there.
  void WantSample();
  std::shared_ptr<const DibImage> Sample() const;
  // The file does not read in bands (not a format that streams) or its
  // header failed: the page is to be decoded whole.
  bool Unstreamable() const;
  // Pieces made so far, and how often the file was opened.
  int Made() const;
  int Opens() const;

 private:
  void Run();
  std::unique_ptr<TallPiece> Make(int piece);
  std::shared_ptr<const DibImage> MakeSample();
  bool Open();
  // Reads page rows [top, bottom) into `band` (24-bit), reusing the band
  // read before where it overlaps.
  bool ReadBand(int32_t top, int32_t bottom, DibImage& band);

  const std::shared_ptr<PageSource> m_source;
  const size_t m_index;
  const TallGeometry m_geometry;
  std::function<void()> m_ready;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<int> m_wanted;                           // guarded by m_mutex
  std::map<int, std::unique_ptr<TallPiece>> m_pieces;  // likewise
  bool m_stop = false;                                 // likewise
  bool m_unstreamable = false;                         // likewise
  bool m_sampleWanted = false, m_sampleTried = false;  // likewise
  std::shared_ptr<const DibImage> m_sample;            // likewise
  int m_made = 0, m_opens = 0;                         // likewise

  // The object's thread's own.
  std::vector<uint8_t> m_bytes;
  std::unique_ptr<PageRowReader> m_reader;
  int32_t m_nextRow = 0;
  DibImage m_lastBand;
  int32_t m_lastTop = 0;
  std::thread m_thread;
};

}  // namespace inkbrite
