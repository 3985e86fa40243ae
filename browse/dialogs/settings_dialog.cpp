// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/settings_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "batch/named_settings.h"
#include "browse/dialogs/param_lists.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/setting_panel.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace {

// Margins show a number even when nothing is selected; the other number
// fields are then empty.
bool IsMargin(int slot) {
  return slot == kCroppingLeft || slot == kCroppingTop || slot == kCroppingRight ||
         slot == kCroppingBottom;
}

// The key of `slot` in the settings file; the field showing it is named so.
QString KeyName(int slot) {
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    if (entry.slot == slot)
      return QString::fromLatin1(entry.key.data(), static_cast<int>(entry.key.size()));
  }
  return {};
}

}  // namespace

std::filesystem::path NamedSettingsFile() {
  static const std::filesystem::path path = [] {
    std::filesystem::path ini = ProgramFilePath(".ini");
    if (!ini.empty()) AddDeviceSettings(ini);  // a failure leaves the file as it was
    return ini;
  }();
  return path;
}

QString CSettingsDialog::Prompt(Mode mode) {
  return mode == Mode::kSave ? tr("请输入新设置的名称：") : tr("请选择欲读取的设置：");
}

CSettingsDialog::CSettingsDialog(Mode mode, CParaBlock& block, std::filesystem::path iniPath,
                                 QWidget* parent)
    : QDialog(parent), m_mode(mode), m_block(block), m_iniPath(std::move(iniPath)) {
  setWindowTitle(tr("设置管理"));
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(Prompt(mode), this));
  left->addWidget(BuildNameField());
  left->addSpacing(6);
  left->addLayout(BuildValueGrid());
  left->addWidget(BuildPanels());
  left->addStretch();

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addLayout(BuildButtons());
  layout->setSizeConstraint(QLayout::SetFixedSize);

  FillList();
  if (mode == Mode::kSave) {
    ShowBlockToSave();
  } else {
    SelectBlocksSetting();
  }
  // Typing a stored name or choosing one from the list shows its values
  // (load mode; in save mode a choice only fills the name field).
  connect(m_name, &QComboBox::editTextChanged, this, &CSettingsDialog::OnNameChosen);
}

// ---- building ----

QComboBox* CSettingsDialog::BuildNameField() {
  m_name = new QComboBox(this);
  m_name->setObjectName(QStringLiteral("name"));
  m_name->setEditable(true);
  m_name->setInsertPolicy(QComboBox::NoInsert);
  m_name->setMinimumContentsLength(24);
  m_name->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return m_name;
}

QLineEdit* CSettingsDialog::NumberField(int slot) {
  auto* field = new QLineEdit(this);
  field->setObjectName(KeyName(slot));
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::NoFocus);
  field->setAlignment(Qt::AlignRight);
  field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("-00000")) + 12);
  m_numbers[static_cast<size_t>(slot)] = field;
  return field;
}

QComboBox* CSettingsDialog::ListField(int slot, const QStringList& entries) {
  auto* box = new QComboBox(this);
  box->setObjectName(KeyName(slot));
  box->addItems(entries);
  box->setEnabled(false);
  m_lists[static_cast<size_t>(slot)] = box;
  return box;
}

QGridLayout* CSettingsDialog::BuildValueGrid() {
  // Four label-value pairs to a row.
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  const auto label = [this](const char* text) { return new QLabel(tr(text), this); };
  const auto pair = [&](int row, int column, const char* text, QWidget* value, int span = 1) {
    grid->addWidget(label(text), row, column * 2, Qt::AlignRight);
    grid->addWidget(value, row, column * 2 + 1, 1, span);
  };
  pair(0, 0, QT_TR_NOOP("亮度:"), NumberField(kBrightness));
  pair(0, 1, QT_TR_NOOP("对比度:"), NumberField(kContrast));
  pair(0, 2, QT_TR_NOOP("高亮度:"), NumberField(kHighlight));
  pair(0, 3, QT_TR_NOOP("高亮值:"), NumberField(kThreshold));
  pair(1, 0, QT_TR_NOOP("Gamma校正:"), NumberField(kGamma));
  pair(1, 1, QT_TR_NOOP("JPG压缩比:"), NumberField(kJpegQuality));
  pair(1, 2, QT_TR_NOOP("尺寸缩放:"), NumberField(kResize));
  grid->addWidget(ListField(kResizeType, FilterEntries()), 1, 6, 1, 2);

  auto* curve = new QHBoxLayout;
  curve->setSpacing(8);
  for (int slot : {kCurveX1, kCurveY1, kCurveX2, kCurveY2}) curve->addWidget(NumberField(slot));
  curve->addStretch();
  grid->addWidget(label(QT_TR_NOOP("曲线:")), 2, 0, Qt::AlignRight);
  grid->addLayout(curve, 2, 1, 1, 7);

  pair(3, 0, QT_TR_NOOP("上:"), NumberField(kCroppingTop));
  pair(3, 1, QT_TR_NOOP("下:"), NumberField(kCroppingBottom));
  pair(3, 2, QT_TR_NOOP("左:"), NumberField(kCroppingLeft));
  pair(3, 3, QT_TR_NOOP("右:"), NumberField(kCroppingRight));
  pair(4, 0, QT_TR_NOOP("锐化:"), ListField(kSharpen, SharpenEntries()));
  pair(4, 1, QT_TR_NOOP("柔化:"), ListField(kBlur, SoftenEntries()));
  pair(4, 2, QT_TR_NOOP("色彩:"), ListField(kGreyScale, ColourEntries()), 3);
  pair(5, 0, QT_TR_NOOP("源文件:"), ListField(kSourceFiles, SourcePatternEntries()), 7);
  pair(6, 0, QT_TR_NOOP("新文件扩展名:"), ListField(kTargetFiles, NewExtensionEntries()));
  // A book's kind, spreads and page names: no entry when the setting leaves
  // them to the run.
  pair(6, 1, QT_TR_NOOP("漫画书:"), ListField(kBookKind, BookKindEntries()), 5);
  pair(7, 0, QT_TR_NOOP("跨页:"), ListField(kSpreadPages, SpreadPageEntries()), 3);
  pair(7, 2, QT_TR_NOOP("页面:"), ListField(kRenumber, RenumberEntries()), 3);
  pair(8, 0, QT_TR_NOOP("目录:"), ListField(kFolderBooks, FolderBookEntries()), 3);
  grid->setColumnStretch(8, 1);
  return grid;
}

QWidget* CSettingsDialog::BuildPanels() {
  auto* boxes = new QWidget(this);
  auto* column = new QVBoxLayout(boxes);
  column->setContentsMargins(0, 0, 0, 0);
  constexpr int kLineWidth = 600;  // about the grid's width
  for (const SettingGroup group : PanelGroups()) {
    auto* box = new QGroupBox(GroupTitle(group), boxes);
    auto* inside = new QVBoxLayout(box);
    auto* panel = new CSettingPanel(group, KeyName, kLineWidth, box);
    panel->SetReadOnly(true);
    inside->addWidget(panel);
    column->addWidget(box);
    m_panels.push_back(panel);
  }
  return boxes;
}

QVBoxLayout* CSettingsDialog::BuildButtons() {
  auto* ok = new QPushButton(tr("确定"), this);
  auto* cancel = new QPushButton(tr("取消"), this);
  m_delete = new QPushButton(tr("删除"), this);
  ok->setObjectName(QStringLiteral("ok"));
  m_delete->setObjectName(QStringLiteral("delete"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CSettingsDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CSettingsDialog::reject);
  connect(m_delete, &QPushButton::clicked, this, &CSettingsDialog::Delete);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(m_delete);
  buttons->addStretch();
  return buttons;
}

// ---- what the dialog starts with ----

void CSettingsDialog::ShowBlockToSave() {
  m_delete->hide();
  m_name->setCurrentIndex(-1);
  m_name->setEditText(QString::fromStdString(m_block.GetName()));
  std::array<int, kParaSlotCount> values{};
  for (int slot = 0; slot < kParaSlotCount; ++slot)
    values[static_cast<size_t>(slot)] = m_block.GetValue(slot);
  ShowValues(values);
}

void CSettingsDialog::SelectBlocksSetting() {
  ClearValues(false);
  const std::string current = m_block.GetName();
  const int index = current.empty()
                        ? -1
                        : m_name->findText(QString::fromStdString(current), Qt::MatchFixedString);
  if (index >= 0) {
    m_name->setCurrentIndex(index);
  } else {
    m_name->setCurrentIndex(-1);
    m_name->setEditText(QString());
  }
  OnNameChosen();
}

void CSettingsDialog::FillList() {
  m_name->clear();
  QStringList names;
  for (const std::string& name : ListNamedSettings(m_iniPath))
    names << QString::fromStdString(name);
  std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  m_name->addItems(names);
}

std::string CSettingsDialog::TrimmedName() const {
  return m_name->currentText().trimmed().toStdString();
}

int CSettingsDialog::SelectedIndex() const {
  const QString text = m_name->currentText().trimmed();
  if (text.isEmpty()) return -1;
  return m_name->findText(text, Qt::MatchFixedString);  // case ignored
}

void CSettingsDialog::OnNameChosen() {
  if (m_mode != Mode::kLoad) return;
  const int index = SelectedIndex();
  if (index >= 0) ShowSetting(m_name->itemText(index).trimmed().toStdString());
}

bool CSettingsDialog::ShowSetting(const std::string& name) {
  std::array<int, kParaSlotCount> values{};
  if (!ReadNamedSetting(m_iniPath, name, values)) return false;
  ShowValues(values);
  return true;
}

void CSettingsDialog::ShowValues(const std::array<int, kParaSlotCount>& values) {
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    const auto slot = static_cast<size_t>(entry.slot);
    if (m_numbers[slot] != nullptr) m_numbers[slot]->setText(QString::number(values[slot]));
    // An index the list does not hold shows no entry.
    if (QComboBox* box = m_lists[slot]) {
      const int index = values[slot];
      box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
    }
  }
  for (CSettingPanel* panel : m_panels) {
    panel->Load([&values](int slot) { return values[static_cast<size_t>(slot)]; });
  }
}

void CSettingsDialog::ClearValues(bool afterDelete) {
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    const auto slot = static_cast<size_t>(entry.slot);
    if (m_numbers[slot] != nullptr) {
      m_numbers[slot]->setText(afterDelete && IsMargin(entry.slot) ? QStringLiteral("0")
                                                                   : QString());
    }
    if (m_lists[slot] != nullptr) {
      m_lists[slot]->setCurrentIndex(afterDelete && entry.slot == kGreyScale ? 1 : -1);
    }
  }
  for (CSettingPanel* panel : m_panels) panel->Clear();
}

void CSettingsDialog::accept() {
  if (m_mode == Mode::kSave) {
    const std::string name = TrimmedName();
    if (name.empty()) {
      ShowMessage(this, tr("请输入有效的设置名称。"));
      return;
    }
    if (NamedSettingNeedsOverwriteConfirm(name, m_iniPath) &&
        ShowMessage(this, tr("在磁盘中有同名的设置存在，您想覆盖吗？"),
                    QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
      return;
    }
    // The fields show the block's own values, so the block is what is
    // stored; it takes the name once the file holds the setting. A failed
    // write is reported rather than closing as if the setting were saved.
    if (!SaveNamedSetting(m_block, name, m_iniPath)) {
      ShowMessage(
          this, tr("无法保存设置“%1”：设置文件\n%2\n无法写入。")
                    .arg(QString::fromStdString(name), QString::fromStdString(m_iniPath.string())));
      return;
    }
    QDialog::accept();
    return;
  }

  const int index = SelectedIndex();
  if (index < 0) {
    ShowMessage(this, tr("抱歉，请先从列表中选择您希望读取的设置。"));
    return;
  }
  // Read again rather than trusting the fields: the name may have been typed
  // without its values being shown, and the file may have changed since.
  const std::string name = m_name->itemText(index).trimmed().toStdString();
  if (!LoadNamedSetting(m_block, name, m_iniPath)) {
    // The setting vanished from the file since the list was filled.
    FillList();
    ClearValues(false);
    ShowMessage(this, tr("抱歉，请先从列表中选择您希望读取的设置。"));
    return;
  }
  QDialog::accept();
}

void CSettingsDialog::Delete() {
  if (m_mode != Mode::kLoad) return;
  const int index = SelectedIndex();
  if (index < 0) {
    ShowMessage(this, tr("抱歉，请先从列表中选择您希望删除的设置。"));
    return;
  }
  const std::string name = m_name->itemText(index).trimmed().toStdString();
  if (name.empty()) {
    Beep();
    return;
  }
  if (ShowMessage(this, tr("您真的想从磁盘记录中删除当前设置吗？"),
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  // A setting that could not be removed stays listed, and the user is told.
  if (!DeleteNamedSetting(name, m_iniPath)) {
    std::array<int, kParaSlotCount> unused{};
    if (ReadNamedSetting(m_iniPath, name, unused)) {
      ShowMessage(
          this, tr("无法删除设置“%1”：设置文件\n%2\n无法写入。")
                    .arg(QString::fromStdString(name), QString::fromStdString(m_iniPath.string())));
      return;
    }
  }
  m_name->removeItem(index);
  if (m_name->count() == 0) {
    m_name->setCurrentIndex(-1);
    m_name->setEditText(QString());
    ClearValues(true);
  } else {
    m_name->setCurrentIndex(0);
    OnNameChosen();
  }
}

}  // namespace inkbrite
