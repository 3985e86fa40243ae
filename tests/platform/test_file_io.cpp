// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TempDir;

const std::vector<uint8_t> kNew = {'n', 'e', 'w'};
const std::vector<uint8_t> kOld = {'o', 'l', 'd', '!'};

// True when `s` is well-formed UTF-8 (no cut sequence).
bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// "漫" is three bytes in UTF-8: names of every length from 230 to 255 bytes,
// ASCII or cut at every position of a multibyte character.
std::vector<std::string> LongNames() {
  std::vector<std::string> names;
  for (size_t bytes = 230; bytes <= kMaxFileNameBytes; ++bytes) {
    names.push_back(std::string(bytes - 4, 'a') + ".jpg");
    std::string wide;
    while (wide.size() + 3 <= bytes - 4) wide += "漫";
    names.push_back(std::string(bytes - 4 - wide.size(), 'b') + wide + ".jpg");
  }
  return names;
}

// Only regular files are opened; a FIFO no process writes to is refused at
// once (the call would otherwise never return).
TEST(ReadFileBytes, OpensOnlyRegularFiles) {
  TempDir dir;
  test::WriteAll(dir / "page.jpg", kOld);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFileBytes(dir / "page.jpg", 100, bytes));
  EXPECT_EQ(bytes, kOld);
  EXPECT_FALSE(ReadFileBytes(dir / "page.jpg", 3, bytes)) << "larger than allowed";
  fs::create_symlink("page.jpg", dir / "link.jpg");
  EXPECT_TRUE(ReadFileBytes(dir / "link.jpg", 100, bytes));

  ASSERT_EQ(::mkfifo((dir / "x.jpg").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.jpg");
  for (const fs::path& path :
       {dir / "x.jpg", dir / "folder.jpg", fs::path("/dev/null"), dir / "missing.jpg"}) {
    bytes = {1};
    EXPECT_FALSE(ReadFileBytes(path, 100, bytes)) << path;
    EXPECT_EQ(bytes, std::vector<uint8_t>{1}) << path;
    EXPECT_EQ(OpenRegularFile(path), nullptr) << path;
  }
}

TEST(TempFileName, StaysWithinTheNameLimitAndNamesItsOwner) {
  for (const std::string& name : LongNames()) {
    for (const int64_t pid : {int64_t{1}, int64_t{4194304}, int64_t{2147483647}}) {
      const std::string temp = TempFileName(name, pid, "abcd1234");
      EXPECT_LE(temp.size(), kMaxFileNameBytes) << name.size();
      EXPECT_TRUE(IsUtf8(temp)) << name.size();
      EXPECT_EQ(TempFileOwner(temp), pid) << temp;
    }
  }
  // A short name is kept whole, so the file is easy to attribute.
  EXPECT_EQ(TempFileName("page.jpg", 42, "x1y2z3w4"), ".page.jpg.42.x1y2z3w4.inkbrite-tmp");
}

TEST(TempFileName, OnlyOurPatternHasAnOwner) {
  for (const char* name :
       {"page.jpg", ".inkbrite-tmp", ".page.jpg.inkbrite-tmp", "page.jpg.42.abcd1234.inkbrite-tmp",
        ".page.jpg.42.abc.inkbrite-tmp", ".page.jpg.42.ABCD1234.inkbrite-tmp",
        ".page.jpg.4x2.abcd1234.inkbrite-tmp", ".page.jpg.-42.abcd1234.inkbrite-tmp",
        ".page.jpg.0.abcd1234.inkbrite-tmp", ".page.jpg..abcd1234.inkbrite-tmp",
        ".42.abcd1234.inkbrite-tmp", ".page.jpg.abcd1234.inkbrite-tmp",
        ".page.jpg.99999999999999999999.abcd1234.inkbrite-tmp",
        ".page.jpg.42.abcd1234.inkbrite-tmp.bak"}) {
    EXPECT_EQ(TempFileOwner(name), std::nullopt) << name;
  }
}

TEST(TempFileName, TheWriterUsesThePatternWithItsOwnProcessId) {
  TempDir dir;
  SafeFileWriter writer(dir / "page.png");
  ASSERT_TRUE(writer.Open());
  EXPECT_EQ(writer.TempPath().parent_path(), dir.path());
  EXPECT_EQ(TempFileOwner(writer.TempPath().filename().string()), int64_t{::getpid()});
  writer.Discard();
  EXPECT_TRUE(test::Listing(dir.path()).empty());
}

// The writer's machine goes into the name beside its process id; names of
// older writers (no machine) still have an owner.
TEST(TempFileName, NamesTheMachineOfItsProcess) {
  const std::string tagged = TempFileName("page.jpg", 42, "x1y2z3w4", "0123abcd");
  EXPECT_EQ(tagged, ".page.jpg.42@0123abcd.x1y2z3w4.inkbrite-tmp");
  const std::optional<TempFileOrigin> origin = TempFileOriginOf(tagged);
  ASSERT_TRUE(origin.has_value());
  EXPECT_EQ(origin->pid, 42);
  EXPECT_EQ(origin->machine, "0123abcd");
  EXPECT_EQ(TempFileOriginOf(".page.jpg.42.x1y2z3w4.inkbrite-tmp")->machine, "");
  for (const char* name :
       {".page.jpg.42@.x1y2z3w4.inkbrite-tmp", ".page.jpg.42@0123ABCD.x1y2z3w4.inkbrite-tmp",
        ".page.jpg.42@0123abc.x1y2z3w4.inkbrite-tmp", ".page.jpg.@0123abcd.x1y2z3w4.inkbrite-tmp",
        ".page.jpg.42@0123abcd0.x1y2z3w4.inkbrite-tmp"}) {
    EXPECT_EQ(TempFileOriginOf(name), std::nullopt) << name;
  }
  ASSERT_EQ(ThisMachineTag().size(), 8u);  // boot id and pid namespace are readable here
  TempDir dir;
  SafeFileWriter writer(dir / "page.png");
  ASSERT_TRUE(writer.Open());
  EXPECT_EQ(TempFileOriginOf(writer.TempPath().filename().string())->machine, ThisMachineTag());
}

// A pid says nothing about another host's or container's processes: such a
// file is stale only after a day untouched, never because no process here
// has its pid.
TEST(IsStaleTempFile, AsksAboutProcessesOnlyOnTheirOwnMachine) {
  const pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  std::string other = ThisMachineTag();
  other[0] = other[0] == 'a' ? 'b' : 'a';
  TempDir dir;
  auto make = [&](const std::string& name) {
    test::WriteAll(dir / name, kOld);
    return dir / name;
  };
  EXPECT_TRUE(IsStaleTempFile(make(TempFileName("a", gone, "aaaaaaaa", ThisMachineTag()))));
  EXPECT_TRUE(IsStaleTempFile(make(TempFileName("b", gone, "bbbbbbbb"))));
  EXPECT_FALSE(IsStaleTempFile(make(TempFileName("c", ::getpid(), "cccccccc", ThisMachineTag()))));
  const fs::path foreign = make(TempFileName("d", gone, "dddddddd", other));
  EXPECT_FALSE(IsStaleTempFile(foreign));
  fs::last_write_time(foreign, fs::file_time_type::clock::now() -
                                   std::chrono::seconds(kForeignTempFileAgeSeconds + 60));
  EXPECT_TRUE(IsStaleTempFile(foreign));
  const fs::path link = dir / TempFileName("e", gone, "eeeeeeee");
  fs::create_symlink(dir / "a-target", link);
  EXPECT_FALSE(IsStaleTempFile(link));
  EXPECT_FALSE(IsStaleTempFile(make("f.42.ffffffff.inkbrite-tmp")));
}

TEST(ProcessIsRunning, TellsALiveProcessFromAnEndedOne) {
  EXPECT_TRUE(ProcessIsRunning(::getpid()));
  EXPECT_TRUE(ProcessIsRunning(1));  // another user's process
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(ProcessIsRunning(child));
  EXPECT_FALSE(ProcessIsRunning(0));
  EXPECT_FALSE(ProcessIsRunning(-1));
}

TEST(SafeFileWriter, WritesEveryLegalNameLength) {
  TempDir dir;
  for (const std::string& name : LongNames()) {
    ASSERT_TRUE(WriteFileBytesSafely(dir / name, kNew.data(), kNew.size())) << name.size();
    EXPECT_EQ(ReadAll(dir / name), kNew);
    fs::remove(dir / name);
  }
  EXPECT_TRUE(test::Listing(dir.path()).empty());
}

// A link is written through: the file it names gets the bytes, the link stays
// a link, and no temporary file is left in either folder.
TEST(SafeFileWriter, WritesThroughSymbolicLinks) {
  TempDir dir;
  fs::create_directories(dir / "real");
  fs::create_directories(dir / "links");
  test::WriteAll(dir / "real" / "page.jpg", kOld);
  fs::permissions(dir / "real" / "page.jpg", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("../real/page.jpg", dir / "links" / "relative.jpg");
  fs::create_symlink(dir / "links" / "relative.jpg", dir / "links" / "chain.jpg");

  for (const char* link : {"relative.jpg", "chain.jpg"}) {
    test::WriteAll(dir / "real" / "page.jpg", kOld);
    SafeFileWriter writer(dir / "links" / link);
    ASSERT_TRUE(writer.Open()) << link;
    EXPECT_EQ(fs::canonical(writer.TempPath().parent_path()), fs::canonical(dir / "real"));
    ASSERT_TRUE(writer.Write(kNew.data(), kNew.size()));
    ASSERT_TRUE(writer.Commit()) << link;
    EXPECT_TRUE(fs::is_symlink(dir / "links" / link)) << link;
    EXPECT_EQ(ReadAll(dir / "real" / "page.jpg"), kNew) << link;
    EXPECT_EQ(fs::status(dir / "real" / "page.jpg").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(test::Listing(dir / "real"), std::vector<std::string>{"page.jpg"});
  EXPECT_EQ(test::Listing(dir / "links"), (std::vector<std::string>{"chain.jpg", "relative.jpg"}));

  // A dangling link is written through too: the file it names appears.
  fs::create_symlink("made.jpg", dir / "links" / "dangling.jpg");
  ASSERT_TRUE(WriteFileBytesSafely(dir / "links" / "dangling.jpg", kNew.data(), kNew.size()));
  EXPECT_TRUE(fs::is_symlink(dir / "links" / "dangling.jpg"));
  EXPECT_EQ(ReadAll(dir / "links" / "made.jpg"), kNew);

  // A loop of links is refused and left alone.
  fs::create_symlink("loop-b.jpg", dir / "links" / "loop-a.jpg");
  fs::create_symlink("loop-a.jpg", dir / "links" / "loop-b.jpg");
  EXPECT_FALSE(WriteFileBytesSafely(dir / "links" / "loop-a.jpg", kNew.data(), kNew.size()));
  EXPECT_TRUE(fs::is_symlink(dir / "links" / "loop-a.jpg"));
  EXPECT_EQ(test::Listing(dir / "links").size(), 6u);
}

// Another target in the temporary file's folder is taken before the commit
// (the first target untouched); one elsewhere is refused, the first kept.
TEST(SafeFileWriter, TakesAnotherTargetBesideItsTemporaryFile) {
  TempDir dir;
  fs::create_directories(dir / "other");
  test::WriteAll(dir / "a.cbz", kOld);
  struct Case {
    fs::path target;
    bool taken;
  };
  for (const Case& c :
       {Case{dir / "b.cbz", true}, Case{dir / "other" / "b.cbz", false}, Case{dir / "", false}}) {
    SCOPED_TRACE(c.target.string());
    SafeFileWriter writer(dir / "a.cbz");
    ASSERT_TRUE(writer.Open());
    ASSERT_TRUE(writer.Write(kNew.data(), kNew.size()));
    EXPECT_EQ(writer.Retarget(c.target), c.taken);
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(ReadAll(dir / "a.cbz"), c.taken ? kOld : kNew);
    if (c.taken) {
      EXPECT_EQ(ReadAll(c.target), kNew);
    }
    test::WriteAll(dir / "a.cbz", kOld);
  }
  EXPECT_EQ(test::Listing(dir / "other"), std::vector<std::string>{});
}

}  // namespace
}  // namespace inkbrite
