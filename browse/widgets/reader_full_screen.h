// SPDX-License-Identifier: GPL-2.0-or-later
// CReaderFullScreen: the reader's full screen of the main window (F11, or a
// double-click on the page): only the page on black. The menu bar, the
// toolbars, the status bar, every dock and the parameter bar are hidden,
// the document windows lose their frames and the active one is maximised;
// the pointer is hidden after it has been still for a while over the
// frame. Leaving gives every bar and window back as it was. The parameter
// bar may be called up over it (its command still works).
//
// Threads: user-interface thread only.
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointF>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

namespace inkbrite {

class CReaderFullScreen : public QObject {
  Q_OBJECT

 public:
  // How long the pointer may stay still before it is hidden.
  static constexpr int kPointerIdleMs = 2000;

  // `floating`: the windows that float over the frame (the parameter bar),
  // hidden too.
  CReaderFullScreen(QMainWindow* frame, QMdiArea* workspace,
                    std::function<std::vector<QWidget*>()> floating);

  bool IsOn() const { return m_on; }
  void Enter();
  void Leave();
  // A document window opened while on loses its frame too.
  void Adopt(QMdiSubWindow* window);
  bool PointerHidden() const { return m_pointerHidden; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void HidePointer();
  void ShowPointer();
  static void SetFrameless(QMdiSubWindow* window, bool frameless);

  QMainWindow* m_frame;
  QMdiArea* m_workspace;
  std::function<std::vector<QWidget*>()> m_floating;
  bool m_on = false;
  // What leaving gives back.
  QByteArray m_geometry;
  bool m_wasMaximised = false;
  bool m_wasFullScreen = false;
  bool m_childWasMaximised = false;
  std::vector<QPointer<QWidget>> m_hidden;  // bars and docks that were shown
  QTimer m_pointerTimer;
  bool m_pointerHidden = false;
  QPointF m_lastPointer{-1, -1};
};

}  // namespace inkbrite
