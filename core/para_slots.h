// SPDX-License-Identifier: GPL-2.0-or-later
// What Inkbrite knows about each slot of a parameter block, in one table.
//
// A row gives a slot's index, its key in the named-settings file, its reset
// value and the value read for a missing key, the range the dialogs, the
// parameter bar and --set offer, its unit and label, the parameter bar's
// page it sits on, and whom it is for (the page, the batch job, the auto-play
// timer or a dialog). CParaBlock's defaults, the named-settings reader and
// writer, --set's keys, range checks and help, and the automatic steps'
// clamping are all derived from it: adding a setting is one row here and the
// step that reads it (docs/ADDING_A_STEP.md).
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "platform/messages.h"

namespace inkbrite {

// Slot indices. The numbering is shared with the named-settings file and the
// messages of the parameter bar, so it must never change; a new slot is
// appended before kParaSlotCount.
enum ParaSlot : int {
  kBrightness = 0,       // percent
  kContrast = 1,         // percent
  kHighlight = 2,        // gain for light pixels, percent
  kGamma = 3,            // exponent x 100
  kCurveX1 = 4,          // tone curve, first control point
  kResize = 5,           // percent of width and height
  kJpegQuality = 6,      // of the JPEG writer
  kSpare = 7,            // read by no operation
  kSharpen = 8,          // 0 = off, 1 to 9
  kBlur = 9,             // 0 = off, 1 = normal, 2 = strong
  kGreyScale = 10,       // colour mode (ColourMode, core/para_block.h)
  kIncludeSubdirs = 11,  // batch job searches subdirectories: 0 or 1
  kThreshold = 12,       // lightness threshold of the highlight step
  kCurveY1 = 13,
  kCurveX2 = 14,  // tone curve, second control point
  kCurveY2 = 15,
  kAutoPlaySeconds = 16,  // the viewer's auto-play interval
  kSourceFiles = 17,      // batch job: index into SourcePatternLists() (formats/format_table.h)
  kTargetFiles = 18,      // batch job: index into SaveExtensions() (formats/format_table.h)
  kCroppingLeft = 19,     // pixels cut from each edge
  kCroppingTop = 20,
  kCroppingRight = 21,
  kCroppingBottom = 22,
  kResizeType = 23,   // 0 bilinear, 1 bicubic, 2 nearest
  kShowPreview = 24,  // preview box of the open-file dialog: 0 or 1
  // The automatic clean-up steps (core/auto_steps.h), after the 25 slots of
  // the original layout. Each step is off (0) by default, and with all four
  // off every result is what it was before they existed.
  kAutoLevels = 25,         // 0 off, 1 on
  kAutoLevelsClip = 26,     // share of darkest and brightest bytes ignored, 0.1 %
  kAutoLevelsLimit = 27,    // most a point moves, levels
  kAutoLevelsNeutral = 28,  // 1: a white point per channel (neutralises paper tint)
  kAutoCrop = 29,           // 0 off, 1 on
  kAutoCropBorder = 30,     // paper kept around the content, pixels
  kAutoCropTolerance = 31,  // difference from the paper that is ink, levels
  kAutoCropMinShare = 32,   // least share of each side kept, percent
  kAutoCropFacing = 33,     // 1: the two pages of a spread share one box
  kSplitSpreads = 34,       // 0 off, 1 on
  kSplitRightToLeft = 35,   // 0: left page first, 1: right page first (manga)
  kDeskew = 36,             // 0 off, 1 on
  kDeskewRange = 37,        // largest skew looked for, 0.1 degree
  kFitWidth = 38,           // pages reduced to fit a screen of this size, pixels;
  kFitHeight = 39,          //   0 (either): not reduced
  kAutoCropFill = 40,       // 1: the margin crop paints the margins paper instead of cutting
  // The restoration steps (core/despeckle.h, core/descreen.h,
  // core/jpeg_cleanup.h), each off (0) by default.
  kDespeckle = 41,         // largest speck removed, pixels
  kDescreen = 42,          // strength of the screen's removal, percent
  kDescreenKeepDots = 43,  // screens coarser than this many pixels are kept; 0: none
  kJpegCleanup = 44,       // 0 off, 1 deblocking and deringing
  // The learned upscaling and denoising (core/learned.h), off by default.
  kLearned = 45,       // 0 off, 1 on
  kLearnedScale = 46,  // 2: twice the size, 1: the size kept (denoising only)
  kLearnedModel = 47,  // 0 upconv_7 (fast), 1 cunet (better, slower)
  kLearnedNoise = 48,  // -1 none, 0 to 3
  // What the batch makes of a book (batch/batch_job.h); -1 in each: the
  // setting leaves it to the run (the dialog's choice, the command line's or
  // the default), as every setting stored before these slots does.
  kBookKind = 49,     // BookOutput: 0 cbz, 1 folder, 2 skip, 3 epub, 4 kepub, 5 pdf
  kFolderBooks = 50,  // 1: each folder of pages becomes one book
  kSpreadPages = 51,  // SpreadPages: 0 split, 1 turned, 2 turned then split
  kRenumber = 52,     // 1: a book's pages named by their place in the reading order
  kParaSlotCount = 53
};

// Whom a setting is for.
enum class SettingScope : uint8_t {
  kPage,      // how a page is enhanced (read by the pipeline)
  kJob,       // how the batch job finds and writes files
  kAutoPlay,  // the viewer's auto-play timer
  kDialog,    // a dialog's own option
  kUnused,    // kept for the layout, read by nothing
};

// The parameter bar's page a setting is shown on. The pages up to kOther are
// those of the original layout, each with controls of its own; every later
// group is a page made from its rows (a new group is a new page, named in
// kSettingGroupLabels), shown in the batch dialog and the settings manager too.
enum class SettingGroup : uint8_t {
  kBrightness,
  kContrast,
  kHighlight,
  kGamma,
  kCurve,
  kResize,
  kJpegQuality,
  kCrop,
  kOther,
  kAuto,
  kRestore,
  kNone,  // not on the bar
};

// A range whose top is the last position of a list the format table gives
// (the engine resolves it: the core does not know the formats).
enum class SettingList : uint8_t { kNone, kSourcePatterns, kSaveExtensions };

struct ParaSlotRow {
  int slot;
  std::string_view key;  // in the named-settings file; empty: never stored
  int32_t reset;         // CParaBlock::ResetDefaults
  int32_t readDefault;   // read for a key missing from a stored setting
  int32_t min;           // the range offered and accepted
  int32_t max;
  SettingList list;
  // The step clamps a value outside the range (from a hand-edited file)
  // when it reads it; the other slots are read as they are.
  bool clamped;
  std::string_view unit;   // not translated
  std::string_view label;  // marked text, shown through EngineText
  SettingGroup group;
  SettingScope scope;
  // The switch (a slot of the same group) this setting belongs to: its
  // control stays beside the switch's and is enabled while it is on; -1:
  // none (a switch, or a setting of its own).
  int step = -1;
};

inline constexpr int32_t kAnyValueMin = std::numeric_limits<int32_t>::min();
inline constexpr int32_t kAnyValueMax = std::numeric_limits<int32_t>::max();

namespace para_rows {
using G = SettingGroup;
using S = SettingScope;
using L = SettingList;
constexpr int32_t kAnyMin = kAnyValueMin;
constexpr int32_t kAnyMax = kAnyValueMax;

// The stored slots in the order their keys are written into a new section
// (the 21 keys of the original layout, then those of the automatic steps, of
// the restoration steps and of the books),
// then the slots that are never stored. GreyScale reads as 1 and
// CroppingBottom as 1 when their keys are missing, unlike their reset values.
// clang-format off
inline constexpr ParaSlotRow kRows[] = {
    // slot, key, reset, read default, min, max, list, clamped, unit,
    //   label, bar page, scope
    {kBrightness, "Brightness", 100, 100, 0, 200, L::kNone, false, "%",
     INKBRITE_TEXT("settings", "亮度"), G::kBrightness, S::kPage},
    {kContrast, "Contrast", 100, 100, 0, 200, L::kNone, false, "%",
     INKBRITE_TEXT("settings", "对比度"), G::kContrast, S::kPage},
    {kHighlight, "Highlight", 100, 100, 100, 200, L::kNone, false, "%",
     INKBRITE_TEXT("settings", "高亮度"), G::kHighlight, S::kPage},
    {kThreshold, "Threshold", 190, 190, 170, 255, L::kNone, false, "",
     INKBRITE_TEXT("settings", "高亮度阈值"), G::kHighlight, S::kPage},
    {kGamma, "Gamma", 100, 100, 0, 200, L::kNone, false, "/100",
     INKBRITE_TEXT("settings", "Gamma校正"), G::kGamma, S::kPage},
    {kResize, "Resize", 100, 100, 0, 200, L::kNone, false, "%",
     INKBRITE_TEXT("settings", "缩放"), G::kResize, S::kPage},
    {kJpegQuality, "JpegQuality", 70, 70, 0, 100, L::kNone, false, "",
     INKBRITE_TEXT("settings", "Jpg质量"), G::kJpegQuality, S::kJob},
    {kCurveX1, "X1", 0, 0, kAnyMin, kAnyMax, L::kNone, false, "",
     INKBRITE_TEXT("settings", "曲线第一点X"), G::kCurve, S::kPage},
    {kCurveX2, "X2", 0, 0, kAnyMin, kAnyMax, L::kNone, false, "",
     INKBRITE_TEXT("settings", "曲线第二点X"), G::kCurve, S::kPage},
    {kCurveY1, "Y1", 0, 0, kAnyMin, kAnyMax, L::kNone, false, "",
     INKBRITE_TEXT("settings", "曲线第一点Y"), G::kCurve, S::kPage},
    {kCurveY2, "Y2", 0, 0, kAnyMin, kAnyMax, L::kNone, false, "",
     INKBRITE_TEXT("settings", "曲线第二点Y"), G::kCurve, S::kPage},
    {kGreyScale, "GreyScale", 2, 1, 0, 7, L::kNone, false, "",
     INKBRITE_TEXT("settings", "颜色模式"), G::kOther, S::kPage},
    {kSharpen, "Sharpen", 0, 0, 0, 9, L::kNone, false, "",
     INKBRITE_TEXT("settings", "锐化"), G::kOther, S::kPage},
    {kBlur, "Blur", 0, 0, 0, 2, L::kNone, false, "",
     INKBRITE_TEXT("settings", "柔化"), G::kOther, S::kPage},
    {kResizeType, "ResizeType", 0, 0, 0, 2, L::kNone, false, "",
     INKBRITE_TEXT("settings", "缩放方式"), G::kResize, S::kPage},
    {kSourceFiles, "SourceFiles", 0, 0, 0, 0, L::kSourcePatterns, false, "",
     INKBRITE_TEXT("settings", "源文件类型"), G::kNone, S::kJob},
    {kTargetFiles, "TargetFiles", 0, 0, 0, 0, L::kSaveExtensions, false, "",
     INKBRITE_TEXT("settings", "目标文件格式"), G::kNone, S::kJob},
    {kCroppingLeft, "CroppingLeft", 0, 0, 0, 500, L::kNone, false, "px",
     INKBRITE_TEXT("settings", "左边切除"), G::kCrop, S::kPage},
    {kCroppingRight, "CroppingRight", 0, 0, 0, 500, L::kNone, false, "px",
     INKBRITE_TEXT("settings", "右边切除"), G::kCrop, S::kPage},
    {kCroppingTop, "CroppingTop", 0, 0, 0, 500, L::kNone, false, "px",
     INKBRITE_TEXT("settings", "上边切除"), G::kCrop, S::kPage},
    {kCroppingBottom, "CroppingBottom", 0, 1, 0, 500, L::kNone, false, "px",
     INKBRITE_TEXT("settings", "下边切除"), G::kCrop, S::kPage},
    {kAutoLevels, "AutoLevels", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "自动色阶"), G::kAuto, S::kPage},
    {kAutoLevelsClip, "AutoLevelsClip", 5, 5, 0, 50, L::kNone, true, "0.1%",
     INKBRITE_TEXT("settings", "色阶两端忽略"), G::kAuto, S::kPage, kAutoLevels},
    {kAutoLevelsLimit, "AutoLevelsLimit", 128, 128, 0, 128, L::kNone, true, "",
     INKBRITE_TEXT("settings", "色阶最多移动"), G::kAuto, S::kPage, kAutoLevels},
    {kAutoLevelsNeutral, "AutoLevelsNeutral", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "去除纸色"), G::kAuto, S::kPage, kAutoLevels},
    {kAutoCrop, "AutoCrop", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "自动切边"), G::kAuto, S::kPage},
    {kAutoCropBorder, "AutoCropBorder", 8, 8, 0, 200, L::kNone, true, "px",
     INKBRITE_TEXT("settings", "切边留边"), G::kAuto, S::kPage, kAutoCrop},
    {kAutoCropTolerance, "AutoCropTolerance", 48, 48, 8, 128, L::kNone, true, "",
     INKBRITE_TEXT("settings", "切边容差"), G::kAuto, S::kPage, kAutoCrop},
    {kAutoCropMinShare, "AutoCropMinShare", 60, 60, 10, 100, L::kNone, true, "%",
     INKBRITE_TEXT("settings", "切边最少保留"), G::kAuto, S::kPage, kAutoCrop},
    {kAutoCropFacing, "AutoCropFacing", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "对页同框"), G::kAuto, S::kPage, kAutoCrop},
    {kSplitSpreads, "SplitSpreads", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "拆分跨页"), G::kAuto, S::kPage},
    {kSplitRightToLeft, "SplitRightToLeft", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "从右到左"), G::kAuto, S::kPage, kSplitSpreads},
    {kDeskew, "Deskew", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "纠斜"), G::kAuto, S::kPage},
    {kDeskewRange, "DeskewRange", 50, 50, 1, 50, L::kNone, true, "0.1°",
     INKBRITE_TEXT("settings", "纠斜范围"), G::kAuto, S::kPage, kDeskew},
    {kFitWidth, "FitWidth", 0, 0, 0, 10000, L::kNone, true, "px",
     INKBRITE_TEXT("settings", "屏幕宽度"), G::kAuto, S::kPage},
    {kFitHeight, "FitHeight", 0, 0, 0, 10000, L::kNone, true, "px",
     INKBRITE_TEXT("settings", "屏幕高度"), G::kAuto, S::kPage},
    {kAutoCropFill, "AutoCropFill", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "填充纸色"), G::kAuto, S::kPage, kAutoCrop},
    {kDespeckle, "Despeckle", 0, 0, 0, 20, L::kNone, true, "px",
     INKBRITE_TEXT("settings", "最大污点"), G::kRestore, S::kPage},
    {kDescreen, "Descreen", 0, 0, 0, 100, L::kNone, true, "%",
     INKBRITE_TEXT("settings", "去网纹强度"), G::kRestore, S::kPage},
    {kDescreenKeepDots, "DescreenKeepDots", 0, 0, 0, 32, L::kNone, true, "px",
     INKBRITE_TEXT("settings", "保留大网点"), G::kRestore, S::kPage},
    {kJpegCleanup, "JpegCleanup", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "JPEG去块"), G::kRestore, S::kPage},
    {kLearned, "Learned", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "智能放大降噪"), G::kRestore, S::kPage},
    {kLearnedScale, "LearnedScale", 2, 2, 1, 2, L::kNone, true, "x",
     INKBRITE_TEXT("settings", "放大倍数"), G::kRestore, S::kPage, kLearned},
    {kLearnedModel, "LearnedModel", 0, 0, 0, 1, L::kNone, true, "",
     INKBRITE_TEXT("settings", "精细模型（较慢）"), G::kRestore, S::kPage, kLearned},
    {kLearnedNoise, "LearnedNoise", 1, 1, -1, 3, L::kNone, true, "",
     INKBRITE_TEXT("settings", "降噪等级"), G::kRestore, S::kPage, kLearned},
    {kBookKind, "Books", -1, -1, -1, 5, L::kNone, false, "",
     INKBRITE_TEXT("settings", "漫画书转为"), G::kNone, S::kJob},
    {kFolderBooks, "FolderBooks", -1, -1, -1, 1, L::kNone, false, "",
     INKBRITE_TEXT("settings", "每个目录转为一本书"), G::kNone, S::kJob},
    {kSpreadPages, "SpreadPages", -1, -1, -1, 2, L::kNone, false, "",
     INKBRITE_TEXT("settings", "跨页拆分方式"), G::kNone, S::kJob},
    {kRenumber, "Renumber", -1, -1, -1, 1, L::kNone, false, "",
     INKBRITE_TEXT("settings", "页面按阅读顺序编号"), G::kNone, S::kJob},
    // Never stored in a named setting.
    {kSpare, "", 100, 100, kAnyMin, kAnyMax, L::kNone, false, "",
     INKBRITE_TEXT("settings", "备用"), G::kNone, S::kUnused},
    {kIncludeSubdirs, "", 1, 1, 0, 1, L::kNone, false, "",
     INKBRITE_TEXT("settings", "搜索子目录"), G::kNone, S::kJob},
    {kAutoPlaySeconds, "", 1, 1, 1, 10, L::kNone, false, "s",
     INKBRITE_TEXT("settings", "自动翻页间隔"), G::kNone, S::kAutoPlay},
    {kShowPreview, "", 0, 0, 0, 1, L::kNone, false, "",
     INKBRITE_TEXT("settings", "打开文件时预览"), G::kNone, S::kDialog},
};
// clang-format on
}  // namespace para_rows

// The name of each group's page, in the order of SettingGroup.
inline constexpr std::string_view kSettingGroupLabels[] = {
    INKBRITE_TEXT("settings", "亮度"),     INKBRITE_TEXT("settings", "对比度"),
    INKBRITE_TEXT("settings", "高亮度"),   INKBRITE_TEXT("settings", "Gamma校正"),
    INKBRITE_TEXT("settings", "曲线调节"), INKBRITE_TEXT("settings", "缩放"),
    INKBRITE_TEXT("settings", "Jpg质量"),  INKBRITE_TEXT("settings", "切边"),
    INKBRITE_TEXT("settings", "其它"),     INKBRITE_TEXT("settings", "自动"),
    INKBRITE_TEXT("settings", "修复")};
static_assert(std::size(kSettingGroupLabels) == static_cast<size_t>(SettingGroup::kNone),
              "every page of the bar has a name");

inline constexpr int kBaseNamedSettingKeyCount = 21;
inline constexpr const auto& kParaSlots = para_rows::kRows;
static_assert(std::size(kParaSlots) == kParaSlotCount, "one row per slot");

// The row of `slot`; nullptr for an index outside 0 to kParaSlotCount - 1.
constexpr const ParaSlotRow* ParaSlotInfo(int slot) {
  for (const ParaSlotRow& row : kParaSlots) {
    if (row.slot == slot) return &row;
  }
  return nullptr;
}

// How many slots have a key in the named-settings file.
constexpr size_t StoredSlotCount() {
  size_t count = 0;
  for (const ParaSlotRow& row : kParaSlots) count += row.key.empty() ? 0 : 1;
  return count;
}

// Values set by CParaBlock::ResetDefaults, by slot index.
inline constexpr std::array<int32_t, kParaSlotCount> kParaDefaults = [] {
  std::array<int32_t, kParaSlotCount> values{};
  for (const ParaSlotRow& row : kParaSlots) values[static_cast<size_t>(row.slot)] = row.reset;
  return values;
}();

// `value` within the row's range (min and max); a row with a list range is
// not the core's to check and keeps the value.
constexpr int32_t ClampToRow(const ParaSlotRow& row, int32_t value) {
  if (row.list != SettingList::kNone) return value;
  return value < row.min ? row.min : (value > row.max ? row.max : value);
}

}  // namespace inkbrite
