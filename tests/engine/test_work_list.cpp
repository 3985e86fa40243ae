// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/work_list.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> const char* {
    const auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
}

ShardSpec Shard(std::string_view text, const EnvLookup& env = Env({})) {
  ShardSpec shard;
  std::string error;
  EXPECT_TRUE(ParseShard(text, env, shard, error)) << text << ": " << error;
  return shard;
}

bool Refused(std::string_view text, const EnvLookup& env = Env({})) {
  ShardSpec shard;
  std::string error;
  const bool ok = ParseShard(text, env, shard, error);
  EXPECT_EQ(ok, error.empty()) << error;
  return !ok;
}

TEST(ShardSpecTest, ExplicitParts) {
  EXPECT_EQ(Shard("0/1").count, 1);
  const ShardSpec s = Shard("3/4");
  EXPECT_EQ(s.index, 3);
  EXPECT_EQ(s.count, 4);
  EXPECT_TRUE(s.Given());
  EXPECT_FALSE(ShardSpec{}.Given());
  for (const char* bad : {"4/4", "-1/4", "1/0", "1", "1/", "/4", "a/4", "1/4x", "", "1/1000001"}) {
    EXPECT_TRUE(Refused(bad)) << bad;
  }
}

// Slurm numbers an array's tasks from its first index in steps; the part is
// the task's place in the array. Kubernetes gives the index alone.
TEST(ShardSpecTest, PartsFromTheScheduler) {
  const ShardSpec slurm =
      Shard("auto", Env({{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}));
  EXPECT_EQ(slurm.index, 2);
  EXPECT_EQ(slurm.count, 4);
  const ShardSpec stepped = Shard("auto", Env({{"SLURM_ARRAY_TASK_ID", "13"},
                                               {"SLURM_ARRAY_TASK_MIN", "1"},
                                               {"SLURM_ARRAY_TASK_STEP", "4"},
                                               {"SLURM_ARRAY_TASK_COUNT", "4"}}));
  EXPECT_EQ(stepped.index, 3);
  EXPECT_EQ(stepped.count, 4);
  EXPECT_EQ(
      Shard("auto/4", Env({{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}})).index,
      1);
  const ShardSpec k8s = Shard("auto/5", Env({{"JOB_COMPLETION_INDEX", "4"}}));
  EXPECT_EQ(k8s.index, 4);
  EXPECT_EQ(k8s.count, 5);

  EXPECT_TRUE(Refused("auto"));                                        // no scheduler
  EXPECT_TRUE(Refused("auto", Env({{"JOB_COMPLETION_INDEX", "1"}})));  // no count
  EXPECT_TRUE(Refused("auto/2", Env({{"JOB_COMPLETION_INDEX", "2"}})));
  EXPECT_TRUE(Refused("auto", Env({{"SLURM_ARRAY_TASK_ID", "1"}})));
  EXPECT_TRUE(
      Refused("auto/8", Env({{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}})));
  EXPECT_TRUE(
      Refused("auto", Env({{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_COUNT", "4"}})));
  EXPECT_TRUE(Refused("auto", Env({{"SLURM_ARRAY_TASK_ID", "2"},
                                   {"SLURM_ARRAY_TASK_MIN", "1"},
                                   {"SLURM_ARRAY_TASK_STEP", "2"},
                                   {"SLURM_ARRAY_TASK_COUNT", "4"}})));
  EXPECT_TRUE(
      Refused("auto", Env({{"SLURM_ARRAY_TASK_ID", "9"}, {"SLURM_ARRAY_TASK_COUNT", "4"}})));
}

TEST(WorkUnitKeyTest, SourcesOfOneTargetShareAKey) {
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);  // the published test vectors
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
  // The parts as docs/CLUSTER.md defines them, worked out apart from this
  // code: a part must not move between versions, or a resumed run would
  // find other files in its record.
  EXPECT_EQ(MixBits(Fnv1a64("vol 1/page")), 0xbff4a8eb48e0dd9bull);
  EXPECT_EQ(ShardOfFile("vol 1/page (3).png", 4), 3);
  EXPECT_EQ(ShardOfFile("vol 1/page.jpg", 7), 0);
  EXPECT_EQ(ShardOfFile("漫画/第1话.jpg", 16), 3);
  EXPECT_EQ(ShardOfFile("p1.tif", 1000), 148);
  const std::string key = WorkUnitKey("vol 1/page.jpg");
  EXPECT_EQ(key, "vol 1/page");
  for (const char* same : {"vol 1/page.png", "vol 1/page (2).jpg", "vol 1/page (13).tif",
                           "vol 1/./page.bmp", "vol 1/page"}) {
    EXPECT_EQ(WorkUnitKey(same), key) << same;
  }
  for (const char* other : {"vol 1/page (x).jpg", "vol 1/page(2).jpg", "vol 1/page ().jpg",
                            "vol 2/page.jpg", "vol 1/Page.jpg", "vol 1/page.1.jpg"}) {
    EXPECT_NE(WorkUnitKey(other), key) << other;
  }
  EXPECT_EQ(WorkUnitKey(".hidden"), ".hidden");
}

// A generated tree: folders and names that share stems, copy numbers, the
// same name in several folders, names that are not UTF-8.
std::vector<std::string> GeneratedNames(std::mt19937& rng, int count) {
  std::vector<std::string> names;
  const char* exts[] = {".jpg", ".png", ".bmp", ".tif"};
  for (int i = 0; i < count; ++i) {
    std::string name = "d" + std::to_string(rng() % 5) + "/";
    if (rng() % 3 == 0) name += "s" + std::to_string(rng() % 3) + "/";
    name += "p" + std::to_string(rng() % (count / 2 + 1));
    if (rng() % 6 == 0) name += " (" + std::to_string(2 + rng() % 3) + ")";
    if (rng() % 20 == 0) name += "\xff\xfe";
    names.push_back(name + exts[rng() % 4]);
  }
  return names;
}

void WriteTree(const fs::path& root, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    fs::create_directories((root / name).parent_path());
    test::WriteText(root / name, name);
  }
}

BatchSettings TreeSettings(const fs::path& root, int index, int count) {
  BatchSettings s;
  s.sourceDir = root / "src";
  s.targetDir = root / "dst";
  s.patterns = "*.jpg;*.png;*.bmp;*.tif";
  s.newExtension = ".jpg";
  if (count > 0) s.shard = {index, count};
  return s;
}

// Over generated trees and several part counts: the parts are disjoint and
// cover the whole list, each file carries its place in the whole list,
// files that share a key share a part, a file keeps its part when files are
// added and whatever order the walk takes, and the parts are about even.
TEST(ShardTest, PartsOfGeneratedTrees) {
  std::mt19937 rng(2024);
  for (int tree = 0; tree < 3; ++tree) {
    test::TempDir dir;
    WriteTree(dir / "src", GeneratedNames(rng, 300));
    const std::vector<fs::path> whole = ListBatchFiles(TreeSettings(dir.path(), 0, 0), nullptr);
    ASSERT_GT(whole.size(), 200u);
    for (const int count : {1, 2, 3, 4, 7}) {
      SCOPED_TRACE(count);
      std::map<size_t, int> partOf;
      std::map<std::string, int> partOfKey;
      for (int k = 0; k < count; ++k) {
        for (const BatchWorkItem& item :
             BatchWorkList(TreeSettings(dir.path(), k, count), nullptr)) {
          ASSERT_LT(item.index, whole.size());
          EXPECT_EQ(item.source, whole[item.index]);
          EXPECT_TRUE(partOf.emplace(item.index, k).second) << item.source;  // disjoint
          const std::string key = WorkUnitKey(item.source.lexically_relative(dir / "src"));
          EXPECT_EQ(partOfKey.emplace(key, k).first->second, k) << item.source;
        }
      }
      EXPECT_EQ(partOf.size(), whole.size());  // covering
    }

    // The walk's order changes with the pattern order; the parts do not.
    BatchSettings reordered = TreeSettings(dir.path(), 1, 3);
    reordered.patterns = "*.tif;*.bmp;*.png;*.jpg";
    std::set<fs::path> before, after;
    for (const BatchWorkItem& item : BatchWorkList(TreeSettings(dir.path(), 1, 3), nullptr)) {
      before.insert(item.source);
    }
    for (const BatchWorkItem& item : BatchWorkList(reordered, nullptr)) after.insert(item.source);
    EXPECT_EQ(before, after);

    // Added files: every file of the old tree stays in its part.
    std::map<fs::path, int> old;
    for (int k = 0; k < 4; ++k) {
      for (const BatchWorkItem& item : BatchWorkList(TreeSettings(dir.path(), k, 4), nullptr)) {
        old[item.source] = k;
      }
    }
    WriteTree(dir / "src", GeneratedNames(rng, 100));
    for (int k = 0; k < 4; ++k) {
      for (const BatchWorkItem& item : BatchWorkList(TreeSettings(dir.path(), k, 4), nullptr)) {
        const auto it = old.find(item.source);
        if (it != old.end()) {
          EXPECT_EQ(it->second, k) << item.source;
        }
      }
    }
  }
  // Names whose bytes differ only above their two lowest bits spread over
  // the parts too (FNV-1a's low bits alone would put them in one of 4).
  for (const int count : {4, 8}) {
    std::set<int> used;
    for (const char c : std::string("AEIMQUY]aeimquy}")) {
      used.insert(ShardOfFile(std::string("p") + c + ".jpg", count));
    }
    EXPECT_GE(used.size(), static_cast<size_t>(count) - 1) << count;
  }
  // About even: 4000 distinct names over 4 parts.
  std::vector<int> sizes(4);
  for (int i = 0; i < 4000; ++i) {
    ++sizes[static_cast<size_t>(
        ShardOfFile("vol" + std::to_string(i / 200) + "/p" + std::to_string(i) + ".jpg", 4))];
  }
  for (const int size : sizes) EXPECT_NEAR(size, 1000, 150);
}

// What --list prints, --files-from reads back: every name, whatever bytes
// it holds, in line or NUL form, plain lists too.
TEST(FileListTest, QuotedNamesRoundTrip) {
  const std::vector<std::string> names = {"plain.jpg",
                                          "sub/with space.jpg",
                                          "tab\there.jpg",
                                          "new\nline.jpg",
                                          "\"quoted\".jpg",
                                          "back\\slash.jpg",
                                          "ctrl\x01\x1f\x7f.jpg",
                                          "cr\r.jpg",
                                          "\xff\xfe not utf-8.jpg",
                                          "漫画/第1话.jpg"};
  for (const char end : {'\n', '\0'}) {
    std::string list;
    for (const std::string& name : names) {
      list += QuoteListField(name) + "\t" + QuoteListField("/out/" + name) + end;
    }
    std::vector<fs::path> read;
    std::string error;
    ASSERT_TRUE(ParseFileList(list, read, error)) << error;
    ASSERT_EQ(read.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(read[i].native(), names[i]);
  }
  EXPECT_EQ(QuoteListField("plain.jpg"), "plain.jpg");
  EXPECT_EQ(QuoteListField("a\tb"), "\"a\\tb\"");
  EXPECT_EQ(QuoteListField("x\x01"), "\"x\\001\"");
  EXPECT_EQ(QuoteListField("back\\slash"), "back\\slash");  // needs no quotes

  std::vector<fs::path> read;
  std::string error;
  ASSERT_TRUE(ParseFileList("a.jpg\r\n\nsub/b.jpg\n./c.jpg", read, error)) << error;
  EXPECT_EQ(read, (std::vector<fs::path>{"a.jpg", "sub/b.jpg", "c.jpg"}));
  for (const char* bad : {"/etc/passwd\n", "../up.jpg\n", "a/../../up.jpg\n", "\"open.jpg\n",
                          "\"a\\q\"\n", "\"a\"b\n", "\"\"\n", "\"a\\4\"\n"}) {
    read.clear();
    error.clear();
    EXPECT_FALSE(ParseFileList(bad, read, error)) << bad;
    EXPECT_NE(error.find("第1条"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace inkbrite
