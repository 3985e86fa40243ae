// SPDX-License-Identifier: GPL-2.0-or-later
// The curve editor: the plot's pixel arithmetic, the presets, and dragging
// the points with the mouse, written live through an announce function or
// straight into the block.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <cmath>
#include <utility>
#include <vector>

#include "browse/dialogs/curve_dialog.h"

namespace inkbrite {
namespace {

using Pairs = std::vector<std::pair<int, int>>;

void Mouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button,
           Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, held,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}
void Press(QWidget* w, QPoint p) {
  Mouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
}
void Move(QWidget* w, QPoint p, bool held = true) {
  Mouse(w, QEvent::MouseMove, p, Qt::NoButton, held ? Qt::LeftButton : Qt::NoButton);
}
void Release(QWidget* w, QPoint p) {
  Mouse(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
}

std::vector<int> Curve(const CParaBlock& block) {
  return {block.GetValue(kCurveX1), block.GetValue(kCurveY1), block.GetValue(kCurveX2),
          block.GetValue(kCurveY2)};
}

QString Field(const CCurveDialog& dialog, const char* name) {
  return dialog.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
}

TEST(CurveGeometry, ValuesAndPixelsRoundToNearestAndMarginGivesValuesBeyondTheScale) {
  for (int width : {60, 140, 295, 531}) {
    const int plot = width - 40;
    for (int v = 0; v <= 255; ++v) {
      const int px = 20 + static_cast<int>(std::lround(v * plot / 255.0));
      ASSERT_EQ(CurveToPixelX(v, width), px) << width << " " << v;
      ASSERT_EQ(CurveToPixelY(255 - v, width), px) << width << " " << v;  // y runs upwards
      // Where a pixel holds at least one value, a value survives the round trip.
      if (plot >= 255) {
        ASSERT_EQ(PixelToCurveX(px, width), v);
        ASSERT_EQ(PixelToCurveY(CurveToPixelY(v, width), width), v);
      }
    }
  }
  EXPECT_EQ(PixelToCurveX(70, 140), 128);  // 50 of 100 pixels: 127.5 rounds up
  // The margin: 20 pixels beyond the plot, rounded toward zero (not -20).
  EXPECT_EQ(PixelToCurveX(0, 295), -19);
  EXPECT_EQ(PixelToCurveY(0, 295), 274);
  EXPECT_EQ(PixelToCurveX(294, 295), 274);
  EXPECT_EQ(PixelToCurveY(294, 295), -19);
  // A control collapsed to its margins divides by a plot of one pixel.
  EXPECT_EQ(PixelToCurveX(21, 30), 255);
  EXPECT_EQ(CurveToPixelX(255, 40), 21);
}

TEST(CurveDialog, OpensAllZeroAsTheDiagonalWithoutWritingIt) {
  CParaBlock block;  // the curve slots default to 0
  Pairs announced;
  CCurveDialog dialog(block, [&](int slot, int value) { announced.emplace_back(slot, value); });
  const CCurveCtrl* curve = dialog.Curve();
  const int w = curve->width(), h = curve->height();
  EXPECT_EQ(curve->Pixel(1), QPoint(20, h - 20));  // bottom-left corner of the plot
  EXPECT_EQ(curve->Pixel(2), QPoint(w - 20, 20));  // top-right corner
  EXPECT_EQ(Field(dialog, "X2"), "255");
  EXPECT_EQ(Field(dialog, "Y2"), "255");
  EXPECT_TRUE(announced.empty());
  EXPECT_EQ(Curve(block), (std::vector<int>{0, 0, 0, 0}));
  for (const char* name : {"preset0", "preset1", "preset2", "preset3"})
    EXPECT_FALSE(dialog.findChild<QRadioButton*>(name)->isChecked()) << name;
}

TEST(CurveDialog, PresetsWriteTheirPointsIntoTheBlockOrAnnounceThem) {
  const std::vector<std::vector<int>> expected = {
      {0, 0, 255, 255}, {195, -39, 60, 293}, {155, 0, 255, 100}, {0, 155, 100, 255}};
  CParaBlock block;
  CCurveDialog direct(block, nullptr);
  for (int i = 0; i < 4; ++i) {
    direct.findChild<QRadioButton*>(QStringLiteral("preset%1").arg(i))->click();
    EXPECT_EQ(Curve(block), expected[static_cast<size_t>(i)]) << i;
  }
  EXPECT_EQ(Field(direct, "Y1"), "155");
  EXPECT_EQ(direct.Curve()->Pixel(1), QPoint(CurveToPixelX(0, direct.Curve()->width()),
                                             CurveToPixelY(155, direct.Curve()->height())));

  // With an announce function the block is left to it; a second click on
  // the chosen button announces again.
  CParaBlock untouched;
  Pairs announced;
  CCurveDialog live(untouched, [&](int slot, int value) { announced.emplace_back(slot, value); });
  live.findChild<QRadioButton*>(QStringLiteral("preset1"))->click();
  live.findChild<QRadioButton*>(QStringLiteral("preset1"))->click();
  const Pairs one = {{kCurveX1, 195}, {kCurveY1, -39}, {kCurveX2, 60}, {kCurveY2, 293}};
  Pairs twice = one;
  twice.insert(twice.end(), one.begin(), one.end());
  EXPECT_EQ(announced, twice);
  EXPECT_EQ(Curve(untouched), (std::vector<int>{0, 0, 0, 0}));
}

TEST(CurveDialog, DraggingAHandleMovesThatPointOnlyAndIsHeldInTheControl) {
  CParaBlock block;
  block.SetValue(kCurveX1, 60);
  block.SetValue(kCurveY1, 40);
  block.SetValue(kCurveX2, 200);
  block.SetValue(kCurveY2, 220);
  Pairs announced;
  CCurveDialog dialog(block, [&](int slot, int value) { announced.emplace_back(slot, value); });
  CCurveCtrl* curve = dialog.Curve();
  const int w = curve->width();

  // A press between the handles starts nothing; moving then announces nothing.
  Press(curve, QPoint(w / 2, 40));
  Move(curve, QPoint(w / 2 + 30, 60));
  Release(curve, QPoint(w / 2 + 30, 60));
  EXPECT_TRUE(announced.empty());

  // Grab the second handle near its edge and drag it far outside the control.
  Press(curve, curve->Pixel(2) + QPoint(5, -5));
  EXPECT_EQ(curve->DraggedPoint(), 2);
  Move(curve, QPoint(CurveToPixelX(100, w), CurveToPixelY(150, curve->height())));
  Move(curve, QPoint(w + 80, -60));
  Release(curve, QPoint(w + 80, -60));
  EXPECT_EQ(curve->DraggedPoint(), 0);
  const int edge = PixelToCurveX(w - 1, w);  // about 20 x 255 / W beyond 255
  EXPECT_GT(edge, 255);
  const Pairs expected = {{kCurveX2, 100},
                          {kCurveY2, 150},
                          {kCurveX2, edge},
                          {kCurveY2, PixelToCurveY(0, curve->height())}};
  EXPECT_EQ(announced, expected);
  EXPECT_EQ(curve->Pixel(2), QPoint(w - 1, 0));
  EXPECT_EQ(Field(dialog, "X2"), QString::number(edge));
  EXPECT_EQ(Field(dialog, "X1"), "60");
  EXPECT_EQ(block.GetValue(kCurveX2), 200);  // the announce function owns the block
  // After the release, moving no longer drags.
  Move(curve, QPoint(30, 30), false);
  EXPECT_EQ(announced.size(), 4u);
}

TEST(CurveDialog, WithoutAnnounceADragWritesTheBlockAndOverlappingHandlesTakeTheFirst) {
  CParaBlock block;
  for (int slot : {kCurveX1, kCurveY1, kCurveX2, kCurveY2}) block.SetValue(slot, 128);
  CCurveDialog dialog(block, nullptr);
  CCurveCtrl* curve = dialog.Curve();
  Press(curve, curve->Pixel(2));
  EXPECT_EQ(curve->DraggedPoint(), 1);
  Move(curve, QPoint(CurveToPixelX(30, curve->width()), CurveToPixelY(10, curve->height())));
  Release(curve, curve->Pixel(1));
  EXPECT_EQ(Curve(block), (std::vector<int>{30, 10, 128, 128}));
  EXPECT_EQ(Field(dialog, "Y1"), "10");
}

}  // namespace
}  // namespace inkbrite
