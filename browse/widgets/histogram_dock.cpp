// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/histogram_dock.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace inkbrite {

CHistogramGraph::CHistogramGraph(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("histogramGraph"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CHistogramGraph::SetHistogram(const PageHistogram& histogram) {
  m_histogram = histogram;
  update();
}

void CHistogramGraph::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect area = rect().adjusted(1, 1, -1, -1);
  painter.fillRect(rect(), QColor(32, 32, 32));
  if (m_histogram.Empty() || area.width() < 2 || area.height() < 2) return;
  const auto& h = m_histogram;
  uint32_t highest = 1;
  for (int i = 0; i < 256; ++i) {
    highest =
        std::max(highest, h.isGrey ? h.grey[i]
                                   : std::max({h.channel[0][i], h.channel[1][i], h.channel[2][i]}));
  }
  const double top = std::sqrt(static_cast<double>(highest));
  const auto curve = [&](const std::array<uint32_t, 256>& bins) {
    QPainterPath path(QPointF(area.left(), area.bottom() + 1));
    for (int i = 0; i < 256; ++i) {
      const double x0 = area.left() + area.width() * i / 256.0;
      const double x1 = area.left() + area.width() * (i + 1) / 256.0;
      const double y = area.bottom() + 1 - area.height() * std::sqrt(double(bins[i])) / top;
      path.lineTo(x0, y);
      path.lineTo(x1, y);
    }
    path.lineTo(area.right() + 1, area.bottom() + 1);
    path.closeSubpath();
    return path;
  };
  painter.setPen(Qt::NoPen);
  if (h.isGrey) {
    painter.setBrush(QColor(210, 210, 210));
    painter.drawPath(curve(h.grey));
  } else {
    // Added together: where all three meet the graph is white.
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    const QColor colours[] = {QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200)};
    for (int c = 0; c < 3; ++c) {
      painter.setBrush(colours[c]);
      painter.drawPath(curve(h.channel[c]));
    }
  }
}

CHistogramDock::CHistogramDock(QWidget* parent)
    : QDockWidget(tr("直方图"), parent), m_graph(new CHistogramGraph), m_clipping(new QLabel) {
  setObjectName(QStringLiteral("histogramDock"));
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(m_graph, 1);
  m_clipping->setObjectName(QStringLiteral("histogramClipping"));
  layout->addWidget(m_clipping);
  setWidget(body);
  SetHistogram({});
}

void CHistogramDock::SetHistogram(const PageHistogram& histogram) {
  m_graph->SetHistogram(histogram);
  m_clipping->setText(ClippingText());
}

void CHistogramDock::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) {
    setWindowTitle(tr("直方图"));
    m_clipping->setText(ClippingText());
  }
  QDockWidget::changeEvent(event);
}

QString CHistogramDock::ClippingText() const {
  const PageHistogram& h = m_graph->Histogram();
  if (h.Empty()) return tr("没有页面");
  const auto percent = [](double share) { return QString::number(share * 100, 'f', 2); };
  return tr("黑色溢出 %1%　白色溢出 %2%").arg(percent(h.BlackShare()), percent(h.WhiteShare()));
}

}  // namespace inkbrite
