// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/loaded_module.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace inkbrite {

void* LoadModule(const std::filesystem::path& path, std::string& error) {
  error.clear();
#ifdef _WIN32
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) error = "LoadLibrary failed (" + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
#else
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
  }
  return module;
#endif
}

void* ModuleSymbol(void* module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

}  // namespace inkbrite
