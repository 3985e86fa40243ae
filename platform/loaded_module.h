// SPDX-License-Identifier: GPL-2.0-or-later
// A shared module of the program's own, loaded while the program runs
// (dlopen): the parts whose libraries only some files need.
#pragma once

#include <filesystem>
#include <string>

namespace inkbrite {

// Loads the module at `path` with every symbol bound at once and none of its
// symbols (or those of its libraries) made visible to anything else. Null
// when it cannot be loaded, with the system's reason in `error`. A module is
// never unloaded.
void* LoadModule(const std::filesystem::path& path, std::string& error);

// The address of the exported symbol `name` of a loaded module; null when it
// has none.
void* ModuleSymbol(void* module, const char* name);

}  // namespace inkbrite
