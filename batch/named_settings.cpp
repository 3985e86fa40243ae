// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/named_settings.h"

#include "formats/format_table.h"
#include "platform/ascii_case.h"
#include "platform/ini_file.h"

namespace inkbrite {

namespace {

std::string_view TrimName(std::string_view name) {
  constexpr std::string_view kBlanks = " \t\v\f\r\n";
  const size_t first = name.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return name.substr(first, name.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

SettingBounds BoundsOfSetting(int slot) {
  const ParaSlotRow* row = ParaSlotInfo(slot);
  if (row == nullptr) return {1, 0};
  switch (row->list) {
    case SettingList::kSourcePatterns:
      return {0, static_cast<int>(SourcePatternLists().size()) - 1};
    case SettingList::kSaveExtensions: return {0, static_cast<int>(SaveExtensions().size()) - 1};
    case SettingList::kNone: break;
  }
  return {row->min, row->max};
}

int NamedSettingSlot(std::string_view key) {
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    if (EqualsIgnoringAsciiCase(entry.key, key)) return entry.slot;
  }
  return -1;
}

bool ReadNamedSetting(const std::filesystem::path& iniPath, std::string_view name,
                      std::array<int, kParaSlotCount>& slots) {
  const std::string_view section = TrimName(name);
  IniFile ini(iniPath);
  if (section.empty() || !ini.Load() || !ini.HasSection(section)) return false;
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    slots[static_cast<size_t>(entry.slot)] = ini.GetInt(section, entry.key, entry.readDefault);
  }
  return true;
}

bool SaveNamedSetting(CParaBlock& block, std::string_view name,
                      const std::filesystem::path& iniPath) {
  const std::string_view section = TrimName(name);
  if (section.empty()) return false;
  IniFile ini(iniPath);
  if (!ini.Load()) return false;
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    if (!ini.SetString(section, entry.key, std::to_string(block.GetValue(entry.slot))))
      return false;
  }
  // The block takes the name only once the file holds the setting, so it
  // never names a setting that was not saved.
  if (!ini.Save()) return false;
  block.SetName(section);
  return true;
}

bool LoadNamedSetting(CParaBlock& block, std::string_view name,
                      const std::filesystem::path& iniPath) {
  std::array<int, kParaSlotCount> slots{};
  if (!ReadNamedSetting(iniPath, name, slots)) return false;
  block.SetName(TrimName(name));
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    block.SetValue(entry.slot, slots[static_cast<size_t>(entry.slot)]);
  }
  return true;
}

bool DeleteNamedSetting(std::string_view name, const std::filesystem::path& iniPath) {
  const std::string_view section = TrimName(name);
  IniFile ini(iniPath);
  if (section.empty() || !ini.Load() || !ini.DeleteSection(section)) return false;
  return ini.Save();
}

void ApplyDeviceSetting(const DeviceSetting& setting, CParaBlock& block) {
  block.ResetDefaults();
  for (const auto& [slot, value] : setting.values) block.SetValue(slot, value);
  block.SetName(setting.name);
}

bool AddDeviceSettings(const std::filesystem::path& iniPath) {
  IniFile ini(iniPath);
  if (!ini.Load()) return false;
  // The data folder may not exist yet (a fresh INKBRITE_DATA_DIR).
  std::error_code ec;
  if (iniPath.has_parent_path()) std::filesystem::create_directories(iniPath.parent_path(), ec);
  bool added = false;
  for (const DeviceSetting& setting : kDeviceSettings) {
    if (ini.HasSection(setting.name)) continue;
    CParaBlock block;
    ApplyDeviceSetting(setting, block);
    for (const NamedSettingKey& entry : kNamedSettingKeys) {
      if (!ini.SetString(setting.name, entry.key, std::to_string(block.GetValue(entry.slot)))) {
        return false;
      }
    }
    added = true;
  }
  return !added || ini.Save();
}

std::vector<std::string> ListNamedSettings(const std::filesystem::path& iniPath) {
  IniFile ini(iniPath);
  if (!ini.Load()) return {};
  return ini.SectionNames();
}

bool NamedSettingNeedsOverwriteConfirm(std::string_view name,
                                       const std::filesystem::path& iniPath) {
  const std::string_view section = TrimName(name);
  IniFile ini(iniPath);
  return !section.empty() && ini.Load() && ini.HasKey(section, "Sharpen");
}

}  // namespace inkbrite
