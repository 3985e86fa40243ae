// SPDX-License-Identifier: GPL-2.0-or-later
// The device table and --device: every row sound, the families readers
// own present, a device's settings the ready-made set's with its screen.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "batch/cli_host.h"
#include "batch/devices.h"
#include "batch/named_settings.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

TEST(DeviceTable, EveryRowIsSoundAndTheCommonDevicesAreThere) {
  const std::vector<DeviceRow>& rows = DeviceRows();
  ASSERT_GE(rows.size(), 40u);
  for (const char* name : {"eink-6-1072x1448",
                           "eink-7-1264x1680",
                           "tablet-10-1600x2560",
                           "kindle-basic",
                           "kindle-paperwhite-5",
                           "kindle-paperwhite-6",
                           "kindle-oasis",
                           "kindle-colorsoft",
                           "kindle-scribe",
                           "kindle-scribe-3",
                           "kindle-scribe-colorsoft",
                           "kobo-clara-hd",
                           "kobo-clara-2e",
                           "kobo-clara-bw",
                           "kobo-clara-colour",
                           "kobo-libra-2",
                           "kobo-libra-colour",
                           "kobo-sage",
                           "kobo-elipsa-2e",
                           "remarkable-2",
                           "remarkable-paper-pro",
                           "remarkable-paper-pro-move",
                           "pocketbook-era",
                           "boox-palma",
                           "boox-note-air-3",
                           "boox-tab-ultra-c-pro",
                           "phone-1080x2400",
                           "tablet-11-1668x2388"}) {
    EXPECT_NE(FindDevice(name), nullptr) << name;
  }
  for (const DeviceRow& row : rows) {
    // Pixels, diagonal and density agree within 3 %: a typo in a size shows.
    const double diagonal = std::hypot(row.width, row.height) / row.ppi;
    EXPECT_NEAR(diagonal / row.inches, 1.0, 0.03) << row.name;
  }
  EXPECT_EQ(FindDevice("KOBO-Libra-2"), FindDevice("kobo-libra-2"));
  EXPECT_EQ(FindDevice("kobo-libra-3"), nullptr);
  const std::string list = CliDeviceListText();
  for (const DeviceRow& row : rows) EXPECT_NE(list.find(row.name + " "), std::string::npos);

  std::vector<DeviceRow> parsed;
  std::string error;
  const std::string header = "name\tlabel\tw\th\tin\tppi\tcolour\tcppi\tkind\tpages\tsource\n";
  for (const char* bad : {"x\tX\t100\t200\t6\t300\tgrey\t300\tepub\t1\n",  // ten columns
                          "x\tX\t100\t200\t6\t300\tgrey\t300\tmobi\t1\ts\n",
                          "x\tX\t100\t200\t6\t300\tgrey\t300\tfolder\t1\ts\n",
                          "x\tX\t100\t200\t6\t300\tkaleido\t400\tepub\t1\ts\n",
                          "x\tX\t100\t200\tsix\t300\tgrey\t300\tepub\t1\ts\n",
                          "x\tX\t100\t200\t6\t300\tgrey\t300\tepub\t3\ts\n",
                          "x\tX\t100\t200\t6\t300\tgrey\t300\tepub\t1\ts\n"
                          "X\tY\t100\t200\t6\t300\tgrey\t300\tpdf\t1\ts\n"}) {
    EXPECT_FALSE(ParseDeviceTable(header + bad, parsed, error)) << bad;
  }
  EXPECT_TRUE(ParseDeviceTable(header + "# note\nx\tX\t100\t200\t6\t300\tgrey\t300\tepub\t1\ts\n",
                               parsed, error))
      << error;
  EXPECT_EQ(parsed.size(), 1u);
}

TEST(DeviceTable, DeviceSetsTheFitColourKindAndDensity) {
  test::TempDir dir;
  auto build = [&dir](std::vector<std::string_view> args, CliOptions& options, CParaBlock& block) {
    const std::string settings = (dir / "s.ini").string();
    args.insert(args.end(), {"--settings", settings, "a", "b"});
    std::string error;
    ASSERT_TRUE(ParseCliOptions(args, options, error)) << error;
    ASSERT_TRUE(BuildParams(options, block, error)) << error;
  };
  // A colour e-ink Kobo: KEPUB, colour kept, fitted at the colour layer's 150 ppi.
  CliOptions kobo;
  CParaBlock koboBlock;
  build({"--device", "kobo-libra-colour"}, kobo, koboBlock);
  EXPECT_EQ(kobo.settings.books, BookOutput::kKepub);
  EXPECT_EQ(kobo.settings.bookPixelsPerInch, 150);
  EXPECT_EQ(koboBlock.GetValue(kFitWidth), 632);
  EXPECT_EQ(koboBlock.GetValue(kFitHeight), 840);
  EXPECT_EQ(kobo.settings.colourMode, kKeepAsIs);
  EXPECT_EQ(kobo.settings.newExtension, ".jpg");
  EXPECT_TRUE(kobo.settings.renumber);  // e-readers sort names as text
  // A grey Kindle Scribe: a PDF of 16 greys at the screen's size; --books
  // and a later --set win.
  CliOptions scribe;
  CParaBlock scribeBlock;
  build({"--books", "epub", "--device", "kindle-scribe", "--set", "FitWidth=1000"}, scribe,
        scribeBlock);
  EXPECT_EQ(scribe.settings.books, BookOutput::kEpub);
  EXPECT_EQ(scribe.settings.bookPixelsPerInch, 300);
  EXPECT_EQ(scribeBlock.GetValue(kFitWidth), 1000);
  EXPECT_EQ(scribeBlock.GetValue(kFitHeight), 2480);
  EXPECT_EQ(scribe.settings.colourMode, kGreys16);
  EXPECT_EQ(scribe.settings.newExtension, ".png");
  // A device's palette pages are compressed fast; a run without one keeps
  // zlib's default.
  EXPECT_EQ(scribe.settings.pageDeflateLevel, kDevicePageDeflateLevel);
  CliOptions plain;
  CParaBlock plainBlock;
  build({"--set", "GreyScale=4"}, plain, plainBlock);
  EXPECT_EQ(plain.settings.pageDeflateLevel, -1);
  // A ready-made set's device is that set; a tablet shows two pages.
  CliOptions tablet;
  CParaBlock tabletBlock, readyMade;
  build({"--device", "tablet-10-1600x2560"}, tablet, tabletBlock);
  ApplyDeviceSetting(kDeviceSettings[2], readyMade);
  for (int slot = 0; slot < kParaSlotCount; ++slot) {
    EXPECT_EQ(tabletBlock.GetValue(slot), readyMade.GetValue(slot)) << slot;
  }
  EXPECT_TRUE(tablet.settings.bookSpreads);
  EXPECT_EQ(tablet.settings.books, BookOutput::kCbz);
  // Each ready-made set writes the kind its row of the table names.
  for (const DeviceSetting& set : kDeviceSettings) {
    CParaBlock ready;
    ApplyDeviceSetting(set, ready);
    ASSERT_NE(FindDevice(set.name), nullptr) << set.name;
    EXPECT_EQ(ready.GetValue(kBookKind), static_cast<int>(FindDevice(set.name)->kind)) << set.name;
  }
  CliOptions unknown;
  std::string error;
  const std::vector<std::string_view> args = {"--device", "kindle-99", "a", "b"};
  EXPECT_FALSE(ParseCliOptions(args, unknown, error));
  EXPECT_EQ(error, "没有名为“kindle-99”的设备（见--list-devices）");
}

}  // namespace
}  // namespace inkbrite
