// SPDX-License-Identifier: GPL-2.0-or-later
// The tone-curve editor "曲线调节": two control points dragged in a plot, four
// presets, and the points' values shown read-only. Every change is written at
// once; the dialog has no OK and no undo.
//
// Curve values run 0..255 on both axes, but a point may be dragged into the
// 20-pixel margin around the plot, so stored values can lie somewhat outside
// (the "cluttered background" preset itself uses -39 and 293).
#pragma once

#include <QDialog>
#include <QPoint>
#include <QWidget>
#include <array>
#include <functional>

#include "core/para_block.h"

class QButtonGroup;
class QLineEdit;

namespace inkbrite {

// Geometry of the plot. The plot area is the control's client area inset by
// kCurveMargin on every side; the conversions use integer arithmetic rounded
// to the nearest pixel or value, with division truncating toward zero, so a
// pixel in the margin gives a value beyond 0..255:
//
//   (0,0) +-------------------------+
//         | margin 20               |
//         |   +-----------------+ <-- (R, T) = curve (255, 255)
//         |   |  plot W x H     |   |
//         |   +-----------------+   |
//         |   ^ (L, B) = curve (0, 0)
//         +-------------------------+ (width, height)
//
// `width` and `height` are the client size. A client no larger than the two
// margins would leave an empty plot (and a division by zero), so the plot is
// taken as at least one pixel wide and high.
inline constexpr int kCurveMargin = 20;
int CurveToPixelX(int x, int width);
int CurveToPixelY(int y, int height);
int PixelToCurveX(int px, int width);
int PixelToCurveY(int py, int height);

// The plot: a dotted red control polygon from the bottom-left corner of the
// plot through both points to the top-right corner, the blue Bezier curve
// they define, and a black 10 x 10 handle on each point.
class CCurveCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CCurveCtrl(QWidget* parent = nullptr);

  // Stores the points (all four 0 means the straight diagonal 0, 0, 255, 255)
  // and places the handles. The caller repaints.
  void SetPoints(int x1, int y1, int x2, int y2);

  // Values of point 1 (X1, Y1) or 2 (X2, Y2).
  int X(int point) const { return point == 1 ? m_x1 : m_x2; }
  int Y(int point) const { return point == 1 ? m_y1 : m_y2; }
  // Handle centre of point 1 or 2 in client pixels.
  QPoint Pixel(int point) const { return point == 1 ? m_p1 : m_p2; }
  // 0 none, 1 or 2 while that point is dragged.
  int DraggedPoint() const { return m_drag; }

  QSize sizeHint() const override { return {295, 295}; }

 signals:
  // A drag step moved `point` (1 or 2) to new values.
  void PointMoved(int point);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // 1 or 2 when `pos` lies on that point's handle (edges included; the first
  // point wins where they overlap), else 0.
  int HitTest(const QPoint& pos) const;
  void PlaceHandles();

  int m_drag = 0;
  int m_x1 = 0, m_y1 = 0, m_x2 = 255, m_y2 = 255;
  QPoint m_p1, m_p2;
};

class CCurveDialog : public QDialog {
  Q_OBJECT

 public:
  // The presets of the group "预设模式", by index: X1, Y1, X2, Y2 as given to
  // SetPoints (so "原画面保持不变" is stored as 0, 0, 255, 255).
  static constexpr std::array<std::array<int, 4>, 4> kPresets = {{
      {0, 0, 0, 0},         // 原画面保持不变: picture left unchanged
      {195, -39, 60, 293},  // 原画面背景杂乱: cluttered background
      {155, 0, 255, 100},   // 原画面整体发白: too light overall
      {0, 155, 100, 255},   // 原画面整体发暗: too dark overall
  }};

  // Edits slots kCurveX1, kCurveY1, kCurveX2, kCurveY2 of `block`. With an
  // `announce` function (opened from the parameter bar) every change goes out
  // through it as (slot, value) and nothing is written here; without one
  // (opened from the batch dialog) the values are set in `block` directly.
  // Opening writes nothing: an all-zero curve is shown as the diagonal but
  // stays zero until a point moves or a preset is chosen.
  CCurveDialog(CParaBlock& block, std::function<void(int slot, int value)> announce,
               QWidget* parent = nullptr);

  CCurveCtrl* Curve() const { return m_curve; }
  // Chooses preset `index` (0 to 3) as a click on its button does.
  void ChoosePreset(int index);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowValues(int point);
  void Announce(int point);

  CParaBlock& m_block;
  std::function<void(int, int)> m_announce;
  CCurveCtrl* m_curve;
  QButtonGroup* m_presets;
  std::array<QLineEdit*, 4> m_fields{};  // X1, Y1, X2, Y2
};

}  // namespace inkbrite
