// SPDX-License-Identifier: GPL-2.0-or-later
// Named settings: the enhancement parameters stored under a name, one
// section per name in the settings file (Inkbrite.ini, see
// platform/program_paths.h), one "Key=value" line per parameter.
//
// Names are trimmed of white space at both ends and matched without regard
// to ASCII case. Every write goes through SafeFileWriter: a failed save or
// delete leaves the previous file whole and reports false.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/para_block.h"

namespace inkbrite {

struct NamedSettingKey {
  std::string_view key;  // the key in the file
  int slot;              // the CParaBlock slot (ParaSlot) it holds
  int readDefault;       // the value read when the key is missing
};

// The keys in the order they are written into a new section, with the value
// read for a missing key: the stored rows of core/para_slots.h, the 21 keys
// of the original layout first. The read defaults differ from the reset
// values for GreyScale (1, black-and-white comic) and CroppingBottom (1);
// the automatic steps read as off with their reset settings, so a file
// written before they existed loads exactly as it did. A program that knows
// only the first 21 keys reads a newer file's section all the same (it
// looks its keys up by name and passes over the others). Slots 7, 11, 16
// and 24 belong to no named setting.
inline constexpr size_t kBaseNamedSettingKeys = kBaseNamedSettingKeyCount;
inline constexpr auto kNamedSettingKeys = [] {
  std::array<NamedSettingKey, StoredSlotCount()> keys{};
  size_t i = 0;
  for (const ParaSlotRow& row : kParaSlots) {
    if (!row.key.empty()) keys[i++] = {row.key, row.slot, row.readDefault};
  }
  return keys;
}();

// The range a slot's value may take, as the dialogs and --set offer it: its
// row's in core/para_slots.h, a list's positions resolved against the
// format table. Any integer for the curve points (the curve editor's
// presets go beyond 0 to 255); an empty range (min > max) for an index
// that is no slot.
struct SettingBounds {
  int min;
  int max;
};
SettingBounds BoundsOfSetting(int slot);

// The slot of a key of the table, the key's case ignored ("jpegquality" ->
// kJpegQuality); -1 for any other text. For the command line's --set KEY=VALUE.
int NamedSettingSlot(std::string_view key);

// The values of setting `name` by slot: the slots of the table are filled
// (missing keys with their read defaults), the others are left as they are.
// False, and `slots` unchanged, when the file cannot be read or holds no
// such setting.
bool ReadNamedSetting(const std::filesystem::path& iniPath, std::string_view name,
                      std::array<int, kParaSlotCount>& slots);

// Stores the block's values under `name` (keys already in the section are
// replaced in place, the others appended in table order), then gives the
// block that name (shortened to kParaNameMaxChars; the file keeps it whole).
// False when the name is empty or holds a line break, or the file cannot be
// read or written; the file and the block's name are then unchanged.
bool SaveNamedSetting(CParaBlock& block, std::string_view name,
                      const std::filesystem::path& iniPath);

// Sets the block's name and the slots of the table from setting `name`.
// False, and the block unchanged, when there is no such setting.
bool LoadNamedSetting(CParaBlock& block, std::string_view name,
                      const std::filesystem::path& iniPath);

// Removes setting `name` from the file. False when there was none or the
// file could not be written (it is then unchanged).
bool DeleteNamedSetting(std::string_view name, const std::filesystem::path& iniPath);

// Ready-made settings for reading devices, shipped with the program: the
// reset values with these slots changed. Each straightens a skewed scan,
// crops the margins and the scanner's dark bands, sets the levels with the
// paper whitened (its tint removed), splits spreads, reduces the pages to
// the device's screen, and writes each book as the kind the device reads
// best (devices.tsv), its pages renumbered in reading order:
//   eink-6-1072x1448     6-inch e-ink reader, 300 ppi: 16 greys, PNG, EPUB
//   eink-7-1264x1680     7-inch e-ink reader, 300 ppi: 16 greys, PNG, EPUB
//   tablet-10-1600x2560  10-inch colour tablet: colour kept, JPEG quality 85, CBZ
struct DeviceSetting {
  std::string_view name;
  std::array<std::pair<int, int>, 14> values;  // slot, value
};
inline constexpr std::array<DeviceSetting, 3> kDeviceSettings = {{
    {"eink-6-1072x1448",
     {{{kAutoCrop, 1},
       {kAutoLevels, 1},
       {kAutoLevelsNeutral, 1},
       {kDeskew, 1},
       {kSplitSpreads, 1},
       {kFitWidth, 1072},
       {kFitHeight, 1448},
       {kGreyScale, kGreys16},
       {kTargetFiles, 2},  // .png: 16 greys need a palette format
       {kJpegQuality, 70},
       {kResizeType, 0},
       {kBookKind, 3},  // EPUB (BookOutput, batch_job.h)
       {kSpreadPages, 0},
       {kRenumber, 1}}}},
    {"eink-7-1264x1680",
     {{{kAutoCrop, 1},
       {kAutoLevels, 1},
       {kAutoLevelsNeutral, 1},
       {kDeskew, 1},
       {kSplitSpreads, 1},
       {kFitWidth, 1264},
       {kFitHeight, 1680},
       {kGreyScale, kGreys16},
       {kTargetFiles, 2},
       {kJpegQuality, 70},
       {kResizeType, 0},
       {kBookKind, 3},  // EPUB (BookOutput, batch_job.h)
       {kSpreadPages, 0},
       {kRenumber, 1}}}},
    {"tablet-10-1600x2560",
     {{{kAutoCrop, 1},
       {kAutoLevels, 1},
       {kAutoLevelsNeutral, 1},
       {kDeskew, 1},
       {kSplitSpreads, 1},
       {kFitWidth, 1600},
       {kFitHeight, 2560},
       {kGreyScale, kKeepAsIs},
       {kTargetFiles, 0},  // .jpg
       {kJpegQuality, 85},
       {kResizeType, 0},
       {kBookKind, 0},  // CBZ
       {kSpreadPages, 0},
       {kRenumber, 1}}}},
}};

// Fills `block` with a ready-made setting (reset values, then its slots)
// and gives it the setting's name.
void ApplyDeviceSetting(const DeviceSetting& setting, CParaBlock& block);

// Adds to the file each ready-made setting whose name it does not hold,
// after the user's own; a setting of the same name (in any case) is never
// touched. Called when the settings file is first used in a run (the
// settings dialog, --load), so the sets appear on first use and come back
// when deleted. False when the file could not be read or written (it is
// then unchanged).
bool AddDeviceSettings(const std::filesystem::path& iniPath);

// The names stored in the file, in file order; empty for a missing file.
std::vector<std::string> ListNamedSettings(const std::filesystem::path& iniPath);

// True when setting `name` exists and holds a Sharpen key: saving under that
// name then asks before overwriting (a section without one is overwritten
// silently).
bool NamedSettingNeedsOverwriteConfirm(std::string_view name, const std::filesystem::path& iniPath);

}  // namespace inkbrite
