// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/shortcut_list.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>

namespace inkbrite {

namespace {

// "打开(&O)...\tCtrl+O" -> "打开...", "&Open...\tCtrl+O" -> "Open...".
QString PlainCommandText(QString text) {
  text = text.section(QLatin1Char('\t'), 0, 0);
  static const QRegularExpression accessKey(QStringLiteral("\\(&.\\)"));
  text.remove(accessKey);
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
  return text.trimmed();
}

}  // namespace

std::vector<ShortcutRow> ShortcutRows(const std::vector<QAction*>& actions) {
  std::vector<ShortcutRow> rows;
  for (const QAction* action : actions) {
    QStringList keys;
    for (const QKeySequence& key : action->shortcuts()) {
      if (!key.isEmpty()) keys << key.toString(QKeySequence::NativeText);
    }
    keys.removeDuplicates();  // Return and Enter may read alike
    if (keys.isEmpty()) continue;
    rows.push_back({PlainCommandText(action->text()), keys.join(QStringLiteral("  ·  "))});
  }
  return rows;
}

CShortcutListDialog::CShortcutListDialog(const std::vector<QAction*>& actions, QWidget* parent)
    : QDialog(parent), m_table(new QTableWidget(this)) {
  setWindowTitle(tr("快捷键列表"));
  setObjectName(QStringLiteral("shortcutList"));
  const std::vector<ShortcutRow> rows = ShortcutRows(actions);
  m_table->setColumnCount(2);
  m_table->setRowCount(static_cast<int>(rows.size()));
  m_table->setHorizontalHeaderLabels({tr("命令"), tr("按键")});
  m_table->verticalHeader()->hide();
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    m_table->setItem(i, 0, new QTableWidgetItem(rows[static_cast<size_t>(i)].command));
    m_table->setItem(i, 1, new QTableWidgetItem(rows[static_cast<size_t>(i)].keys));
  }
  m_table->resizeColumnsToContents();
  m_table->horizontalHeader()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_table);
  layout->addWidget(buttons);
  resize(460, 560);
}

}  // namespace inkbrite
