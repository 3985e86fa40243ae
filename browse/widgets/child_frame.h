// SPDX-License-Identifier: GPL-2.0-or-later
// CChildFrame: the frame of one document window inside the main window's
// workspace. Holds the view, keeps the window title in step with the
// document's file, and says when it changes and goes (signals the main
// frame connects when it takes the window).
//
// A shelf's window holds the shelf (browse/widgets/shelf_view.h) and, while
// a book chosen there is open, that book's view in its place: View() is
// then the book's, and null while the shelf shows. Closing the book shows
// the shelf again as it was left; closing the shelf closes the window.
#pragma once

#include <QMdiSubWindow>
#include <QString>

class QStackedWidget;

namespace inkbrite {

class CInkbriteDoc;
class CInkbriteView;
class CShelfView;

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT

 public:
  explicit CChildFrame(CInkbriteView* view, QWidget* parent = nullptr);
  // A shelf's window (showing the shelf).
  explicit CChildFrame(CShelfView* shelf, QWidget* parent = nullptr);
  ~CChildFrame() override;

  CInkbriteView* View() const { return m_view; }
  CShelfView* Shelf() const { return m_shelf; }
  // A shelf's window: shows `view` (a book chosen on the shelf) in place of
  // the shelf.
  void ShowBook(CInkbriteView* view);
  // Closes the book shown over the shelf and shows the shelf; false when
  // none is shown.
  bool ReturnToShelf();
  // Closes the window, a shelf with the book shown over it too.
  void CloseWindow();
  // Re-reads the title from the document (file name; ":n" when the
  // document has several windows).
  void OnUpdateFrameTitle();
  const QString& TitleText() const { return m_title; }

 signals:
  // The title changed (OnUpdateFrameTitle).
  void titleChanged();
  // The book shown over the shelf goes (before its view is deleted).
  void bookClosing();
  // The window goes (before its view is deleted).
  void closing();
  // The window's last view of `doc` was deleted: no window shows it now.
  void documentUnused(CInkbriteDoc* doc);
  // A view went (the book over the shelf, or the window's): the menus
  // follow.
  void contentChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // A new interface language: Qt's own window menu (restore, move, close
  // ...) does not follow one by itself.
  void changeEvent(QEvent* event) override;

 private:
  CInkbriteView* m_view;
  CShelfView* m_shelf = nullptr;
  QStackedWidget* m_stack = nullptr;
  bool m_closingWindow = false;
  QString m_title;
};

}  // namespace inkbrite
