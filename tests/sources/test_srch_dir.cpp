// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "sources/srch_dir.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& p, size_t bytes = 0) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
}

// Records every file found, relative to the folder searched.
class Recorder : public CSrchDir {
 public:
  std::vector<std::string> Walk(const fs::path& dir, std::string_view patterns, bool subdirs,
                                const fs::path& excluded = {}) {
    m_root = dir;
    m_found.clear();
    Init(patterns, subdirs, excluded);
    Search(dir);
    return m_found;
  }
  std::function<void()> onFirstFile;

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& find) override {
    EXPECT_EQ(find.name, fullPath.filename());
    m_found.push_back(fullPath.lexically_relative(m_root).generic_string());
    if (m_found.size() == 1 && onFirstFile) onFirstFile();
  }

 private:
  fs::path m_root;
  std::vector<std::string> m_found;
};

// root: a.jpg b.JPG c.png x.jpeg "名 字.jpg"  dir.jpg/  out/f.jpg  sub/d.jpg
//       sub/deeper/e.jpg
class SrchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"b.JPG", "a.jpg", "c.png", "x.jpeg", "名 字.jpg", "out/f.jpg",
                          "sub/d.jpg", "sub/deeper/e.jpg"})
      Touch(root / fs::u8path(f));
    fs::create_directory(root / "dir.jpg");
  }
  test::TempDir tmp;
  fs::path root = tmp.path() / "root";
  Recorder walker;
  // Every *.jpg below root, in walk order.
  std::vector<std::string> allJpg = {"a.jpg",     "b.JPG",     "名 字.jpg",
                                     "out/f.jpg", "sub/d.jpg", "sub/deeper/e.jpg"};
};

TEST(WildcardTest, MatchesLikeWindowsIgnoringCase) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"*.JPG", "a.jpg", true},        {"*.tif", "a.tiff", false},
      {"*.tiff", "a.tif", false},      {"?.jpg", "a.jpg", true},
      {"?.jpg", "ab.jpg", false},      {"页?.jpg", "页码.JPG", true},  // ? is one character
      {"a*b*c", "aXbYbZc", true},      {"a*b*c", "aXbYcZ", false},
      {"*.*", "README", true},         {"CAFÉ.*", "café.png", true},
      {"*", "\xff\xfe.jpg", true},  // not UTF-8: still safe
      {"*.jpg", "\xff\xfe.jpe", false}};
  for (const auto& [pattern, name, match] : cases) {
    EXPECT_EQ(MatchesWildcard(pattern, name), match) << pattern << " " << name;
  }
}

TEST_F(SrchDirTest, FilesByPatternThenSubfoldersInNameOrder) {
  const std::vector<std::string> flat = {"a.jpg", "b.JPG", "名 字.jpg", "c.png"};
  EXPECT_EQ(walker.Walk(root, "*.jpg;*.png", false), flat);
  std::vector<std::string> deep = flat;
  deep.insert(deep.end(), {"out/f.jpg", "sub/d.jpg", "sub/deeper/e.jpg"});
  EXPECT_EQ(walker.Walk(root / "", ";*.JPG  *.png ;", true), deep);  // trailing slash too
  // No de-duplication; an empty list finds nothing but the walk still runs.
  EXPECT_EQ(walker.Walk(root, "*.jpg a.*", false),
            (std::vector<std::string>{"a.jpg", "b.JPG", "名 字.jpg", "a.jpg"}));
  EXPECT_TRUE(walker.Walk(root, " ; ", true).empty());
  EXPECT_TRUE(walker.Walk(root / "missing", "*", true).empty());
  EXPECT_TRUE(walker.Walk("", "*", true).empty());
}

TEST_F(SrchDirTest, ExcludedFolderIsNeverEntered) {
  std::vector<std::string> without = allJpg;
  without.erase(without.begin() + 3);  // out/f.jpg
  fs::create_directory_symlink(root / "out", tmp.path() / "link");
  const fs::path cwd = fs::current_path();
  fs::current_path(tmp.path());
  for (const fs::path& ex : {root / "out", root / "out/", fs::path("root/out"), tmp.path() / "link",
                             root / "sub/../out"})
    EXPECT_EQ(walker.Walk(root, "*.jpg", true, ex), without) << ex;
  fs::current_path(cwd);
  EXPECT_TRUE(walker.Walk(root, "*.jpg", true, root / "").empty());
  // An excluded folder that only appears during the walk (the batch job
  // creates its target folders as it converts) is still left out.
  walker.onFirstFile = [&] { Touch(root / "sub/new/g.jpg"); };
  EXPECT_EQ(walker.Walk(root, "*.jpg", true, root / "sub/new"), allJpg);
  allJpg.push_back("sub/new/g.jpg");
  EXPECT_EQ(walker.Walk(root, "*.jpg", true), allJpg);
}

TEST_F(SrchDirTest, SkipsUnreadableFoldersLinkLoopsAndSpecialFiles) {
  fs::create_directory_symlink(root, root / "sub/loop");
  fs::create_directory_symlink(root / "nowhere", root / "dangling.jpg");
  ASSERT_EQ(mkfifo((root / "pipe.jpg").c_str(), 0600), 0);
  Touch(root / "sub/locked/h.jpg");
  fs::permissions(root / "sub/locked", fs::perms::none);
  const bool enforced = geteuid() != 0;
  std::vector<std::string> expected = allJpg;
  if (!enforced) expected.push_back("sub/locked/h.jpg");
  EXPECT_EQ(walker.Walk(root, "*.jpg", true), expected);
  fs::permissions(root / "sub/locked", fs::perms::owner_all);
  // A folder that vanishes before the walk reaches it (any user, root too).
  walker.onFirstFile = [&] { fs::remove_all(root / "out"); };
  expected.erase(expected.begin() + 3);
  fs::permissions(root / "sub/locked", fs::perms::none);
  EXPECT_EQ(walker.Walk(root, "*.jpg", true), expected);
  fs::permissions(root / "sub/locked", fs::perms::owner_all);
}

TEST_F(SrchDirTest, CounterCountsAndAStoppedCountIsZero) {
  CSrchDirCounter counter;
  EXPECT_EQ(counter.Count(root, "*.jpg;*.jpeg", true), 7u);
  EXPECT_EQ(counter.Count(root, "*.jpg", false, root / "out"), 3u);
  EXPECT_EQ(counter.Count("", "*.jpg", true), 0u);
  int checks = 0;
  EXPECT_EQ(counter.Count(root, "*.jpg", true, {}, [&] { return ++checks == 3; }), 0u);
  EXPECT_TRUE(counter.Stopped());
  EXPECT_EQ(checks, 3);  // the walk ended at the stop
  EXPECT_EQ(counter.Count(root, "*.jpg", true, {}, [] { return false; }), 6u);
  EXPECT_FALSE(counter.Stopped());
}

TEST_F(SrchDirTest, FirstFileFinder) {
  CSrchDirFirst first;
  EXPECT_EQ(first.FindFirst(root, "*.png *.jpg", true), root / "c.png");
  EXPECT_EQ(first.FindFirst(root, "*.gif d.*", true), root / "sub/d.jpg");
  EXPECT_TRUE(first.FindFirst(root, "*.gif", true).empty());
  EXPECT_TRUE(first.FindFirst(root, "*.jpg", true, root).empty());
}

TEST_F(SrchDirTest, CollectorFillsRecordsAndNeverPassesTheArray) {
  Touch(root / "c.png", 70000);
  std::vector<FileRecord> records(4);
  records[2].path = "sentinel";
  CSrchDirCollector collector;
  // More files than room (say, files added since the count): two written.
  EXPECT_EQ(collector.Collect(root, "*.jpg *.png", true, {}, std::span(records).first(2)), 2u);
  EXPECT_EQ(records[1].path, root / "b.JPG");
  EXPECT_EQ(records[2].path, "sentinel");
  // Fewer files than room (files deleted since the count): the number says so.
  EXPECT_EQ(collector.Collect(root, "*.png", false, {}, records), 1u);
  EXPECT_EQ(records[0].path, root / "c.png");
  EXPECT_EQ(records[0].Size(), 70000u);
  EXPECT_EQ(records[0].sizeHigh, 0u);
  // A Windows file time (100 ns since 1601) of about now.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t nowFileTime =
      (std::chrono::duration_cast<std::chrono::seconds>(now).count() + 11644473600ull) * 10000000;
  EXPECT_NEAR(static_cast<double>(records[0].creationTime), static_cast<double>(nowFileTime),
              3600.0 * 10000000);
  EXPECT_EQ(collector.Collect(root, "*", true, {}, {}), 0u);
}

}  // namespace
}  // namespace inkbrite
