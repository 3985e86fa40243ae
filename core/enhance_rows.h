// SPDX-License-Identifier: GPL-2.0-or-later
// The enhancement pipeline row by row, for a page that never waits whole in
// memory: the batch converter decodes a band of rows, passes each row through
// a RowEnhancer and hands the rows it gives back to the encoder.
//
// A block can be applied this way when no step of EnhanceImage in batch mode
// needs the whole page: no resize (slot 5 is 100), no crop margins, no
// automatic step. The steps left work on a window of rows:
//
//   source row y --> sharpen --------> tone -----> soften --------> row y
//                    (rows y-1, y,     (TonePass,  (toned rows
//                     y+1 as read)      the row)    y-1, y, y+1)
//
// and the rows given back are those of EnhanceImage on the whole page, byte
// for byte: each filter keeps the first and last row and column as they
// were, as DibImage's filters do, and works on a page of at least 3 x 3
// pixels only. Each filter that runs delays the rows by one.
//
// A grey page (every pixel's three bytes equal, as a one-component file
// decodes) may go through as rows of grey levels, one byte a pixel: every
// step keeps a pixel's bytes equal, so each level given back is the byte
// the blue-green-red rows would hold, at a third of the work.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/para_block.h"

namespace inkbrite {

// True when EnhanceImage in batch mode (a status hook given, no skipResize)
// can be applied to a page row by row with these parameters.
bool EnhancesRowByRow(const EnhanceSettings& params);

// The rows a RowEnhancer takes and gives: width * 3 bytes of blue-green-red,
// or width grey levels.
enum class RowPixels { kColour, kGrey };

class RowEnhancer {
 public:
  // Receives each finished row, top first (as many bytes as the rows it
  // takes), valid during the call.
  using Emit = std::function<void(const uint8_t* row)>;

  // For a page of width x height pixels.
  RowEnhancer(const EnhanceSettings& params, int32_t width, int32_t height, Emit emit,
              RowPixels pixels = RowPixels::kColour);
  ~RowEnhancer();
  RowEnhancer(const RowEnhancer&) = delete;
  RowEnhancer& operator=(const RowEnhancer&) = delete;

  // Takes the next source row, top first (width * 3 bytes, or width grey
  // levels), which may be changed (the caller does not need them
  // afterwards). Gives back the rows it finishes.
  void Push(uint8_t* row);
  // After the last source row: gives back the rows still held.
  void Finish();

  // How many rows the filters hold back (0 to 2).
  int Delay() const;

  class Stage;

 private:
  Emit m_emit;
  std::vector<std::unique_ptr<Stage>> m_stages;  // the first stage first
};

}  // namespace inkbrite
