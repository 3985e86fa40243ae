// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/setting_panel.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "browse/services/ui_services.h"

namespace inkbrite {

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsSwitch(const ParaSlotRow& row) { return row.min == 0 && row.max == 1; }

// "0.1°", "0.1%": the value counts tenths of the unit after "0.1".
bool InTenths(const ParaSlotRow& row) { return row.unit.substr(0, 3) == "0.1"; }

// The unit after the number: "5 px", "60 %", "5.0°".
QString Suffix(const ParaSlotRow& row) {
  QString unit = Text(InTenths(row) ? row.unit.substr(3) : row.unit);
  if (unit.isEmpty() || unit == QStringLiteral("°")) return unit;
  return QLatin1Char(' ') + unit;
}

// The groups of the parameter bar's pages of the original layout.
bool IsOriginalPage(SettingGroup group) {
  return static_cast<int>(group) < static_cast<int>(SettingGroup::kAuto);
}

}  // namespace

std::vector<SettingGroup> PanelGroups() {
  std::vector<SettingGroup> groups;
  for (int g = 0; g < static_cast<int>(SettingGroup::kNone); ++g) {
    const auto group = static_cast<SettingGroup>(g);
    if (IsOriginalPage(group)) continue;
    const bool hasRows =
        std::any_of(std::begin(kParaSlots), std::end(kParaSlots),
                    [group](const ParaSlotRow& row) { return row.group == group; });
    if (hasRows) groups.push_back(group);
  }
  return groups;
}

QString GroupTitle(SettingGroup group) {
  const auto index = static_cast<size_t>(group);
  return index < std::size(kSettingGroupLabels) ? EngineUiText(kSettingGroupLabels[index])
                                                : QString();
}

CSettingPanel::CSettingPanel(SettingGroup group, const std::function<QString(int slot)>& name,
                             int width, QWidget* parent)
    : QWidget(parent) {
  // Units kept on one line: a switch with the settings that belong to it,
  // or settings of their own that follow one another (a width and a height).
  constexpr int kOwnSettings = -1;
  std::vector<QWidget*> units;
  int unitSwitch = kOwnSettings;
  QHBoxLayout* unitRow = nullptr;
  for (const ParaSlotRow& row : kParaSlots) {
    if (row.group != group) continue;
    const int belongs = IsSwitch(row) && row.step < 0 ? row.slot : row.step;
    if (unitRow == nullptr || (IsSwitch(row) && row.step < 0) || belongs != unitSwitch) {
      units.push_back(new QWidget(this));
      unitRow = new QHBoxLayout(units.back());
      unitRow->setContentsMargins(0, 0, 0, 0);
      unitRow->setSpacing(6);
      unitSwitch = belongs;
    }
    QWidget* control = MakeControl(row, name(row.slot), units.back());
    if (!IsSwitch(row)) unitRow->addWidget(new QLabel(EngineUiText(row.label) + ':', units.back()));
    unitRow->addWidget(control);
    m_controls.emplace_back(row.slot, control);
    if (row.step >= 0) m_steps.emplace_back(control, row.step);
  }
  // Lines of units, each filled up to `width`.
  auto* lines = new QVBoxLayout(this);
  lines->setContentsMargins(0, 2, 0, 2);
  lines->setSpacing(4);
  constexpr int kUnitGap = 14;
  QHBoxLayout* line = nullptr;
  int used = 0;
  for (QWidget* unit : units) {
    const int unitWidth = unit->sizeHint().width();
    if (line == nullptr || used + kUnitGap + unitWidth > width) {
      if (line != nullptr) line->addStretch();
      line = new QHBoxLayout;
      line->setSpacing(kUnitGap);
      lines->addLayout(line);
      used = 0;
    }
    line->addWidget(unit);
    used += unitWidth + kUnitGap;
  }
  if (line != nullptr) line->addStretch();
  lines->addStretch();
  UpdateEnabled();
}

QWidget* CSettingPanel::MakeControl(const ParaSlotRow& row, const QString& objectName,
                                    QWidget* parent) {
  QWidget* control = nullptr;
  const int slot = row.slot;
  if (IsSwitch(row)) {
    auto* box = new QCheckBox(EngineUiText(row.label), parent);
    connect(box, &QCheckBox::toggled, this, [this, slot](bool on) {
      UpdateEnabled();
      if (!m_loading) emit Changed(slot, on ? 1 : 0);
    });
    control = box;
  } else if (InTenths(row)) {
    auto* spin = new QDoubleSpinBox(parent);
    spin->setDecimals(1);
    spin->setSingleStep(0.1);
    spin->setRange(row.min / 10.0, row.max / 10.0);
    spin->setSuffix(Suffix(row));
    connect(spin, &QDoubleSpinBox::valueChanged, this, [this, slot](double value) {
      if (!m_loading) emit Changed(slot, static_cast<int>(std::lround(value * 10)));
    });
    control = spin;
  } else {
    auto* spin = new QSpinBox(parent);
    spin->setRange(row.min, row.max);
    spin->setSuffix(Suffix(row));
    connect(spin, &QSpinBox::valueChanged, this, [this, slot](int value) {
      if (!m_loading) emit Changed(slot, value);
    });
    control = spin;
  }
  control->setObjectName(objectName);
  return control;
}

QWidget* CSettingPanel::ControlOf(int slot) const {
  for (const auto& [s, control] : m_controls) {
    if (s == slot) return control;
  }
  return nullptr;
}

int CSettingPanel::ValueOf(const QWidget* control) const {
  if (const auto* box = qobject_cast<const QCheckBox*>(control)) return box->isChecked() ? 1 : 0;
  if (const auto* spin = qobject_cast<const QSpinBox*>(control)) return spin->value();
  if (const auto* tenths = qobject_cast<const QDoubleSpinBox*>(control)) {
    return static_cast<int>(std::lround(tenths->value() * 10));
  }
  return 0;
}

void CSettingPanel::Load(const std::function<int(int slot)>& value) {
  m_loading = true;
  for (const auto& [slot, control] : m_controls) {
    const int v = value(slot);
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
      box->setChecked(v != 0);
    } else if (auto* spin = qobject_cast<QSpinBox*>(control)) {
      spin->setValue(v);  // clamped into the range the steps read
    } else if (auto* tenths = qobject_cast<QDoubleSpinBox*>(control)) {
      tenths->setValue(v / 10.0);
    }
  }
  m_loading = false;
  UpdateEnabled();
}

void CSettingPanel::Load(const CParaBlock& block) {
  Load([&block](int slot) { return block.GetValue(slot); });
}

void CSettingPanel::Store(CParaBlock& block) const {
  for (const auto& [slot, control] : m_controls) block.SetValue(slot, ValueOf(control));
}

void CSettingPanel::Clear() {
  m_loading = true;
  for (const auto& [slot, control] : m_controls) {
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
      box->setChecked(false);
    } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) {
      spin->clear();
    }
  }
  m_loading = false;
  UpdateEnabled();
}

void CSettingPanel::SetReadOnly(bool readOnly) {
  m_readOnly = readOnly;
  UpdateEnabled();
}

void CSettingPanel::UpdateEnabled() {
  for (const auto& [slot, control] : m_controls) control->setEnabled(!m_readOnly);
  if (m_readOnly) return;
  for (const auto& [control, step] : m_steps) {
    const QWidget* owner = ControlOf(step);
    if (owner != nullptr) control->setEnabled(ValueOf(owner) != 0);
  }
}

}  // namespace inkbrite
