// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/program_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::TempDir;

// Sets an environment variable (unsets it for nullptr) for one scope.
struct ScopedEnv {
  ScopedEnv(const char* n, const char* value) : name(n) {
    if (const char* was = std::getenv(n)) old = was;
    Set(value);
  }
  ~ScopedEnv() { Set(old ? old->c_str() : nullptr); }
  void Set(const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> old;
};

TEST(ProgramPaths, OverrideExecutableFolderAndUserFolder) {
  TempDir dir;
  {
    ScopedEnv data("INKBRITE_DATA_DIR", dir.path().c_str());
    EXPECT_EQ(ProgramFilePath(".ini"), dir / "Inkbrite.ini");
  }
  {
    ScopedEnv data("INKBRITE_DATA_DIR", nullptr);
    // The test program's own folder is writable.
    ASSERT_FALSE(ExecutableFolder().empty());
    EXPECT_EQ(ProgramFilePath(".htm"), ExecutableFolder() / "Inkbrite.htm");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", dir.path().c_str());
    EXPECT_EQ(UserDataFolder(), dir / "Inkbrite");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", "relative/path");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(UserDataFolder(), std::filesystem::path("/home/someone/.local/share/Inkbrite"));
  }
}

}  // namespace
}  // namespace inkbrite
