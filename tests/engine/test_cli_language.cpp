// SPDX-License-Identifier: GPL-2.0-or-later
// inkbrite-batch in English and in Chinese: the language chosen by --lang,
// INKBRITE_LANG or the locale; the job's messages, the summary and the text
// record's lines in that language; the files it writes and the JSON record
// the same in both.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
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
    EXPECT_NE(error.find("--lang必须是zh或en"), std::string::npos) << error;
  }
}

// Before parsing (so that the parser's own errors speak the language): the
// last valid --lang before "--", else the environment.
TEST(CliLanguageTest, LanguageOfTheArguments) {
  const EnvLookup english = [](const char*) -> const char* { return "en_GB.UTF-8"; };
  const EnvLookup chinese = [](const char*) -> const char* { return "zh_TW"; };
  using Args = std::vector<std::string_view>;
  EXPECT_EQ(CliLanguage(Args{"--jobs", "x", "--lang", "zh"}, english), MessageLanguage::kChinese);
  EXPECT_EQ(CliLanguage(Args{"--lang=en", "i", "o"}, chinese), MessageLanguage::kEnglish);
  EXPECT_EQ(CliLanguage(Args{"--lang", "en", "--lang=zh"}, english), MessageLanguage::kChinese);
  EXPECT_EQ(CliLanguage(Args{"--lang", "xx"}, chinese), MessageLanguage::kChinese);
  EXPECT_EQ(CliLanguage(Args{"--lang", "zh", "--lang", "xx"}, english), MessageLanguage::kChinese);
  EXPECT_EQ(CliLanguage(Args{"--", "--lang", "zh"}, english), MessageLanguage::kEnglish);
  EXPECT_EQ(CliLanguage(Args{"--lang"}, chinese), MessageLanguage::kChinese);
  EXPECT_EQ(CliLanguage(Args{}, english), MessageLanguage::kEnglish);
}

// No Han character (their UTF-8 starts with 0xE3..0xE9) and no full-width
// punctuation (0xEF): an English text that left nothing untranslated.
bool HasChinese(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0xE3 && b <= 0xEF;
  });
}

// The usage text and the parser's errors in both languages: English exactly
// as the program has always written it, Chinese for every line.
TEST(CliLanguageTest, UsageAndErrorsInBothLanguages) {
  const std::string chinese = CliUsageText();
  SetMessageLanguage(MessageLanguage::kEnglish);
  const std::string english = CliUsageText();
  CliOptions options;
  std::string englishError;
  std::vector<std::string_view> args = {"--jobs", "0", "i", "o"};
  EXPECT_FALSE(ParseCliOptions(args, options, englishError));
  const std::string englishRefusal = CliRefusalText(englishError);
  SetMessageLanguage(MessageLanguage::kChinese);
  std::string chineseError;
  EXPECT_FALSE(ParseCliOptions(args, options = {}, chineseError));

  EXPECT_TRUE(english.starts_with("Usage: inkbrite-batch [options] SOURCE_DIR TARGET_DIR\n"));
  EXPECT_NE(english.find("\n  --lang LANG          language of the messages and of the record's "
                         "lines:\n"),
            std::string::npos)
      << english;
  EXPECT_NE(english.find("output format: .jpg, .bmp, .png, .tif, .jp2, .webp, .avif or .jxl "
                         "(default .jpg)"),
            std::string::npos);
  EXPECT_FALSE(HasChinese(english)) << english;
  EXPECT_TRUE(chinese.starts_with("用法：inkbrite-batch [选项] SOURCE_DIR TARGET_DIR\n"));
  EXPECT_NE(chinese.find("输出格式：.jpg、.bmp、.png、.tif、.jp2、.webp、.avif或.jxl（默认.jpg）"),
            std::string::npos);
  // Every option in both, each line of its help in Chinese.
  size_t lines = 0;
  for (size_t start = 0, end = 0; start < chinese.size(); start = end + 1, ++lines) {
    end = std::min(chinese.find('\n', start), chinese.size());
    const std::string line = chinese.substr(start, end - start);
    if (line.starts_with("  --")) {
      const std::string name = line.substr(2, line.find(' ', 2) - 2);
      EXPECT_NE(english.find("\n  " + name + " "), std::string::npos) << name;
      EXPECT_TRUE(HasChinese(line)) << line;
    }
  }
  EXPECT_EQ(lines, static_cast<size_t>(std::count(english.begin(), english.end(), '\n')));

  EXPECT_EQ(englishRefusal, "inkbrite-batch: --jobs must be 1 to " + std::to_string(kMaxBatchJobs) +
                                ", not \"0\"\nTry 'inkbrite-batch --help'.\n");
  EXPECT_EQ(chineseError, "--jobs必须是1到" + std::to_string(kMaxBatchJobs) + "，而不是“0”");
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
    EXPECT_EQ(record, "Read failed: " + Bad() + ": the file is damaged or incomplete\n") << env;
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
    EXPECT_EQ(record, "文件读取失败：" + Bad() + ": 文件已损坏或不完整\n") << env;
    EXPECT_EQ(Out(),
              "3个文件需要转换，\n2个文件转换成功。\n"
              "结果记录：" +
                  (dir / "data/Inkbrite_Rcd.txt").string() +
                  "\ninkbrite-batch: 2个已转换，1个失败，0个跳过\n")
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
    // The reason in the run's language, its code the same in both.
    EXPECT_NE(json[i].find(std::string("\"result\":\"read-failed\",\"reason\":\"") +
                           (i == 0 ? "Read failed: the file is damaged or incomplete"
                                   : "文件读取失败: 文件已损坏或不完整") +
                           "\",\"reason_code\":\"unreadable\""),
              std::string::npos)
        << json[i];
  }
}

// --help and the command line's errors follow the language too, also when
// --lang comes after the faulty option.
TEST_F(CliLanguageRunTest, HelpAndErrorsInTheLanguageOfTheRun) {
  EXPECT_EQ(Run("", "--help"), 0);
  EXPECT_TRUE(Out().starts_with("用法：inkbrite-batch")) << Out();
  EXPECT_NE(Out().find("--lang LANG          消息和结果记录各行的语言"), std::string::npos);
  const std::string chineseHelp = Out();
  for (const std::string& env :
       {std::string("INKBRITE_LANG=en"), std::string(kNoOverride) + " LANG=C.UTF-8"}) {
    EXPECT_EQ(Run(env, "--help"), 0);
    EXPECT_TRUE(Out().starts_with("Usage: inkbrite-batch [options]")) << env << Out();
    EXPECT_FALSE(HasChinese(Out())) << env;
  }
  const std::string englishHelp = Out();
  EXPECT_EQ(Run("", "--help --lang en"), 0);
  EXPECT_EQ(Out(), englishHelp);
  EXPECT_EQ(Run("INKBRITE_LANG=en", "--lang=zh --help"), 0);
  EXPECT_EQ(Out(), chineseHelp);

  EXPECT_EQ(Run("", "--lang xx " + Q("src") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(),
            "inkbrite-batch: --lang必须是zh或en，而不是“xx”\n"
            "请用“inkbrite-batch --help”查看用法。\n");
  EXPECT_EQ(Run("INKBRITE_LANG=en", "--lang xx " + Q("src") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(),
            "inkbrite-batch: --lang must be zh or en, not \"xx\"\n"
            "Try 'inkbrite-batch --help'.\n");
  EXPECT_EQ(Run("", "--books zip --lang en " + Q("src") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(),
            "inkbrite-batch: --books must be epub, kepub, pdf, cbz, folder or skip, not \"zip\"\n"
            "Try 'inkbrite-batch --help'.\n");
  EXPECT_EQ(Run("INKBRITE_LANG=en", "--set Nothing=1 --lang zh " + Q("src") + " " + Q("dst")), 2);
  EXPECT_EQ(Err(),
            "inkbrite-batch: --set：未知的键“Nothing”\n"
            "请用“inkbrite-batch --help”查看用法。\n");
  EXPECT_FALSE(fs::exists(dir / "dst"));
}

#endif  // INKBRITE_BATCH_EXE

}  // namespace
}  // namespace inkbrite
