// SPDX-License-Identifier: GPL-2.0-or-later
// "自动播放设置": the auto-play interval in seconds (1 to 10), slot
// AutoPlaySeconds of the shared parameter set.
#pragma once

#include <QDialog>

class QSpinBox;

namespace inkbrite {

class CAutoPlayDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CAutoPlayDialog(QWidget* parent = nullptr);
  QSpinBox* Spin() const { return m_spin; }

  // OK stores the spin's value (always within 1 to 10) in the shared set.
  void accept() override;

 private:
  QSpinBox* m_spin;
};

}  // namespace inkbrite
