// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "batch/cli_host.h"
#include "batch/named_settings.h"
#include "formats/image_file.h"
#include "platform/file_io.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Parses; a refusal comes with a reason, an acceptance without one.
bool Parse(std::vector<std::string_view> args, CliOptions& options) {
  std::string e;
  const bool ok = ParseCliOptions(args, options, e);
  EXPECT_EQ(ok, e.empty()) << e;
  return ok;
}

bool Rejects(std::vector<std::string_view> args) {
  CliOptions options;
  return !Parse(args, options);
}

// Defaults, picked files and the options the runs below use are checked by
// those runs; here the rest, and what a run cannot tell apart.
TEST(CliOptionsTest, GoodOptions) {
  CliOptions all;
  ASSERT_TRUE(Parse(
      {"--pattern", "*.bmp", "--ext=.png", "--no-subdirs", "--skip-colour", "--overwrite-source",
       "--record", "r.txt", "--dry-run", "--quiet", "--settings", "s.ini", "--", "-in", "out"},
      all));
  EXPECT_EQ(all.settings.patterns, "*.bmp");
  EXPECT_EQ(all.settings.newExtension, ".png");
  EXPECT_FALSE(all.settings.includeSubdirs);
  EXPECT_TRUE(all.settings.skipColour && all.overwriteSource && all.dryRun && all.quiet);
  EXPECT_EQ(all.settings.recordPath, "r.txt");
  EXPECT_EQ(all.settingsFile, "s.ini");
  EXPECT_EQ(all.settings.sourceDir, "-in");  // after "--" a dash is a path

  CliOptions jobs;
  ASSERT_TRUE(Parse({"--jobs", "3", "--ext", ".JPG", "i", "o"}, jobs));
  EXPECT_EQ(jobs.settings.jobs, 3);               // the output alone cannot show it
  EXPECT_EQ(jobs.settings.newExtension, ".JPG");  // written as typed
  CliOptions help;
  EXPECT_TRUE(Parse({"--help"}, help) && help.help);  // no paths needed
}

TEST(CliOptionsTest, BadOptionsAreRefused) {
  const std::vector<std::vector<std::string_view>> bad = {{"--jobs", "0", "i", "o"},
                                                          {"--jobs", "many", "i", "o"},
                                                          {"--jobs", "65", "i", "o"},
                                                          {"-q", "i", "o"},
                                                          {"i"},
                                                          {"i", "o", "more"},
                                                          {"--target", "o"},
                                                          {"i", "o", "--ext", ".gif"},
                                                          {"i", "o", "--ext"},
                                                          {"i", "o", "--quiet=yes"},
                                                          {"i", "o", "--pattern", ""}};
  for (const auto& args : bad) EXPECT_TRUE(Rejects(args)) << args[0] << " " << args.back();
  // --set: a settings key (not any slot) and a value in its range.
  EXPECT_FALSE(
      Rejects({"--set", "Gamma=200", "--set", "y1=-39", "--set", "Threshold=+170", "i", "o"}));
  for (const char* set : {"Gamma=201", "Highlight=99", "Threshold=256", "GreyScale=8",
                          "CroppingTop=-1", "Gamma=1x", "Gamma=99999999999", "Spare=1", "Gamma"}) {
    EXPECT_TRUE(Rejects({"--set", set, "i", "o"})) << set;
  }
  // The automatic clean-up steps, by their keys and within their ranges.
  EXPECT_FALSE(Rejects({"--set", "AutoLevels=1", "--set", "autocrop=1", "--set", "SplitSpreads=1",
                        "--set", "Deskew=1", "--set", "AutoCropBorder=200", "--set",
                        "DeskewRange=1", "--set", "SplitRightToLeft=1", "i", "o"}));
  for (const char* set : {"AutoLevels=2", "Deskew=-1", "AutoCropBorder=201", "DeskewRange=0",
                          "AutoCropTolerance=7", "AutoLevelsClip=51", "AutoCropMinShare=101"}) {
    EXPECT_TRUE(Rejects({"--set", set, "i", "o"})) << set;
  }
}

TEST(CliOptionsTest, LaterChangesWin) {
  test::TempDir dir;
  const std::string text = "[Soft]\nGamma=150\nJpegQuality=40\n";
  test::WriteAll(dir / "s.ini", std::vector<uint8_t>(text.begin(), text.end()));
  CParaBlock block;
  CliOptions o;
  auto build = [&](std::vector<std::string_view> args) {
    o = CliOptions{};
    block.ResetDefaults();
    EXPECT_TRUE(Parse(args, o));
    o.settingsFile = dir / "s.ini";
    std::string error;
    return BuildParams(o, block, error);
  };
  ASSERT_TRUE(build({"--set", "Gamma=120", "--set", "gamma=80", "i", "o"}));
  EXPECT_EQ(block.GetValue(kGamma), 80);
  ASSERT_TRUE(build({"--set", "Gamma=90", "--load", "soft", "i", "o"}));
  EXPECT_EQ(block.GetValue(kGamma), 150);
  ASSERT_TRUE(build({"--load", "Soft", "--set", "Gamma=90", "i", "o"}));
  EXPECT_EQ(block.GetValue(kGamma), 90);
  ASSERT_TRUE(build({"--load", "Soft", "--set", "Resize=50", "i", "o"}));
  EXPECT_EQ(o.settings.jpegQuality, 40);
  EXPECT_EQ(o.settings.resizePercent, 50);
  EXPECT_EQ(o.settings.colourMode, 1);  // a loaded setting reads GreyScale as 1
  EXPECT_FALSE(build({"--load", "Nope", "i", "o"}));
}

TEST(CliOptionsTest, ReadyMadeDeviceSettingsJoinTheFileOnFirstLoad) {
  test::TempDir dir;
  const fs::path ini = dir / "s.ini";
  // The user's own set of one of the ready-made names is never replaced.
  const std::string mine = "[Tablet-10-1600x2560]\r\nGamma=150\r\n";
  test::WriteAll(ini, std::vector<uint8_t>(mine.begin(), mine.end()));
  CParaBlock block;
  CliOptions o;
  auto build = [&](std::vector<std::string_view> args) {
    o = CliOptions{};
    block.ResetDefaults();
    EXPECT_TRUE(Parse(args, o));
    o.settingsFile = ini;
    std::string error;
    return BuildParams(o, block, error);
  };
  ASSERT_TRUE(build({"--load", "eink-6-1072x1448", "--report", "i", "o"}));
  EXPECT_EQ(
      ListNamedSettings(ini),
      (std::vector<std::string>{"Tablet-10-1600x2560", "eink-6-1072x1448", "eink-7-1264x1680"}));
  EXPECT_EQ(block.GetValue(kFitWidth), 1072);
  EXPECT_EQ(block.GetValue(kFitHeight), 1448);
  // Straightened, cropped, the paper whitened, spreads split.
  for (const int slot : {kAutoCrop, kAutoLevels, kAutoLevelsNeutral, kDeskew, kSplitSpreads}) {
    EXPECT_EQ(block.GetValue(slot), 1) << slot;
  }
  EXPECT_FALSE(o.settings.readingOrderChosen);  // a loaded set does not choose it for this run
  EXPECT_EQ(o.settings.colourMode, kGreys16);
  EXPECT_EQ(o.settings.newExtension, ".png");  // the setting's format
  EXPECT_TRUE(o.settings.reportFindings);
  ASSERT_TRUE(build({"--load", "tablet-10-1600x2560", "i", "o"}));
  EXPECT_EQ(block.GetValue(kGamma), 150);  // the user's own
  EXPECT_EQ(block.GetValue(kFitWidth), 0);
  ASSERT_TRUE(build({"--ext", ".tif", "--load", "eink-7-1264x1680", "i", "o"}));
  EXPECT_EQ(o.settings.newExtension, ".tif");  // --ext wins
  EXPECT_FALSE(o.settings.reportFindings);
  // Without --load the file is not touched.
  fs::remove(ini);
  ASSERT_TRUE(build({"--set", "Deskew=1", "i", "o"}));
  EXPECT_FALSE(fs::exists(ini));
  ASSERT_TRUE(build({"--set", "SplitRightToLeft=0", "i", "o"}));
  EXPECT_TRUE(o.settings.readingOrderChosen);
}

#ifdef INKBRITE_BATCH_EXE

// Runs the built converter with its data folder in `dir`; output goes to
// dir/out.txt and dir/err.txt.
class CliRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "data");
    fs::create_directories(dir / "src");
    for (const char* name : {"a.bmp", "b.bmp"}) Page(dir / "src" / name, 8, 6);
  }

  // `wrapper` runs the converter under another command (such as a timeout).
  int Run(const std::string& args, const std::string& wrapper = "") {
    const std::string command = "INKBRITE_DATA_DIR='" + (dir / "data").string() + "' " + wrapper +
                                "'" + INKBRITE_BATCH_EXE + "' " + args + " >'" +
                                (dir / "out.txt").string() + "' 2>'" + (dir / "err.txt").string() +
                                "' </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Quoted(const std::string& name) { return "'" + (dir / name).string() + "'"; }
  static void Page(const fs::path& path, int width, int height) {
    ASSERT_EQ(SaveImageFile(path, test::MakePattern(width, height), 0, 90), 1) << path;
  }
  std::string Text(const fs::path& path) {
    const std::vector<uint8_t> bytes = test::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
  }

  test::TempDir dir;
};

TEST_F(CliRunTest, ConvertsFolderAndPickedFiles) {
  EXPECT_EQ(Run("--dry-run " + Quoted("src") + " " + Quoted("dst")), 0);
  EXPECT_FALSE(fs::exists(dir / "dst"));
  EXPECT_NE(Text(dir / "out.txt").find("a.bmp -> "), std::string::npos);

  ASSERT_EQ(Run(Quoted("src") + " " + Quoted("dst")), 0) << Text(dir / "err.txt");
  EXPECT_TRUE(fs::exists(dir / "dst/a.jpg"));
  EXPECT_TRUE(fs::exists(dir / "dst/b.jpg"));
  EXPECT_NE(Text(dir / "out.txt").find(BatchSummaryText(2, 2)), std::string::npos);
  EXPECT_NE(Text(dir / "err.txt").find("文件："), std::string::npos);  // not a terminal

  ASSERT_EQ(Run("--quiet --ext .png --target " + Quoted("picked") + " " + Quoted("src/b.bmp")), 0);
  EXPECT_TRUE(fs::exists(dir / "picked/b.png"));
  EXPECT_FALSE(fs::exists(dir / "picked/a.png"));
  EXPECT_TRUE(Text(dir / "out.txt").empty());
}

TEST_F(CliRunTest, RefusalsExitWithTwo) {
  EXPECT_EQ(Run("--bogus " + Quoted("src") + " " + Quoted("dst")), 2);
  EXPECT_EQ(Run("--set Gamma=999 " + Quoted("src") + " " + Quoted("dst")), 2);
  // Same folder without --overwrite-source: the sources stay as they are.
  const std::vector<uint8_t> before = test::ReadAll(dir / "src/a.bmp");
  EXPECT_EQ(Run("--ext .bmp " + Quoted("src") + " " + Quoted("src/.")), 2);
  EXPECT_EQ(test::ReadAll(dir / "src/a.bmp"), before);
  EXPECT_NE(Text(dir / "err.txt").find(kBatchSameFolderQuestion), std::string::npos);
  // A source that does not exist, a value that is no number: each said so.
  EXPECT_EQ(Run(Quoted("nowhere") + " " + Quoted("dst")), 2);
  EXPECT_EQ(Text(dir / "err.txt"),
            "inkbrite-batch: 源目录不存在：" + (dir / "nowhere").string() + "\n");
  EXPECT_EQ(Run("--set Brightness=abc " + Quoted("src") + " " + Quoted("dst")), 2);
  EXPECT_NE(Text(dir / "err.txt").find("--set：Brightness的值不是整数：“abc”"), std::string::npos);
  // The dry run says a page may become two when spreads are split.
  EXPECT_EQ(Run("--dry-run --set SplitSpreads=1 " + Quoted("src") + " " + Quoted("dst")), 0);
  EXPECT_NE(Text(dir / "out.txt").find("a.jpg（可能分成_1和_2两页）\n"), std::string::npos)
      << Text(dir / "out.txt");
  // Reduced colours into JPEG, and a folder with nothing to convert.
  EXPECT_EQ(Run("--set GreyScale=4 " + Quoted("src") + " " + Quoted("dst")), 2);
  fs::create_directories(dir / "empty");
  EXPECT_EQ(Run(Quoted("empty") + " " + Quoted("dst")), 2);
  EXPECT_NE(Text(dir / "err.txt").find(kBatchNoFilesMessage), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "dst"));
  // With the answer given, the same folder is converted in place.
  EXPECT_EQ(Run("--overwrite-source --ext .bmp " + Quoted("src") + " " + Quoted("src")), 0);
}

TEST_F(CliRunTest, UnreadablePageIsRecorded) {
  test::WriteAll(dir / "src/bad.bmp", {'B', 'M', 1, 2, 3});
  EXPECT_EQ(Run(Quoted("src") + " " + Quoted("dst")), 1);
  EXPECT_TRUE(fs::exists(dir / "dst/a.jpg"));
  EXPECT_NE(Text(dir / "out.txt").find(BatchSummaryText(3, 2)), std::string::npos);
  // The default record lives in the data folder.
  const std::string record = Text(dir / "data/Inkbrite_Rcd.txt");
  EXPECT_EQ(record, std::string(kBatchReadFailed) + (dir / "src/bad.bmp").string() +
                        ": 文件已损坏或不完整\n");

  EXPECT_EQ(Run("--record " + Quoted("rec.txt") + " " + Quoted("src") + " " + Quoted("dst")), 1);
  EXPECT_NE(Text(dir / "rec.txt").find("bad.bmp"), std::string::npos);
}

// page.bmp and page.png into ".jpg", and over the sources a.jpg and a.bmp
// into ".png": one file each time is not converted, and the exit status and
// the summary say so; the dry run marks it.
TEST_F(CliRunTest, TwoFilesForOneTargetAreNotAllConverted) {
  Page(dir / "src/a.png", 8, 6);
  EXPECT_EQ(Run("--dry-run " + Quoted("src") + " " + Quoted("dst")), 0);
  EXPECT_NE(Text(dir / "out.txt").find("a.png -> " + (dir / "dst/a.jpg").string() + "（不转换"),
            std::string::npos)
      << Text(dir / "out.txt");
  for (const char* jobs : {"1", "3"}) {
    EXPECT_EQ(Run(std::string("--jobs ") + jobs + " " + Quoted("src") + " " + Quoted("dst")), 1);
    EXPECT_NE(Text(dir / "out.txt").find(BatchSummaryText(3, 2)), std::string::npos) << jobs;
  }
  fs::create_directories(dir / "same");
  Page(dir / "same/a.jpg", 8, 6);
  Page(dir / "same/a.bmp", 8, 6);
  EXPECT_EQ(Run("--overwrite-source --ext .png --pattern '*.jpg;*.bmp' " + Quoted("same") + " " +
                Quoted("same")),
            1);
  EXPECT_NE(Text(dir / "out.txt").find(BatchSummaryText(2, 1)), std::string::npos);
}

TEST_F(CliRunTest, SeveralJobsWriteTheSameFiles) {
  for (int i = 0; i < 8; ++i) {
    const fs::path sub = dir / "src" / ("sub" + std::to_string(i % 3));
    fs::create_directories(sub);
    Page(sub / ("p" + std::to_string(i) + ".bmp"), 64 + i, 40);
  }
  test::WriteAll(dir / "src/sub1/bad.bmp", {'B', 'M'});
  const std::string common =
      "--set Sharpen=3 --set Resize=70 --set Gamma=120 " + Quoted("src") + " ";
  EXPECT_EQ(Run("--jobs 1 --record " + Quoted("r1.txt") + " " + common + Quoted("one")), 1);
  EXPECT_EQ(Run("--jobs 3 --record " + Quoted("r3.txt") + " " + common + Quoted("three")), 1);
  size_t compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir / "one")) {
    if (!entry.is_regular_file()) continue;
    const fs::path other = dir / "three" / entry.path().lexically_relative(dir / "one");
    EXPECT_EQ(test::ReadAll(entry.path()), test::ReadAll(other)) << other;
    ++compared;
  }
  EXPECT_EQ(compared, 10u);
  EXPECT_EQ(Text(dir / "r1.txt"), Text(dir / "r3.txt"));
}

// A converter over 200 links to one large page, started in a child process
// with `args` (the folders last); its standard output goes to out.txt and
// its error output to a pipe read until the first file has been started.
class RunningConverter {
 public:
  RunningConverter(const test::TempDir& dir, std::vector<std::string> args) {
    if (!fs::exists(dir / "page.bmp")) {
      EXPECT_EQ(SaveImageFile(dir / "page.bmp", test::MakePattern(1200, 1200), 0, 90), 1);
    }
    fs::create_directories(dir / "many");
    for (int i = 0; i < 200; ++i) {
      const fs::path link = dir / "many" / ("p" + std::to_string(i) + ".bmp");
      if (!fs::is_symlink(link)) fs::create_symlink(dir / "page.bmp", link);
    }
    int errPipe[2];
    EXPECT_EQ(pipe(errPipe), 0);
    const std::string out = (dir / "out.txt").string();
    args.insert(args.begin(), INKBRITE_BATCH_EXE);
    args.push_back((dir / "many").string());
    args.push_back((dir / "dst").string());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    m_pid = fork();
    EXPECT_GE(m_pid, 0);
    if (m_pid == 0) {
      dup2(errPipe[1], 2);
      if (freopen(out.c_str(), "w", stdout) == nullptr) _exit(126);
      close(errPipe[0]);
      setenv("INKBRITE_DATA_DIR", (dir / "data").c_str(), 1);
      execv(INKBRITE_BATCH_EXE, argv.data());
      _exit(127);
    }
    close(errPipe[1]);
    m_err = errPipe[0];
    std::string err;
    char buffer[256];
    while (err.find("文件：") == std::string::npos) {
      const ssize_t got = read(m_err, buffer, sizeof buffer);
      if (got <= 0) break;
      err.append(buffer, static_cast<size_t>(got));
    }
  }
  pid_t Pid() const { return m_pid; }
  // Until the process has no signal pending (its status's ShdPnd), at most
  // ten seconds.
  void WaitUntilTaken() const {
    const std::string status = "/proc/" + std::to_string(m_pid) + "/status";
    for (int i = 0; i < 10000; ++i) {
      std::ifstream in(status);
      std::string line;
      bool pending = false;
      while (std::getline(in, line)) {
        if (line.starts_with("ShdPnd:") || line.starts_with("SigPnd:")) {
          pending = pending || line.find_first_not_of("0\t ", 7) != std::string::npos;
        }
      }
      if (!pending) return;
      usleep(1000);
    }
  }
  // Sends the signals one after another, then waits for the end.
  // Each signal is taken before the next is sent: two pending at once are
  // delivered lowest number first, whatever order they were sent in.
  int StopWith(std::vector<int> signals) {
    for (size_t i = 0; i < signals.size(); ++i) {
      kill(m_pid, signals[i]);
      if (i + 1 < signals.size()) WaitUntilTaken();
    }
    char buffer[256];
    while (read(m_err, buffer, sizeof buffer) > 0) {
    }
    close(m_err);
    int status = 0;
    waitpid(m_pid, &status, 0);
    return status;
  }

 private:
  pid_t m_pid = -1;
  int m_err = -1;
};

// Files of ours still being written: hidden names ending in ".inkbrite-tmp".
std::vector<fs::path> TemporaryFiles(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
    if (entry.path().native().ends_with(".inkbrite-tmp")) found.push_back(entry.path());
  }
  return found;
}

// A FIFO among the picked files is recorded as unreadable at once: the run
// neither waits on it nor stops.
TEST_F(CliRunTest, PickedFifoIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir / "src/x.jpg").c_str(), 0600), 0);
  const int status =
      Run("--target " + Quoted("dst") + " " + Quoted("src/x.jpg") + " " + Quoted("src/a.bmp"),
          "timeout -s KILL 60 ");
  EXPECT_EQ(status, 1) << Text(dir / "err.txt");
  EXPECT_TRUE(fs::exists(dir / "dst/a.jpg"));
  EXPECT_EQ(Text(dir / "data/Inkbrite_Rcd.txt"), std::string(kBatchReadFailed) +
                                                     (dir / "src/x.jpg").string() +
                                                     ": 系统错误：Invalid argument (errno 22)\n");
}

// Ctrl-C in the middle of a run: exit 130, the summary says so, and no page
// is left half-written.
TEST_F(CliRunTest, InterruptStopsTheRun) {
  RunningConverter run(dir, {"--jobs", "2", "--set", "Sharpen=9"});
  const int status = run.StopWith({SIGINT});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  const std::string summary = Text(dir / "out.txt");
  EXPECT_NE(summary.find(kBatchStoppedSuffix), std::string::npos) << summary;
  size_t written = 0;
  std::error_code ec;  // a slow build may be stopped before "dst" exists
  for (const auto& entry : fs::directory_iterator(dir / "dst", ec)) {
    EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();  // no temporary left
    ++written;
  }
  EXPECT_LT(written, 200u);
  EXPECT_NE(summary.find("200个文件需要转换，\n" + std::to_string(written) + "个文件转换成功。"),
            std::string::npos)
      << summary;
}

// SIGTERM, SIGHUP and a second Ctrl-C are a stop like the first Ctrl-C: the
// files in progress end cleanly, the record is written, the summary printed,
// and the exit status names the signal.
TEST_F(CliRunTest, EveryStopSignalEndsTheRunCleanly) {
  const struct {
    std::vector<int> signals;
    int exit;
  } cases[] = {
      {{SIGTERM}, 143}, {{SIGHUP}, 129}, {{SIGINT, SIGINT}, 130}, {{SIGTERM, SIGINT}, 143}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit);
    fs::remove_all(dir / "dst");
    fs::remove_all(dir / "rec");
    fs::create_directories(dir / "rec");
    RunningConverter run(
        dir, {"--jobs", "2", "--set", "Sharpen=9", "--record", (dir / "rec/record.txt").string()});
    const int status = run.StopWith(c.signals);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), c.exit);
    EXPECT_NE(Text(dir / "out.txt").find(kBatchStoppedSuffix), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "rec/record.txt"));
    EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<fs::path>{});
  }
}

// SIGKILL leaves temporary files behind (the record's, open all through the
// run, and the pages' being written); the next run into the same folders
// removes every one of them.
TEST_F(CliRunTest, TheNextRunRemovesWhatAKilledRunLeft) {
  fs::create_directories(dir / "rec");
  const std::string record = (dir / "rec/record.txt").string();
  RunningConverter run(dir, {"--jobs", "2", "--set", "Sharpen=9", "--record", record});
  const pid_t killed = run.Pid();
  ASSERT_TRUE(WIFSIGNALED(run.StopWith({SIGKILL})));
  EXPECT_FALSE(TemporaryFiles(dir / "rec").empty());
  // A page being written when the kill came, whether or not this one was.
  fs::create_directories(dir / "dst");
  test::WriteAll(dir / "dst" / TempFileName("p9.jpg", killed, "abcdefgh"), {1, 2, 3});

  EXPECT_EQ(Run("--record " + Quoted("rec/record.txt") + " --target " + Quoted("dst") + " " +
                Quoted("src/a.bmp")),
            0);
  EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<fs::path>{});
  EXPECT_TRUE(fs::exists(dir / "dst/a.jpg"));
}

#endif  // INKBRITE_BATCH_EXE

}  // namespace
}  // namespace inkbrite
