// SPDX-License-Identifier: GPL-2.0-or-later
// The window tab bar: tab geometry, the scroll buttons' states, selection by
// click with the changing notification able to cancel, finding and deleting.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTest>
#include <string>
#include <vector>

#include "browse/widgets/window_tab_bar.h"

namespace inkbrite {
namespace {

constexpr int kHeight = 20;
const QString kLongTitle =
    QStringLiteral("A very long window title that never fits in one tab - page_0001.jpg");

void Fill(CWindowTabBar& bar, std::vector<int>& owners) {
  for (size_t i = 0; i < owners.size(); ++i) {
    ASSERT_EQ(bar.InsertTab(static_cast<int>(i), kLongTitle + QString::number(i), &owners[i]),
              static_cast<int>(i));
  }
}

QPoint Middle(const CWindowTabBar& bar, int index) {
  return {bar.TabLeft(index) + bar.TabWidth(index) / 2, kHeight / 2};
}

// Which of First, Previous, Next and Last are enabled, as "FPNL" with a dot
// for each disabled one.
std::string Buttons(const CWindowTabBar& bar) {
  std::string state;
  for (int id : {CWindowTabBar::kButtonFirst, CWindowTabBar::kButtonPrevious,
                 CWindowTabBar::kButtonNext, CWindowTabBar::kButtonLast})
    state += bar.IsButtonEnabled(id) ? "FPNL"[state.size()] : '.';
  return state;
}

TEST(WindowTabBarTest, LongTitlesAreCappedAndButtonsFollowTheFit) {
  CWindowTabBar bar;
  bar.resize(600, kHeight);
  bar.show();
  std::vector<int> owners(3);
  Fill(bar, owners);
  EXPECT_EQ(bar.ButtonAreaWidth(), 65);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bar.TabWidth(i), 150 + kHeight * 3 / 2);
  // 2 + 3 tabs - two overlaps of h/2.
  EXPECT_EQ(bar.TotalWidth(), 2 + 3 * 180 - 2 * 10);
  EXPECT_EQ(bar.ToolTipAt(Middle(bar, 1)), kLongTitle + "1");
  EXPECT_EQ(bar.ToolTipAt(QPoint(10, 5)), QString());  // over a button

  EXPECT_EQ(Buttons(bar), "....");  // 65 + 522 + 1 <= 600: everything fits
  bar.resize(400, kHeight);
  EXPECT_EQ(Buttons(bar), "..NL");
  bar.Button(CWindowTabBar::kButtonLast)->click();
  EXPECT_EQ(bar.ScrollOffset(), 65 + 522 - 400 + 1);
  EXPECT_EQ(Buttons(bar), "FP..");

  // Previous brings the partly hidden tab 1 to the strip's left edge.
  bar.Button(CWindowTabBar::kButtonPrevious)->click();
  EXPECT_EQ(bar.TabLeft(1), 65);
  EXPECT_EQ(Buttons(bar), "FPNL");
  bar.Button(CWindowTabBar::kButtonPrevious)->click();
  EXPECT_EQ(bar.ScrollOffset(), 0);
  EXPECT_EQ(Buttons(bar), "..NL");
  bar.Button(CWindowTabBar::kButtonNext)->click();
  EXPECT_EQ(bar.TabLeft(1), 65);
  bar.Button(CWindowTabBar::kButtonFirst)->click();
  EXPECT_EQ(bar.ScrollOffset(), 0);

  // Deleting tabs while scrolled never leaves the strip scrolled past its end.
  bar.Button(CWindowTabBar::kButtonLast)->click();
  ASSERT_TRUE(bar.DeleteTab(2));
  ASSERT_TRUE(bar.DeleteTab(1));
  EXPECT_EQ(bar.ScrollOffset(), 0);
  EXPECT_EQ(Buttons(bar), "....");

  CWindowTabBar plain(0);
  EXPECT_EQ(plain.ButtonAreaWidth(), 1);
  EXPECT_EQ(plain.Button(CWindowTabBar::kButtonNext), nullptr);
  EXPECT_EQ(CWindowTabBar(0x4).ButtonAreaWidth(), 33);
}

TEST(WindowTabBarTest, ClickSelectsUnlessTheChangeIsCancelled) {
  CWindowTabBar bar;
  bar.resize(800, kHeight);
  bar.show();
  std::vector<int> owners(3);
  Fill(bar, owners);
  EXPECT_EQ(bar.SelectTab(0), -1);
  bool cancel = true;
  std::vector<int> changing, changed;
  QObject::connect(&bar, &CWindowTabBar::SelectionChanging, [&](int index, bool* c) {
    changing.push_back(index);
    *c = cancel;
  });
  QObject::connect(&bar, &CWindowTabBar::SelectionChanged,
                   [&](int index) { changed.push_back(index); });

  QTest::mouseClick(&bar, Qt::LeftButton, {}, Middle(bar, 2));
  EXPECT_EQ(changing, std::vector<int>{2});
  EXPECT_TRUE(changed.empty());
  EXPECT_EQ(bar.GetSelected(), 0);

  cancel = false;
  QTest::mouseClick(&bar, Qt::LeftButton, {}, Middle(bar, 2));
  EXPECT_EQ(bar.GetSelected(), 2);
  EXPECT_EQ(changed, std::vector<int>{2});
  // The selected tab again, or the empty area right of the tabs: nothing.
  QTest::mouseClick(&bar, Qt::LeftButton, {}, Middle(bar, 2));
  QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(790, kHeight / 2));
  EXPECT_EQ(changing.size(), 2u);
  // Where tabs 0 and 1 overlap near the base, the later tab (drawn over)
  // takes the click; between their slanted sides near the top, neither does.
  EXPECT_EQ(bar.TabAt(QPoint(bar.TabLeft(1) + 1, kHeight - 2)), 1);
  EXPECT_EQ(bar.TabAt(QPoint(bar.TabLeft(1) - 1, 1)), 0);
  EXPECT_EQ(bar.TabAt(QPoint(bar.TabLeft(1) + 4, 1)), -1);
}

TEST(WindowTabBarTest, FindDeleteAndSelectKeepIndicesStraight) {
  CWindowTabBar bar;
  bar.resize(800, kHeight);
  bar.show();
  int a = 0, b = 0, c = 0, d = 0;
  EXPECT_EQ(bar.InsertTab(1, "x", &a), -1);
  EXPECT_EQ(bar.InsertTab(0, "a", &a), 0);
  EXPECT_EQ(bar.InsertTab(1, "c", &c), 1);
  EXPECT_EQ(bar.InsertTab(1, "b", &b), 1);
  EXPECT_EQ(bar.FindTab(&b), 1);
  EXPECT_EQ(bar.FindTab(&c), 2);
  EXPECT_EQ(bar.FindTab(&d), -1);
  EXPECT_EQ(bar.SelectTab(3), -1);
  EXPECT_EQ(bar.GetSelected(), -1);
  EXPECT_EQ(bar.SelectTab(2), -1);
  EXPECT_EQ(bar.SelectTab(2), 2);
  // Inserting before the selection moves it along with its tab.
  EXPECT_EQ(bar.InsertTab(0, "d", &d), 0);
  EXPECT_EQ(bar.GetSelected(), 3);
  EXPECT_TRUE(bar.DeleteTab(1));  // "a"
  EXPECT_EQ(bar.GetSelected(), 2);
  EXPECT_EQ(bar.TabOwner(2), &c);
  EXPECT_TRUE(bar.DeleteTab(2));  // the selected one
  EXPECT_EQ(bar.GetSelected(), -1);
  EXPECT_FALSE(bar.DeleteTab(2));
  EXPECT_FALSE(bar.SetTabText(5, "x"));
  EXPECT_EQ(bar.GetTabCount(), 2);
  EXPECT_TRUE(bar.DeleteTab(0));
  EXPECT_TRUE(bar.DeleteTab(0));
  EXPECT_EQ(bar.TotalWidth(), 2);
}

// A text wider than its tab loses its middle, so a book's name and the
// page's number both show; a text that fits is shown whole.
TEST(WindowTabBarTest, ATextWiderThanItsTabLosesItsMiddle) {
  CWindowTabBar bar;
  bar.resize(600, kHeight);
  bar.show();
  std::vector<int> owners(3);
  const QString texts[] = {QStringLiteral("a.bmp"),
                           QStringLiteral("chapters.cbz — Chapter 2/01.jpg (1/4)"), kLongTitle};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(bar.InsertTab(i, texts[i], &owners[i]), i);
  bar.SelectTab(1);
  EXPECT_EQ(bar.ShownText(0), texts[0]);
  for (int i : {1, 2}) {
    const QString shown = bar.ShownText(i);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_EQ(shown.left(4), texts[i].left(4)) << shown.toStdString();
    EXPECT_EQ(shown.right(3), texts[i].right(3)) << shown.toStdString();
    EXPECT_LT(shown.size(), texts[i].size());
  }
  EXPECT_EQ(bar.TabText(1), texts[1]);  // the tooltip still gives it whole
}

}  // namespace
}  // namespace inkbrite
