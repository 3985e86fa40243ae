// SPDX-License-Identifier: GPL-2.0-or-later
// Settings that follow a series or a book through the batch job: each book
// converted with the set in force for it gives the bytes a run with that
// set gives, the record names the set, and a set no longer in the settings
// file fails its book with the reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/attached_settings.h"
#include "batch/batch_job.h"
#include "batch/cli_host.h"
#include "batch/named_settings.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "sources/library_state.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;

void WriteBook(const fs::path& path, int seed) {
  test::TempDir pages;
  std::vector<MadeEntry> entries;
  for (int n = 1; n <= 2; ++n) {
    const DibImage page = test::MakeNoise(24, 32, static_cast<uint32_t>(seed * 10 + n));
    EXPECT_EQ(SaveImageFile(pages / "p.png", page, 0, 90), 1);
    entries.push_back({"00" + std::to_string(n) + ".png", test::ReadAll(pages / "p.png")});
  }
  fs::create_directories(path.parent_path());
  test::WriteArchive(path, MadeFormat::kZipStored, entries);
}

class AttachedSettingsTest : public ::testing::Test {
 protected:
  AttachedSettingsTest() {
    // Two named sets that change every page.
    CParaBlock bright;
    bright.SetValue(kBrightness, 150);
    EXPECT_TRUE(SaveNamedSetting(bright, "bright", ini));
    CParaBlock sharp;
    sharp.SetValue(kSharpen, 2);
    sharp.SetValue(kContrast, 140);
    EXPECT_TRUE(SaveNamedSetting(sharp, "sharp", ini));
    WriteBook(dir / "src/series/v1.cbz", 1);
    WriteBook(dir / "src/series/v2.cbz", 2);
    WriteBook(dir / "src/other/v3.cbz", 3);
  }
  // Converts the sources into `target` with the run's block `params`.
  std::string Run(const fs::path& target, const CParaBlock& params, bool useAttached) {
    BatchSettings settings;
    settings.sourceDir = dir / "src";
    settings.targetDir = target;
    settings.patterns = DefaultSourcePatterns();
    settings.newExtension = ".png";
    settings.params = &params;
    settings.recordPath = target.string() + ".jsonl";
    settings.recordFormat = RecordFormat::kJsonLines;
    settings.useAttached = useAttached;
    settings.attachedSettingsFile = ini;
    settings.libraryStateFile = db;
    test::RecordingHost host;
    CBatchJob job;
    job.Run(host, settings);
    return test::ReadText(settings.recordPath);
  }
  std::vector<MadeEntry> Pages(const fs::path& cbz) { return test::ReadArchive(cbz); }

  test::TempDir dir;
  fs::path ini = dir / "Inkbrite.ini";
  fs::path db = dir / "library.db";
};

TEST_F(AttachedSettingsTest, EachBookTakesItsSetAsARunWithThatSetWould) {
  {
    LibraryState state(db);
    ASSERT_TRUE(state.Attach(dir / "src/series", AttachScope::kSeries, "bright"));
    ASSERT_TRUE(state.Attach(dir / "src/series/v2.cbz", AttachScope::kBook, "sharp"));
  }
  CParaBlock plain;
  const std::string record = Run(dir / "attached", plain, true);
  Run(dir / "plain", plain, false);
  CParaBlock bright, sharp;
  ASSERT_TRUE(LoadNamedSetting(bright, "bright", ini));
  ASSERT_TRUE(LoadNamedSetting(sharp, "sharp", ini));
  Run(dir / "bright", bright, false);
  Run(dir / "sharp", sharp, false);
  struct Case {
    const char* book;
    const char* sameAs;
    const char* differsFrom;
  };
  for (const Case& c :
       {Case{"series/v1.cbz", "bright", "plain"}, Case{"series/v2.cbz", "sharp", "bright"},
        Case{"other/v3.cbz", "plain", "bright"}}) {
    const std::vector<MadeEntry> got = Pages(dir / "attached" / c.book);
    ASSERT_EQ(got.size(), 2u) << c.book;
    const std::vector<MadeEntry> same = Pages(dir / c.sameAs / c.book);
    const std::vector<MadeEntry> other = Pages(dir / c.differsFrom / c.book);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].data, same[i].data) << c.book << " " << got[i].name;
      EXPECT_NE(got[i].data, other[i].data) << c.book << " " << got[i].name;
    }
  }
  // The record names each book's set, and none for the book without.
  EXPECT_NE(record.find("\"source\":\"series/v1.cbz\""), std::string::npos);
  EXPECT_NE(record.find("\"attached\":\"bright（此系列）\""), std::string::npos) << record;
  EXPECT_NE(record.find("\"attached\":\"sharp（此书）\""), std::string::npos) << record;
  const size_t v3 = record.find("\"source\":\"other/v3.cbz\"");
  ASSERT_NE(v3, std::string::npos);
  EXPECT_EQ(record.substr(v3, record.find('\n', v3) - v3).find("attached"), std::string::npos)
      << record;
}

TEST_F(AttachedSettingsTest, ASetGoneFromTheFileFailsItsBookAndTheListSaysSo) {
  {
    LibraryState state(db);
    ASSERT_TRUE(state.Attach(dir / "src/other", AttachScope::kSeries, "vanished"));
    ASSERT_TRUE(state.Attach(dir / "src/series/v1.cbz", AttachScope::kBook, "bright"));
  }
  CParaBlock plain;
  const std::string record = Run(dir / "out", plain, true);
  EXPECT_FALSE(fs::exists(dir / "out/other/v3.cbz"));
  EXPECT_TRUE(fs::exists(dir / "out/series/v2.cbz"));
  EXPECT_NE(record.find("\"reason_code\":\"attached-set-missing\""), std::string::npos) << record;
  EXPECT_NE(record.find("vanished"), std::string::npos) << record;

  const std::string list = AttachedListText(LibraryState(db), dir / "src", ini);
  EXPECT_EQ(list,
            "series\tvanished\t" + (dir / "src/other").string() + "\t" +
                MissingAttachedSettingText({dir / "src/other", AttachScope::kSeries, "vanished"}) +
                "\nbook\tbright\t" + (dir / "src/series/v1.cbz").string() + "\n");
  EXPECT_EQ(AttachedListText(LibraryState(db), dir / "src/series/v2.cbz", ini), "");
}

TEST_F(AttachedSettingsTest, TheCommandLineTakesTheOptions) {
  struct Case {
    std::vector<std::string_view> args;
    bool ok;
    bool useAttached, listAttached;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {{"--use-attached", "a", "b"}, true, true, false, ""},
      {{"--list-attached"}, true, false, true, ""},
      {{"--list-attached", "/lib"}, true, false, true, "/lib"},
      {{"--list-attached", "/lib", "/other"}, false, false, false, ""},
  };
  for (const Case& c : cases) {
    CliOptions options;
    std::string error;
    EXPECT_EQ(ParseCliOptions(c.args, options, error), c.ok) << c.args.front() << error;
    if (!c.ok) continue;
    EXPECT_EQ(options.settings.useAttached, c.useAttached);
    EXPECT_EQ(options.listAttached, c.listAttached);
    EXPECT_EQ(options.attachedFolder.string(), c.folder);
  }
}

}  // namespace
}  // namespace inkbrite
