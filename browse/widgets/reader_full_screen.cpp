// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/reader_full_screen.h"

#include <QApplication>
#include <QDockWidget>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolBar>

namespace inkbrite {

CReaderFullScreen::CReaderFullScreen(QMainWindow* frame, QMdiArea* workspace,
                                     std::function<std::vector<QWidget*>()> floating)
    : QObject(frame), m_frame(frame), m_workspace(workspace), m_floating(std::move(floating)) {
  m_pointerTimer.setSingleShot(true);
  m_pointerTimer.setInterval(kPointerIdleMs);
  connect(&m_pointerTimer, &QTimer::timeout, this, [this] { HidePointer(); });
}

void CReaderFullScreen::Enter() {
  if (m_on) return;
  m_on = true;
  m_wasMaximised = m_frame->isMaximized();
  m_wasFullScreen = m_frame->isFullScreen();
  m_geometry = m_frame->saveGeometry();
  m_frame->setUpdatesEnabled(false);
  // Every bar that is shown now goes, and comes back on leaving.
  std::vector<QWidget*> bars = {m_frame->menuBar(), m_frame->statusBar()};
  for (QToolBar* bar : m_frame->findChildren<QToolBar*>(Qt::FindDirectChildrenOnly)) {
    bars.push_back(bar);
  }
  for (QDockWidget* dock : m_frame->findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly)) {
    bars.push_back(dock);
  }
  if (m_floating) {
    for (QWidget* window : m_floating()) bars.push_back(window);
  }
  m_hidden.clear();
  for (QWidget* bar : bars) {
    if (bar && bar->isVisible()) {
      m_hidden.push_back(bar);
      bar->hide();
    }
  }
  QMdiSubWindow* active = m_workspace->activeSubWindow();
  m_childWasMaximised = active && active->isMaximized();
  for (QMdiSubWindow* window : m_workspace->subWindowList()) SetFrameless(window, true);
  if (active) active->showMaximized();
  m_frame->showFullScreen();
  m_frame->setUpdatesEnabled(true);
  qApp->installEventFilter(this);
  m_lastPointer = QPointF(-1, -1);
  m_pointerTimer.start();
}

void CReaderFullScreen::Leave() {
  if (!m_on) return;
  m_on = false;
  qApp->removeEventFilter(this);
  m_pointerTimer.stop();
  ShowPointer();
  m_frame->setUpdatesEnabled(false);
  QMdiSubWindow* active = m_workspace->activeSubWindow();
  for (QMdiSubWindow* window : m_workspace->subWindowList()) SetFrameless(window, false);
  if (active) {
    if (m_childWasMaximised) {
      active->showMaximized();
    } else {
      active->showNormal();
    }
  }
  for (const QPointer<QWidget>& bar : m_hidden) {
    if (bar) bar->show();  // a bar made anew meanwhile is gone
  }
  m_hidden.clear();
  if (!m_wasFullScreen) {
    m_frame->showNormal();
    m_frame->restoreGeometry(m_geometry);
    if (m_wasMaximised) m_frame->showMaximized();
  }
  m_frame->setUpdatesEnabled(true);
}

void CReaderFullScreen::Adopt(QMdiSubWindow* window) {
  if (m_on) SetFrameless(window, true);
}

void CReaderFullScreen::SetFrameless(QMdiSubWindow* window, bool frameless) {
  if (window->windowFlags().testFlag(Qt::FramelessWindowHint) == frameless) return;
  const bool maximised = window->isMaximized();
  const bool shown = window->isVisible();
  window->setWindowFlag(Qt::FramelessWindowHint, frameless);
  // Changing the flags hides the window.
  if (shown) {
    if (maximised) {
      window->showMaximized();
    } else {
      window->show();
    }
  }
}

bool CReaderFullScreen::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    // Only a real move counts: Qt also sends moves when what lies under a
    // still pointer changes.
    const QPointF at = static_cast<QMouseEvent*>(event)->globalPosition();
    if (at != m_lastPointer) {
      m_lastPointer = at;
      ShowPointer();
      m_pointerTimer.start();
    }
  }
  return QObject::eventFilter(watched, event);
}

void CReaderFullScreen::HidePointer() {
  if (m_pointerHidden || !m_on) return;
  m_pointerHidden = true;
  QApplication::setOverrideCursor(Qt::BlankCursor);
}

void CReaderFullScreen::ShowPointer() {
  if (!m_pointerHidden) return;
  m_pointerHidden = false;
  QApplication::restoreOverrideCursor();
}

}  // namespace inkbrite
