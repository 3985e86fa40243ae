// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/run_record.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

std::string Json(std::string_view bytes) {
  std::string out;
  AppendJsonString(out, bytes);
  return out;
}

TEST(JsonRecordTest, EscapesControlsAndBytesThatAreNotUtf8) {
  EXPECT_EQ(Json("a\"b\\c/"), "\"a\\\"b\\\\c/\"");
  EXPECT_EQ(Json(std::string("\b\f\n\r\t\x01\x1f\x7f", 8)),
            "\"\\b\\f\\n\\r\\t\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(Json("漫画"), "\"漫画\"");  // UTF-8 as it is
  EXPECT_EQ(Json("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");
  EXPECT_EQ(Json("a\xff"), "\"a\\udcff\"");  // as Python's surrogateescape
  // Overlong forms, encoded surrogates, code points past U+10FFFF and cut
  // sequences are bytes, not characters.
  EXPECT_EQ(Json("\xc0\xaf"), "\"\\udcc0\\udcaf\"");
  EXPECT_EQ(Json("\xed\xa0\x80"), "\"\\udced\\udca0\\udc80\"");
  EXPECT_EQ(Json("\xf4\x90\x80\x80"), "\"\\udcf4\\udc90\\udc80\\udc80\"");
  EXPECT_EQ(Json("\xe6\xbc"), "\"\\udce6\\udcbc\"");
  EXPECT_EQ(Json(std::string("\0", 1)), "\"\\u0000\"");
}

// Any bytes in the text fields come back as they went out.
TEST(JsonRecordTest, LinesRoundTrip) {
  std::mt19937 rng(7);
  auto randomBytes = [&rng] {
    std::string s(rng() % 24, ' ');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? rng() % 256 : 'a' + rng() % 26);
    return s;
  };
  for (int i = 0; i < 2000; ++i) {
    RecordEntry e;
    e.index = static_cast<int64_t>(rng() % 100000);
    e.source = randomBytes();
    e.target = randomBytes();
    e.result = "converted";
    e.reason = randomBytes();
    e.bytesRead = rng();
    e.bytesWritten = (uint64_t{rng()} << 32) | rng();
    e.ms = rng() % 1000;
    e.settings = "0123456789abcdef";
    const std::string line = JsonRecordLine(e);
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    RecordEntry back;
    std::string error;
    ASSERT_TRUE(ParseJsonRecordLine(line.substr(0, line.size() - 1), back, error))
        << error << ": " << line;
    EXPECT_EQ(back.index, e.index);
    EXPECT_EQ(back.source, e.source);
    EXPECT_EQ(back.target, e.target);
    EXPECT_EQ(back.reason, e.reason);
    EXPECT_EQ(back.bytesRead, e.bytesRead);
    EXPECT_EQ(back.bytesWritten, e.bytesWritten);
    EXPECT_EQ(back.ms, e.ms);
    EXPECT_EQ(back.settings, e.settings);
  }
}

TEST(JsonRecordTest, ReadsAnyObjectAndRefusesWhatIsNotOne) {
  RecordEntry e;
  std::string error;
  ASSERT_TRUE(ParseJsonRecordLine(
      R"( { "extra" : [1, -2.5e3, {"x": null}, true, "\u00e9"], "source":"a\u00e9\ud83d\ude00\/b",)"
      R"("index" : 7 ,"ms":0} )",
      e, error))
      << error;
  EXPECT_EQ(e.index, 7);
  EXPECT_EQ(e.source, "a\xc3\xa9\xf0\x9f\x98\x80/b");
  EXPECT_TRUE(ParseJsonRecordLine("{}", e, error));
  for (const char* bad :
       {"", "[]", "{", "{\"index\":}", "{\"index\":-1}", "{\"index\":1.5}", "{\"index\":01}",
        "{\"index\":\"1\"}", "{\"source\":1}", "{\"a\":1}x", "{\"a\":1,}", "{\"a\":tru}",
        "{\"s\":\"\\ud800\"}", "{\"s\":\"\\udc00\"}", "{\"s\":\"\\x\"}", "{\"s\":\"a\nb\"}",
        "{\"index\":99999999999999999999}", "{'a':1}", "{\"a\":[1 2]}"}) {
    error.clear();
    EXPECT_FALSE(ParseJsonRecordLine(bad, e, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  std::string deep = "{\"a\":";
  for (int i = 0; i < 100; ++i) deep += "[";
  EXPECT_FALSE(ParseJsonRecordLine(deep, e, error));
}

std::string Line(int64_t index, const std::string& source, const std::string& result) {
  RecordEntry e;
  e.index = index;
  e.source = source;
  e.target = source;
  e.result = result;
  e.settings = "f";
  return JsonRecordLine(e);
}

class MergeTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& text) {
    test::WriteText(dir / name, text);
    return dir / name;
  }
  bool Merge(const std::vector<fs::path>& records) {
    error.clear();
    return MergeRecords(records, merged, gaps, error);
  }
  test::TempDir dir;
  std::string merged, error;
  std::vector<int64_t> gaps;
};

TEST_F(MergeTest, JsonLinesInWalkOrder) {
  const fs::path a = Write("a.jsonl", Line(0, "p0", "converted") + Line(3, "p3", "read-failed"));
  const fs::path b = Write("b.jsonl", Line(1, "p1", "converted") + Line(4, "p4", "skipped"));
  const fs::path c = Write("c.jsonl", Line(2, "p\n2", "converted"));
  const fs::path empty = Write("empty.jsonl", "");
  ASSERT_TRUE(Merge({c, empty, a, b})) << error;
  EXPECT_EQ(merged, Line(0, "p0", "converted") + Line(1, "p1", "converted") +
                        Line(2, "p\n2", "converted") + Line(3, "p3", "read-failed") +
                        Line(4, "p4", "skipped"));
  EXPECT_TRUE(gaps.empty());
  ASSERT_TRUE(Merge({a, c})) << error;
  EXPECT_EQ(gaps, (std::vector<int64_t>{1}));

  EXPECT_FALSE(Merge({a, Write("over.jsonl", Line(3, "p3", "converted"))}));
  EXPECT_NE(error.find("重叠"), std::string::npos) << error;
  EXPECT_FALSE(Merge({a, Write("bad.jsonl", "{\"index\":5,\n")}));
  EXPECT_NE(error.find("bad.jsonl:1"), std::string::npos) << error;
  EXPECT_FALSE(Merge({a, Write("noindex.jsonl", "{\"source\":\"x\"}\n")}));
  EXPECT_FALSE(Merge({a, Write("text.txt", "1\t文件读取失败：/x\n")}));
  EXPECT_FALSE(Merge({a, dir / "missing.jsonl"}));
}

// Text records of parts carry the walk index; the merge drops it, keeps a
// name's newline with its line, and refuses a record without indexes.
TEST_F(MergeTest, TextRecordsOfParts) {
  const fs::path a = Write("a.txt", "4\t文件读取失败：/s/e.jpg\n0\t文件写入失败：/t/a\nb.jpg\n");
  const fs::path b = Write("b.txt", "2\t文件重名未转换：/s/c.png → /t/c.jpg\n");
  ASSERT_TRUE(Merge({a, b})) << error;
  EXPECT_EQ(
      merged,
      "文件写入失败：/t/a\nb.jpg\n文件重名未转换：/s/c.png → /t/c.jpg\n文件读取失败：/s/e.jpg\n");
  EXPECT_FALSE(Merge({a, Write("plain.txt", "文件读取失败：/s/x.jpg\n")}));
  EXPECT_NE(error.find("--shard"), std::string::npos) << error;
}

// A resumed run reads the committed record and what killed runs left of it
// (their temporary files), but not the temporary record of a run still
// going, nor a line a kill cut short.
TEST(EarlierRecordsTest, ReadsWhatKilledRunsLeft) {
  test::TempDir dir;
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const fs::path record = dir / "rec.jsonl";
  test::WriteText(record, Line(0, "a", "converted") + Line(1, "b", "read-failed"));
  const fs::path killed = dir / TempFileName("rec.jsonl", gone, "abcdefgh", ThisMachineTag());
  test::WriteText(killed, Line(1, "b", "converted") + Line(2, "c", "converted") + "{\"index\":3,");
  fs::last_write_time(killed, fs::last_write_time(record) + std::chrono::seconds(5));
  test::WriteText(dir / TempFileName("rec.jsonl", getpid(), "zzzzzzzz"), Line(4, "d", "converted"));
  test::WriteText(dir / TempFileName("other.jsonl", gone, "abcdefgh"), Line(5, "e", "converted"));

  EarlierRecords earlier;
  earlier.Read(record);
  EXPECT_EQ(earlier.Size(), 3u);
  ASSERT_NE(earlier.Find("b"), nullptr);
  EXPECT_EQ(earlier.Find("b")->result, "converted");  // the later run wins
  EXPECT_NE(earlier.Find("c"), nullptr);
  EXPECT_EQ(earlier.Find("d"), nullptr);
  EXPECT_EQ(earlier.Find("e"), nullptr);
}

}  // namespace
}  // namespace inkbrite
