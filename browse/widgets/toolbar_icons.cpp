// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include "browse/services/commands.h"

namespace inkbrite {

namespace {

constexpr int kSize = 32;  // drawn at 32 pixels, shown at the toolbar's size

void Triangle(QPainter& p, bool right, qreal x, qreal w) {
  QPolygonF t;
  if (right) {
    t << QPointF(x, 8) << QPointF(x + w, 16) << QPointF(x, 24);
  } else {
    t << QPointF(x + w, 8) << QPointF(x, 16) << QPointF(x + w, 24);
  }
  p.drawPolygon(t);
}

void Page(QPainter& p, QRectF r) {
  p.setBrush(Qt::white);
  p.drawRect(r);
  p.setPen(QPen(QColor(90, 90, 90), 1.5));
  for (qreal y = r.top() + 5; y < r.bottom() - 3; y += 4) {
    p.drawLine(QPointF(r.left() + 4, y), QPointF(r.right() - 4, y));
  }
  p.setPen(QPen(Qt::black, 2));
}

const QColor kAccent(30, 90, 180);

void DrawOpen(QPainter& p) {  // a folder
  p.setBrush(QColor(240, 200, 80));
  QPolygonF folder;
  folder << QPointF(3, 9) << QPointF(12, 9) << QPointF(15, 12) << QPointF(29, 12) << QPointF(29, 27)
         << QPointF(3, 27);
  p.drawPolygon(folder);
}

void DrawSaveAs(QPainter& p) {  // a disk
  p.setBrush(kAccent);
  p.drawRect(QRectF(5, 5, 22, 22));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(10, 5, 12, 8));
  p.drawRect(QRectF(9, 18, 14, 9));
}

void DrawBatch(QPainter& p) {  // a stack of pages
  Page(p, QRectF(11, 3, 16, 20));
  Page(p, QRectF(7, 7, 16, 20));
  Page(p, QRectF(3, 11, 16, 18));
}

void DrawFirstPage(QPainter& p) {
  p.setBrush(kAccent);
  p.drawRect(QRectF(6, 8, 3, 16));
  Triangle(p, false, 10, 14);
}

void DrawPreviousPage(QPainter& p) {
  p.setBrush(kAccent);
  Triangle(p, false, 9, 14);
}

void DrawNextPage(QPainter& p) {
  p.setBrush(kAccent);
  Triangle(p, true, 9, 14);
}

void DrawLastPage(QPainter& p) {
  p.setBrush(kAccent);
  Triangle(p, true, 8, 14);
  p.drawRect(QRectF(23, 8, 3, 16));
}

void DrawFullScreen(QPainter& p) {  // four corners pointing out
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(4, 6, 24, 20));
  p.setPen(QPen(kAccent, 3));
  p.drawLine(QPointF(9, 11), QPointF(14, 14));
  p.drawLine(QPointF(23, 11), QPointF(18, 14));
  p.drawLine(QPointF(9, 21), QPointF(14, 18));
  p.drawLine(QPointF(23, 21), QPointF(18, 18));
}

void DrawFitWindow(QPainter& p) {  // a page shrinking into a frame
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(3, 3, 26, 26));
  Page(p, QRectF(9, 9, 14, 14));
}

void DrawAutoPlay(QPainter& p) {  // play
  p.setBrush(QColor(40, 150, 60));
  p.drawEllipse(QRectF(3, 3, 26, 26));
  p.setBrush(Qt::white);
  Triangle(p, true, 12, 11);
}

void DrawParaBar(QPainter& p) {  // sliders
  p.drawLine(QPointF(4, 10), QPointF(28, 10));
  p.drawLine(QPointF(4, 22), QPointF(28, 22));
  p.setBrush(kAccent);
  p.drawRect(QRectF(9, 6, 5, 8));
  p.drawRect(QRectF(19, 18, 5, 8));
}

void DrawAutoPlaySettings(QPainter& p) {  // a clock
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(4, 4, 24, 24));
  p.drawLine(QPointF(16, 16), QPointF(16, 8));
  p.drawLine(QPointF(16, 16), QPointF(22, 19));
}

void DrawDisplayOrder(QPainter& p) {  // sorted bars
  p.setBrush(kAccent);
  p.drawRect(QRectF(4, 5, 8, 4));
  p.drawRect(QRectF(4, 14, 15, 4));
  p.drawRect(QRectF(4, 23, 22, 4));
}

void DrawAbout(QPainter& p) {  // an "i"
  p.setBrush(kAccent);
  p.drawEllipse(QRectF(4, 4, 24, 24));
  p.setPen(QPen(Qt::white, 3));
  p.drawLine(QPointF(16, 14), QPointF(16, 23));
  p.drawPoint(QPointF(16, 9));
}

void DrawHelp(QPainter& p) {  // a "?"
  p.setBrush(QColor(230, 120, 30));
  p.drawEllipse(QRectF(4, 4, 24, 24));
  p.setPen(Qt::white);
  QFont font = p.font();
  font.setPixelSize(18);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRectF(4, 4, 24, 24), Qt::AlignCenter, QStringLiteral("?"));
}

struct IconDrawing {
  int command;
  void (*draw)(QPainter&);
};

constexpr IconDrawing kIcons[] = {
    {kCmdOpen, DrawOpen},
    {kCmdSaveAs, DrawSaveAs},
    {kCmdBatch, DrawBatch},
    {kCmdFirstPage, DrawFirstPage},
    {kCmdPreviousPage, DrawPreviousPage},
    {kCmdNextPage, DrawNextPage},
    {kCmdLastPage, DrawLastPage},
    {kCmdFullScreen, DrawFullScreen},
    {kCmdFitWindow, DrawFitWindow},
    {kCmdAutoPlay, DrawAutoPlay},
    {kCmdParaBar, DrawParaBar},
    {kCmdAutoPlaySettings, DrawAutoPlaySettings},
    {kCmdDisplayOrder, DrawDisplayOrder},
    {kCmdAbout, DrawAbout},
    {kCmdHelp, DrawHelp},
};

}  // namespace

QIcon CommandIcon(int id) {
  for (const IconDrawing& icon : kIcons) {
    if (icon.command != id) continue;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2));
    icon.draw(p);
    p.end();
    return QIcon(pixmap);
  }
  return {};
}

}  // namespace inkbrite
