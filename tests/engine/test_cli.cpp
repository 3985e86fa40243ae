#include "batch/cli_host.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "formats/image_file.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

bool Parse(std::initializer_list<std::string_view> args, CliOptions& options,
           std::string* error = nullptr) {
  std::vector<std::string_view> list(args);
  std::string e;
  const bool ok = ParseCliOptions(list, options, e);
  if (error) *error = e;
  EXPECT_EQ(ok, e.empty()) << e;
  return ok;
}

bool Rejects(std::initializer_list<std::string_view> args) {
  CliOptions options;
  return !Parse(args, options);
}

TEST(CliOptionsTest, GoodOptions) {
  CliOptions o;
  ASSERT_TRUE(Parse({"in", "out"}, o));
  EXPECT_EQ(o.settings.sourceDir, "in");
  EXPECT_EQ(o.settings.targetDir, "out");
  EXPECT_EQ(o.settings.patterns, kCliDefaultPatterns);
  EXPECT_EQ(o.settings.newExtension, ".jpg");
  EXPECT_TRUE(o.settings.includeSubdirs);
  EXPECT_FALSE(o.pickedFiles || o.overwriteSource || o.dryRun || o.quiet);

  CliOptions all;
  ASSERT_TRUE(Parse({"--pattern", "*.bmp", "--ext=.png", "--no-subdirs", "--skip-colour",
                     "--overwrite-source", "--record", "r.txt", "--dry-run", "--quiet",
                     "--settings", "s.ini", "--", "-in", "out"},
                    all));
  EXPECT_EQ(all.settings.patterns, "*.bmp");
  EXPECT_EQ(all.settings.newExtension, ".png");
  EXPECT_FALSE(all.settings.includeSubdirs);
  EXPECT_TRUE(all.settings.skipColour && all.overwriteSource && all.dryRun && all.quiet);
  EXPECT_EQ(all.settings.recordPath, "r.txt");
  EXPECT_EQ(all.settingsFile, "s.ini");
  EXPECT_EQ(all.settings.sourceDir, "-in");  // after "--" a dash is a path

  CliOptions picked;
  ASSERT_TRUE(Parse({"--target", "out", "pages/a.bmp", "b.bmp"}, picked));
  EXPECT_TRUE(picked.pickedFiles);
  EXPECT_EQ(picked.settings.sourceDir, "pages");
  EXPECT_EQ(picked.files.size(), 2u);

  CliOptions jobs;
  ASSERT_TRUE(Parse({"--jobs", "3", "--ext", ".JPG", "i", "o"}, jobs));
  EXPECT_EQ(jobs.settings.jobs, 3);
  EXPECT_EQ(jobs.settings.newExtension, ".JPG");  // written as typed
  EXPECT_EQ(o.settings.jobs, DefaultCliJobs());

  CliOptions help;
  EXPECT_TRUE(Parse({"--help"}, help) && help.help);  // no paths needed
}

TEST(CliOptionsTest, BadOptionsAreRefused) {
  EXPECT_TRUE(Rejects({"--jobs", "0", "in", "out"}));
  EXPECT_TRUE(Rejects({"--jobs", "many", "in", "out"}));
  EXPECT_TRUE(Rejects({"--jobs", "65", "in", "out"}));
  EXPECT_TRUE(Rejects({"-q", "in", "out"}));
  EXPECT_TRUE(Rejects({"in"}));
  EXPECT_TRUE(Rejects({"in", "out", "more"}));
  EXPECT_TRUE(Rejects({"--target", "out"}));
  EXPECT_TRUE(Rejects({"in", "out", "--ext", ".gif"}));
  EXPECT_TRUE(Rejects({"in", "out", "--ext"}));
  EXPECT_TRUE(Rejects({"in", "out", "--quiet=yes"}));
  EXPECT_TRUE(Rejects({"in", "out", "--pattern", ""}));
}

TEST(CliOptionsTest, SetChecksKeyAndRange) {
  EXPECT_FALSE(Rejects(
      {"--set", "Gamma=200", "--set", "y1=-39", "--set", "Threshold=+170", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "Gamma=201", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "Highlight=99", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "Threshold=256", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "GreyScale=8", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "CroppingTop=-1", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "Gamma=1x", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "Gamma=99999999999", "i", "o"}));
  EXPECT_TRUE(Rejects({"--set", "Spare=1", "i", "o"}));  // no settings key
  EXPECT_TRUE(Rejects({"--set", "Gamma", "i", "o"}));
}

TEST(CliOptionsTest, LaterChangesWin) {
  test::TempDir dir;
  const fs::path ini = dir / "s.ini";
  const std::string text = "[Soft]\nGamma=150\nJpegQuality=40\n";
  test::WriteAll(ini, std::vector<uint8_t>(text.begin(), text.end()));

  auto gamma = [&](std::initializer_list<std::string_view> args) {
    CliOptions o;
    EXPECT_TRUE(Parse(args, o));
    o.settingsFile = ini;
    CParaBlock block;
    std::string error;
    EXPECT_TRUE(BuildParams(o, block, error)) << error;
    return block.GetValue(kGamma);
  };
  EXPECT_EQ(gamma({"--set", "Gamma=120", "--set", "gamma=80", "i", "o"}), 80);
  EXPECT_EQ(gamma({"--set", "Gamma=90", "--load", "soft", "i", "o"}), 150);
  EXPECT_EQ(gamma({"--load", "Soft", "--set", "Gamma=90", "i", "o"}), 90);

  CliOptions o;
  ASSERT_TRUE(Parse({"--load", "Soft", "--set", "Resize=50", "i", "o"}, o));
  o.settingsFile = ini;
  CParaBlock block;
  std::string error;
  ASSERT_TRUE(BuildParams(o, block, error));
  EXPECT_EQ(o.settings.jpegQuality, 40);
  EXPECT_EQ(o.settings.resizePercent, 50);
  EXPECT_EQ(o.settings.colourMode, 1);  // a loaded setting reads GreyScale as 1

  CliOptions missing;
  ASSERT_TRUE(Parse({"--load", "Nope", "i", "o"}, missing));
  missing.settingsFile = ini;
  EXPECT_FALSE(BuildParams(missing, block, error));
}

#ifdef INKBRITE_BATCH_EXE

// Runs the built converter with its data folder in `dir`; output goes to
// dir/out.txt and dir/err.txt.
class CliRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "data");
    for (const char* name : {"a.bmp", "b.bmp"}) {
      fs::create_directories(dir / "src");
      ASSERT_EQ(SaveImageFile(dir / "src" / name, test::MakePattern(8, 6), 0, 90), 1);
    }
  }

  int Run(const std::string& args) {
    const std::string command = "INKBRITE_DATA_DIR='" + (dir / "data").string() + "' '" +
                                INKBRITE_BATCH_EXE + "' " + args + " >'" +
                                (dir / "out.txt").string() + "' 2>'" +
                                (dir / "err.txt").string() + "' </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Quoted(const std::string& name) { return "'" + (dir / name).string() + "'"; }
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
  EXPECT_NE(Text(dir / "err.txt").find("file: "), std::string::npos);  // not a terminal

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
  EXPECT_EQ(record, std::string(kBatchReadFailed) + (dir / "src/bad.bmp").string() + "\n");

  EXPECT_EQ(Run("--record " + Quoted("rec.txt") + " " + Quoted("src") + " " + Quoted("dst")), 1);
  EXPECT_NE(Text(dir / "rec.txt").find("bad.bmp"), std::string::npos);
}

TEST_F(CliRunTest, SeveralJobsWriteTheSameFiles) {
  for (int i = 0; i < 8; ++i) {
    const fs::path page = dir / "src" / ("sub" + std::to_string(i % 3)) / ("p" + std::to_string(i) + ".bmp");
    fs::create_directories(page.parent_path());
    ASSERT_EQ(SaveImageFile(page, test::MakePattern(64 + i, 40), 0, 90), 1);
  }
  test::WriteAll(dir / "src/sub1/bad.bmp", {'B', 'M'});
  const std::string common = "--set Sharpen=3 --set Resize=70 --set Gamma=120 " + Quoted("src") + " ";
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

// Ctrl-C in the middle of a run: exit 130, the summary says so, and no page
// is left half-written.
TEST_F(CliRunTest, InterruptStopsTheRun) {
  ASSERT_EQ(SaveImageFile(dir / "page.bmp", test::MakePattern(1200, 1200), 0, 90), 1);
  fs::create_directories(dir / "many");
  for (int i = 0; i < 200; ++i) {
    fs::create_symlink(dir / "page.bmp", dir / "many" / ("p" + std::to_string(i) + ".bmp"));
  }
  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const std::string out = (dir / "out.txt").string();
  const std::string many = (dir / "many").string(), dst = (dir / "dst").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(errPipe[1], 2);
    freopen(out.c_str(), "w", stdout);
    close(errPipe[0]);
    setenv("INKBRITE_DATA_DIR", (dir / "data").c_str(), 1);
    execl(INKBRITE_BATCH_EXE, INKBRITE_BATCH_EXE, "--jobs", "2", "--set", "Sharpen=9",
          many.c_str(), dst.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(errPipe[1]);
  // Interrupt once the first file has been started.
  std::string err;
  char buffer[256];
  while (err.find("file: ") == std::string::npos) {
    const ssize_t got = read(errPipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    err.append(buffer, static_cast<size_t>(got));
  }
  kill(child, SIGINT);
  while (read(errPipe[0], buffer, sizeof buffer) > 0) {
  }
  close(errPipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
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

#endif  // INKBRITE_BATCH_EXE

}  // namespace
}  // namespace inkbrite
