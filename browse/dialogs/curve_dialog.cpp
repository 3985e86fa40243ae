// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/curve_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace inkbrite {

namespace {

// Plot width or height for a client extent; at least 1 so that the
// pixel-to-value conversion never divides by zero on a collapsed control.
int PlotExtent(int clientExtent) { return std::max(1, clientExtent - 2 * kCurveMargin); }

// One coordinate of the cubic Bezier curve at t by repeated linear
// interpolation of its four control values.
double DeCasteljau(double a, double b, double c, double d, double t) {
  const double ab = a + (b - a) * t, bc = b + (c - b) * t, cd = c + (d - c) * t;
  const double abc = ab + (bc - ab) * t, bcd = bc + (cd - bc) * t;
  return abc + (bcd - abc) * t;
}

constexpr int kHandleHalf = 5;

}  // namespace

int CurveToPixelX(int x, int width) {
  return (x * PlotExtent(width) * 10 / 255 + 5) / 10 + kCurveMargin;
}

int CurveToPixelY(int y, int height) {
  return ((255 - y) * PlotExtent(height) * 10 / 255 + 5) / 10 + kCurveMargin;
}

int PixelToCurveX(int px, int width) {
  return ((px - kCurveMargin) * 2550 / PlotExtent(width) + 5) / 10;
}

int PixelToCurveY(int py, int height) {
  return 255 - ((py - kCurveMargin) * 2550 / PlotExtent(height) + 5) / 10;
}

CCurveCtrl::CCurveCtrl(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);  // the cursor changes over the handles
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(sizeHint());
  PlaceHandles();
}

void CCurveCtrl::SetPoints(int x1, int y1, int x2, int y2) {
  if (x1 == 0 && y1 == 0 && x2 == 0 && y2 == 0) {
    x2 = 255;
    y2 = 255;
  }
  m_x1 = x1;
  m_y1 = y1;
  m_x2 = x2;
  m_y2 = y2;
  PlaceHandles();
}

void CCurveCtrl::PlaceHandles() {
  m_p1 = QPoint(CurveToPixelX(m_x1, width()), CurveToPixelY(m_y1, height()));
  m_p2 = QPoint(CurveToPixelX(m_x2, width()), CurveToPixelY(m_y2, height()));
}

void CCurveCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceHandles();
}

int CCurveCtrl::HitTest(const QPoint& pos) const {
  auto on = [&pos](const QPoint& centre) {
    return std::abs(pos.x() - centre.x()) <= kHandleHalf &&
           std::abs(pos.y() - centre.y()) <= kHandleHalf;
  };
  if (on(m_p1)) return 1;
  if (on(m_p2)) return 2;
  return 0;
}

void CCurveCtrl::paintEvent(QPaintEvent*) {
  // Drawn off screen first and copied in one step, so a drag never flickers.
  QPixmap buffer(size());
  buffer.fill(Qt::white);
  {
    QPainter painter(&buffer);
    const int left = kCurveMargin, top = kCurveMargin;
    const int right = width() - kCurveMargin, bottom = height() - kCurveMargin;

    painter.setPen(QPen(Qt::red, 1, Qt::DotLine));
    const QPoint polygon[] = {{left, bottom}, m_p1, m_p2, {right, top}};
    painter.drawPolyline(polygon, 4);

    // N points at t = i / N, each rounded and held within the span of its
    // end points (the control points may lie outside it).
    const int count = std::abs(right - left) + 1;
    QPolygon curve(count);
    for (int i = 0; i < count; ++i) {
      const double t = static_cast<double>(i) / count;
      const int x = static_cast<int>(std::lround(DeCasteljau(left, m_p1.x(), m_p2.x(), right, t)));
      const int y = static_cast<int>(std::lround(DeCasteljau(bottom, m_p1.y(), m_p2.y(), top, t)));
      curve.setPoint(i, std::clamp(x, std::min(left, right), std::max(left, right)),
                     std::clamp(y, std::min(top, bottom), std::max(top, bottom)));
    }
    painter.setPen(QPen(Qt::blue, 1, Qt::SolidLine));
    painter.drawPolyline(curve);

    for (const QPoint& p : {m_p1, m_p2}) {
      painter.fillRect(p.x() - kHandleHalf, p.y() - kHandleHalf, 2 * kHandleHalf, 2 * kHandleHalf,
                       Qt::black);
    }
  }
  QPainter(this).drawPixmap(0, 0, buffer);
}

void CCurveCtrl::mousePressEvent(QMouseEvent* event) {
  // Qt keeps sending the moves to this control while the button is held,
  // even outside it: that is the capture.
  if (event->button() != Qt::LeftButton) return;
  m_drag = HitTest(event->position().toPoint());
  if (m_drag != 0) setCursor(Qt::SizeAllCursor);
}

void CCurveCtrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (m_drag == 0) {
    setCursor(HitTest(pos) != 0 ? Qt::SizeAllCursor : Qt::ArrowCursor);
    return;
  }
  // Held within the client area, margin included.
  const QPoint held(std::clamp(pos.x(), 0, width() - 1), std::clamp(pos.y(), 0, height() - 1));
  const int x = PixelToCurveX(held.x(), width()), y = PixelToCurveY(held.y(), height());
  if (m_drag == 1) {
    m_x1 = x;
    m_y1 = y;
    m_p1 = held;
  } else {
    m_x2 = x;
    m_y2 = y;
    m_p2 = held;
  }
  repaint();
  emit PointMoved(m_drag);
}

void CCurveCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setCursor(Qt::ArrowCursor);
  m_drag = 0;
}

CCurveDialog::CCurveDialog(CParaBlock& block, std::function<void(int, int)> announce,
                           QWidget* parent)
    : QDialog(parent), m_block(block), m_announce(std::move(announce)) {
  setWindowTitle(tr("曲线调节"));

  m_curve = new CCurveCtrl(this);
  m_curve->setObjectName(QStringLiteral("curve"));
  connect(m_curve, &CCurveCtrl::PointMoved, this, [this](int point) {
    ShowValues(point);
    Announce(point);
  });

  auto* presetBox = new QGroupBox(tr("预设模式"), this);
  auto* presetLayout = new QVBoxLayout(presetBox);
  m_presets = new QButtonGroup(this);
  const QString texts[] = {tr("原画面保持不变"), tr("原画面背景杂乱"), tr("原画面整体发白"),
                           tr("原画面整体发暗")};
  for (int i = 0; i < 4; ++i) {
    auto* button = new QRadioButton(texts[i], presetBox);
    button->setObjectName(QStringLiteral("preset%1").arg(i));
    m_presets->addButton(button, i);
    presetLayout->addWidget(button);
  }
  // A click on the button already chosen applies its preset again.
  connect(m_presets, &QButtonGroup::idClicked, this, &CCurveDialog::ChoosePreset);

  auto* values = new QGridLayout;
  const QString names[] = {QStringLiteral("X1"), QStringLiteral("Y1"), QStringLiteral("X2"),
                           QStringLiteral("Y2")};
  for (int i = 0; i < 4; ++i) {
    m_fields[static_cast<size_t>(i)] = new QLineEdit(this);
    QLineEdit* field = m_fields[static_cast<size_t>(i)];
    field->setObjectName(names[i]);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::NoFocus);
    field->setAlignment(Qt::AlignRight);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("-0000")) + 12);
    values->addWidget(new QLabel(names[i] + QStringLiteral(":"), this), i / 2, (i % 2) * 2);
    values->addWidget(field, i / 2, (i % 2) * 2 + 1);
  }

  auto* side = new QVBoxLayout;
  side->addWidget(presetBox);
  side->addLayout(values);
  side->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(m_curve);
  layout->addLayout(side);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // No preset is chosen on opening, and nothing is written back.
  m_curve->SetPoints(block.GetValue(kCurveX1), block.GetValue(kCurveY1), block.GetValue(kCurveX2),
                     block.GetValue(kCurveY2));
  ShowValues(1);
  ShowValues(2);
}

void CCurveDialog::ChoosePreset(int index) {
  if (index < 0 || index >= static_cast<int>(kPresets.size())) return;
  if (QAbstractButton* button = m_presets->button(index)) button->setChecked(true);
  const auto& p = kPresets[static_cast<size_t>(index)];
  m_curve->SetPoints(p[0], p[1], p[2], p[3]);
  m_curve->update();
  ShowValues(1);
  ShowValues(2);
  Announce(1);
  Announce(2);
}

void CCurveDialog::ShowValues(int point) {
  const size_t first = point == 1 ? 0 : 2;
  m_fields[first]->setText(QString::number(m_curve->X(point)));
  m_fields[first + 1]->setText(QString::number(m_curve->Y(point)));
}

void CCurveDialog::Announce(int point) {
  const int slotX = point == 1 ? kCurveX1 : kCurveX2;
  const int slotY = point == 1 ? kCurveY1 : kCurveY2;
  if (m_announce) {
    m_announce(slotX, m_curve->X(point));
    m_announce(slotY, m_curve->Y(point));
  } else {
    m_block.SetValue(slotX, m_curve->X(point));
    m_block.SetValue(slotY, m_curve->Y(point));
  }
}

void CCurveDialog::keyPressEvent(QKeyEvent* event) {
  // No buttons of its own: Enter closes the dialog as Escape does, and
  // everything already written stays.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace inkbrite
