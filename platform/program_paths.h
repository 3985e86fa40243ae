// SPDX-License-Identifier: GPL-2.0-or-later
// Where the program's files are kept.
//
// The files it writes and reads again, "beside the program": the settings
// file (Inkbrite.ini) and the batch job's result record (Inkbrite_Rcd.txt).
// Their folder is, in order of precedence:
//   1. $INKBRITE_DATA_DIR when set and not empty (tests and portable set-ups);
//   2. the folder of the running executable, when it is writable and is not
//      the bin folder of an installation (one with ../share/inkbrite beside
//      it: an installed program never writes into /usr/bin, not even when
//      run as root);
//   3. the per-user data folder: $XDG_DATA_HOME/Inkbrite, or
//      ~/.local/share/Inkbrite when XDG_DATA_HOME is unset or not absolute;
//      it is created when missing.
// The folder chosen serves reading and writing alike, so a setting saved in
// the per-user folder is found there again. It is worked out on every call,
// so a change of the environment takes effect at once.
//
// The files shipped with the program and only read (help pages, sample
// pages, translations) lie beside the executable in a build tree and in
// <prefix>/share/inkbrite when installed as <prefix>/bin/<program>.
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

// A helper program of ours: `envVar`'s value when it is set, else `name`
// beside the running program (a build tree), else <prefix>/libexec/inkbrite
// for a program installed as <prefix>/bin/<program>. Empty when none is
// found.
std::filesystem::path HelperProgramPath(std::string_view name, const char* envVar);

// The per-user data folder ($XDG_DATA_HOME/Inkbrite or
// ~/.local/share/Inkbrite), not created; empty when no home is known.
std::filesystem::path UserDataFolder();

// The folder of the files beside the program (see the rules above), for a
// program whose executable lies in `exeFolder`. Empty when none can be found.
std::filesystem::path ProgramDataFolder(const std::filesystem::path& exeFolder);
std::filesystem::path ProgramDataFolder();

// <exeFolder>/../share/inkbrite, normalised, when that folder exists (the
// program is installed); empty otherwise (a build tree).
std::filesystem::path InstalledDataFolder(const std::filesystem::path& exeFolder);

// A file or folder shipped with the program, named relative to the shipped
// data ("Inkbrite.htm", "samples", "translations/x.qm"): beside the
// executable in `exeFolder` when it is there, else in the installed data
// folder. Empty when neither holds it.
std::filesystem::path ShippedFilePath(std::string_view name,
                                      const std::filesystem::path& exeFolder);
std::filesystem::path ShippedFilePath(std::string_view name);

// kProgramFileBase followed by `suffix` in ProgramDataFolder():
// ProgramFilePath(".ini") is .../Inkbrite.ini, ProgramFilePath("_Rcd.txt")
// .../Inkbrite_Rcd.txt. Empty when ProgramDataFolder() is.
std::filesystem::path ProgramFilePath(std::string_view suffix);

}  // namespace inkbrite
