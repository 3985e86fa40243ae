// SPDX-License-Identifier: GPL-2.0-or-later
// Where the files that live "beside the program" are kept: the settings file
// (Inkbrite.ini), the batch job's result record (Inkbrite_Rcd.txt) and the
// help page (Inkbrite.htm).
//
// The folder is, in order of precedence:
//   1. $INKBRITE_DATA_DIR when set and not empty (tests and portable set-ups);
//   2. the folder of the running executable, when it is writable;
//   3. the per-user data folder: $XDG_DATA_HOME/Inkbrite, or
//      ~/.local/share/Inkbrite when XDG_DATA_HOME is unset or not absolute;
//      it is created when missing.
// The folder chosen serves reading and writing alike, so a setting saved in
// the per-user folder is found there again. It is worked out on every call,
// so a change of the environment takes effect at once.
#pragma once

#include <filesystem>
#include <string_view>

namespace inkbrite {

// Base name of the files beside the program. Fixed rather than taken from
// the executable, so the viewer and the command-line converter (different
// executables) share one settings file.
inline constexpr std::string_view kProgramFileBase = "Inkbrite";

// Folder of the running executable (from /proc/self/exe); empty when it
// cannot be found.
std::filesystem::path ExecutableFolder();

// The per-user data folder ($XDG_DATA_HOME/Inkbrite or
// ~/.local/share/Inkbrite), not created; empty when no home is known.
std::filesystem::path UserDataFolder();

// The folder of the files beside the program (see the rules above). Empty
// when none can be found.
std::filesystem::path ProgramDataFolder();

// kProgramFileBase followed by `suffix` in ProgramDataFolder():
// ProgramFilePath(".ini") is .../Inkbrite.ini, ProgramFilePath("_Rcd.txt")
// .../Inkbrite_Rcd.txt, ProgramFilePath(".htm") .../Inkbrite.htm. Empty
// when ProgramDataFolder() is.
std::filesystem::path ProgramFilePath(std::string_view suffix);

}  // namespace inkbrite
