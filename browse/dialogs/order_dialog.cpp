// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/order_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "browse/reading/dir_manager.h"

namespace inkbrite {

COrderDialog::COrderDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("设置文件显示顺序"));

  auto* sortBox = new QGroupBox(tr("排序"), this);
  m_byName = new QRadioButton(tr("按文件名字母顺序"), sortBox);
  m_byTime = new QRadioButton(tr("按文件创建时间顺序"), sortBox);
  m_bySize = new QRadioButton(tr("按文件长度顺序"), sortBox);
  auto* sortLayout = new QVBoxLayout(sortBox);
  sortLayout->addWidget(m_byName);
  sortLayout->addWidget(m_byTime);
  sortLayout->addWidget(m_bySize);
  sortLayout->addStretch();

  auto* dirBox = new QGroupBox(tr("顺序"), this);
  m_ascending = new QRadioButton(tr("按从小到大的顺序"), dirBox);
  m_descending = new QRadioButton(tr("按从大到小的顺序"), dirBox);
  auto* dirLayout = new QVBoxLayout(dirBox);
  dirLayout->addWidget(m_ascending);
  dirLayout->addWidget(m_descending);
  dirLayout->addStretch();

  auto* ok = new QPushButton(tr("确定"), this);
  auto* cancel = new QPushButton(tr("取消"), this);
  auto* restore = new QPushButton(tr("复原"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(restore, &QPushButton::clicked, this, &COrderDialog::Restore);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(restore);
  buttons->addStretch();

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(sortBox);
  layout->addWidget(dirBox);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The settings as the list applies them: type 0 name, 2 size, anything
  // else creation time; direction 1 descending, anything else ascending.
  const int type = CDirManager::SortType();
  m_shownType = (type == 0 || type == 2) ? type : 1;
  m_shownDirection = CDirManager::SortDir() == 1 ? 1 : 0;
  (m_shownType == 0 ? m_byName : m_shownType == 2 ? m_bySize : m_byTime)->setChecked(true);
  (m_shownDirection == 1 ? m_descending : m_ascending)->setChecked(true);
}

void COrderDialog::Restore() {
  m_byName->setChecked(true);
  m_ascending->setChecked(true);
}

int COrderDialog::Type() const {
  if (m_bySize->isChecked()) return 2;
  if (m_byTime->isChecked()) return 1;
  return 0;
}

int COrderDialog::Direction() const { return m_descending->isChecked() ? 1 : 0; }

bool COrderDialog::Changed() const {
  return Type() != m_shownType || Direction() != m_shownDirection;
}

void ApplyDisplayOrder(QWidget* parent, const std::vector<CDirManager*>& openLists) {
  COrderDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted || !dialog.Changed()) return;
  if (openLists.empty()) {
    CDirManager::SaveOrder(dialog.Type(), dialog.Direction());
    return;
  }
  for (CDirManager* list : openLists) {
    if (list != nullptr) list->SetOrder(dialog.Type(), dialog.Direction());
  }
}

}  // namespace inkbrite
