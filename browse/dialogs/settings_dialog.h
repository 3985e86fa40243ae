// SPDX-License-Identifier: GPL-2.0-or-later
// The settings manager "设置管理": saves the enhancement parameters under a
// name in the settings file, or loads and deletes named settings. The values
// are only shown in the dialog; the block changes on OK alone.
//
// The file is read on opening and on every selection and written only by a
// save or a delete; nothing of it is kept between openings.
#pragma once

#include <QDialog>
#include <QStringList>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "core/para_block.h"

class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace inkbrite {

class CSettingPanel;

// The settings file of the program, ProgramFilePath(".ini"). The first call
// in a run adds the ready-made settings for reading devices that the file
// does not hold yet (AddDeviceSettings), so they are there when the user
// first opens the settings manager.
std::filesystem::path NamedSettingsFile();

class CSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { kSave, kLoad };

  // Save mode shows `block`'s name and values and asks for a name; load mode
  // lists the stored names (the block's own name selected when it is among
  // them, in any case), shows the selected one's values and can delete it.
  // `iniPath` is the settings file (callers pass NamedSettingsFile()).
  // After exec() == Accepted the block holds the saved or loaded values and
  // the setting's name.
  CSettingsDialog(Mode mode, CParaBlock& block, std::filesystem::path iniPath,
                  QWidget* parent = nullptr);

  // The prompt above the list for each mode.
  static QString Prompt(Mode mode);

  void accept() override;
  // The delete button (load mode only).
  void Delete();

 private:
  QComboBox* BuildNameField();
  QGridLayout* BuildValueGrid();
  // Every other stored value: a read-only box per group of PanelGroups().
  QWidget* BuildPanels();
  QVBoxLayout* BuildButtons();
  // A read-only field or a disabled list showing `slot`, named after its key
  // in the settings file.
  QLineEdit* NumberField(int slot);
  QComboBox* ListField(int slot, const QStringList& entries);
  // Save mode starts with the block's name and values; load mode with the
  // block's own setting selected when the file holds it.
  void ShowBlockToSave();
  void SelectBlocksSetting();
  // Index of the list entry the name field holds (white space at both ends
  // and case ignored), -1 when the text names no entry.
  int SelectedIndex() const;
  // The name field's text without white space at both ends.
  std::string TrimmedName() const;
  void FillList();
  void OnNameChosen();
  // Reads setting `name` from the file and shows it; false when the file
  // holds no such setting (the fields are then left as they are).
  bool ShowSetting(const std::string& name);
  void ShowValues(const std::array<int, kParaSlotCount>& values);
  // Empties the fields: nothing selected, no numbers. After a deletion has
  // emptied the list, the colour mode shows entry 1 and the margins 0.
  void ClearValues(bool afterDelete);

  Mode m_mode;
  CParaBlock& m_block;
  std::filesystem::path m_iniPath;
  QComboBox* m_name = nullptr;
  QPushButton* m_delete = nullptr;
  // By slot; null for slots that are not shown. Number slots use a
  // read-only field, list slots a disabled drop-down list.
  std::array<QLineEdit*, kParaSlotCount> m_numbers{};
  std::array<QComboBox*, kParaSlotCount> m_lists{};
  // The steps' settings, a box per group made from the settings table.
  std::vector<CSettingPanel*> m_panels;
};

}  // namespace inkbrite
