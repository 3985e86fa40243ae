// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/enhance_rows.h"

#include <cstring>
#include <utility>

#include "core/enhance.h"
#include "core/filter3x3.h"
#include "core/tone.h"

namespace inkbrite {

bool EnhancesRowByRow(const EnhanceSettings& params) {
  const StepContext context{params, EnhanceMode::kBatch, false};
  for (const StepRow& row : PipelineSteps()) {
    if (StepActs(row, context) && (row.stage == StepStage::kSource || row.rowKernel == nullptr)) {
      return false;
    }
  }
  return true;
}

namespace {

// A 3 x 3 filter over the rows as they come: row y leaves when row y + 1
// has arrived, computed from copies of the original rows y - 1 and y.
class FilterStage final : public RowStage {
 public:
  FilterStage(FilterRowLoop loop, int32_t width, int channels)
      : m_loop(loop),
        m_pixel(static_cast<size_t>(channels)),
        m_count(static_cast<size_t>(width) * m_pixel),
        m_above(m_count),
        m_row(m_count),
        m_out(m_count) {}

  void Push(uint8_t* row) override {
    if (m_rows >= 2) {
      // The row before this one, filtered; its first and last pixel kept.
      std::memcpy(m_out.data(), m_row.data(), m_pixel);
      std::memcpy(m_out.data() + m_count - m_pixel, m_row.data() + m_count - m_pixel, m_pixel);
      m_loop(m_above.data(), m_row.data(), row, m_out.data(), m_count);
      m_above.swap(m_row);
      std::memcpy(m_row.data(), row, m_count);
      Pass(m_out.data());
    } else if (m_rows == 1) {
      m_above.swap(m_row);
      std::memcpy(m_row.data(), row, m_count);
    } else {
      // The first row keeps its bytes.
      std::memcpy(m_row.data(), row, m_count);
      std::memcpy(m_out.data(), row, m_count);
      Pass(m_out.data());
    }
    ++m_rows;
  }

  void Finish() override {
    // The last row keeps its bytes.
    if (m_rows >= 2) {
      std::memcpy(m_out.data(), m_row.data(), m_count);
      Pass(m_out.data());
    }
    PassFinish();
  }

  int Delay() const override { return 1; }

 private:
  FilterRowLoop m_loop;
  size_t m_pixel;  // bytes a pixel
  size_t m_count;
  std::vector<uint8_t> m_above;  // original of the row before m_row
  std::vector<uint8_t> m_row;    // original of the row waiting for its row below
  std::vector<uint8_t> m_out;
  int64_t m_rows = 0;
};

class ToneStage final : public RowStage {
 public:
  ToneStage(const ToneSettings& settings, int32_t width, bool grey)
      : m_pass(settings), m_pixels(static_cast<size_t>(width)), m_grey(grey) {}
  bool Changes() const { return m_grey ? !m_pass.IsGreyIdentity() : !m_pass.IsIdentity(); }
  void Push(uint8_t* row) override {
    if (m_grey) {
      m_pass.MapGrey(row, m_pixels);
    } else {
      m_pass.MapPixels(row, m_pixels);
    }
    Pass(row);
  }
  void Finish() override { PassFinish(); }

 private:
  TonePass m_pass;
  size_t m_pixels;
  bool m_grey;
};

}  // namespace

void SharpenRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages) {
  // The slot values EnhanceImage acts on (sharpen 1 to 9) are those for
  // which there is a loop.
  const FilterRowLoop loop = SharpenRowLoop(params[kSharpen], shape.channels);
  if (loop != nullptr && shape.width >= 3 && shape.height >= 3) {
    stages.push_back(std::make_unique<FilterStage>(loop, shape.width, shape.channels));
  }
}

void ToneRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages) {
  auto tone =
      std::make_unique<ToneStage>(ReadToneSettings(params), shape.width, shape.channels == 1);
  if (tone->Changes()) stages.push_back(std::move(tone));
}

void SoftenRows(const EnhanceSettings& params, const RowShape& shape, RowStages& stages) {
  const FilterRowLoop loop = SoftenRowLoop(params[kBlur], shape.channels);
  if (loop != nullptr && shape.width >= 3 && shape.height >= 3) {
    stages.push_back(std::make_unique<FilterStage>(loop, shape.width, shape.channels));
  }
}

void NoRows(const EnhanceSettings&, const RowShape&, RowStages&) {}

RowEnhancer::RowEnhancer(const EnhanceSettings& params, int32_t width, int32_t height, Emit emit,
                         RowPixels pixels)
    : m_emit(std::move(emit)) {
  const RowShape shape{width, height, pixels == RowPixels::kGrey ? 1 : 3};
  const StepContext context{params, EnhanceMode::kBatch, false};
  for (const StepRow& row : PipelineSteps()) {
    if (row.stage == StepStage::kPage && row.rowKernel != nullptr && StepActs(row, context)) {
      row.rowKernel(params, shape, m_stages);
    }
  }
  for (size_t i = 0; i < m_stages.size(); ++i) {
    m_stages[i]->SetNext(i + 1 < m_stages.size() ? m_stages[i + 1].get() : nullptr, &m_emit);
  }
}

RowEnhancer::~RowEnhancer() = default;

void RowEnhancer::Push(uint8_t* row) {
  if (m_stages.empty()) {
    m_emit(row);
  } else {
    m_stages.front()->Push(row);
  }
}

void RowEnhancer::Finish() {
  if (!m_stages.empty()) m_stages.front()->Finish();
}

int RowEnhancer::Delay() const {
  int delay = 0;
  for (const auto& stage : m_stages) delay += stage->Delay();
  return delay;
}

}  // namespace inkbrite
