// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/child_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <algorithm>

#include "browse/dialogs/about_dialog.h"
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/main_frame.h"

namespace inkbrite {

CChildFrame::CChildFrame(CInkbriteView* view, QWidget* parent)
    : QMdiSubWindow(parent), m_view(view) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWidget(view);
  setWindowIcon(InkbriteIcon());
  OnUpdateFrameTitle();
}

CChildFrame::~CChildFrame() = default;

void CChildFrame::OnUpdateFrameTitle() {
  CInkbriteDoc* doc = m_view ? m_view->Document() : nullptr;
  QString title = doc ? doc->Title() : QString();
  if (doc && doc->Views().size() > 1) {
    const auto& views = doc->Views();
    const auto at = std::find(views.begin(), views.end(), m_view);
    title += QStringLiteral(":%1").arg(at - views.begin() + 1);
  }
  m_title = title;
  setWindowTitle(title);
  if (TheApp() && TheApp()->MainFrame()) TheApp()->MainFrame()->OnChildTitleChanged(this);
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  // Nothing is ever modified: the window closes without a question.
  CInkbriteDoc* doc = m_view ? m_view->Document() : nullptr;
  CInkbriteView* view = m_view;
  m_view = nullptr;
  if (TheApp() && TheApp()->MainFrame()) TheApp()->MainFrame()->OnChildClosed(this);
  QMdiSubWindow::closeEvent(event);
  if (view) {
    setWidget(nullptr);
    delete view;  // stops its background thread, leaves the document
  }
  if (doc && doc->Views().empty() && TheApp()) TheApp()->CloseDocument(doc);
  if (TheApp() && TheApp()->MainFrame()) TheApp()->MainFrame()->UpdateMenus();
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
