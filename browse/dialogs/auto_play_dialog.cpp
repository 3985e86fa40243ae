// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/auto_play_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/para_block.h"

namespace inkbrite {

CAutoPlayDialog::CAutoPlayDialog(QWidget* parent) : QDialog(parent), m_spin(new QSpinBox(this)) {
  setWindowTitle(tr("自动播放设置"));
  m_spin->setObjectName(QStringLiteral("ctl1050"));
  // A typed value outside the range is brought back into it by the spin.
  m_spin->setRange(1, 10);
  m_spin->setValue(AppParams().GetValue(kAutoPlaySeconds));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(tr("自动播放时间间隔:"), this));
  row->addWidget(m_spin);
  row->addWidget(new QLabel(tr("秒"), this));
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

void CAutoPlayDialog::accept() {
  AppParams().SetValue(kAutoPlaySeconds, m_spin->value());
  QDialog::accept();
}

}  // namespace inkbrite
