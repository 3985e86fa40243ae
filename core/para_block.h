// SPDX-License-Identifier: GPL-2.0-or-later
// CParaBlock: the enhancement settings of Inkbrite.
//
// A block is 45 integer slots (25 of the original layout, then those of the
// automatic clean-up and the restoration steps; core/para_slots.h describes
// each) plus the name of the named setting last loaded into it. There is one
// application-wide block, and each view keeps blocks of its own for the page
// it shows. The enhancement pipeline never reads a block: it reads an
// EnhanceSettings, the block's values taken at one moment under its lock, so
// one run is made with one set of values however the block changes meanwhile.
//
// Threads: every member takes the block's own mutex, so the user-interface
// thread may change a slot while a rendering or batch thread reads the block.
// Assign holds two locks at once and always takes the destination's first;
// callers must never run a.Assign(b) and b.Assign(a) on two threads at the
// same time (the rendering thread only copies a view's block into its own
// last-used copy, so it never does).
//
// The block never checks the range of a slot: slots are plain integers. The
// dialogs and --set keep them within the ranges of core/para_slots.h, the
// tone operations clamp anything else themselves and the automatic steps
// clamp their slots when they read them.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/para_slots.h"

namespace inkbrite {

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

  // Every slot's value, taken under the lock at once.
  std::array<int32_t, kParaSlotCount> Values() const;

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

// The values one run of the enhancement pipeline works on: a block's slots
// taken at one moment, and the resampling filter of its resize steps. A
// block converts to its settings (one snapshot, its own ResizeType the
// filter), so a call given a block reads it once for the whole run.
struct EnhanceSettings {
  std::array<int32_t, kParaSlotCount> values = kParaDefaults;
  int filter = 0;  // 0 bilinear, 1 bicubic, 2 nearest (DibImage::ResizeTo)

  EnhanceSettings() = default;
  EnhanceSettings(const CParaBlock& block) : values(block.Values()), filter(values[kResizeType]) {}
  // With another block's filter (the viewer's: the application-wide one).
  EnhanceSettings(const CParaBlock& block, int resizeFilter)
      : values(block.Values()), filter(resizeFilter) {}

  // Value of slot `index`; 0 for an index outside 0 to kParaSlotCount - 1.
  int operator[](int index) const {
    return index >= 0 && index < kParaSlotCount ? values[static_cast<size_t>(index)] : 0;
  }
  void Set(int index, int value) {
    if (index >= 0 && index < kParaSlotCount) values[static_cast<size_t>(index)] = value;
  }
};

// The application-wide block: one for the whole run, starting from the
// defaults. The dialogs, the parameter bar and the named settings of the
// viewer work on it, and the viewer's renderings take their resampling
// filter from it. DibImage's ResizeTo and ResizePercent without a filter
// read it too; the pipeline never does.
CParaBlock& AppParams();

}  // namespace inkbrite
