// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-batch in English and in Chinese: the language chosen by --lang,
// INKBRITE_LANG or the locale; the job's messages, the summary and the text
// record's lines in that language; the files it writes and the JSON record
// the same in both.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "batch/cli_host.h"
#include "formats/image_file.h"
#include "platform/messages.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

TEST(CliLanguageTest, LangOptionBeforeEnvironment) {
  const EnvLookup chineseLocale = [](const char* name) -> const char* {
    return std::string_view(name) == "LANG" ? "zh_CN.UTF-8" : nullptr;
  };
  CliOptions options;
  std::string error;
  std::vector<std::string_view> args = {"i", "o"};
  ASSERT_TRUE(ParseCliOptions(args, options, error)) << error;
  EXPECT_EQ(CliLanguage(options, chineseLocale), MessageLanguage::kChinese);
  args = {"--lang", "en", "i", "o"};
  ASSERT_TRUE(ParseCliOptions(args, options = {}, error)) << error;
  EXPECT_EQ(CliLanguage(options, chineseLocale), MessageLanguage::kEnglish);
  args = {"--lang=zh", "i", "o"};
  ASSERT_TRUE(ParseCliOptions(args, options = {}, error)) << error;
  EXPECT_EQ(CliLanguage(options, [](const char*) -> const char* { return "en_US"; }),
            MessageLanguage::kChinese);
  for (std::string_view bad : {"fr", "", "ZH"}) {
    args = {"--lang", bad, "i", "o"};
    EXPECT_FALSE(ParseCliOptions(args, options = {}, error)) << bad;
    EXPECT_NE(error.find("--lang must be zh or en"), std::string::npos) << error;
  }
}

#ifdef INKBRITE_BATCH_EXE

// The built converter over src/ (two pages and a damaged one), with its data
// folder in `dir`; `env` is put before the command (the suite's own
// INKBRITE_LANG=zh is in the environment unless `env` unsets it).
class CliLanguageRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "data");
    fs::create_directories(dir / "src");
    for (const char* name : {"a.bmp", "b.bmp"}) {
      ASSERT_EQ(SaveImageFile(dir / "src" / name, test::MakePattern(8, 6), 0, 90), 1);
    }
    test::WriteAll(dir / "src/bad.bmp", {'B', 'M', 1, 2, 3});
  }

  int Run(const std::string& env, const std::string& args) {
    const std::string command = "env " + env + " INKBRITE_DATA_DIR='" + (dir / "data").string() +
                                "' '" + INKBRITE_BATCH_EXE + "' " + args + " >'" +
                                (dir / "out.txt").string() + "' 2>'" + (dir / "err.txt").string() +
                                "' </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // A conversion of src/ into a fresh dst/; the text record's content.
  std::string Convert(const std::string& env, const std::string& extra = "") {
    fs::remove_all(dir / "dst");
    fs::remove(dir / "data/Inkbrite_Rcd.txt");
    EXPECT_EQ(Run(env, extra + " " + Q("src") + " " + Q("dst")), 1) << Err();
    EXPECT_TRUE(fs::is_directory(dir / "dst"));
    return Text(dir / "data/Inkbrite_Rcd.txt");  // the same name in every language
  }
  std::string Q(const std::string& name) { return "'" + (dir / name).string() + "'"; }
  static std::string Text(const fs::path& path) {
    const std::vector<uint8_t> bytes = test::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string Out() { return Text(dir / "out.txt"); }
  std::string Err() { return Text(dir / "err.txt"); }
  std::string Bad() { return (dir / "src/bad.bmp").string(); }

  test::TempDir dir;
};

constexpr const char* kNoOverride = "-u INKBRITE_LANG LC_ALL= LC_MESSAGES=";

TEST_F(CliLanguageRunTest, EnglishRun) {
  for (const std::string& env : {std::string("INKBRITE_LANG=en LANG=zh_CN.UTF-8"),
                                 std::string(kNoOverride) + " LANG=en_US.UTF-8",
                                 std::string(kNoOverride) + " LANG=C", std::string("--lang en")}) {
    const bool option = env == "--lang en";
    const std::string record = Convert(option ? "" : env, option ? env : "");
    EXPECT_EQ(record, "Read failed: " + Bad() + "\n") << env;
    EXPECT_EQ(Out(),
              "Files to convert: 3,\nfiles converted: 2.\n"
              "record: " +
                  (dir / "data/Inkbrite_Rcd.txt").string() +
                  "\ninkbrite-batch: 2 converted, 1 failed, 0 skipped\n")
        << env;
  }
  // The job's refusals.
  fs::create_directories(dir / "empty");
  EXPECT_EQ(Run("INKBRITE_LANG=en", Q("empty") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(), "Sorry, the source folder holds no files to convert.\n");
  EXPECT_EQ(Run("INKBRITE_LANG=en", "--set GreyScale=4 " + Q("src") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(), "Sorry, colour-reduced images can only be saved as PNG. Please choose again.\n");
  EXPECT_EQ(Run("INKBRITE_LANG=en", "--dry-run " + Q("src") + " " + Q("src")), 2);
  EXPECT_NE(Err().find("The source and target folders are the same"), std::string::npos) << Err();
}

TEST_F(CliLanguageRunTest, ChineseRunKeepsTheSourceTexts) {
  for (const std::string& env : {std::string(""), std::string(kNoOverride) + " LANG=zh_CN.UTF-8",
                                 std::string("INKBRITE_LANG=en --lang zh")}) {
    const size_t option = env.find("--lang");
    const std::string record = option == std::string::npos
                                   ? Convert(env)
                                   : Convert(env.substr(0, option), env.substr(option));
    EXPECT_EQ(record, "文件读取失败：" + Bad() + "\n") << env;
    EXPECT_EQ(Out(),
              "3个文件需要转换，\n2个文件转换成功。\n"
              "record: " +
                  (dir / "data/Inkbrite_Rcd.txt").string() +
                  "\ninkbrite-batch: 2 converted, 1 failed, 0 skipped\n")
        << env;
  }
  fs::create_directories(dir / "empty");
  EXPECT_EQ(Run("", Q("empty") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(), "抱歉，在源目录下没有可供转换的文件。\n");
}

// The text record's findings lines follow the language; the JSON record's
// fields, result codes and reasons do not (programs read them).
TEST_F(CliLanguageRunTest, RecordsInBothLanguages) {
  const std::string report = "--report --set AutoLevels=1 --ext .png";
  const std::string english = Convert("INKBRITE_LANG=en", report);
  EXPECT_NE(english.find("Automatic steps: " + (dir / "dst/a.png").string() + "\t"),
            std::string::npos)
      << english;
  const std::string chinese = Convert("INKBRITE_LANG=zh", report);
  EXPECT_NE(chinese.find("自动处理：" + (dir / "dst/a.png").string() + "\t"), std::string::npos)
      << chinese;
  // The same findings after the prefix.
  const auto findings = [](const std::string& record) {
    const size_t tab = record.find('\t');
    return tab == std::string::npos ? record : record.substr(tab, record.find('\n', tab) - tab);
  };
  EXPECT_EQ(findings(english), findings(chinese));

  std::string json[2];
  for (int i = 0; i < 2; ++i) {
    fs::remove_all(dir / "dst");
    const fs::path record = dir / ("r" + std::to_string(i) + ".jsonl");
    EXPECT_EQ(Run(i == 0 ? "INKBRITE_LANG=en" : "INKBRITE_LANG=zh",
                  "--record-format jsonl --record " + Q(record.filename()) + " " + Q("src") + " " +
                      Q("dst")),
              1);
    json[i] = Text(record);
    EXPECT_NE(json[i].find("\"result\":\"read-failed\",\"reason\":\"文件读取失败\""),
              std::string::npos)
        << json[i];
  }
}

TEST_F(CliLanguageRunTest, HelpNamesTheOption) {
  EXPECT_EQ(Run("", "--help"), 0);
  EXPECT_NE(Out().find("--lang LANG"), std::string::npos);
  EXPECT_EQ(Run("", "--lang xx " + Q("src") + " " + Q("dst")), 2);
  EXPECT_NE(Err().find("--lang must be zh or en, not \"xx\""), std::string::npos) << Err();
  EXPECT_FALSE(fs::exists(dir / "dst"));
}

#endif  // INKBRITE_BATCH_EXE

}  // namespace
}  // namespace inkbrite
