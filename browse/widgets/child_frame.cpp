// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/child_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QStackedWidget>
#include <algorithm>

#include "browse/dialogs/about_dialog.h"
#include "browse/inkbrite_doc.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/shelf_view.h"

namespace inkbrite {

CChildFrame::CChildFrame(CInkbriteView* view, QWidget* parent)
    : QMdiSubWindow(parent), m_view(view) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWidget(view);
  setWindowIcon(InkbriteIcon());
  OnUpdateFrameTitle();
}

CChildFrame::CChildFrame(CShelfView* shelf, QWidget* parent)
    : QMdiSubWindow(parent), m_view(nullptr), m_shelf(shelf), m_stack(new QStackedWidget(this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  m_stack->addWidget(shelf);
  setWidget(m_stack);
  setWindowIcon(InkbriteIcon());
  connect(shelf, &CShelfView::folderChanged, this, [this] { OnUpdateFrameTitle(); });
  OnUpdateFrameTitle();
}

CChildFrame::~CChildFrame() = default;

void CChildFrame::ShowBook(CInkbriteView* view) {
  if (!m_shelf || m_view) return;
  m_view = view;
  m_stack->addWidget(view);
  m_stack->setCurrentWidget(view);
  OnUpdateFrameTitle();
}

bool CChildFrame::ReturnToShelf() {
  if (!m_shelf || !m_view) return false;
  CInkbriteView* view = m_view;
  CInkbriteDoc* doc = view->Document();
  std::filesystem::path book;
  if (doc) book = doc->IsBook() ? doc->PathName() : doc->DirList().Directory();
  m_view = nullptr;
  emit bookClosing();
  m_stack->setCurrentWidget(m_shelf);
  m_stack->removeWidget(view);
  delete view;  // stops its background thread, leaves the document
  if (doc && doc->Views().empty()) emit documentUnused(doc);
  m_shelf->RefreshProgress(book);
  m_shelf->setFocus();
  OnUpdateFrameTitle();
  emit contentChanged();
  return true;
}

void CChildFrame::CloseWindow() {
  m_closingWindow = true;
  close();
}

void CChildFrame::OnUpdateFrameTitle() {
  CInkbriteDoc* doc = m_view ? m_view->Document() : nullptr;
  QString title = doc ? doc->Title() : QString();
  if (!m_view && m_shelf) title = m_shelf->Title();
  if (doc && doc->Views().size() > 1) {
    const auto& views = doc->Views();
    const auto at = std::find(views.begin(), views.end(), m_view);
    title += QStringLiteral(":%1").arg(at - views.begin() + 1);
  }
  m_title = title;
  setWindowTitle(title);
  emit titleChanged();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  // A book opened on a shelf closes back to the shelf.
  if (!m_closingWindow && ReturnToShelf()) {
    event->ignore();
    return;
  }
  // Nothing is ever modified: the window closes without a question.
  CInkbriteDoc* doc = m_view ? m_view->Document() : nullptr;
  CInkbriteView* view = m_view;
  m_view = nullptr;
  emit closing();
  QMdiSubWindow::closeEvent(event);
  if (view) {
    // A shelf's window keeps its stack, deleted with it: taken out, the stack
    // and the shelf in it would be left alive, the shelf's cover threads
    // never joined.
    if (!m_shelf) setWidget(nullptr);
    delete view;  // stops its background thread, leaves the document
  }
  if (doc && doc->Views().empty()) emit documentUnused(doc);
  emit contentChanged();
}

void CChildFrame::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange && systemMenu() != nullptr) {
    // A window made now has the menu in the language of now; its items
    // come in the same order.
    const QMdiSubWindow fresh;
    const QList<QAction*> items = systemMenu()->actions();
    const QList<QAction*> texts =
        fresh.systemMenu() != nullptr ? fresh.systemMenu()->actions() : QList<QAction*>();
    for (qsizetype i = 0; i < std::min(items.size(), texts.size()); ++i) {
      items[i]->setText(texts[i]->text());
    }
  }
  QMdiSubWindow::changeEvent(event);
}

}  // namespace inkbrite
