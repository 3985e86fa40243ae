// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/dir_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void Touch(const fs::path& path, size_t size = 1) {
  test::WriteAll(path, std::vector<uint8_t>(size, 0x55));
}

TEST(DirectoryWatchTest, SignalsNameChangesOnly) {
  TempDir dir;
  Touch(dir / "old.jpg");
  DirectoryWatch watch;
  ASSERT_TRUE(watch.Open(dir.path()));
  EXPECT_FALSE(watch.TakeSignal());
  Touch(dir / "old.jpg", 50);  // content only
  EXPECT_FALSE(watch.TakeSignal());
  Touch(dir / "one.jpg");
  Touch(dir / "two.jpg");
  EXPECT_TRUE(watch.TakeSignal());
  EXPECT_FALSE(watch.TakeSignal());  // drained
  fs::rename(dir / "one.jpg", dir / "three.jpg");
  EXPECT_TRUE(watch.TakeSignal());
  fs::create_directory(dir / "sub");
  EXPECT_TRUE(watch.TakeSignal());
  Touch(dir / "sub" / "deep.jpg");  // not recursive
  EXPECT_FALSE(watch.TakeSignal());
  fs::remove(dir / "two.jpg");
  EXPECT_TRUE(watch.TakeSignal());

  DirectoryWatch missing;
  EXPECT_FALSE(missing.Open(dir / "nowhere"));
  EXPECT_FALSE(missing.Open(dir / "old.jpg"));  // not a folder
  EXPECT_FALSE(missing.TakeSignal());
}

}  // namespace
}  // namespace inkbrite
