// SPDX-License-Identifier: GPL-2.0-or-later
// CHistogramDock: a dock of the main window showing the histogram of the
// page in the active window, as rendered (grey for a grey page, red, green
// and blue over one another for a colour page), and the share of its pixels
// clipped to black and to white. It follows the page: the frame hands it
// the view's histogram whenever the page on screen changes.
#pragma once

#include <QDockWidget>
#include <QWidget>

#include "core/page_histogram.h"

class QLabel;

namespace inkbrite {

// The graph: one column per level, heights by the square root of the
// counts so that the paper's peak leaves the rest visible.
class CHistogramGraph : public QWidget {
 public:
  explicit CHistogramGraph(QWidget* parent = nullptr);
  void SetHistogram(const PageHistogram& histogram);
  const PageHistogram& Histogram() const { return m_histogram; }
  QSize sizeHint() const override { return {260, 140}; }
  QSize minimumSizeHint() const override { return {130, 70}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PageHistogram m_histogram;
};

class CHistogramDock : public QDockWidget {
  Q_OBJECT

 public:
  explicit CHistogramDock(QWidget* parent = nullptr);
  // Shows `histogram` (an empty one: no page).
  void SetHistogram(const PageHistogram& histogram);
  const PageHistogram& Histogram() const { return m_graph->Histogram(); }
  // The line under the graph: the shares clipped to black and to white.
  QString ClippingText() const;

 protected:
  // A new interface language: the title and the line under the graph.
  void changeEvent(QEvent* event) override;

 private:
  CHistogramGraph* m_graph;
  QLabel* m_clipping;
};

}  // namespace inkbrite
