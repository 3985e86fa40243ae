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

// The keys in the order they are written into a new section: the 21 keys of
// the original layout, then those of the automatic clean-up steps. The
// defaults are those of reading only: GreyScale reads as 1 (black-and-white
// comic) and CroppingBottom as 1, unlike the block's reset values; the
// automatic steps read as off with their reset settings, so a file written
// before they existed loads exactly as it did. A program that knows only
// the first 21 keys reads a newer file's section all the same (it looks its
// keys up by name and passes over the others). Slots 7, 11, 16 and 24
// belong to no named setting.
inline constexpr size_t kBaseNamedSettingKeys = 21;
inline constexpr std::array<NamedSettingKey, 36> kNamedSettingKeys = {{
    {"Brightness", kBrightness, 100},
    {"Contrast", kContrast, 100},
    {"Highlight", kHighlight, 100},
    {"Threshold", kThreshold, 190},
    {"Gamma", kGamma, 100},
    {"Resize", kResize, 100},
    {"JpegQuality", kJpegQuality, 70},
    {"X1", kCurveX1, 0},
    {"X2", kCurveX2, 0},
    {"Y1", kCurveY1, 0},
    {"Y2", kCurveY2, 0},
    {"GreyScale", kGreyScale, 1},
    {"Sharpen", kSharpen, 0},
    {"Blur", kBlur, 0},
    {"ResizeType", kResizeType, 0},
    {"SourceFiles", kSourceFiles, 0},
    {"TargetFiles", kTargetFiles, 0},
    {"CroppingLeft", kCroppingLeft, 0},
    {"CroppingRight", kCroppingRight, 0},
    {"CroppingTop", kCroppingTop, 0},
    {"CroppingBottom", kCroppingBottom, 1},
    {"AutoLevels", kAutoLevels, 0},
    {"AutoLevelsClip", kAutoLevelsClip, kParaDefaults[kAutoLevelsClip]},
    {"AutoLevelsLimit", kAutoLevelsLimit, kParaDefaults[kAutoLevelsLimit]},
    {"AutoLevelsNeutral", kAutoLevelsNeutral, 0},
    {"AutoCrop", kAutoCrop, 0},
    {"AutoCropBorder", kAutoCropBorder, kParaDefaults[kAutoCropBorder]},
    {"AutoCropTolerance", kAutoCropTolerance, kParaDefaults[kAutoCropTolerance]},
    {"AutoCropMinShare", kAutoCropMinShare, kParaDefaults[kAutoCropMinShare]},
    {"AutoCropFacing", kAutoCropFacing, 0},
    {"SplitSpreads", kSplitSpreads, 0},
    {"SplitRightToLeft", kSplitRightToLeft, 0},
    {"Deskew", kDeskew, 0},
    {"DeskewRange", kDeskewRange, kParaDefaults[kDeskewRange]},
    {"FitWidth", kFitWidth, 0},
    {"FitHeight", kFitHeight, 0},
}};

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
// reset values with these slots changed. Each crops the margins, sets the
// levels and splits spreads, and reduces the pages to the device's screen:
//   eink-6-1072x1448     6-inch e-ink reader, 300 ppi: 16 greys, PNG
//   eink-7-1264x1680     7-inch e-ink reader, 300 ppi: 16 greys, PNG
//   tablet-10-1600x2560  10-inch colour tablet: colour kept, JPEG quality 85
struct DeviceSetting {
  std::string_view name;
  std::array<std::pair<int, int>, 9> values;  // slot, value
};
inline constexpr std::array<DeviceSetting, 3> kDeviceSettings = {{
    {"eink-6-1072x1448",
     {{{kAutoCrop, 1},
       {kAutoLevels, 1},
       {kSplitSpreads, 1},
       {kFitWidth, 1072},
       {kFitHeight, 1448},
       {kGreyScale, kGreys16},
       {kTargetFiles, 2},  // .png: 16 greys need a palette format
       {kJpegQuality, 70},
       {kResizeType, 0}}}},
    {"eink-7-1264x1680",
     {{{kAutoCrop, 1},
       {kAutoLevels, 1},
       {kSplitSpreads, 1},
       {kFitWidth, 1264},
       {kFitHeight, 1680},
       {kGreyScale, kGreys16},
       {kTargetFiles, 2},
       {kJpegQuality, 70},
       {kResizeType, 0}}}},
    {"tablet-10-1600x2560",
     {{{kAutoCrop, 1},
       {kAutoLevels, 1},
       {kSplitSpreads, 1},
       {kFitWidth, 1600},
       {kFitHeight, 2560},
       {kGreyScale, kKeepAsIs},
       {kTargetFiles, 0},  // .jpg
       {kJpegQuality, 85},
       {kResizeType, 0}}}},
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
