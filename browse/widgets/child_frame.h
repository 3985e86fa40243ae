// SPDX-License-Identifier: GPL-2.0-or-later
// CChildFrame: the frame of one document window inside the main window's
// workspace. Holds the view, keeps the window title in step with the
// document's file, and tells the main frame when it comes and goes.
#pragma once

#include <QMdiSubWindow>
#include <QString>

namespace inkbrite {

class CInkbriteView;

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT

 public:
  explicit CChildFrame(CInkbriteView* view, QWidget* parent = nullptr);
  ~CChildFrame() override;

  CInkbriteView* View() const { return m_view; }
  // Re-reads the title from the document (file name; ":n" when the
  // document has several windows).
  void OnUpdateFrameTitle();
  const QString& TitleText() const { return m_title; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // A new interface language: Qt's own window menu (restore, move, close
  // ...) does not follow one by itself.
  void changeEvent(QEvent* event) override;

 private:
  CInkbriteView* m_view;
  QString m_title;
};

}  // namespace inkbrite
