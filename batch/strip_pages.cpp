// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/strip_pages.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/para_slots.h"
#include "core/strip_cut.h"

namespace inkbrite {

StripLimit StripLimitOf(int32_t targetHeight, const EnhanceSettings& params) {
  return {targetHeight, params[kFitWidth], params[kFitHeight], params[kResize],
          std::clamp(static_cast<int>(params[kAutoCropTolerance]), 1, 254)};
}

std::string StripPiece::Fields() const {
  const std::string bottom = std::to_string(top + image.Height());
  std::string fields = "cuts=" + std::to_string(top) + "," + bottom;
  if (artCut) fields += "\t" + EngineTextArgs(kStripCutThroughArt, {bottom});
  return fields;
}

std::string StripPageStem(const std::string& stem, size_t n) {
  std::string number = std::to_string(n);
  if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
  return stem + "_" + number;
}

bool StripCutter::Add(DibImage slice, std::vector<StripPiece>& out) {
  if (slice.IsEmpty()) return true;
  if (!slice.Is24Bit() && !slice.ConvertTo24Bit()) return false;
  if (m_width != 0 && slice.Width() != m_width && !Finish(out)) return false;
  if (m_width == 0) {
    m_width = slice.Width();
    m_rows = StripSourceLimit(m_width, m_limit.targetHeight, m_limit.fitWidth, m_limit.fitHeight,
                              m_limit.percent);
  }
  StripRowInk(slice, InkTest(EstimatePaper(slice), m_limit.tolerance), m_ink);
  const int64_t top = m_end;
  m_end += slice.Height();
  m_window.push_back({std::move(slice), top});
  return CutPages(false, out);
}

bool StripCutter::Finish(std::vector<StripPiece>& out) {
  const bool ok = CutPages(true, out);
  m_window.clear();
  m_ink.clear();
  m_width = 0;
  m_start = m_end = m_windowTop = 0;
  return ok;
}

// Places every cut the rows seen allow: a page needs the rows past its limit
// to be judged, unless the strip ends within it.
bool StripCutter::CutPages(bool finishing, std::vector<StripPiece>& out) {
  while (m_end > m_start) {
    const int64_t seen = m_end - m_start;
    if (!finishing && seen < StripRowsToCut(m_rows)) return true;
    const StripCut cut = FindStripCut(m_ink, m_width, m_rows);
    if (!MakePiece(cut.row, cut.gutter, out)) return false;
    m_ink.erase(m_ink.begin(), m_ink.begin() + cut.row);
    m_start += cut.row;
    while (!m_window.empty() && m_window.front().top + m_window.front().image.Height() <= m_start) {
      m_window.pop_front();
    }
    m_windowTop = m_window.empty() ? m_end : m_window.front().top;
  }
  return true;
}

// The page of the next `rows` rows from m_start, copied out of the slices.
bool StripCutter::MakePiece(int32_t rows, bool gutter, std::vector<StripPiece>& out) {
  StripPiece piece;
  try {
    if (!piece.image.Create(m_width, rows)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  piece.top = m_start;
  piece.artCut = !gutter;
  const size_t rowBytes = static_cast<size_t>(m_width) * 3;
  size_t s = 0;
  for (int32_t y = 0; y < rows; ++y) {
    const int64_t at = m_start + y;
    while (m_window[s].top + m_window[s].image.Height() <= at) ++s;
    const Slice& slice = m_window[s];
    std::memcpy(piece.image.Row(y), slice.image.Row(static_cast<int32_t>(at - slice.top)),
                rowBytes);
  }
  out.push_back(std::move(piece));
  return true;
}

}  // namespace inkbrite
