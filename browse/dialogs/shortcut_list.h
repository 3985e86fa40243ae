// SPDX-License-Identifier: GPL-2.0-or-later
// The list of every key of the main window, made from its actions when it
// is shown (so it always says what the keys do now: the page keys that swap
// for right-to-left reading included): each command with a key, its name as
// the menus show it and its keys.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

class QAction;
class QTableWidget;

namespace inkbrite {

struct ShortcutRow {
  QString command;  // the menu text without its access key and key hint
  QString keys;     // the keys as the platform writes them, " · " between
};

// The rows for the actions that have keys, in the order given.
std::vector<ShortcutRow> ShortcutRows(const std::vector<QAction*>& actions);

class CShortcutListDialog : public QDialog {
  Q_OBJECT

 public:
  CShortcutListDialog(const std::vector<QAction*>& actions, QWidget* parent);
  QTableWidget* Table() const { return m_table; }

 private:
  QTableWidget* m_table;
};

}  // namespace inkbrite
