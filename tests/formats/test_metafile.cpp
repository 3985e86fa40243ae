// SPDX-License-Identifier: GPL-2.0-or-later
// Metafile reading: picture size from the headers, drawing over white, the
// corpus files and damaged data.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "formats/detect.h"
#include "formats/image_file.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/metafile/metafile_pvt.h"
#include "platform/read_status.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::PutLE;

// A placeable WMF whose box is (left, top, right, bottom) at `inch` units per
// inch, holding the given records (function, parameter words) and the end
// record.
std::vector<uint8_t> PlaceableWmf(int left, int top, int right, int bottom, int inch,
                                  const std::vector<std::vector<uint16_t>>& records) {
  std::vector<uint8_t> out;
  PutLE(out, 4, {0x9AC6CDD7u});
  PutLE(out, 2,
        {0, uint16_t(left), uint16_t(top), uint16_t(right), uint16_t(bottom), uint16_t(inch)});
  PutLE(out, 4, {0});
  uint16_t checksum = 0;
  for (size_t i = 0; i < 20; i += 2) checksum ^= static_cast<uint16_t>(out[i] | (out[i + 1] << 8));
  PutLE(out, 2, {checksum, 1, 9, 0x300});
  uint32_t words = 9 + 3;
  uint32_t largest = 3;
  for (const auto& r : records) {
    words += static_cast<uint32_t>(r.size()) + 2;
    largest = std::max<uint32_t>(largest, static_cast<uint32_t>(r.size()) + 2);
  }
  PutLE(out, 4, {words});
  PutLE(out, 2, {1});
  PutLE(out, 4, {largest});
  PutLE(out, 2, {0});
  for (const auto& r : records) {
    PutLE(out, 4, {static_cast<uint32_t>(r.size()) + 2});
    for (uint16_t w : r) PutLE(out, 2, {w});
  }
  PutLE(out, 4, {3});
  PutLE(out, 2, {0});
  return out;
}

// RasteriseSvg into a new picture, given to `image` only when drawn.
bool Rasterise(const std::string& svg, metafile::PictureSize size, DibImage& image,
               metafile::Deadline deadline, size_t layerBytes) {
  DibImage picture;
  if (!metafile::RasteriseSvg(svg, size, CanvasFor(picture), deadline, layerBytes)) return false;
  image = std::move(picture);
  return true;
}

// An EMF header record only, with the given frame in 0.01 mm.
std::vector<uint8_t> EmfHeader(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  std::vector<uint8_t> out;
  PutLE(out, 4,
        {1, 88, 0, 0, 0, 0, uint32_t(left), uint32_t(top), uint32_t(right), uint32_t(bottom),
         0x464D4520u});
  out.resize(88, 0);
  return out;
}

TEST(Metafile, SizeFromHeadersAtScreenResolution) {
  int32_t w = 0;
  int32_t h = 0;
  // 21.0 x 29.7 cm: 8268 x 11693 units at 1000 per inch, either way round.
  for (const auto& a4 :
       {PlaceableWmf(10866, 9154, 19134, 20847, 1000, {}),
        PlaceableWmf(19134, 20847, 10866, 9154, 1000, {}), EmfHeader(0, 0, 21000, 29700)}) {
    ASSERT_TRUE(metafile::HeaderPictureSize(a4.data(), a4.size(), w, h));
    EXPECT_EQ(std::pair(w, h), std::pair(794, 1123));
  }
  auto noInch = PlaceableWmf(0, 0, 100, 100, 0, {});
  auto emptyBox = PlaceableWmf(5, 5, 5, 100, 1000, {});
  auto badFrame = EmfHeader(100, 0, 0, 100);
  for (const auto* bytes : {&noInch, &emptyBox, &badFrame})
    EXPECT_FALSE(metafile::HeaderPictureSize(bytes->data(), bytes->size(), w, h));

  EXPECT_EQ(794, metafile::MulDiv(21001, 96, 2540));
  EXPECT_EQ(-3, metafile::MulDiv(-5, 1, 2));  // halves away from zero
  EXPECT_EQ(-1, metafile::MulDiv(1, 1, 0));
}

// Pictures beyond the limits are refused from the header alone: a box of
// 32767 units at 1 per inch would be over three million pixels a side.
TEST(Metafile, RefusesHugePicturesBeforeDrawing) {
  DibImage image;
  auto wide = PlaceableWmf(-32768, 0, 32767, 10, 1, {});
  auto emf = EmfHeader(0, 0, 2000000000, 2000000000);
  auto tooManyBytes = EmfHeader(0, 0, 1700000, 1700000);  // 64260 x 64260
  int grey = 7;
  for (const auto* bytes : {&wide, &emf, &tooManyBytes})
    EXPECT_EQ(0, ReadPictureMemory(bytes->data(), bytes->size(), image, &grey));
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_EQ(7, grey);
}

// One inch square page with a black rectangle over its bottom-right quarter.
TEST(Metafile, DrawsPlaceablePageOverWhite) {
  const std::vector<std::vector<uint16_t>> records = {
      {0x020B, 0, 0},                  // SetWindowOrg
      {0x020C, 1000, 1000},            // SetWindowExt
      {0x02FC, 0, 0, 0, 0},            // CreateBrushIndirect: solid black
      {0x012D, 0},                     // SelectObject
      {0x041B, 1000, 1000, 500, 500},  // Rectangle(500, 500, 1000, 1000)
  };
  auto wmf = PlaceableWmf(0, 0, 1000, 1000, 1000, records);
  DibImage image;
  int grey = 1;
  ASSERT_EQ(1, ReadPictureMemory(wmf.data(), wmf.size(), image, &grey));
  EXPECT_EQ(0, grey);
  ASSERT_TRUE(image.Is24Bit());
  ASSERT_EQ(std::pair(image.Width(), image.Height()), std::pair(96, 96));
  const test::Bgr white{255, 255, 255};
  for (auto [x, y] : {std::pair{10, 10}, {80, 10}, {10, 80}})
    EXPECT_EQ(white, test::PixelAt(image, x, y));
  EXPECT_EQ((test::Bgr{0, 0, 0}), test::PixelAt(image, 75, 75));
}

// Text bytes reach the SVG document as the metafile holds them; markup
// characters and ANSI bytes must not make it unreadable.
TEST(Metafile, TextWithMarkupAndAnsiBytesLoads) {
  // TextOut(100, 100, "a<b&\xE9")
  const std::vector<std::vector<uint16_t>> records = {
      {0x0521, 5, 'a' | ('<' << 8), 'b' | ('&' << 8), 0xE9, 100, 100}};
  auto wmf = PlaceableWmf(0, 0, 1000, 1000, 1000, records);
  DibImage image;
  ASSERT_EQ(1, ReadPictureMemory(wmf.data(), wmf.size(), image, nullptr));
  EXPECT_EQ(96, image.Width());
}

// CreateFontIndirect (height 40, face "Arial") in `charset`, selected, and
// TextOut(100, 500) of `bytes` (an even count).
std::vector<std::vector<uint16_t>> TextInCharset(uint8_t charset,
                                                 const std::vector<uint8_t>& bytes) {
  std::vector<uint16_t> font = {
      0x02FB,           40, 0, 0, 0, 400, 0, uint16_t(charset << 8), 0, 0, 'A' | ('r' << 8),
      'i' | ('a' << 8), 'l'};
  std::vector<uint16_t> textOut = {0x0521, uint16_t(bytes.size())};
  for (size_t i = 0; i < bytes.size(); i += 2) {
    textOut.push_back(uint16_t(bytes[i] | (bytes[i + 1] << 8)));
  }
  textOut.push_back(500);
  textOut.push_back(100);
  return {{0x020B, 0, 0}, {0x020C, 1000, 1000}, font, {0x012D, 0}, textOut};
}

// Text comes out in the code page of its font's character set: GB2312 text
// is GBK, not Windows-1252 (which turned it into Latin letters).
TEST(Metafile, TextIsReadInItsFontsCharacterSet) {
  const std::vector<uint8_t> gbk = {0xD6, 0xD0, 0xCE, 0xC4};  // "中文"
  struct Case {
    uint8_t charset;
    std::vector<uint8_t> bytes;
    const char* utf8;
  };
  for (const Case& c :
       {Case{134, gbk, "中文"}, Case{0, {'c', 0xE9, 0x80, 'x'}, "cé€x"},
        Case{136, {0xA4, 0xA4, 0xA4, 0xE5}, "中文"}, Case{204, {0xC4, 0xE0, 'm', 'x'}, "Даmx"},
        Case{134, {'a', 0xD6, 0xFF, 'b'}, "a??b"}}) {
    const auto wmf = PlaceableWmf(0, 0, 1000, 1000, 1000, TextInCharset(c.charset, c.bytes));
    metafile::PictureSize size{96, 96};
    std::string svg;
    ASSERT_TRUE(metafile::WmfToSvg(wmf.data(), wmf.size(), size, svg,
                                   std::chrono::steady_clock::now() + std::chrono::seconds(20)))
        << int{c.charset};
    EXPECT_NE(svg.find(std::string(">") + c.utf8 + "</text>"), std::string::npos)
        << int{c.charset} << "\n"
        << svg;
    DibImage image;
    EXPECT_EQ(1, ReadPictureMemory(wmf.data(), wmf.size(), image, nullptr));
  }
  EXPECT_EQ(metafile::TextToUtf8("\xD6\xD0\xCE", 134), "中?");  // cut at the end
  EXPECT_EQ(metafile::TextToUtf8("\x81\xA0", 0), "?\u00A0");
}

TEST(Metafile, A4PlaceableFileKeepsItsPageAndMargins) {
  INKBRITE_NEED_CORPUS();
  DibImage image;
  int grey = -1;
  ASSERT_EQ(1, ReadPictureFile(test::CorpusDir() / "metafile/libwmf/fjftest.wmf", image, &grey));
  ASSERT_EQ(std::pair(image.Width(), image.Height()), std::pair(794, 1123));
  const test::Bgr white{255, 255, 255};
  for (auto [x, y] : {std::pair{0, 0}, {793, 0}, {0, 1122}, {793, 1122}})
    EXPECT_EQ(white, test::PixelAt(image, x, y));
  int coloured = 0;
  for (int y = 0; y < image.Height(); y += 7)
    for (int x = 0; x < image.Width(); x += 7) coloured += test::PixelAt(image, x, y) != white;
  EXPECT_GT(coloured, 100);
}

// Every prefix of the valid files (in steps) and a few corrupted copies are
// read without crashing; a result of 1 always comes with a picture.
TEST(Metafile, DamagedDataNeverCrashes) {
  INKBRITE_NEED_CORPUS();
  for (const char* name :
       {"metafile/libwmf/fjftest.wmf", "metafile/libwmf/text.wmf", "metafile/libwmf/p0000016.wmf",
        "metafile/pillow/drawing.emf", "metafile/libemf2svg/test-012.emf"}) {
    SCOPED_TRACE(name);
    const auto bytes = test::ReadAll(test::CorpusDir() / name);
    ASSERT_FALSE(bytes.empty());
    const size_t step = std::max<size_t>(1, bytes.size() / 40);
    for (size_t n = 0; n < bytes.size(); n += step) {
      DibImage image;
      const int result = ReadPictureMemory(bytes.data(), n, image, nullptr);
      EXPECT_EQ(result == 1, image.Is24Bit());
    }
    for (size_t at = 40; at < bytes.size(); at += bytes.size() / 8) {
      auto damaged = bytes;
      for (size_t i = at; i < std::min(bytes.size(), at + 16); ++i) damaged[i] ^= 0xA5;
      DibImage image;
      const int result = ReadPictureMemory(damaged.data(), damaged.size(), image, nullptr);
      EXPECT_EQ(result == 1, image.Is24Bit());
    }
  }
  DibImage kept = test::MakePattern(3, 2);
  const std::vector<uint8_t> junk(100, 0x5A);
  EXPECT_EQ(0, ReadPictureMemory(junk.data(), junk.size(), kept, nullptr));
  EXPECT_EQ(3, kept.Width());  // a failed read leaves the image as it was
  EXPECT_EQ(0, ReadPictureFile(test::CorpusDir() / "metafile/missing.wmf", kept, nullptr));
}

// A document cut into layers: runs of elements of the root and of plain
// groups, groups with a group-wide effect kept whole, markup that only looks
// like a tag left alone.
TEST(SvgLayers, RunsOfElementsAreWrappedInPlainGroups) {
  std::string svg =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [<!ENTITY a \"b\">]>\n<!-- <rect/> -->\n"
      "<svg width=\"9\"><defs><clipPath id=\"c\"><rect/></clipPath></defs>"
      "<rect title=\"a>b\"/><text>x &gt; <![CDATA[</text>]]></text>"
      "<g transform=\"scale(2)\"><path/><path/></g>"
      "<g style=\"opacity:0.5\"><path/><path/></g></svg>\n";
  std::vector<std::string> ids;
  std::string cut = svg;
  ASSERT_TRUE(metafile::CutIntoLayers(cut, 1, ids));
  EXPECT_EQ(ids, (std::vector<std::string>{"#inkbrite-layer-0", "#inkbrite-layer-1",
                                           "#inkbrite-layer-2", "#inkbrite-layer-3",
                                           "#inkbrite-layer-4", "#inkbrite-layer-5"}));
  EXPECT_NE(cut.find("<g id=\"inkbrite-layer-2\"><text>x &gt; <![CDATA[</text>]]></text></g>"),
            std::string::npos)
      << cut;
  EXPECT_NE(cut.find("<g transform=\"scale(2)\"><g id=\"inkbrite-layer-3\"><path/></g>"
                     "<g id=\"inkbrite-layer-4\"><path/></g></g>"),
            std::string::npos)
      << cut;
  EXPECT_NE(cut.find("<g id=\"inkbrite-layer-5\"><g style=\"opacity:0.5\"><path/><path/></g></g>"),
            std::string::npos)
      << cut;

  // Large layers: everything in one.
  cut = svg;
  ASSERT_TRUE(metafile::CutIntoLayers(cut, size_t{1} << 20, ids));
  EXPECT_EQ(ids.size(), 3u);  // before, inside and after the plain group

  for (const char* bad : {"<svg><rect></svg", "<svg><rect>", "<rect/>", "no markup", ""}) {
    std::string text = bad;
    EXPECT_FALSE(metafile::CutIntoLayers(text, 1, ids)) << bad;
  }
  // Groups nested far deeper than they are cut stay one layer, without
  // recursion.
  std::string deep = "<svg>" + std::string(1, ' ');
  for (int i = 0; i < 200000; ++i) deep += "<g>";
  deep += "<path/>";
  for (int i = 0; i < 200000; ++i) deep += "</g>";
  deep += "</svg>";
  ASSERT_TRUE(metafile::CutIntoLayers(deep, 1, ids));
  EXPECT_EQ(ids.size(), 1u);
}

// Drawn a layer at a time, every corpus drawing gives exactly the picture it
// gives drawn at once.
TEST(SvgLayers, DrawingInLayersGivesTheSamePicture) {
  INKBRITE_NEED_CORPUS();
  const auto far = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  int compared = 0;
  for (const auto& row : test::ReadManifest("metafile/")) {
    if (row.expect == "fail") continue;
    const auto bytes = test::ReadAll(test::CorpusDir() / row.path);
    metafile::PictureSize size{0, 0};
    int32_t w = 0;
    int32_t h = 0;
    if (metafile::HeaderPictureSize(bytes.data(), bytes.size(), w, h)) size = {w, h};
    std::string svg;
    const bool emf = row.path.ends_with(".emf");
    ASSERT_TRUE(emf ? metafile::EmfToSvg(bytes.data(), bytes.size(), size, svg)
                    : metafile::WmfToSvg(bytes.data(), bytes.size(), size, svg, far))
        << row.path;
    DibImage whole;
    DibImage layered;
    ASSERT_TRUE(Rasterise(svg, size, whole, far, size_t{1} << 40)) << row.path;
    ASSERT_TRUE(Rasterise(svg, size, layered, far, 1)) << row.path;
    EXPECT_EQ(whole.PackedDib(), layered.PackedDib()) << row.path;
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

// A page of thick, self-crossing polylines: hours of drawing. 96 units per
// inch, so the box is `side` pixels.
std::vector<uint8_t> HeavyDrawing(int side, int lines, int points) {
  std::vector<std::vector<uint16_t>> records = {
      {0x020B, 0, 0},
      {0x020C, uint16_t(side), uint16_t(side)},
      {0x02FA, 0, 30, 0, 0x00FF, 0},  // CreatePenIndirect: solid, 30 wide, red
      {0x012D, 0}};
  uint32_t seed = 7;
  for (int i = 0; i < lines; ++i) {
    std::vector<uint16_t> polyline = {0x0325, uint16_t(points)};
    for (int k = 0; k < 2 * points; ++k) {
      seed = seed * 1664525u + 1013904223u;
      polyline.push_back(uint16_t((seed >> 8) % uint32_t(side)));
    }
    records.push_back(polyline);
  }
  return PlaceableWmf(0, 0, side, side, 96, records);
}

// The whole reading has one budget, the drawing of the picture included:
// when it is spent the file fails, the image as it was.
TEST(Metafile, DrawingStopsWhenTheBudgetIsSpent) {
  const auto heavy = HeavyDrawing(1024, 40, 1500);
  const auto far = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  metafile::PictureSize size{1024, 1024};
  std::string svg;
  ASSERT_TRUE(metafile::WmfToSvg(heavy.data(), heavy.size(), size, svg, far));
  DibImage image = test::MakePattern(3, 2);
  const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  EXPECT_FALSE(Rasterise(svg, size, image, soon, metafile::LayerBytesFor(svg.size())));
  EXPECT_EQ(image.Width(), 3);

  EXPECT_EQ(0, metafile::ReadPictureWithin(heavy.data(), heavy.size(), image, nullptr,
                                           std::chrono::milliseconds(100)));
  EXPECT_EQ(image.Width(), 3);
  // A light drawing of the same kind is read within the same budget.
  const auto light = HeavyDrawing(256, 1, 4);
  EXPECT_EQ(1, metafile::ReadPictureWithin(light.data(), light.size(), image, nullptr,
                                           std::chrono::seconds(60)));
  EXPECT_EQ(image.Width(), 256);
}

// The metafile module is loaded at the first metafile page, not before
// (other pages and detection leave it alone), and a module that is missing
// or is no module fails the metafile pages with its own reason while every
// other page still reads. Each run is a process of its own, since a module
// is loaded once per process.
struct ModuleStep {
  const char* file;
  bool detectOnly;   // the format detected, nothing read
  ReadError error;   // kNone: the page reads
  bool loadedAfter;  // MetafileModuleLoaded() after the step
};

struct ModuleRun {
  const char* name;
  const char* module;  // the module named by the environment; null: the built one
  std::vector<ModuleStep> steps;
};

// The run's failures, one a line; empty when every step gave what it must.
std::string RunModuleSteps(const std::filesystem::path& dir, const ModuleRun& run) {
  std::string failures;
  for (const ModuleStep& step : run.steps) {
    const std::string where = std::string(run.name) + ", " + step.file + ": ";
    if (step.detectOnly) {
      if (DetectImageFormat(dir / step.file, true) != kFormatMetafile)
        failures += where + "not detected\n";
    } else {
      DibImage image = test::MakePattern(3, 2);
      ReadStatus status;
      const int read = LoadImageFile(dir / step.file, image, nullptr, &status);
      if ((read == 1) != (step.error == ReadError::kNone) || status.error != step.error) {
        failures += where + "gave " + std::string(ReadErrorInfo(status.error).code) + "\n";
      }
      if (read == 0 && image.Width() != 3) failures += where + "failed read changed the image\n";
      if (read == 0 && ReadStatusText(status).empty()) failures += where + "no reason text\n";
    }
    if (MetafileModuleLoaded() != step.loadedAfter) {
      failures += where + (step.loadedAfter ? "module not loaded\n" : "module loaded\n");
    }
  }
  if (run.module != nullptr && MetafileModuleError().empty()) failures += "no loading error told\n";
  return failures;
}

TEST(MetafileModule, LoadedAtTheFirstMetafilePageAndMissedWithAReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr ReadError kReads = ReadError::kNone;
  constexpr ReadError kNoModule = ReadError::kNoReaderModule;
  const std::vector<ModuleRun> runs = {
      {"built module",
       nullptr,
       {{"page.wmf", true, kReads, false},
        {"page.png", false, kReads, false},
        {"page.jpg", false, kReads, false},
        {"page.wmf", false, kReads, true},
        {"header.emf", false, ReadError::kDamaged, true},
        {"page.png", false, kReads, true}}},
      {"no module",
       "/nonexistent/libinkbrite-metafile.so",
       {{"page.png", false, kReads, false},
        {"page.wmf", false, kNoModule, false},
        {"header.emf", false, kNoModule, false},
        {"page.jpg", false, kReads, false}}},
      {"not a module", "page.wmf", {{"page.wmf", false, kNoModule, false}}},
  };
  const char* built = std::getenv("INKBRITE_METAFILE_MODULE");
  ASSERT_NE(built, nullptr);
  const std::string builtModule = built;
  for (const ModuleRun& run : runs) {
    SCOPED_TRACE(run.name);
    // The child process makes the pages itself: it runs this test again up
    // to its own run.
    EXPECT_EXIT(
        {
          const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                            ("inkbrite-module-" + std::to_string(getpid()));
          std::filesystem::create_directories(dir);
          const DibImage page = test::MakePattern(40, 30);
          bool made = SaveImageFile(dir / "page.png", page, 0, 90) == 1 &&
                      SaveImageFile(dir / "page.jpg", page, 0, 90) == 1;
          test::WriteAll(dir / "page.wmf",
                         PlaceableWmf(0, 0, 96, 96, 96, {{0x041B, 80, 80, 10, 10}}));
          test::WriteAll(dir / "header.emf", EmfHeader(0, 0, 2540, 2540));
          const std::string module = run.module == nullptr  ? builtModule
                                     : run.module[0] == '/' ? std::string(run.module)
                                                            : (dir / run.module).string();
          setenv("INKBRITE_METAFILE_MODULE", module.c_str(), 1);
          const std::string failures = made ? RunModuleSteps(dir, run) : "pages not made\n";
          std::filesystem::remove_all(dir);
          std::fputs(failures.c_str(), stderr);
          std::exit(failures.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
  }
}

}  // namespace
}  // namespace inkbrite
