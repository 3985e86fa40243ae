// SPDX-License-Identifier: GPL-2.0-or-later
// Settings that follow a series or a book: the named set attached to a book
// (sources/library_state.h) is the one it is shown and converted with, else
// the set attached to the nearest folder above it, else the settings of the
// moment. The viewer and the batch both take a book's set from here, so
// they give a page the same bytes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

// "NAME（此系列）": the set in force as the status bar and the record name it.
std::string AttachedSettingText(const Attachment& attachment);

// Why a book's attached set cannot be used: "附加的设置“NAME”已不在设置文件中".
std::string MissingAttachedSettingText(const Attachment& attachment);

// What `inkbrite-batch --list-attached [FOLDER]` prints: a line per
// attachment at or below `folder` (all when empty), "series" or "book", a
// TAB, the set's name, a TAB, the path; the missing sets marked.
std::string AttachedListText(const LibraryState& state, const std::filesystem::path& folder,
                             const std::filesystem::path& iniPath);

}  // namespace inkbrite
