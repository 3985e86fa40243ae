// SPDX-License-Identifier: GPL-2.0-or-later
// CWindowTabBar: the strip of tabs in the status bar, one tab per open
// document window, with arrow buttons that scroll the strip when the tabs do
// not fit.
//
// Geometry (h = bar height):
//   tab width   = h + h/2 + min(text width in the bold font, 150)
//   total width = 2 + sum of tab widths - h/2 per pair of neighbours (2 with
//                 no tabs)
//   buttons     = first, previous, next, last at x = 1, 17, 33, 49, each 16
//                 wide and h high; the strip starts after them (x = 65 with
//                 all four, 33 with two, 1 with none).
// Tabs are trapezoids standing on the bottom edge (hanging from the top with
// kUpsideDown), drawn left to right with the selected tab again on top. A
// text wider than its tab loses its middle to an ellipsis, so the start of a
// book's or a folder's name and the page's end ("(2/9)") both show.
//
// Threads: user-interface thread only.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <vector>

class QAbstractButton;

namespace inkbrite {

class CWindowTabBar : public QWidget {
  Q_OBJECT

 public:
  // Style bits.
  static constexpr int kUpsideDown = 0x2;        // tabs hang from the top edge
  static constexpr int kArrowButtons = 0x4;      // previous and next buttons
  static constexpr int kFirstLastButtons = 0x8;  // first and last buttons as well
  static constexpr int kToolTips = 0x4000;       // the full title over each tab
  // Button ids.
  static constexpr int kButtonPrevious = 5031;
  static constexpr int kButtonNext = 5032;
  static constexpr int kButtonFirst = 5033;
  static constexpr int kButtonLast = 5034;
  static constexpr int kMaxTextWidth = 150;
  static constexpr int kButtonWidth = 16;

  explicit CWindowTabBar(int style = 0x400C, QWidget* parent = nullptr);
  ~CWindowTabBar() override;

  // Inserts at `index` (0 to count); returns the index, or -1 for an index
  // out of range.
  int InsertTab(int index, const QString& text, void* owner);
  bool DeleteTab(int index);
  bool SetTabText(int index, const QString& text);
  QString TabText(int index) const;
  // The text as the tab shows it (elided in the middle to fit).
  QString ShownText(int index) const;
  // Index of the tab whose owner is `owner`, -1 if none.
  int FindTab(const void* owner) const;
  void* TabOwner(int index) const;
  // Selects `index` and returns the previous selection; -1 (and no change)
  // for an index outside 0 .. count - 1. Sends no notification: the
  // notifications are for the user's clicks.
  int SelectTab(int index);
  int GetTabCount() const { return static_cast<int>(m_tabs.size()); }
  int GetSelected() const { return m_selected; }

  int TabWidth(int index) const;
  int TotalWidth() const { return m_totalWidth; }
  int ScrollOffset() const { return m_scrollOffset; }
  // x where the tab strip starts (after the buttons).
  int ButtonAreaWidth() const;
  // The button with that id, null when the style has none.
  QAbstractButton* Button(int id) const;
  bool IsButtonEnabled(int id) const;
  // Index of the tab under `point` (bar coordinates), -1 if none; the
  // selected tab is on top of its neighbours.
  int TabAt(QPoint point) const;
  // Left edge of tab `index` in bar coordinates (may be off the bar).
  int TabLeft(int index) const;
  // The tooltip text shown at `point`: the full title of the tab under it.
  QString ToolTipAt(QPoint point) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // Before the user's click changes the selection; setting *cancel = true
  // keeps the old selection.
  void SelectionChanging(int index, bool* cancel);
  // After the user's click changed the selection.
  void SelectionChanged(int index);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Tab {
    QString text;
    void* owner = nullptr;
    int width = 0;
  };

  void MakeFonts();
  void Recalculate();               // tab widths, total width, offset limit, buttons
  int StripStart(int index) const;  // left edge of a tab in strip coordinates
  int MaxScrollOffset() const;
  QPolygon TabPolygon(int index) const;  // in strip coordinates
  void ScrollPrevious();
  void ScrollNext();
  void ScrollFirst();
  void ScrollLast();
  void UpdateButtons();

  int m_style;
  std::vector<Tab> m_tabs;
  int m_selected = -1;
  int m_barWidth = 0;
  int m_barHeight = 0;
  int m_totalWidth = 2;
  int m_scrollOffset = 0;
  QFont m_normalFont;
  QFont m_boldFont;
  QAbstractButton* m_buttons[4] = {};  // first, previous, next, last
};

}  // namespace inkbrite
