// SPDX-License-Identifier: GPL-2.0-or-later
// Settings that follow a series or a book through the batch job: each book
// converted with the set in force for it (and each page with its own
// settings over it) gives the bytes a run with that set gives, the record
// names the set, a set no longer in the settings file fails its book with
// the reason, a changed set makes its books again under --skip-existing,
// and attachments travel in a named-settings file.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "batch/attached_settings.h"
#include "batch/batch_job.h"
#include "batch/cli_host.h"
#include "batch/named_settings.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "platform/ini_file.h"
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
  std::string Run(const fs::path& target, const CParaBlock& params, bool useAttached,
                  const std::function<void(BatchSettings&)>& tweak = {}) {
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
    if (tweak) tweak(settings);
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

// The result the JSON record gives `source`.
std::string ResultOf(const std::string& record, const std::string& source) {
  const size_t at = record.find("\"source\":\"" + source + "\"");
  if (at == std::string::npos) return "none";
  const size_t line = record.rfind('\n', at) + 1;
  const std::string entry = record.substr(line, record.find('\n', at) - line);
  const size_t result = entry.find("\"result\":\"");
  if (result == std::string::npos) return "none";
  const size_t from = result + 10;
  return entry.substr(from, entry.find('"', from) - from);
}

TEST_F(AttachedSettingsTest, APageWithItsOwnSettingsTakesThemOverItsBooksSet) {
  {
    LibraryState state(db);
    ASSERT_TRUE(state.Attach(dir / "src/series", AttachScope::kSeries, "bright"));
    // A grey page in a book of colour pages, and a page of a book nothing
    // is attached to.
    ASSERT_TRUE(state.SetPageSetting(PageSettingsKey(dir / "src/series/v1.cbz"), "002.png",
                                     PageSlotsText({{kContrast, 150}, {kGreyScale, kGreyComic}})));
    ASSERT_TRUE(state.SetPageSetting(PageSettingsKey(dir / "src/other/v3.cbz"), "001.png",
                                     "Brightness=60\n"));
  }
  CParaBlock plain;
  const std::string record = Run(dir / "attached", plain, true);
  CParaBlock bright;
  ASSERT_TRUE(LoadNamedSetting(bright, "bright", ini));
  CParaBlock brightGrey;
  brightGrey.Assign(bright);
  brightGrey.SetValue(kContrast, 150);
  brightGrey.SetValue(kGreyScale, kGreyComic);
  CParaBlock dark;
  dark.SetValue(kBrightness, 60);
  Run(dir / "plain", plain, false);
  Run(dir / "bright", bright, false);
  Run(dir / "brightGrey", brightGrey, false, [](BatchSettings& s) { s.colourMode = kGreyComic; });
  Run(dir / "dark", dark, false);
  struct Case {
    const char* book;
    size_t page;
    const char* sameAs;
  };
  for (const Case& c : {Case{"series/v1.cbz", 0, "bright"}, Case{"series/v1.cbz", 1, "brightGrey"},
                        Case{"series/v2.cbz", 1, "bright"}, Case{"other/v3.cbz", 0, "dark"},
                        Case{"other/v3.cbz", 1, "plain"}}) {
    const std::vector<MadeEntry> got = Pages(dir / "attached" / c.book);
    const std::vector<MadeEntry> same = Pages(dir / c.sameAs / c.book);
    ASSERT_EQ(got.size(), 2u) << c.book;
    ASSERT_EQ(same.size(), 2u) << c.book;
    EXPECT_EQ(got[c.page].data, same[c.page].data) << c.book << " " << c.page;
  }
  EXPECT_NE(Pages(dir / "attached/series/v1.cbz")[1].data,
            Pages(dir / "bright/series/v1.cbz")[1].data);
  // The record names the pages that took their own settings.
  EXPECT_NE(record.find("\"page_settings\":\"002.png\\tbright（此系列）＋此页："
                        "Contrast=150 GreyScale=1\""),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("\"page_settings\":\"001.png\\t本次设置＋此页：Brightness=60\""),
            std::string::npos)
      << record;

  // What the library keeps is read back leniently: unknown keys, values
  // that are no number or out of range are passed over, the last line wins.
  const PageSlots read = PageSlotsOf(
      "Brightness=150\nNoSuchKey=1\nContrast=abc\nGreyScale=99\nSharpen=2\n"
      "junk\nBrightness=160");
  EXPECT_EQ(read, (PageSlots{{kBrightness, 160}, {kSharpen, 2}}));
  EXPECT_EQ(PageSlotsOf(PageSlotsText(read)), read);
}

// With a JSON record, a book's fingerprint holds its set in force and its
// pages' own settings: changing either makes the book again, and books
// whose settings stayed are skipped.
TEST_F(AttachedSettingsTest, SkipExistingMakesABookAgainWhenItsSetChanged) {
  ASSERT_TRUE(LibraryState(db).Attach(dir / "src/series", AttachScope::kSeries, "bright"));
  CParaBlock plain;
  auto run = [&] {
    return Run(dir / "out", plain, true, [](BatchSettings& s) { s.skipExisting = true; });
  };
  using Results = std::vector<std::string>;
  auto results = [](const std::string& record) {
    return Results{ResultOf(record, "series/v1.cbz"), ResultOf(record, "series/v2.cbz"),
                   ResultOf(record, "other/v3.cbz")};
  };
  EXPECT_EQ(results(run()), (Results{"converted", "converted", "converted"}));
  EXPECT_EQ(results(run()), (Results{"skipped", "skipped", "skipped"}));
  CParaBlock brighter;
  brighter.SetValue(kBrightness, 170);
  ASSERT_TRUE(SaveNamedSetting(brighter, "bright", ini));
  EXPECT_EQ(results(run()), (Results{"converted", "converted", "skipped"}));
  ASSERT_TRUE(LibraryState(db).SetPageSetting(PageSettingsKey(dir / "src/other/v3.cbz"), "002.png",
                                              "Contrast=120\n"));
  EXPECT_EQ(results(run()), (Results{"skipped", "skipped", "converted"}));
  EXPECT_EQ(results(run()), (Results{"skipped", "skipped", "skipped"}));
  // The book the set changed for holds the new set's pages.
  Run(dir / "brighter", brighter, false);
  EXPECT_EQ(Pages(dir / "out/series/v1.cbz")[0].data,
            Pages(dir / "brighter/series/v1.cbz")[0].data);
}

TEST_F(AttachedSettingsTest, AttachmentsTravelInAFileThatReadsAsNamedSettings) {
  {
    LibraryState state(db);
    ASSERT_TRUE(state.Attach(dir / "src/series", AttachScope::kSeries, "bright"));
    ASSERT_TRUE(state.Attach(dir / "src/series/v2.cbz", AttachScope::kBook, "sharp"));
    ASSERT_TRUE(state.Attach(dir / "src/other/v3.cbz", AttachScope::kBook, "sharp"));
    ASSERT_TRUE(state.Attach(dir / "src/gone", AttachScope::kSeries, "vanished"));
  }
  const fs::path file = dir / "exported.ini";
  const AttachedTransfer out = ExportAttachedSettings(LibraryState(db), {}, ini, file);
  ASSERT_FALSE(out.failed) << out.error;
  EXPECT_EQ(out.sets, 2);
  EXPECT_EQ(out.attachments, 3);
  EXPECT_EQ(out.leftOut.size(), 1u);  // "vanished" is in no settings file
  // The settings reader takes the file as a settings file: the same sets
  // with the same values, the attachment keys passed over.
  EXPECT_EQ(ListNamedSettings(file), (std::vector<std::string>{"sharp", "bright"}));
  for (const char* name : {"sharp", "bright"}) {
    CParaBlock exported, stored;
    ASSERT_TRUE(LoadNamedSetting(exported, name, file));
    ASSERT_TRUE(LoadNamedSetting(stored, name, ini));
    EXPECT_EQ(exported.Values(), stored.Values()) << name;
  }
  IniFile read(file);
  ASSERT_TRUE(read.Load());
  EXPECT_EQ(read.GetString("sharp", "AttachedTo2"), "book|" + (dir / "src/series/v2.cbz").string());

  // Into another library and settings file: the same attachments.
  const fs::path ini2 = dir / "other.ini", db2 = dir / "other.db";
  LibraryState other(db2);
  const AttachedTransfer in = ImportAttachedSettings(other, file, ini2);
  ASSERT_FALSE(in.failed) << in.error;
  EXPECT_EQ(in.sets, 2);
  EXPECT_EQ(in.attachments, 3);
  EXPECT_TRUE(in.leftOut.empty());
  auto listed = [](const LibraryState& state) {
    std::vector<std::string> lines;
    for (const Attachment& a : state.Attachments()) {
      if (a.setName != "vanished") lines.push_back(a.path.string() + "=" + a.setName);
    }
    return lines;
  };
  EXPECT_EQ(listed(other), listed(LibraryState(db)));
  EXPECT_EQ(
      AttachedListText(other, {}, ini2)
          .find(MissingAttachedSettingText({dir / "src/series", AttachScope::kSeries, "bright"})),
      std::string::npos);

  // A set of that name with other values is kept, and its section left out
  // with its attachments; a value that is no attachment is said.
  const fs::path ini3 = dir / "third.ini";
  CParaBlock mine;
  mine.SetValue(kBrightness, 10);
  ASSERT_TRUE(SaveNamedSetting(mine, "sharp", ini3));
  IniFile edited(file);
  ASSERT_TRUE(edited.Load());
  ASSERT_TRUE(edited.SetString("bright", "AttachedTo2", "shelf|/x"));
  ASSERT_TRUE(edited.Save());
  LibraryState third(dir / "third.db");
  const AttachedTransfer clash = ImportAttachedSettings(third, file, ini3);
  EXPECT_EQ(clash.sets, 1);
  EXPECT_EQ(clash.attachments, 1);
  EXPECT_EQ(clash.leftOut.size(), 2u);
  CParaBlock kept;
  ASSERT_TRUE(LoadNamedSetting(kept, "sharp", ini3));
  EXPECT_EQ(kept.GetValue(kBrightness), 10);
  EXPECT_EQ(third.Attachments().size(), 1u);
  EXPECT_TRUE(ImportAttachedSettings(third, dir / "no-such.ini", ini3).failed);
}

TEST_F(AttachedSettingsTest, TheCommandLineTakesTheOptions) {
  struct Case {
    std::vector<std::string_view> args;
    bool ok;
    bool useAttached, listAttached;
    std::string folder;
    std::string exported = {}, imported = {};
  };
  const std::vector<Case> cases = {
      {{"--use-attached", "a", "b"}, true, true, false, ""},
      {{"--list-attached"}, true, false, true, ""},
      {{"--list-attached", "/lib"}, true, false, true, "/lib"},
      {{"--list-attached", "/lib", "/other"}, false, false, false, ""},
      {{"--export-attached", "f.ini"}, true, false, false, "", "f.ini"},
      {{"--export-attached", "f.ini", "/lib"}, true, false, false, "/lib", "f.ini"},
      {{"--export-attached", "f.ini", "/lib", "/x"}, false, false, false, ""},
      {{"--import-attached", "f.ini"}, true, false, false, "", "", "f.ini"},
      {{"--import-attached", "f.ini", "/lib"}, false, false, false, ""},
      {{"--import-attached", "f.ini", "--list-attached"}, false, false, false, ""},
      {{"--import-attached"}, false, false, false, ""},
  };
  for (const Case& c : cases) {
    CliOptions options;
    std::string error;
    EXPECT_EQ(ParseCliOptions(c.args, options, error), c.ok) << c.args.front() << error;
    if (!c.ok) continue;
    EXPECT_EQ(options.settings.useAttached, c.useAttached);
    EXPECT_EQ(options.listAttached, c.listAttached);
    EXPECT_EQ(options.attachedFolder.string(), c.folder);
    EXPECT_EQ(options.exportAttached.string(), c.exported);
    EXPECT_EQ(options.importAttached.string(), c.imported);
  }
}

}  // namespace
}  // namespace inkbrite
