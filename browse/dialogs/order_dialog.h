// SPDX-License-Identifier: GPL-2.0-or-later
// The display-order dialog "设置文件显示顺序": sort by file name, creation
// time or length, small to large or large to small. The order is one setting
// for the whole program (CDirManager::SortType / SortDir).
#pragma once

#include <QDialog>
#include <vector>

class QRadioButton;

namespace inkbrite {

class CDirManager;

class COrderDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows the program's current order.
  explicit COrderDialog(QWidget* parent = nullptr);

  // After exec() == Accepted: whether the choice differs from what was shown
  // on opening, and the chosen order (type 0 name, 1 creation time, 2 size;
  // direction 0 small to large, 1 large to small).
  bool Changed() const;
  int Type() const;
  int Direction() const;

 private:
  void Restore();

  QRadioButton* m_byName;
  QRadioButton* m_byTime;
  QRadioButton* m_bySize;
  QRadioButton* m_ascending;
  QRadioButton* m_descending;
  int m_shownType;
  int m_shownDirection;
};

// Runs the dialog; on OK with a change, re-sorts every list given (each keeps
// its current file) and stores the order; with no list, only stores it.
void ApplyDisplayOrder(QWidget* parent, const std::vector<CDirManager*>& openLists);

}  // namespace inkbrite
