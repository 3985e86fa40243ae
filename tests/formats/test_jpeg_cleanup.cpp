// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG clean-up on line art written and read back by the JPEG codec at low
// qualities: blocking and the error against the clean art both drop.
#include <gtest/gtest.h>

#include <random>

#include "core/jpeg_cleanup.h"
#include "formats/jpeg/jpeg_codec.h"
#include "tests/core/scan_pages.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

// The JPEG codec's round trip of `page` at `quality`.
DibImage RoundTrip(const DibImage& page, int quality, const test::TempDir& dir) {
  const auto path = dir / ("q" + std::to_string(quality) + ".jpg");
  DibImage decoded;
  EXPECT_EQ(WriteJpegFile(path, page, quality, 0), 1);
  EXPECT_EQ(ReadJpegFile(path, decoded, nullptr), 1);
  return decoded;
}

TEST(JpegCleanup, ReducesRingingAroundLineArtAndBlockingInShading) {
  std::mt19937 rng(5);
  const DibImage art = test::ComicPage(320, 240, {11, 13, 309, 229}, rng);
  // Soft shading, where blocks show.
  const DibImage shading = test::MakeImage(320, 240, [](int32_t x, int32_t y) {
    const auto v = static_cast<uint8_t>(60 + (x * x + 2 * y * y) / 600);
    return test::Bgr{v, static_cast<uint8_t>(v / 2 + 60), static_cast<uint8_t>(255 - v)};
  });
  test::TempDir dir;
  for (const int quality : {30, 40, 50}) {
    SCOPED_TRACE(quality);
    const DibImage decoded = RoundTrip(art, quality, dir);
    // The file's own table, as the writer scaled it.
    JpegQuantisers tables;
    ASSERT_TRUE(ReadJpegQuantisers(dir / ("q" + std::to_string(quality) + ".jpg"), tables));
    EXPECT_EQ(tables.steps, StandardJpegQuantisers(quality).steps);
    DibImage cleaned = decoded;
    CleanJpegArtefacts(cleaned, &tables);
    EXPECT_GE(test::Psnr(cleaned, art), test::Psnr(decoded, art) + 1.5)
        << test::Psnr(decoded, art) << " dB before";

    const DibImage blocky = RoundTrip(shading, quality - 20, dir);
    const JpegQuantisers coarse = StandardJpegQuantisers(quality - 20);
    DibImage smoothed = blocky;
    EXPECT_GT(CleanJpegArtefacts(smoothed, &coarse).smoothed, 0);
    EXPECT_LT(JpegBlocking(smoothed), JpegBlocking(blocky) * 0.7);
    EXPECT_GE(test::Psnr(smoothed, shading), test::Psnr(blocky, shading));
  }
}

TEST(JpegCleanup, ReadsNoTableFromDamagedOrOtherData) {
  test::TempDir dir;
  const auto path = dir / "page.jpg";
  ASSERT_EQ(WriteJpegFile(path, test::MakeNoise(32, 16), 60, 0), 1);
  const std::vector<uint8_t> file = test::ReadAll(path);
  JpegQuantisers tables;
  ASSERT_TRUE(ReadJpegQuantisers(file.data(), file.size(), tables));
  // Cut anywhere before the end of the table's segment, or a segment's
  // length broken: no table, never a read past the data.
  size_t end = 2;
  for (bool table = false; !table && end + 4 < file.size();) {
    table = file[end + 1] == 0xDB;
    end += 2 + (static_cast<size_t>(file[end + 2]) << 8 | file[end + 3]);
  }
  for (size_t cut = 0; cut < end; cut += 7) {
    EXPECT_FALSE(ReadJpegQuantisers(file.data(), cut, tables)) << cut;
  }
  std::vector<uint8_t> broken = file;
  broken[5] = 0xFF;  // the first segment claims more than the file holds
  EXPECT_FALSE(ReadJpegQuantisers(broken.data(), 300, tables));
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  EXPECT_FALSE(ReadJpegQuantisers(png.data(), png.size(), tables));
}

TEST(JpegCleanup, FollowsTheFileTableAndLeavesOtherPagesAlone) {
  // A finer table smooths less: at quality 95 steps of a few levels only.
  const JpegCleanupFound fine = [] {
    DibImage page = test::MakeNoise(64, 64);
    const JpegQuantisers q = StandardJpegQuantisers(95);
    return CleanJpegArtefacts(page, &q);
  }();
  const JpegCleanupFound coarse = [] {
    DibImage page = test::MakeNoise(64, 64);
    const JpegQuantisers q = StandardJpegQuantisers(20);
    return CleanJpegArtefacts(page, &q);
  }();
  EXPECT_LT(fine.edge, coarse.edge);
  EXPECT_LT(fine.ring, coarse.ring);
  DibImage tiny = test::MakeNoise(2, 9);
  const DibImage before = tiny;
  CleanJpegArtefacts(tiny, nullptr);
  EXPECT_EQ(tiny.PackedDib(), before.PackedDib());
}

}  // namespace
}  // namespace inkbrite
