// SPDX-License-Identifier: GPL-2.0-or-later
// CParaBlock: the enhancement settings of Inkbrite.
//
// A block is 40 integer slots (25 of the original layout, then those of the
// automatic clean-up steps) plus the name of the named setting last loaded
// into it. There is one application-wide block, and each view keeps blocks of
// its own for the page it shows; the enhancement pipeline reads a block one
// slot at a time.
//
// Threads: every member takes the block's own mutex, so the user-interface
// thread may change a slot while a rendering or batch thread reads the block.
// Assign holds two locks at once and always takes the destination's first;
// callers must never run a.Assign(b) and b.Assign(a) on two threads at the
// same time (the rendering thread only copies a view's block into its own
// last-used copy, so it never does).
//
// The block never checks the range of a slot: slots are plain integers. The
// dialogs keep brightness, contrast, highlight and gamma within 0 to 200,
// and the tone operations clamp anything else themselves.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace inkbrite {

// Slot indices. The numbering is shared with the named-settings file and the
// messages of the parameter bar, so it must never change.
enum ParaSlot : int {
  kBrightness = 0,       // percent, 0 to 200
  kContrast = 1,         // percent, 0 to 200
  kHighlight = 2,        // gain for light pixels, percent, 100 to 200
  kGamma = 3,            // exponent x 100, 0 to 200
  kCurveX1 = 4,          // tone curve, first control point
  kResize = 5,           // percent of width and height, 0 to 200
  kJpegQuality = 6,      // 0 to 100
  kSpare = 7,            // read by no operation
  kSharpen = 8,          // 0 = off, 1 to 9
  kBlur = 9,             // 0 = off, 1 = normal, 2 = strong
  kGreyScale = 10,       // colour mode 0 to 7 (2 = keep as is)
  kIncludeSubdirs = 11,  // batch job searches subdirectories: 0 or 1
  kThreshold = 12,       // lightness threshold of the highlight step, 170 to 255
  kCurveY1 = 13,
  kCurveX2 = 14,  // tone curve, second control point
  kCurveY2 = 15,
  kAutoPlaySeconds = 16,  // 1 to 10
  kSourceFiles = 17,      // batch job: index into SourcePatternLists() (formats/format_table.h)
  kTargetFiles = 18,      // batch job: index into SaveExtensions() (formats/format_table.h)
  kCroppingLeft = 19,     // pixels cut from each edge, 0 to 500
  kCroppingTop = 20,
  kCroppingRight = 21,
  kCroppingBottom = 22,
  kResizeType = 23,   // 0 bilinear, 1 bicubic, 2 nearest
  kShowPreview = 24,  // preview box of the open-file dialog: 0 or 1
  // The automatic clean-up steps (core/auto_steps.h), after the 25 slots of
  // the original layout. Each step is off (0) by default, and with all four
  // off every result is what it was before they existed.
  kAutoLevels = 25,         // 0 off, 1 on
  kAutoLevelsClip = 26,     // share of darkest and brightest bytes ignored, 0.1 %, 0 to 50
  kAutoLevelsLimit = 27,    // most a point moves, levels, 0 to 128
  kAutoLevelsNeutral = 28,  // 1: a white point per channel (neutralises paper tint)
  kAutoCrop = 29,           // 0 off, 1 on
  kAutoCropBorder = 30,     // paper kept around the content, pixels, 0 to 200
  kAutoCropTolerance = 31,  // difference from the paper that is ink, levels, 8 to 128
  kAutoCropMinShare = 32,   // least share of each side kept, percent, 10 to 100
  kAutoCropFacing = 33,     // 1: the two pages of a spread share one box
  kSplitSpreads = 34,       // 0 off, 1 on
  kSplitRightToLeft = 35,   // 0: left page first, 1: right page first (manga)
  kDeskew = 36,             // 0 off, 1 on
  kDeskewRange = 37,        // largest skew looked for, 0.1 degree, 1 to 50
  kFitWidth = 38,           // pages reduced to fit a screen of this size, pixels;
  kFitHeight = 39,          //   0 (either): not reduced
  kParaSlotCount = 40
};

// Slots of the original layout (0 to 24); the automatic steps follow them.
inline constexpr int kBaseSlotCount = kAutoLevels;

// The values of slot kGreyScale, as stored in settings files.
enum ColourMode : int {
  kColourComic = 0,  // "彩色漫画": kept in colour
  kGreyComic = 1,    // "黑白漫画": greyed
  kKeepAsIs = 2,     // "保持原样": colour or grey as the source file was
  kColours256 = 3,   // reduced to 256 colours
  kGreys16 = 4,      // greyed and reduced to 16, 8 or 4 greys
  kGreys8 = 5,
  kGreys4 = 6,
  kBlackWhite = 7,  // greyed and reduced to black and white
};

// Modes that grey the page (1 and 4 to 7).
constexpr bool IsGreyMode(int mode) {
  return mode == kGreyComic || (mode >= kGreys16 && mode <= kBlackWhite);
}
// Modes that reduce the page to a palette (3 to 7): only formats that can
// hold a palette picture take them.
constexpr bool IsReducedMode(int mode) { return mode >= kColours256 && mode <= kBlackWhite; }
// "Keep as is" resolved for one source: grey for a grey source, else colour;
// any other mode unchanged.
constexpr int ResolveKeepAsIs(int mode, bool greySource) {
  return mode == kKeepAsIs ? (greySource ? kGreyComic : kColourComic) : mode;
}

// Values set by CParaBlock::ResetDefaults, by slot index.
inline constexpr std::array<int32_t, kParaSlotCount> kParaDefaults = {
    100,  // kBrightness
    100,  // kContrast
    100,  // kHighlight
    100,  // kGamma
    0,    // kCurveX1
    100,  // kResize
    70,   // kJpegQuality
    100,  // kSpare
    0,    // kSharpen
    0,    // kBlur
    2,    // kGreyScale: keep as is
    1,    // kIncludeSubdirs
    190,  // kThreshold
    0,    // kCurveY1
    0,    // kCurveX2
    0,    // kCurveY2
    1,    // kAutoPlaySeconds
    0,    // kSourceFiles
    0,    // kTargetFiles
    0,    // kCroppingLeft
    0,    // kCroppingTop
    0,    // kCroppingRight
    0,    // kCroppingBottom
    0,    // kResizeType
    0,    // kShowPreview
    0,    // kAutoLevels
    5,    // kAutoLevelsClip: 0.5 %
    64,   // kAutoLevelsLimit
    0,    // kAutoLevelsNeutral
    0,    // kAutoCrop
    8,    // kAutoCropBorder
    48,   // kAutoCropTolerance
    60,   // kAutoCropMinShare
    0,    // kAutoCropFacing
    0,    // kSplitSpreads
    0,    // kSplitRightToLeft
    0,    // kDeskew
    50,   // kDeskewRange: 5 degrees
    0,    // kFitWidth
    0,    // kFitHeight
};

// Longest name a block keeps, in Unicode code points of its UTF-8 text.
inline constexpr size_t kParaNameMaxChars = 63;

// Longest prefix of `text` that holds at most `maxChars` characters, never
// ending inside a UTF-8 sequence. A malformed byte counts as one character.
std::string_view Utf8Prefix(std::string_view text, size_t maxChars);

class CParaBlock {
 public:
  CParaBlock() { ResetDefaults(); }
  // Holds a mutex: copy values with Assign instead.
  CParaBlock(const CParaBlock&) = delete;
  CParaBlock& operator=(const CParaBlock&) = delete;

  // Value of slot `index`; 0 for an index outside 0 to kParaSlotCount - 1.
  int GetValue(int index) const;
  // Sets slot `index`; an index outside 0 to kParaSlotCount - 1 is ignored.
  void SetValue(int index, int value);

  // Empties the name and sets every slot to kParaDefaults.
  void ResetDefaults();

  // Keeps the first kParaNameMaxChars characters of `name`.
  void SetName(std::string_view name);
  // A copy of the name, taken under the lock.
  std::string GetName() const;

  // Copies the name and every slot of `other` into this block, locking this
  // block first and then `other`. Returns true when the two were already
  // equal (nothing copied), false when anything changed. Assigning a block to
  // itself returns true.
  bool Assign(const CParaBlock& other);

 private:
  std::array<int32_t, kParaSlotCount> m_aValue{};
  std::string m_szName;
  mutable std::mutex m_cs;
};

// The application-wide block: one for the whole run, starting from the
// defaults. The dialogs, the parameter bar, the named settings and the batch
// job work on it; the resamplers read their filter (slot 23) from it.
CParaBlock& AppParams();

}  // namespace inkbrite
