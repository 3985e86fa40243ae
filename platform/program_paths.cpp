// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/program_paths.h"

#include <cstdlib>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace inkbrite {

namespace {

std::filesystem::path EnvPath(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? std::filesystem::path(value)
                                              : std::filesystem::path();
}

bool IsWritableFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return false;
#ifdef _WIN32
  // A probe file tells the truth where ACLs and virtualisation are involved.
  const std::filesystem::path probe = folder / ".inkbrite-write-probe";
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
#else
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

}  // namespace

std::filesystem::path ExecutableFolder() {
#ifdef _WIN32
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  buffer.resize(n);
  return std::filesystem::path(buffer).parent_path();
#else
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  return exe.parent_path();
#endif
}

std::filesystem::path HelperProgramPath(std::string_view name, const char* envVar) {
  const char* fromEnvironment = std::getenv(envVar);
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  const std::filesystem::path exeFolder = ExecutableFolder();
  if (exeFolder.empty()) return {};
  for (const std::filesystem::path& candidate :
       {exeFolder / name, (exeFolder / ".." / "libexec" / "inkbrite" / name).lexically_normal()}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

std::filesystem::path UserDataFolder() {
#ifdef _WIN32
  std::filesystem::path base = EnvPath("LOCALAPPDATA");
  return base.empty() ? base : base / "Inkbrite";
#else
  // The XDG rules ignore a relative XDG_DATA_HOME.
  std::filesystem::path base = EnvPath("XDG_DATA_HOME");
  if (base.empty() || !base.is_absolute()) {
    std::filesystem::path home = EnvPath("HOME");
    if (home.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
      }
    }
    if (home.empty()) return {};
    base = home / ".local" / "share";
  }
  return base / "Inkbrite";
#endif
}

std::filesystem::path InstalledDataFolder(const std::filesystem::path& exeFolder) {
  if (exeFolder.empty()) return {};
  const std::filesystem::path shared = (exeFolder / ".." / "share" / "inkbrite").lexically_normal();
  std::error_code ec;
  return std::filesystem::is_directory(shared, ec) ? shared : std::filesystem::path();
}

std::filesystem::path ShippedFilePath(std::string_view name,
                                      const std::filesystem::path& exeFolder) {
  if (exeFolder.empty() || name.empty()) return {};
  std::error_code ec;
  std::filesystem::path beside = exeFolder / name;
  if (std::filesystem::exists(beside, ec)) return beside;
  const std::filesystem::path installed = InstalledDataFolder(exeFolder);
  if (installed.empty()) return {};
  const std::filesystem::path shared = installed / name;
  return std::filesystem::exists(shared, ec) ? shared : std::filesystem::path();
}

std::filesystem::path ShippedFilePath(std::string_view name) {
  return ShippedFilePath(name, ExecutableFolder());
}

std::filesystem::path ProgramDataFolder(const std::filesystem::path& exeFolder) {
  if (std::filesystem::path forced = EnvPath("INKBRITE_DATA_DIR"); !forced.empty()) return forced;
  if (IsWritableFolder(exeFolder) && InstalledDataFolder(exeFolder).empty()) return exeFolder;
  std::filesystem::path user = UserDataFolder();
  if (user.empty()) return exeFolder;
  std::error_code ec;
  std::filesystem::create_directories(user, ec);  // a failure shows when writing
  return user;
}

std::filesystem::path ProgramDataFolder() { return ProgramDataFolder(ExecutableFolder()); }

std::filesystem::path ProgramFilePath(std::string_view suffix) {
  const std::filesystem::path folder = ProgramDataFolder();
  std::string name(kProgramFileBase);
  name += suffix;
  // No folder: an empty path, which reads as a missing file and refuses
  // writing, rather than a name relative to the current folder.
  return folder.empty() ? std::filesystem::path() : folder / name;
}

}  // namespace inkbrite
