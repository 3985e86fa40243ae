// SPDX-License-Identifier: GPL-2.0-or-later
// Fault injection for CBatchJob against real folders: a target that turns
// read-only mid-run, a full disk, unreadable and vanishing sources, and a
// stop request at every check. Each run, one at a time and with workers, into
// another folder and over the sources, is checked for the same promises: no
// source changed or lost, nothing half-written, every failure recorded, and a
// summary that counts exactly the pages written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "formats/image_file.h"
#include "platform/child_process.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

using test::RecordingHost;

// A tmpfs mounted over a folder for one run, unmounted however the test ends.
class TmpfsMount {
 public:
  // False when it cannot be mounted (not root, no capability).
  bool Mount(const fs::path& at, const char* options) {
    if (geteuid() != 0 || mount("tmpfs", at.c_str(), "tmpfs", 0, options) != 0) return false;
    m_at = at;
    return true;
  }
  bool RemountReadOnly() {
    return mount("tmpfs", m_at.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  ~TmpfsMount() {
    if (!m_at.empty() && umount2(m_at.c_str(), 0) != 0) umount2(m_at.c_str(), MNT_DETACH);
  }

 private:
  fs::path m_at;
};

enum class Fault {
  kReadOnlyTarget,      // the folder written to turns read-only once the 2nd file starts
  kDiskFull,            // the folder written to is a small tmpfs
  kUnreadableSource,    // a page cut short; a page with no read permission
  kDeletedAfterCount,   // two pages vanish once counting is over
  kDeletedAtFirstFile,  // two pages vanish when the first file starts
  kStop,                // no fault; the host stops at a given check
};

struct FileState {
  ino_t inode = 0;
  std::vector<uint8_t> bytes;
};

class BatchFaultTest : public ::testing::TestWithParam<std::tuple<Fault, bool, int>> {
 protected:
  BatchFaultTest() {
    settings.patterns = "*.bmp";
    settings.newExtension = ".bmp";
    settings.colourMode = 0;
    settings.params = &params;
  }

  // One run in a fresh folder.
  struct Run {
    fs::path root, src, tgt, grave, record;
    bool same = false;
    bool strandedTempAllowed = false;
    std::map<fs::path, FileState> before;  // every file under root
    std::map<fs::path, fs::path> moved;    // grave path -> original path
    std::vector<fs::path> sources;
    TmpfsMount mount;
    RecordingHost host;
    CBatchJob job;
  };

  // src/p0..p4.bmp and src/sub/q0..q2.bmp (only p0, p1 and sub/q0 when
  // `few`); with `big`, every other page is large (270 KB), so that a small
  // disk fills up part way and workers are still busy when a fault comes.
  static void WriteTree(const fs::path& src, bool big, bool few) {
    fs::create_directories(src / "sub");
    int i = 0;
    const std::vector<std::string> all{"p0", "p1", "p2", "p3", "p4", "sub/q0", "sub/q1", "sub/q2"};
    for (const std::string& name : few ? std::vector<std::string>{"p0", "p1", "sub/q0"} : all) {
      const int side = big && i++ % 2 == 0 ? 300 : 16;
      ASSERT_EQ(SaveImageFile(src / (name + ".bmp"), test::MakePattern(side, side), 0, 90), 1);
    }
  }

  void Snapshot(Run& run) {
    for (const auto& e : fs::recursive_directory_iterator(run.root)) {
      if (!e.is_regular_file()) continue;
      struct stat st {};
      ASSERT_EQ(stat(e.path().c_str(), &st), 0);
      run.before[e.path()] = {st.st_ino, test::ReadAll(e.path())};
      if (e.path().extension() == ".bmp") run.sources.push_back(e.path());
    }
  }

  // Moves a page out of the walk's way (atomically, so a page the run has
  // just replaced is still told apart from the original by its inode).
  static void Vanish(Run& run, const fs::path& page) {
    const fs::path to = run.grave / page.filename();
    if (rename(page.c_str(), to.c_str()) == 0) run.moved[to] = page;
  }

  // Builds the folders and the fault; the caller then runs run.job.
  bool Prepare(Run& run, Fault fault, bool same, int n) {
    run.root = dir / ("run" + std::to_string(n));
    run.src = run.root / "src";
    run.tgt = same ? run.src : run.root / "tgt";
    run.grave = run.root / "grave";
    run.record = run.root / "rec.txt";
    run.same = same;
    for (const fs::path& d : {run.tgt, run.src, run.grave}) fs::create_directories(d);
    if (fault == Fault::kDiskFull) {
      // Into another folder: 1 MiB holds three of the four large pages. Over
      // the sources: they are written in first, then a filler leaves 100 KB.
      if (!run.mount.Mount(run.tgt, same ? "size=2m" : "size=1m")) return false;
    } else if (fault == Fault::kReadOnlyTarget && geteuid() == 0) {
      // Root writes into any folder whatever its mode bits; a read-only
      // file system (as when a drive is remounted after an error) stops it.
      if (!run.mount.Mount(run.tgt, "size=16m")) return false;
    }
    WriteTree(run.src, fault == Fault::kDiskFull || fault == Fault::kReadOnlyTarget,
              fault == Fault::kStop);
    if (fault == Fault::kDiskFull && same) {
      const auto space = fs::space(run.tgt);
      std::ofstream filler(run.tgt / "filler.dat", std::ios::binary);
      const std::string block(4096, '\x5a');
      for (uintmax_t left = space.available - 100 * 1024; left >= 4096; left -= 4096)
        filler << block;
    }
    if (fault == Fault::kUnreadableSource) {
      // A page cut short, as an interrupted copy leaves it: fails for anyone.
      fs::resize_file(run.src / "p2.bmp", fs::file_size(run.src / "p2.bmp") / 2);
    }
    Snapshot(run);
    if (fault == Fault::kUnreadableSource) {
      // No read permission: fails unless running as root.
      fs::permissions(run.src / "sub/q0.bmp", fs::perms::none);
    }

    settings.sourceDir = run.src;
    settings.targetDir = run.tgt;
    settings.recordPath = run.record;
    run.host.hook = [this, fault, &run](RecordingHost& host) {
      if (fault == Fault::kReadOnlyTarget && host.filesStarted >= 2 && !readOnly) {
        // A remount is refused while a file is open for writing (a worker
        // saving): it is tried again at the next call. One that succeeds
        // between a worker closing its temporary file and renaming it leaves
        // that file where nobody can rename or remove it.
        if (geteuid() == 0) {
          run.strandedTempAllowed = readOnly = run.mount.RemountReadOnly();
        } else {
          run.strandedTempAllowed = readOnly = true;
          std::error_code ec;
          for (const fs::path& d : {run.tgt, run.tgt / "sub"})
            fs::permissions(d, fs::perms::owner_read | fs::perms::owner_exec, ec);
        }
      }
      const bool vanishNow = (fault == Fault::kDeletedAfterCount && host.Counted()) ||
                             (fault == Fault::kDeletedAtFirstFile && host.filesStarted >= 1);
      if (vanishNow && !vanished) {
        vanished = true;
        Vanish(run, run.src / "p3.bmp");
        Vanish(run, run.src / "sub/q1.bmp");
      }
    };
    return true;
  }

  // The promises every run keeps, whatever went wrong; returns the number of
  // failures recorded.
  size_t Check(Run& run) {
    // Permissions back, so that the files can be compared and removed.
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(run.root, ec)) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(run.tgt, fs::perms::owner_all, fs::perm_options::add, ec);

    // Every file now there is either untouched (same inode, same bytes) or
    // written by this run (new inode) and whole.
    std::set<fs::path> written;  // original paths
    std::set<fs::path> present;
    for (const auto& e : fs::recursive_directory_iterator(run.root)) {
      if (!e.is_regular_file() || e.path() == run.record) continue;
      if (e.path().native().find("inkbrite-tmp") != std::string::npos) {
        // A temporary file whose folder lost its write permission (or whose
        // file system became read-only) while it was being written can be
        // neither renamed nor removed by anyone; on any other fault none is
        // left.
        EXPECT_TRUE(run.strandedTempAllowed) << e.path();
        continue;
      }
      const auto m = run.moved.find(e.path());
      const fs::path original = m != run.moved.end() ? m->second : e.path();
      present.insert(original);
      struct stat st {};
      EXPECT_EQ(stat(e.path().c_str(), &st), 0);
      const auto b = run.before.find(original);
      if (b != run.before.end() && b->second.inode == st.st_ino) {
        EXPECT_TRUE(test::ReadAll(e.path()) == b->second.bytes) << "changed in place: " << e.path();
        continue;
      }
      written.insert(original);
      DibImage page;
      EXPECT_EQ(LoadImageFile(e.path(), page, nullptr), 1) << "not whole: " << e.path();
      const fs::path below = original.lexically_relative(run.src);
      EXPECT_TRUE(run.same || below.empty() || *below.begin() == "..")
          << "source replaced: " << e.path();
    }
    for (const auto& [path, state] : run.before) {
      EXPECT_TRUE(present.count(path)) << "lost: " << path;
    }

    // The record names failed files only, each once, none of them written.
    std::map<fs::path, fs::path> targetOf;
    for (const fs::path& s : run.sources)
      targetOf[s] = BatchTargetPath(s, run.src, run.tgt, ".bmp");
    std::ifstream in(run.record, std::ios::binary);
    std::set<fs::path> failed;
    size_t lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
      fs::path named;
      bool known = false;
      for (const auto& [source, target] : targetOf) {
        // A read failure says why after the source's name.
        const std::string read = std::string(kBatchReadFailed) + source.native();
        if (line == read || line.starts_with(read + ": ") ||
            line == std::string(kBatchWriteFailed) + target.native()) {
          named = source;
          known = !written.count(target);
        }
      }
      EXPECT_TRUE(known) << "record line names no failed page: " << line;
      EXPECT_TRUE(failed.insert(named).second) << "recorded twice: " << line;
    }

    // The counts are true.
    const CBatchJob& job = run.job;
    EXPECT_EQ(static_cast<size_t>(job.SuccessCount()), written.size());
    // The same-folder question is answered Yes; the summary is what is left.
    const std::vector<std::string> messages = run.host.MessagesOtherThan(kBatchSameFolderQuestion);
    if (messages.empty()) {  // stopped while counting: nothing done
      EXPECT_TRUE(run.host.StopRequested());
      EXPECT_TRUE(written.empty());
      EXPECT_FALSE(fs::exists(run.record));
      return 0;
    }
    EXPECT_EQ(messages.size(), 1u);
    const std::string& summary = messages.back();
    EXPECT_TRUE(summary.starts_with(BatchSummaryText(job.Total(), job.SuccessCount()))) << summary;
    EXPECT_EQ(summary.find(kBatchStoppedSuffix) != std::string::npos, run.host.StopRequested());
    if (run.host.StopRequested()) {
      EXPECT_LE(static_cast<int>(lines), job.Total() - job.SuccessCount());
    } else {
      EXPECT_EQ(static_cast<int>(lines), job.Total() - job.SuccessCount()) << summary;
    }
    return lines;
  }

  test::TempDir dir;
  CParaBlock params;
  BatchSettings settings;
  bool readOnly = false;
  bool vanished = false;
};

TEST_P(BatchFaultTest, KeepsSourcesRecordAndCountsTrue) {
  const auto [fault, same, jobs] = GetParam();
  settings.jobs = jobs;
  // The stop is tried at the k-th check, for every k until a run ends
  // unstopped; every other fault is run once.
  for (int k = fault == Fault::kStop ? 1 : 0; k < 1000; ++k) {
    SCOPED_TRACE("stop at check " + std::to_string(k));
    Run run;
    if (!Prepare(run, fault, same, k)) {
      GTEST_SKIP() << "needs root and a tmpfs mount (mount -t tmpfs) for this fault";
    }
    run.host.stopAtPump = k;
    run.job.Run(run.host, settings);
    const size_t failures = Check(run);
    const int total = run.job.Total(), success = run.job.SuccessCount();
    // The fault bit as planned (one at a time, where the order is known).
    const bool one = jobs == 1;
    if (one && fault == Fault::kReadOnlyTarget) {  // the 1st page written, the 2nd on failed
      EXPECT_EQ(success, 1);
      EXPECT_EQ(failures, 7u);
    }
    if (one && fault == Fault::kDiskFull) {
      EXPECT_TRUE(success > 0 && failures > 0) << success;
    }
    if (one && fault == Fault::kUnreadableSource) {
      EXPECT_EQ(failures, geteuid() == 0 ? 1u : 2u);
    }
    if (one && fault == Fault::kDeletedAfterCount) {  // never seen by the conversion
      EXPECT_EQ(total, 6);
      EXPECT_EQ(success, 6);
    }
    if (fault == Fault::kDeletedAtFirstFile) {  // listed first; one at a time p3 is, sub/q1 not yet
      EXPECT_EQ(total, one ? 7 : 8);
      EXPECT_TRUE(!one || failures == 1u) << failures;
    }
    if (fault != Fault::kStop) return;
    EXPECT_EQ(failures, 0u);
    if (!run.host.StopRequested()) {
      EXPECT_EQ(success, 3);
      return;
    }
    fs::remove_all(run.root);
  }
  ADD_FAILURE() << "still stopped after 1000 checks";
}

// ---- the record and the folders, through the converter ----

#ifdef INKBRITE_BATCH_EXE
// Runs inkbrite-batch with `args` in `dir` without the power to pass over
// permissions (as root: CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH are dropped
// from the bounding set before exec); its exit status, with its standard
// output and error in dir/out.txt and dir/err.txt.
int RunBatch(const fs::path& dir, const std::vector<std::string>& args, uint64_t addressSpace = 0) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const rlimit limit{addressSpace, addressSpace};
    if (addressSpace != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(124);
    if (freopen("out.txt", "w", stdout) == nullptr || freopen("err.txt", "w", stderr) == nullptr) {
      _exit(126);
    }
    if (geteuid() == 0 && (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
                           prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0)) {
      _exit(125);
    }
    setenv("INKBRITE_LANG", "zh", 1);
    setenv("INKBRITE_DATA_DIR", (dir / "data").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(INKBRITE_BATCH_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(INKBRITE_BATCH_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class BatchRecordFaultTest : public ::testing::Test {
 protected:
  void Pages(const fs::path& folder, int n) {
    fs::create_directories(folder);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(SaveImageFile(folder / ("p" + std::to_string(i) + ".bmp"), test::MakePattern(8, 8),
                              0, 90),
                1);
    }
  }
  std::string Out() { return test::ReadText(dir / "out.txt"); }
  std::string Err() { return test::ReadText(dir / "err.txt"); }
  test::TempDir dir;
};

// A folder below the source that cannot be listed is a failure of the run:
// recorded with the system's reason, counted, exit status 1; at any job
// count and in the part that records it.
TEST_F(BatchRecordFaultTest, AFolderThatCannotBeListedFailsTheRun) {
  Pages(dir / "src", 2);
  Pages(dir / "src/locked", 1);
  Pages(dir / "src/open", 1);
  fs::permissions(dir / "src/locked", fs::perms::none);
  for (const std::string jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    fs::remove_all(dir / "dst");
    EXPECT_EQ(RunBatch(dir.path(),
                       {"--jobs", jobs, "--ext", ".bmp", "--record", "rec.txt", "src", "dst"}),
              1)
        << Err();
    EXPECT_EQ(test::ReadText(dir / "rec.txt"), "文件夹无法读取：src/locked: Permission denied\n");
    EXPECT_NE(Out().find("3个已转换，1个失败"), std::string::npos) << Out();
    EXPECT_TRUE(fs::exists(dir / "dst/open/p0.bmp"));
  }
  EXPECT_EQ(RunBatch(dir.path(), {"--shard", "0/2", "--record-format", "jsonl", "--record",
                                  "rec.jsonl", "src", "dst"}),
            1);
  EXPECT_NE(test::ReadText(dir / "rec.jsonl")
                .find("\"source\":\"locked/\",\"target\":\"\","
                      "\"result\":\"read-failed\""),
            std::string::npos)
      << test::ReadText(dir / "rec.jsonl");
  fs::permissions(dir / "src/locked", fs::perms::owner_all);
}

// An RLE8 BMP of 16384 x 16384 in 34 KB: 805 MB once decoded to 24 bits.
std::vector<uint8_t> HugeRleBmp() {
  std::vector<uint8_t> file;
  const uint32_t rows = 16384, data = rows * 2 + 2, offset = 14 + 40 + 1024;
  test::PutLE(file, 2, {0x4D42});
  test::PutLE(file, 4, {offset + data, 0, offset, 40, rows, rows});
  test::PutLE(file, 2, {1, 8});
  test::PutLE(file, 4, {1, data, 2835, 2835, 256, 0});
  for (uint32_t i = 0; i < 256; ++i) test::PutLE(file, 4, {i * 0x010101});
  for (uint32_t y = 0; y < rows; ++y) test::PutLE(file, 2, {0});  // end of each row
  test::PutLE(file, 2, {0x0100});                                 // end of the picture
  return file;
}

// No memory for a file's reading (its picture, a page's picture, a page's
// bytes unpacked from its book) fails that file with the reason and the run
// goes on, at any job count: the process's address space is limited, so the
// allocations fail for real.
TEST_F(BatchRecordFaultTest, NoMemoryForAReadFailsTheFileWithTheReason) {
  if (!AddressSpaceLimitsHold()) GTEST_SKIP() << "a sanitizer maps its own memory up front";
  fs::create_directories(dir / "src");
  test::WriteAll(dir / "src/big.bmp", HugeRleBmp());
  ASSERT_EQ(SaveImageFile(dir / "src/ok.bmp", test::MakePattern(8, 8), 0, 90), 1);
  const std::vector<uint8_t> small = test::ReadAll(dir / "src/ok.bmp");
  test::WriteArchive(dir / "src/pages.cbz", test::MadeFormat::kZipDeflated,
                     {{"001.bmp", small}, {"002.bmp", HugeRleBmp()}});
  // A page of 300 MB of zeros, deflated; stored random bytes keep the book
  // within its ratio of unpacked to packed bytes.
  std::vector<uint8_t> page;
  test::PutLE(page, 2, {0x4D42});
  test::PutLE(page, 4, {300'000'054, 0, 54, 40, 10000, 10000});
  test::PutLE(page, 2, {1, 24});
  test::PutLE(page, 4, {0, 300'000'000, 2835, 2835, 0, 0});
  page.resize(300'000'054, 0);
  std::vector<uint8_t> pad(1'700'000);
  std::mt19937 noise(7);
  for (uint8_t& b : pad) b = static_cast<uint8_t>(noise());
  test::WriteArchive(dir / "src/entry.cbz", test::MadeFormat::kZipDeflated,
                     {{"001.bmp", std::move(page)}, {"pad.bin", std::move(pad)}});
  for (const std::string jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    fs::remove_all(dir / "dst");
    EXPECT_EQ(
        RunBatch(dir.path(), {"--jobs", jobs, "--ext", ".bmp", "--record", "rec.txt", "src", "dst"},
                 uint64_t{400} << 20),
        1)
        << Err();
    EXPECT_EQ(test::ReadText(dir / "rec.txt"),
              "内存不足，文件未转换：src/big.bmp\n"
              "文件读取失败：src/entry.cbz: 001.bmp: 页面超出内存限制。\n"
              "文件读取失败：src/pages.cbz: 002.bmp: 页面超出内存限制。\n");
    EXPECT_NE(Out().find("1个已转换，3个失败"), std::string::npos) << Out();
    EXPECT_TRUE(fs::exists(dir / "dst/ok.bmp"));
  }
}

// A record that cannot be written (its folder read-only) or completed (the
// disk fills) is said on standard error with the system's reason, and the
// exit status is 3; the files are converted all the same and an earlier
// record stays whole.
TEST_F(BatchRecordFaultTest, ARecordThatCannotBeWrittenIsSaid) {
  Pages(dir / "src", 40);
  fs::create_directories(dir / "rec");
  TmpfsMount mount;
  if (!mount.Mount(dir / "rec", "size=4k")) GTEST_SKIP() << "needs root and a tmpfs mount";
  test::WriteText(dir / "rec/r.jsonl", "old\n");
  const std::vector<std::string> args = {"--record-format", "jsonl", "--record",
                                         "rec/r.jsonl",     "src",   "dst"};
  EXPECT_EQ(RunBatch(dir.path(), args), 3) << Out();
  EXPECT_NE(Err().find("结果记录无法写入：rec/r.jsonl：No space left on device"), std::string::npos)
      << Err();
  EXPECT_EQ(test::ReadText(dir / "rec/r.jsonl"), "old\n");
  EXPECT_TRUE(fs::exists(dir / "dst/p39.jpg"));
  ASSERT_TRUE(mount.RemountReadOnly());
  for (const std::string jobs : {"1", "2"}) {
    EXPECT_EQ(RunBatch(dir.path(), {"--jobs", jobs, "--record", "rec/r.txt", "src", "dst"}), 3);
    EXPECT_NE(Err().find("结果记录无法写入：rec/r.txt：Read-only file system"), std::string::npos)
        << Err();
  }
}
#endif

// Folders as deep as the system lets a path reach are walked and written;
// one beyond it (a path longer than PATH_MAX) is named in the record with
// the system's reason, not passed over.
TEST(BatchDeepPaths, WorkToTheSystemsLimitAndNameWhatLiesBeyond) {
  test::TempDir dir;
  const fs::path page = dir / "page.bmp";
  ASSERT_EQ(SaveImageFile(page, test::MakePattern(8, 8), 0, 90), 1);
  const std::vector<uint8_t> bytes = test::ReadAll(page);
  // Made with *at() calls, a level at a time: a path that long cannot be
  // named whole.
  auto makeDeep = [&](const fs::path& top, int levels) {
    fs::create_directories(top);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < levels && fd >= 0; ++i) {
      mkdirat(fd, "d", 0755);
      const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = next;
    }
    ASSERT_GE(fd, 0);
    const int file = openat(fd, "p.bmp", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(file);
    close(fd);
  };
  makeDeep(dir / "src/a", 1200);  // about 2,400 bytes: below PATH_MAX
  makeDeep(dir / "src/b", 2100);  // about 4,200 bytes: beyond it
  CParaBlock params;
  BatchSettings settings;
  settings.sourceDir = dir / "src";
  settings.targetDir = dir / "dst";
  settings.patterns = "*.bmp";
  settings.newExtension = ".bmp";
  settings.params = &params;
  settings.recordPath = dir / "r.txt";
  RecordingHost host;
  CBatchJob job;
  job.Run(host, settings);
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(job.FailedCount(), 1);
  std::string deep = (dir / "dst/a").string();
  for (int i = 0; i < 1200; ++i) deep += "/d";
  EXPECT_EQ(test::ReadAll(deep + "/p.bmp"), bytes);
  const std::string record = test::ReadText(settings.recordPath);
  EXPECT_TRUE(record.starts_with("文件夹无法读取：" + (dir / "src/b/d/d").string()));
  EXPECT_TRUE(record.ends_with(": File name too long\n")) << record.substr(record.size() - 60);
}

// With several jobs each file's JSON line reaches the disk when the file is
// done, not once every earlier file is: here the book, walked first and
// converted after the loose pages, finds their lines in the record being
// written, so a run killed then would resume without redoing them.
TEST(BatchRecordLines, ReachTheDiskAsFilesFinishAtAnyJobCount) {
  test::TempDir dir;
  fs::create_directories(dir / "src");
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(SaveImageFile(dir / "src" / ("p" + std::to_string(i) + ".bmp"),
                            test::MakePattern(8, 8), 0, 90),
              1);
  }
  ASSERT_TRUE(fs::copy_file(dir / "src/p0.bmp", dir / "src/page.bmp"));
  test::WriteArchive(dir / "src/a.cbz", test::MadeFormat::kZipStored,
                     {{"1.bmp", test::ReadAll(dir / "src/p0.bmp")}});
  CParaBlock params;
  BatchSettings settings;
  settings.sourceDir = dir / "src";
  settings.targetDir = dir / "dst";
  settings.patterns = "*.cbz;*.bmp";
  settings.newExtension = ".bmp";
  settings.params = &params;
  settings.recordFormat = RecordFormat::kJsonLines;
  settings.recordPath = dir / "r.jsonl";
  for (int jobs : {1, 2}) {
    SCOPED_TRACE(jobs);
    fs::remove_all(dir / "dst");
    settings.jobs = jobs;
    size_t linesAtBook = 0;
    RecordingHost host;
    host.hook = [&](RecordingHost&) {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(dir / "dst", ec)) {
        if (!e.is_directory() || !e.path().native().ends_with(".inkbrite-tmp")) continue;
        for (const auto& r : fs::directory_iterator(dir.path())) {
          const std::string name = r.path().filename().native();
          if (!name.starts_with(".r.jsonl.")) continue;
          const std::string text = test::ReadText(r.path());
          linesAtBook = std::max<size_t>(linesAtBook, std::count(text.begin(), text.end(), '\n'));
        }
      }
    };
    CBatchJob job;
    job.Run(host, settings);
    EXPECT_EQ(job.SuccessCount(), 14);
    EXPECT_EQ(linesAtBook, jobs == 1 ? 0u : 13u);
  }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Fault, bool, int>>& info) {
  static const char* const names[] = {"ReadOnlyTarget",    "DiskFull",           "UnreadableSource",
                                      "DeletedAfterCount", "DeletedAtFirstFile", "Stop"};
  return std::string(names[static_cast<int>(std::get<0>(info.param))]) +
         (std::get<1>(info.param) ? "_SameFolder" : "_OtherFolder") + "_Jobs" +
         std::to_string(std::get<2>(info.param));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BatchFaultTest,
    ::testing::Combine(::testing::Values(Fault::kReadOnlyTarget, Fault::kDiskFull,
                                         Fault::kUnreadableSource, Fault::kDeletedAfterCount,
                                         Fault::kDeletedAtFirstFile, Fault::kStop),
                       ::testing::Bool(), ::testing::Values(1, 3)),
    CaseName);

}  // namespace
}  // namespace inkbrite
