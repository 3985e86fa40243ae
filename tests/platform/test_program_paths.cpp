// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/program_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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

// An installed program finds its shipped files in <prefix>/share/inkbrite and
// keeps the files it writes out of <prefix>/bin even where bin is writable
// (as for root); in a build tree both lie beside the executable.
TEST(ProgramPaths, InstalledLayoutAndBuildTree) {
  namespace fs = std::filesystem;
  TempDir dir;
  ScopedEnv data("INKBRITE_DATA_DIR", nullptr);
  ScopedEnv xdg("XDG_DATA_HOME", (dir / "home").c_str());

  const fs::path bin = dir / "usr/bin";
  const fs::path share = dir / "usr/share/inkbrite";
  fs::create_directories(bin);
  fs::create_directories(share / "samples");
  std::ofstream(share / "Inkbrite.htm") << "<html></html>";
  EXPECT_EQ(InstalledDataFolder(bin), share);
  EXPECT_EQ(ShippedFilePath("Inkbrite.htm", bin), share / "Inkbrite.htm");
  EXPECT_EQ(ShippedFilePath("samples", bin), share / "samples");
  EXPECT_TRUE(ShippedFilePath("translations/inkbrite_en.qm", bin).empty());
  EXPECT_EQ(ProgramDataFolder(bin), dir / "home/Inkbrite");
  EXPECT_TRUE(fs::is_directory(dir / "home/Inkbrite"));

  // A build tree: the page beside the program wins, nothing is installed.
  const fs::path app = dir / "build/app";
  fs::create_directories(app);
  std::ofstream(app / "Inkbrite.htm") << "<html></html>";
  EXPECT_TRUE(InstalledDataFolder(app).empty());
  EXPECT_EQ(ShippedFilePath("Inkbrite.htm", app), app / "Inkbrite.htm");
  EXPECT_TRUE(ShippedFilePath("samples", app).empty());
  EXPECT_EQ(ProgramDataFolder(app), app);
  // A page beside an installed program (a hand-made copy) comes first.
  std::ofstream(bin / "Inkbrite.htm") << "<html></html>";
  EXPECT_EQ(ShippedFilePath("Inkbrite.htm", bin), bin / "Inkbrite.htm");
}

}  // namespace
}  // namespace inkbrite
