// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-batch run as a process: parts, work lists, killed and resumed
// runs, JSON records read by another JSON reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "batch/cli_host.h"
#include "batch/run_record.h"
#include "formats/image_file.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Parsing needs no process.
TEST(CliPartsOptionsTest, OptionsAndTheirCombinations) {
  auto parse = [](std::vector<std::string_view> args, CliOptions& o, const EnvLookup& env = {}) {
    std::string error;
    const bool ok = ParseCliOptions(args, o, error, env);
    EXPECT_EQ(ok, error.empty()) << error;
    return ok;
  };
  CliOptions o;
  ASSERT_TRUE(parse({"--shard", "1/3", "--record-format", "jsonl", "--skip-existing", "--list0",
                     "--files-from", "l.txt", "i", "o"},
                    o));
  EXPECT_EQ(o.settings.shard.index, 1);
  EXPECT_EQ(o.settings.shard.count, 3);
  EXPECT_EQ(o.settings.recordFormat, RecordFormat::kJsonLines);
  EXPECT_TRUE(o.settings.skipExisting);
  EXPECT_EQ(o.list, CliList::kNul);
  EXPECT_EQ(o.filesFrom, "l.txt");
  CliOptions fromEnv;
  ASSERT_TRUE(parse({"--shard=auto/4", "i", "o"}, fromEnv, [](const char* name) -> const char* {
    return std::string_view(name) == "JOB_COMPLETION_INDEX" ? "3" : nullptr;
  }));
  EXPECT_EQ(fromEnv.settings.shard.index, 3);
  CliOptions merge;
  ASSERT_TRUE(parse({"--record", "all.jsonl", "--merge-records", "a", "b", "c"}, merge));
  EXPECT_EQ(merge.records.size(), 3u);

  for (std::vector<std::string_view> bad :
       {std::vector<std::string_view>{"--record-format", "xml", "i", "o"},
        {"--shard", "3/3", "i", "o"},
        {"--dry-run", "--list", "i", "o"},
        {"--files-from", "l", "--target", "o", "f.jpg"},
        {"--merge-records"}}) {
    CliOptions refused;
    std::string error;
    EXPECT_FALSE(ParseCliOptions(bad, refused, error, [](const char*) { return nullptr; }))
        << bad.front();
  }
}

#ifdef INKBRITE_BATCH_EXE

class CliPartsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir / "data"); }

  int Run(const std::string& args, const std::string& env = "") {
    const std::string command =
        env + " INKBRITE_DATA_DIR='" + (dir / "data").string() + "' '" + INKBRITE_BATCH_EXE + "' " +
        args + " >'" + (dir / "out.txt").string() + "' 2>'" + (dir / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Q(const std::string& name) { return "'" + (dir / name).string() + "'"; }
  std::string Out() { return test::ReadText(dir / "out.txt"); }

  // Pages (grey and colour), two sources of one target, an unreadable file.
  void MakeTree(int pages, int side) {
    for (int i = 0; i < pages; ++i) {
      const fs::path path =
          dir / "src" / ("v" + std::to_string(i % 3)) / ("p" + std::to_string(i) + ".bmp");
      fs::create_directories(path.parent_path());
      DibImage page = test::MakeNoise(side + i % 7, side, static_cast<uint32_t>(i + 1));
      if (i % 5 != 0) page.Greyscale();
      ASSERT_EQ(SaveImageFile(path, page, i % 5 != 0 ? 1 : 0, 90), 1);
    }
    ASSERT_EQ(SaveImageFile(dir / "src/v0/p0.png", test::MakePattern(9, 9), 0, 90), 1);
    test::WriteText(dir / "src/bad.bmp", "BM?");
  }

  std::map<std::string, std::vector<uint8_t>> Tree(const std::string& name) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir / name)) {
      if (entry.is_regular_file()) {
        files[entry.path().lexically_relative(dir / name).native()] = test::ReadAll(entry.path());
      }
    }
    return files;
  }

  test::TempDir dir;
};

// The parts' exit statuses and summary lines; the default records of parts
// do not overwrite each other; --shard auto from Slurm's environment.
TEST_F(CliPartsTest, PartsReportForThemselves) {
  MakeTree(9, 16);
  int converted = 0;
  for (int k = 0; k < 2; ++k) {
    const int status = Run("--shard auto --record-format jsonl " + Q("src") + " " + Q("dst"),
                           "SLURM_ARRAY_TASK_ID=" + std::to_string(k + 1) +
                               " SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=2");
    const fs::path record = dir / ("data/Inkbrite_Rcd.shard-" + std::to_string(k) + "-of-2.jsonl");
    ASSERT_TRUE(fs::exists(record)) << Out();
    const std::string text = test::ReadText(record);
    const bool hasBad = text.find("\"bad.bmp\"") != std::string::npos;
    const bool hasClash = text.find("\"name-taken\"") != std::string::npos;
    EXPECT_EQ(status, hasBad || hasClash ? 1 : 0) << Out();
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    const size_t failed = (hasBad ? 1 : 0) + (hasClash ? 1 : 0);
    EXPECT_NE(Out().find("inkbrite-batch: 第" + std::to_string(k) + "/2份：" +
                         std::to_string(lines - failed) + "个已转换，" + std::to_string(failed) +
                         "个失败，0个跳过\n"),
              std::string::npos)
        << Out();
    converted += static_cast<int>(lines - failed);
  }
  EXPECT_EQ(converted, 9);
  EXPECT_EQ(Run("--shard auto " + Q("src") + " " + Q("dst")), 2);  // no scheduler
}

// --list prints what --files-from reads back: the whole list gives the
// walk's run, a part's list the part's run; names with a TAB, a newline or
// a leading quote go through; standard input works too.
TEST_F(CliPartsTest, ListAndFilesFromRoundTrip) {
  MakeTree(8, 12);
  for (const char* odd : {"tab\there.bmp", "new\nline.bmp", "\"quoted.bmp"}) {
    ASSERT_EQ(SaveImageFile(dir / "src" / odd, test::MakePattern(7, 5), 1, 90), 1);
  }
  ASSERT_EQ(Run("--record " + Q("whole.txt") + " " + Q("src") + " " + Q("whole")), 1);
  ASSERT_EQ(Run("--list " + Q("src") + " " + Q("whole")), 0);
  const std::string list = Out();
  EXPECT_NE(list.find("\"tab\\there.bmp\"\t\""), std::string::npos) << list;
  EXPECT_NE(list.find("v1/p1.bmp\t" + (dir / "whole/v1/p1.jpg").string() + "\n"), std::string::npos)
      << list;
  test::WriteText(dir / "list.txt", list);
  fs::rename(dir / "whole", dir / "walked");
  ASSERT_EQ(Run("--record " + Q("listed.txt") + " --files-from " + Q("list.txt") + " " + Q("src") +
                " " + Q("whole")),
            1);
  EXPECT_EQ(Tree("whole"), Tree("walked"));
  EXPECT_EQ(test::ReadText(dir / "listed.txt"), test::ReadText(dir / "whole.txt"));

  // A part's list (NUL-separated, through standard input) converts the part.
  ASSERT_EQ(Run("--shard 1/2 --list0 " + Q("src") + " " + Q("x")), 0);
  test::WriteText(dir / "part.lst", Out());
  Run("--shard 1/2 " + Q("src") + " " + Q("part"));
  Run("--files-from - " + Q("src") + " " + Q("fromlist") + " <" + Q("part.lst"));
  EXPECT_EQ(Tree("fromlist"), Tree("part"));
  EXPECT_LT(Tree("part").size(), Tree("walked").size());

  test::WriteText(dir / "escape.txt", "../outside.bmp\n");
  EXPECT_EQ(Run("--files-from " + Q("escape.txt") + " " + Q("src") + " " + Q("y")), 2);
  EXPECT_NE(test::ReadText(dir / "err.txt").find("不是源目录下的路径"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "y"));
}

// Runs killed (SIGKILL) at random points and resumed with --skip-existing
// end with exactly what one uninterrupted run writes, no temporary file left
// anywhere, and a record that accounts for every file.
TEST_F(CliPartsTest, KilledRunsResumedConvergeToOneRun) {
  MakeTree(36, 260);
  const std::string common = "--skip-colour --set Sharpen=9 --record-format jsonl --jobs 2 ";
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(common + "--record " + Q("one.jsonl") + " " + Q("src") + " " + Q("one")), 1);
  const auto full = std::chrono::steady_clock::now() - start;
  const auto one = Tree("one");

  fs::create_directories(dir / "rec");
  std::mt19937 rng(1234);
  const std::string exe = INKBRITE_BATCH_EXE;
  int killedMidway = 0;
  for (int round = 0; round < 6; ++round) {
    const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(full) *
                       static_cast<int64_t>(rng() % 900) / 1000;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("INKBRITE_DATA_DIR", (dir / "data").c_str(), 1);
      if (freopen("/dev/null", "w", stdout) == nullptr ||
          freopen("/dev/null", "w", stderr) == nullptr) {
        _exit(126);
      }
      const std::string record = (dir / "rec/run.jsonl").string();
      const std::string src = (dir / "src").string(), dst = (dir / "dst").string();
      execl(exe.c_str(), exe.c_str(), "--skip-existing", "--skip-colour", "--set", "Sharpen=9",
            "--record-format", "jsonl", "--jobs", "2", "--quiet", "--record", record.c_str(),
            src.c_str(), dst.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(delay);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    killedMidway += WIFSIGNALED(status) ? 1 : 0;
  }
  EXPECT_GT(killedMidway, 0);
  ASSERT_EQ(Run(common + "--skip-existing --record " + Q("rec/run.jsonl") + " " + Q("src") + " " +
                Q("dst")),
            1)
      << test::ReadText(dir / "err.txt");
  EXPECT_EQ(Tree("dst"), one);  // no "(2)" copies, no temporary files
  EXPECT_EQ(test::Listing(dir / "rec"), std::vector<std::string>{"run.jsonl"});

  std::map<std::string, std::string> was, now;
  auto read = [](const fs::path& record, std::map<std::string, std::string>& results) {
    const std::string text = test::ReadText(record);
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\n', at);
      RecordEntry e;
      std::string error;
      EXPECT_TRUE(ParseJsonRecordLine(text.substr(at, end - at), e, error)) << error;
      results[e.source] = e.result == "skipped" ? "done" : e.result;
      at = end + 1;
    }
  };
  read(dir / "one.jsonl", was);
  read(dir / "rec/run.jsonl", now);
  for (auto& [source, result] : was) {
    if (result == "converted" || result == "copied") result = "done";
  }
  for (auto& [source, result] : now) {
    if (result == "converted" || result == "copied") result = "done";
  }
  EXPECT_EQ(now, was);
}

// Another JSON reader (Python's) takes every line, and its file names, with
// os.fsencode, are the bytes on disk, also for names that are not UTF-8 or
// hold control characters and quotes.
TEST_F(CliPartsTest, RecordsReadByPython) {
  if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  fs::create_directories(dir / "src");
  const std::vector<std::string> names = {"plain.bmp",         "漫画.bmp",      "bad\xff\xfe.bmp",
                                          "ctl\x01\x1f\t.bmp", "q\"uo\\te.bmp", "nl\n.bmp"};
  for (const std::string& name : names) {
    ASSERT_EQ(SaveImageFile(dir / "src" / name, test::MakePattern(6, 4), 0, 90), 1);
  }
  test::WriteText(dir / "src/broken.bmp", "BM");
  ASSERT_EQ(Run("--record-format jsonl --record " + Q("r.jsonl") + " " + Q("src") + " " + Q("dst")),
            1);
  const std::string script =
      "import json, os, sys\n"
      "src = set(os.listdir(os.fsencode(sys.argv[2])))\n"
      "dst = set(os.listdir(os.fsencode(sys.argv[3])))\n"
      "n = 0\n"
      "for line in open(sys.argv[1], 'rb').read().decode('utf-8').splitlines():\n"
      "    o = json.loads(line)\n"
      "    assert os.fsencode(o['source']) in src, o\n"
      "    assert o['result'] == 'read-failed' or os.fsencode(o['target']) in dst, o\n"
      "    assert isinstance(o['bytes_read'], int) and isinstance(o['ms'], int)\n"
      "    n += 1\n"
      "assert n == len(src), (n, len(src))\n";
  test::WriteText(dir / "check.py", script);
  const std::string command = "/usr/bin/python3 " + Q("check.py") + " " + Q("r.jsonl") + " " +
                              Q("src") + " " + Q("dst") + " 2>" + Q("py.txt");
  EXPECT_EQ(std::system(command.c_str()), 0) << test::ReadText(dir / "py.txt");
}

// --merge-records writes to --record (safely) or standard output, and
// refuses overlapping parts.
TEST_F(CliPartsTest, MergeRecords) {
  MakeTree(6, 10);
  for (int k = 0; k < 3; ++k) {
    Run("--shard " + std::to_string(k) + "/3 --record " + Q("p" + std::to_string(k) + ".txt") +
        " " + Q("src") + " " + Q("dst"));
  }
  Run("--record " + Q("one.txt") + " " + Q("src") + " " + Q("dst"));
  EXPECT_EQ(Run("--merge-records " + Q("p2.txt") + " " + Q("p0.txt") + " " + Q("p1.txt")), 0);
  EXPECT_EQ(Out(), test::ReadText(dir / "one.txt"));
  EXPECT_EQ(Run("--record " + Q("m.txt") + " --merge-records " + Q("p0.txt") + " " + Q("p1.txt") +
                " " + Q("p2.txt")),
            0);
  EXPECT_EQ(test::ReadText(dir / "m.txt"), test::ReadText(dir / "one.txt"));
  Run("--shard 1/3 --record-format jsonl --record " + Q("p1.jsonl") + " " + Q("src") + " " +
      Q("dst"));
  EXPECT_EQ(Run("--merge-records " + Q("p1.jsonl") + " " + Q("p1.jsonl")), 2);
  EXPECT_EQ(Run("--merge-records " + Q("p1.jsonl") + " " + Q("one.txt")), 2);
  EXPECT_EQ(Run("--merge-records " + Q("one.txt")), 2);  // not a part's record
}

#endif  // INKBRITE_BATCH_EXE

}  // namespace
}  // namespace inkbrite
