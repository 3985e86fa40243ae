// SPDX-License-Identifier: GPL-2.0-or-later
// main() of the user-interface tests: an offscreen QApplication whose
// settings (QSettings, the registry stand-in) and reading places live in a
// fresh folder, so no test reads or writes the developer's own settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  inkbrite::test::TempDir config;
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  setenv("INKBRITE_DATA_DIR", config.path().c_str(), 1);
  // The interface in its source language (Chinese) whatever the machine's
  // locale; the language tests set their own.
  setenv("INKBRITE_LANG", "zh", 1);
  setenv("XDG_STATE_HOME", (config.path() / "state").c_str(), 1);
  setenv("XDG_CACHE_HOME", (config.path() / "cache").c_str(), 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
