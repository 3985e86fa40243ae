// SPDX-License-Identifier: GPL-2.0-or-later
// Settings that follow a series or a book: the named set attached to a book
// (sources/library_state.h) is the one it is shown and converted with, else
// the set attached to the nearest folder above it, else the settings of the
// moment. The viewer and the batch both take a book's set from here, so
// they give a page the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/para_block.h"
#include "sources/library_state.h"

namespace inkbrite {

// What LoadAttachedSetting found for a book.
struct AttachedSetting {
  std::optional<Attachment> attachment;  // none: nothing is attached
  bool missing = false;                  // attached, but the settings file holds no such set
};

// Loads into `block` the set in force for `book` (its stored slots over
// what the block holds: the settings of the moment) from the named-settings
// file `iniPath`. The block is unchanged when nothing is attached or the
// set is missing.
AttachedSetting LoadAttachedSetting(const LibraryState& state, const std::filesystem::path& book,
                                    const std::filesystem::path& iniPath, CParaBlock& block);

// A page's own settings ("只用于此页"): the slots it changes over the set
// in force for its book, by the named-settings keys (kNamedSettingKeys),
// kept in the library (LibraryState::SetPageSetting) as "Key=value" lines.
using PageSlots = std::vector<std::pair<int, int>>;  // slot, value in key order
std::string PageSlotsText(const PageSlots& slots);
// The slots of such a text: lines of an unknown key, or whose value is no
// integer in the slot's range (BoundsOfSetting), are passed over.
PageSlots PageSlotsOf(std::string_view text);
// The stored slots where `shown` differs from `base`.
PageSlots ChangedSlots(const std::array<int32_t, kParaSlotCount>& base,
                       const std::array<int32_t, kParaSlotCount>& shown);
// "Brightness=150 GreyScale=0": the slots as the record and the status bar
// name them.
std::string PageSlotsShortText(const PageSlots& slots);

// Where a book's pages are known in the library: its content key and the
// name of each page ("Chapter 2/01.jpg"; a PDF page's number, "1").
// Empty for a folder of pages (the viewer shows those as loose files).
std::string PageSettingsKey(const std::filesystem::path& book);

// The cascade for one book: the set in force (LoadAttachedSetting) and the
// pages' own settings over it.
struct BookSettingsInForce {
  AttachedSetting set;
  std::vector<std::pair<std::string, PageSlots>> pages;  // by page name
  // The page's own slots, or null.
  const PageSlots* PageOwn(std::string_view page) const;
};
// Loads the set in force into `block` (as LoadAttachedSetting) and reads
// the book's pages' own settings.
BookSettingsInForce LoadBookSettings(const LibraryState& state, const std::filesystem::path& book,
                                     const std::filesystem::path& iniPath, CParaBlock& block);

// What a page converted with its own settings is recorded as:
// "NAME（此系列）＋此页：Brightness=150", or "本次设置＋此页：..." for a book
// with no set attached.
std::string PageSettingText(const AttachedSetting& set, const PageSlots& own);

// The settings' fingerprint (BatchSettingsFingerprint) a book converted
// with `settings.useAttached` is recorded with: that of its set in force
// over `runBlock` and of its pages' own settings; the run's own when
// neither is there, so a book nothing is attached to keeps its record.
// A set missing from the settings file gives a fingerprint no record holds.
struct BatchSettings;
std::string AttachedBookFingerprint(const LibraryState& state, const BatchSettings& settings,
                                    const CParaBlock& runBlock, const std::filesystem::path& book);

// "NAME（此系列）": the set in force as the status bar and the record name it.
std::string AttachedSettingText(const Attachment& attachment);

// Why a book's attached set cannot be used: "附加的设置“NAME”已不在设置文件中".
std::string MissingAttachedSettingText(const Attachment& attachment);

// What `inkbrite-batch --list-attached [FOLDER]` prints: a line per
// attachment at or below `folder` (all when empty), "series" or "book", a
// TAB, the set's name, a TAB, the path; the missing sets marked.
std::string AttachedListText(const LibraryState& state, const std::filesystem::path& folder,
                             const std::filesystem::path& iniPath);

// Attachments carried from one library to another in the named-settings
// file's format: a section per set, its keys as the settings file holds
// them, then a key per attachment, "AttachedTo1", "AttachedTo2", ..., whose
// value is the scope, a bar and the path in double quotes
// ("series|/comics/Series A"). A program that reads named settings looks
// its own keys up by name, so it reads such a file as a settings file.
inline constexpr std::string_view kAttachedToKey = "AttachedTo";

// What an export or import did: the sets and attachments carried, and a
// line per set or attachment left out and why (the user's words).
struct AttachedTransfer {
  int sets = 0;
  int attachments = 0;
  std::vector<std::string> leftOut;
  bool failed = false;  // the file could not be read or written: nothing done
  std::string error;    // then why
};

// Writes into `file` a section per set attached at or below `folder` (all
// when empty), the values from the settings file `iniPath`; a section of
// the same name already in `file` is replaced, the rest of it kept. A set
// missing from the settings file is left out.
AttachedTransfer ExportAttachedSettings(const LibraryState& state,
                                        const std::filesystem::path& folder,
                                        const std::filesystem::path& iniPath,
                                        const std::filesystem::path& file);

// Reads `file`: each section becomes a set of the settings file `iniPath`
// (a set of that name already there with other values is kept and the
// section left out, with its attachments) and its attachments are made.
AttachedTransfer ImportAttachedSettings(LibraryState& state, const std::filesystem::path& file,
                                        const std::filesystem::path& iniPath);

}  // namespace inkbrite
