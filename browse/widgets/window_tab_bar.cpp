// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/window_tab_bar.h"

#include <qdrawutil.h>

#include <QAbstractButton>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>
#include <QToolTip>
#include <algorithm>

namespace inkbrite {

namespace {

enum ArrowKind { kFirst = 0, kPrevious = 1, kNext = 2, kLast = 3 };

// One of the owner-drawn 16-pixel arrow buttons: a raised button face
// (sunken and shifted one pixel while pressed) with a filled triangle, plus a
// bar for first and last; black when enabled, grey when not. Drawn into an
// off-screen pixmap so it never flickers.
class CTabArrowButton : public QAbstractButton {
 public:
  CTabArrowButton(ArrowKind kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPixmap buffer(size());
    buffer.fill(palette().color(QPalette::Base));
    {
      QPainter p(&buffer);
      const bool down = isDown();
      QBrush face = palette().brush(QPalette::Button);
      qDrawWinButton(&p, rect(), palette(), down, &face);
      const int side = std::clamp(height(), 11, 15) / 2;
      const int shift = down ? 1 : 0;
      const int x = 5 + shift;
      const int y = 4 + shift;
      const QColor ink = isEnabled() ? QColor(0, 0, 0) : QColor(0x80, 0x80, 0x80);
      p.setPen(ink);
      p.setBrush(ink);
      QPolygon arrow;
      if (m_kind == kFirst || m_kind == kPrevious) {
        arrow << QPoint(x + side, y) << QPoint(x + side, y + 2 * (side / 2))
              << QPoint(x + 1, y + side / 2);
      } else {
        arrow << QPoint(x, y) << QPoint(x, y + 2 * (side / 2))
              << QPoint(x + side - 1, y + side / 2);
      }
      p.drawPolygon(arrow);
      if (m_kind == kFirst) p.drawRect(x - 1, y, 0, 2 * (side / 2));
      if (m_kind == kLast) p.drawRect(x + side, y, 0, 2 * (side / 2));
    }
    QPainter(this).drawPixmap(0, 0, buffer);
  }
  // A quick second click counts as one more press.
  void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }

 private:
  ArrowKind m_kind;
};

}  // namespace

CWindowTabBar::CWindowTabBar(int style, QWidget* parent) : QWidget(parent), m_style(style) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  m_barWidth = width();
  m_barHeight = height();
  const bool arrows = (style & kArrowButtons) != 0;
  const bool firstLast = arrows && (style & kFirstLastButtons) != 0;
  if (firstLast) {
    m_buttons[kFirst] = new CTabArrowButton(kFirst, this);
    m_buttons[kLast] = new CTabArrowButton(kLast, this);
  }
  if (arrows) {
    m_buttons[kPrevious] = new CTabArrowButton(kPrevious, this);
    m_buttons[kNext] = new CTabArrowButton(kNext, this);
  }
  if (m_buttons[kFirst])
    connect(m_buttons[kFirst], &QAbstractButton::clicked, this, [this] { ScrollFirst(); });
  if (m_buttons[kPrevious]) {
    connect(m_buttons[kPrevious], &QAbstractButton::clicked, this, [this] { ScrollPrevious(); });
  }
  if (m_buttons[kNext])
    connect(m_buttons[kNext], &QAbstractButton::clicked, this, [this] { ScrollNext(); });
  if (m_buttons[kLast])
    connect(m_buttons[kLast], &QAbstractButton::clicked, this, [this] { ScrollLast(); });
  MakeFonts();
  Recalculate();
}

CWindowTabBar::~CWindowTabBar() = default;

int CWindowTabBar::ButtonAreaWidth() const {
  int x = 1;
  if (m_buttons[kPrevious]) x += 2 * kButtonWidth;
  if (m_buttons[kFirst]) x += 2 * kButtonWidth;
  return x;
}

QAbstractButton* CWindowTabBar::Button(int id) const {
  switch (id) {
    case kButtonFirst: return m_buttons[kFirst];
    case kButtonPrevious: return m_buttons[kPrevious];
    case kButtonNext: return m_buttons[kNext];
    case kButtonLast: return m_buttons[kLast];
    default: return nullptr;
  }
}

bool CWindowTabBar::IsButtonEnabled(int id) const {
  const QAbstractButton* button = Button(id);
  return button && button->isEnabled();
}

int CWindowTabBar::InsertTab(int index, const QString& text, void* owner) {
  if (index < 0 || index > GetTabCount()) return -1;
  m_tabs.insert(m_tabs.begin() + index, Tab{text, owner, 0});
  if (m_selected >= index) ++m_selected;
  Recalculate();
  update();
  return index;
}

bool CWindowTabBar::DeleteTab(int index) {
  if (index < 0 || index >= GetTabCount()) return false;
  m_tabs.erase(m_tabs.begin() + index);
  if (m_selected == index) {
    m_selected = -1;
  } else if (m_selected > index) {
    --m_selected;
  }
  Recalculate();
  update();
  return true;
}

bool CWindowTabBar::SetTabText(int index, const QString& text) {
  if (index < 0 || index >= GetTabCount()) return false;
  m_tabs[index].text = text;
  Recalculate();
  update();
  return true;
}

QString CWindowTabBar::TabText(int index) const {
  return index >= 0 && index < GetTabCount() ? m_tabs[index].text : QString();
}

QString CWindowTabBar::ShownText(int index) const {
  if (index < 0 || index >= GetTabCount()) return {};
  const QFontMetrics metrics(index == m_selected ? m_boldFont : m_normalFont);
  return metrics.elidedText(m_tabs[index].text, Qt::ElideMiddle,
                            m_tabs[index].width - 3 * m_barHeight / 2);
}

void* CWindowTabBar::TabOwner(int index) const {
  return index >= 0 && index < GetTabCount() ? m_tabs[index].owner : nullptr;
}

int CWindowTabBar::FindTab(const void* owner) const {
  for (int i = 0; i < GetTabCount(); ++i) {
    if (m_tabs[i].owner == owner) return i;
  }
  return -1;
}

int CWindowTabBar::SelectTab(int index) {
  if (index < 0 || index >= GetTabCount()) return -1;
  const int previous = m_selected;
  m_selected = index;
  update();
  return previous;
}

int CWindowTabBar::TabWidth(int index) const {
  return index >= 0 && index < GetTabCount() ? m_tabs[index].width : 0;
}

void CWindowTabBar::MakeFonts() {
  // Character height = bar height - 6 pixels.
  m_normalFont = font();
  m_normalFont.setStyleHint(QFont::SansSerif);
  m_normalFont.setPixelSize(std::max(1, m_barHeight - 6));
  m_normalFont.setWeight(QFont::Normal);
  m_boldFont = m_normalFont;
  m_boldFont.setWeight(QFont::ExtraBold);
}

void CWindowTabBar::Recalculate() {
  const int h = m_barHeight;
  const QFontMetrics metrics(m_boldFont);
  m_totalWidth = 2;
  for (size_t i = 0; i < m_tabs.size(); ++i) {
    Tab& tab = m_tabs[i];
    tab.width = h + h / 2 + std::min(metrics.horizontalAdvance(tab.text), kMaxTextWidth);
    m_totalWidth += tab.width - (i > 0 ? h / 2 : 0);
  }
  // Fewer or narrower tabs must not leave the strip scrolled past its end.
  m_scrollOffset = std::clamp(m_scrollOffset, 0, MaxScrollOffset());
  UpdateButtons();
}

int CWindowTabBar::StripStart(int index) const {
  int x = 1;
  for (int i = 0; i < index && i < GetTabCount(); ++i) x += m_tabs[i].width - m_barHeight / 2;
  return x;
}

int CWindowTabBar::TabLeft(int index) const {
  return ButtonAreaWidth() + StripStart(index) - m_scrollOffset;
}

int CWindowTabBar::MaxScrollOffset() const {
  return std::max(0, ButtonAreaWidth() + m_totalWidth - m_barWidth + 1);
}

QPolygon CWindowTabBar::TabPolygon(int index) const {
  const int h = m_barHeight;
  const int x = StripStart(index);
  const int w = m_tabs[index].width;
  const bool upsideDown = (m_style & kUpsideDown) != 0;
  const int base = upsideDown ? 0 : h - 1;
  const int top = upsideDown ? h - 1 : 0;
  QPolygon polygon;
  polygon << QPoint(x, base) << QPoint(x + h / 2, top) << QPoint(x + w - h / 2, top)
          << QPoint(x + w, base);
  return polygon;
}

int CWindowTabBar::TabAt(QPoint point) const {
  const int area = ButtonAreaWidth();
  if (point.x() < area || point.y() < 0 || point.y() >= m_barHeight) return -1;
  const QPoint strip(point.x() - area + m_scrollOffset, point.y());
  if (m_selected >= 0 && TabPolygon(m_selected).containsPoint(strip, Qt::OddEvenFill))
    return m_selected;
  // Later tabs are drawn over earlier ones.
  for (int i = GetTabCount() - 1; i >= 0; --i) {
    if (TabPolygon(i).containsPoint(strip, Qt::OddEvenFill)) return i;
  }
  return -1;
}

QString CWindowTabBar::ToolTipAt(QPoint point) const {
  if (!(m_style & kToolTips)) return {};
  return TabText(TabAt(point));
}

void CWindowTabBar::ScrollPrevious() {
  const int count = GetTabCount();
  int left = 0;  // the tab at the strip's first visible pixel
  while (left + 1 < count && StripStart(left + 1) <= m_scrollOffset) ++left;
  // A partly hidden left tab is shown whole; else the one before it.
  const int target = left > 0 && StripStart(left) < m_scrollOffset ? left : left - 1;
  const int offset = target > 0 ? StripStart(target) : 0;
  m_scrollOffset = std::clamp(offset, 0, MaxScrollOffset());
  UpdateButtons();
  update();
}

void CWindowTabBar::ScrollNext() {
  const int count = GetTabCount();
  int left = 0;
  while (left + 1 < count && StripStart(left + 1) <= m_scrollOffset) ++left;
  const int offset = left + 1 < count ? StripStart(left + 1) : MaxScrollOffset();
  m_scrollOffset = std::clamp(offset, 0, MaxScrollOffset());
  UpdateButtons();
  update();
}

void CWindowTabBar::ScrollFirst() {
  m_scrollOffset = 0;
  UpdateButtons();
  update();
}

void CWindowTabBar::ScrollLast() {
  m_scrollOffset = MaxScrollOffset();
  UpdateButtons();
  update();
}

void CWindowTabBar::UpdateButtons() {
  const bool back = m_scrollOffset != 0;
  const bool forward = m_barWidth + m_scrollOffset < ButtonAreaWidth() + m_totalWidth + 1;
  if (m_buttons[kFirst]) m_buttons[kFirst]->setEnabled(back);
  if (m_buttons[kPrevious]) m_buttons[kPrevious]->setEnabled(back);
  if (m_buttons[kNext]) m_buttons[kNext]->setEnabled(forward);
  if (m_buttons[kLast]) m_buttons[kLast]->setEnabled(forward);
}

QSize CWindowTabBar::sizeHint() const { return {ButtonAreaWidth() + m_totalWidth, 20}; }

QSize CWindowTabBar::minimumSizeHint() const { return {ButtonAreaWidth(), 12}; }

void CWindowTabBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_barWidth = width();
  m_barHeight = height();
  // Buttons in the order first, previous, next, last from x = 1.
  int x = 1;
  for (QAbstractButton* button :
       {m_buttons[kFirst], m_buttons[kPrevious], m_buttons[kNext], m_buttons[kLast]}) {
    if (!button) continue;
    button->setGeometry(x, 0, kButtonWidth, m_barHeight);
    x += kButtonWidth;
  }
  MakeFonts();
  Recalculate();
  update();
}

void CWindowTabBar::paintEvent(QPaintEvent*) {
  const int h = m_barHeight;
  const int area = ButtonAreaWidth();
  const QPalette& pal = palette();
  const QColor face = pal.color(QPalette::Button);
  const QColor window = pal.color(QPalette::Base);
  const QColor buttonText = pal.color(QPalette::ButtonText);
  const QColor windowText = pal.color(QPalette::Text);
  const bool upsideDown = (m_style & kUpsideDown) != 0;
  const int baseRow = upsideDown ? 0 : h - 1;

  // All tabs into an off-screen strip as wide as the total width.
  QPixmap strip(std::max(1, m_totalWidth), std::max(1, h));
  strip.fill(face);
  {
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(buttonText);
    p.drawLine(0, baseRow, m_totalWidth - 1, baseRow);
    auto drawTab = [&](int i, bool selected) {
      const QPolygon polygon = TabPolygon(i);
      p.setPen(buttonText);
      p.setBrush(selected ? window : face);
      p.drawPolygon(polygon);
      const int x = StripStart(i);
      const QRect textRect(x + 3 * h / 4, 0, std::max(0, m_tabs[i].width - 3 * h / 2), h);
      p.save();
      p.setClipRect(textRect);
      p.setFont(selected ? m_boldFont : m_normalFont);
      p.setPen(selected ? windowText : buttonText);
      p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownText(i));
      p.restore();
    };
    for (int i = 0; i < GetTabCount(); ++i) {
      if (i != m_selected) drawTab(i, false);
    }
    if (m_selected >= 0) drawTab(m_selected, true);
  }

  QPainter painter(this);
  painter.fillRect(rect(), face);
  painter.setPen(Qt::black);
  painter.drawLine(0, 0, 0, h - 1);
  const int visible = std::max(0, width() - area);
  painter.drawPixmap(area, 0, strip, m_scrollOffset, 0, visible, h);
  // The base line from the end of the tabs to the right edge.
  const int end = std::max(area, area + m_totalWidth - m_scrollOffset);
  painter.setPen(buttonText);
  if (end < width()) painter.drawLine(end, baseRow, width() - 1, baseRow);
}

void CWindowTabBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const int index = TabAt(event->position().toPoint());
  if (index < 0 || index == m_selected) return;
  bool cancel = false;
  emit SelectionChanging(index, &cancel);
  if (cancel) return;
  m_selected = index;
  update();
  emit SelectionChanged(index);
}

bool CWindowTabBar::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = ToolTipAt(help->pos());
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      // Bound to the tab, so moving onto another tab asks again.
      const int index = TabAt(help->pos());
      const QRect tab(TabLeft(index), 0, TabWidth(index), m_barHeight);
      QToolTip::showText(help->globalPos(), tip, this, tab & rect());
    }
    return true;
  }
  return QWidget::event(event);
}

}  // namespace inkbrite
