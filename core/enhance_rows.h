// SPDX-License-Identifier: GPL-2.0-or-later
// The enhancement pipeline row by row, for a page that never waits whole in
// memory: the batch converter decodes a band of rows, passes each row through
// a RowEnhancer and hands the rows it gives back to the encoder.
//
// A block can be applied this way when every step that acts on the page in
// batch mode has a row kernel (its row in core/steps.cpp says): no resize
// (slot 5 is 100), no crop margins, no automatic step. The steps left work
// on a window of rows:
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
#include "core/steps.h"

namespace inkbrite {

// True when EnhanceImage in batch mode (no skipResize) can be applied to a
// page row by row with these parameters: every step that acts has a row
// kernel.
bool EnhancesRowByRow(const EnhanceSettings& params);

// One stage of a RowEnhancer, made by a step's row kernel: takes rows in
// order and passes its rows on to the next stage (or to the caller's Emit
// after the last).
class RowStage {
 public:
  using Emit = std::function<void(const uint8_t* row)>;
  virtual ~RowStage() = default;
  virtual void Push(uint8_t* row) = 0;
  virtual void Finish() = 0;
  // Rows held back before the first leaves.
  virtual int Delay() const { return 0; }
  void SetNext(RowStage* next, const Emit* emit) {
    m_next = next;
    m_emit = emit;
  }

 protected:
  void Pass(uint8_t* row) {
    if (m_next != nullptr) {
      m_next->Push(row);
    } else {
      (*m_emit)(row);
    }
  }
  void PassFinish() {
    if (m_next != nullptr) m_next->Finish();
  }

 private:
  RowStage* m_next = nullptr;
  const Emit* m_emit = nullptr;
};

// The row kernels of the steps (core/steps.cpp): the 3 x 3 filters (a
// page narrower or lower than 3 pixels is left alone, as DibImage's filters
// leave it), the tone pass, and the steps whose bytes another's stage makes.
void SharpenRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages);
void ToneRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages);
void SoftenRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages);
void NoRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages);

// The rows a RowEnhancer takes and gives: width * 3 bytes of blue-green-red,
// or width grey levels.
enum class RowPixels { kColour, kGrey };

class RowEnhancer {
 public:
  // Receives each finished row, top first (as many bytes as the rows it
  // takes), valid during the call.
  using Emit = RowStage::Emit;

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

 private:
  Emit m_emit;
  RowStages m_stages;  // the first stage first
};

}  // namespace inkbrite
