// SPDX-License-Identifier: GPL-2.0-or-later
// CSettingPanel: the controls of one group of settings, made from the rows of
// the settings table (core/para_slots.h) that name the group, in table order:
// a check box for a switch (a range of 0 to 1), a label and a spin box over
// the row's range for any other setting (a unit of tenths such as "0.1°"
// shown with one decimal). A setting that belongs to a switch (its row's
// `step`) stays on the switch's line and is enabled while the switch is on.
// Lines are filled up to a width; a new row of the table appears here with
// no code of its own, and a new group as a panel of its own wherever the
// panels are shown: a page of the parameter bar, a tab of the batch
// dialog's steps, a box of the settings manager.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

#include "core/para_block.h"
#include "core/para_slots.h"

namespace inkbrite {

// The groups shown as panels: every group with a row in the table that is
// not one of the parameter bar's pages of the original layout (brightness
// to "其它"), in the order of SettingGroup.
std::vector<SettingGroup> PanelGroups();
// A group's name (the table's, in the language of the interface).
QString GroupTitle(SettingGroup group);

class CSettingPanel : public QWidget {
  Q_OBJECT

 public:
  // `name(slot)`: the object name of the slot's control. `width`: the widest
  // a line of controls grows before the next starts (a switch with its
  // settings is never split; it alone may be wider).
  CSettingPanel(SettingGroup group, const std::function<QString(int slot)>& name, int width,
                QWidget* parent = nullptr);

  // The slots shown, in table order, with their controls.
  const std::vector<std::pair<int, QWidget*>>& Controls() const { return m_controls; }
  QWidget* ControlOf(int slot) const;

  // Shows `value(slot)` in every control without reporting a change.
  void Load(const std::function<int(int slot)>& value);
  void Load(const CParaBlock& block);
  // Writes every control's value into `block`.
  void Store(CParaBlock& block) const;
  // Empties the numbers and clears the switches (nothing chosen).
  void Clear();
  // Every control disabled: values only shown.
  void SetReadOnly(bool readOnly);

 signals:
  // The user changed `slot` to `value` (in the slot's own units).
  void Changed(int slot, int value);

 private:
  QWidget* MakeControl(const ParaSlotRow& row, const QString& objectName, QWidget* parent);
  int ValueOf(const QWidget* control) const;
  void UpdateEnabled();

  std::vector<std::pair<int, QWidget*>> m_controls;
  std::vector<std::pair<QWidget*, int>> m_steps;  // a control, the switch it belongs to
  bool m_readOnly = false;
  bool m_loading = false;
};

}  // namespace inkbrite
