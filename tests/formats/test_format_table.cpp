// SPDX-License-Identifier: GPL-2.0-or-later
// The format table and every list derived from it: the stored numbers,
// orders and dialog texts stay as they are, and every extension a list
// offers leads to a reader (or, for the save lists, a writer).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "formats/image_file.h"
#include "platform/ascii_case.h"
#include "platform/messages.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& patterns) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= patterns.size()) {
    const size_t end = std::min(patterns.find(';', start), patterns.size());
    out.push_back(patterns.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// "*.jpg" -> ".jpg"
std::string ExtensionOf(const std::string& pattern) {
  EXPECT_EQ(pattern.rfind("*.", 0), 0u) << pattern;
  return pattern.substr(1);
}

// The row whose extensions include `ext` (by name or by content).
const FileFormat* RowOfExtension(const std::string& ext) {
  for (const FileFormat& f : FileFormats()) {
    for (const FormatExtension& e : f.extensions) {
      if (e.text != nullptr && EqualsIgnoringAsciiCase(ext, e.text)) return &f;
    }
  }
  return nullptr;
}

TEST(FormatTable, CodesAndBothDetectionOrdersAreTheStoredOnes) {
  std::vector<int> codes;
  std::vector<std::string> signatures;
  std::vector<std::pair<std::string, int>> names;
  for (const FileFormat& f : FileFormats()) {
    codes.push_back(f.code);
    for (const FormatSignature& s : f.signatures) {
      if (s.length == 0) continue;
      std::string text = std::to_string(s.offset) + ":";
      for (int i = 0; i < s.length; ++i) text += std::to_string(s.bytes[i]) + " ";
      signatures.push_back(text + "-> " + std::to_string(f.code));
    }
    for (const FormatExtension& e : f.extensions) {
      if (e.use == NameUse::kByName || e.use == NameUse::kByNameInBatch) {
        names.emplace_back(e.text, f.code);
      }
    }
  }
  EXPECT_EQ(codes, (std::vector<int>{1, 3, 2, 4, 5, 6, 7, 9, 8, 64, 65, 66, 67, 68, 10, 11, 12}));
  EXPECT_EQ(signatures, (std::vector<std::string>{
                            "0:255 216 -> 1", "0:71 73 70 -> 3", "0:66 77 -> 4", "1:80 78 71 -> 5",
                            "0:73 73 -> 6", "0:77 77 -> 6", "0:215 205 -> 7",
                            "0:0 0 0 12 106 80 32 32 13 10 135 10 -> 9", "0:255 79 255 81 -> 8",
                            "0:80 75 3 4 -> 64", "0:80 75 5 6 -> 64", "0:82 97 114 33 26 7 -> 65",
                            "0:55 122 188 175 39 28 -> 66", "0:37 80 68 70 45 -> 68",
                            "0:255 10 -> 12", "0:0 0 0 12 74 88 76 32 13 10 135 10 -> 12"}));
  EXPECT_EQ(names, (std::vector<std::pair<std::string, int>>{
                       {".jpg", 1},  {".jpeg", 1}, {".gif", 3},  {".ufo", 2},   {".bmp", 4},
                       {".dib", 4},  {".png", 5},  {".tif", 6},  {".tiff", 6},  {".wmf", 7},
                       {".emf", 7},  {".jp2", 9},  {".j2k", 8},  {".jpc", 8},   {".cbz", 64},
                       {".zip", 64}, {".cbr", 65}, {".rar", 65}, {".cb7", 66},  {".7z", 66},
                       {".cbt", 67}, {".tar", 67}, {".pdf", 68}, {".webp", 10}, {".avif", 11},
                       {".jxl", 12}}));
  for (ImageFormat code : {kFormatUnknown, static_cast<ImageFormat>(13)}) {
    EXPECT_EQ(FindFileFormat(code), nullptr);
  }
}

TEST(FormatTable, DialogAndCommandLineListsKeepTheirTexts) {
  std::vector<std::string> open;
  for (const FileFilter& f : OpenFileFilters()) open.push_back(f.label + "|" + f.patterns);
  const std::string all =
      "*.jpg;*.jpeg;*.jpe;*.gif;*.ufo;*.bmp;*.dib;*.png;*.tif;*.tiff;*.wmf;*.emf;*.jp2;*.j2k;*.jpc;"
      "*.webp;*.avif;*.jxl";
  const std::string books = "*.cbz;*.zip;*.cbr;*.rar;*.cb7;*.7z;*.cbt;*.tar;*.pdf";
  EXPECT_EQ(open, (std::vector<std::string>{
                      "Supported Files|" + all + ";" + books,
                      "Jpeg Files(*.jpg;*.jpeg;*.jpe)|*.jpg;*.jpeg;*.jpe",
                      "Gif Files(*.gif)|*.gif",
                      "Ufo Files(*.ufo)|*.ufo",
                      "Bmp Files(*.bmp;*.dib)|*.bmp;*.dib",
                      "Png Files(*.png)|*.png",
                      "Tiff Files(*.tif;*.tiff)|*.tif;*.tiff",
                      "Wmf Files(*.wmf)|*.wmf;*.emf",
                      "Jpeg 2000 Files(*.j2p;*.j2k;*.jpc)|*.jp2;*.j2k;*.jpc",
                      "Comic Books(*.cbz;*.cbr;*.cb7;*.cbt;*.zip;*.rar;*.7z;*.tar)|"
                      "*.cbz;*.zip;*.cbr;*.rar;*.cb7;*.7z;*.cbt;*.tar",
                      "Pdf Files(*.pdf)|*.pdf",
                      "WebP Files(*.webp)|*.webp",
                      "Avif Files(*.avif)|*.avif",
                      "Jpeg XL Files(*.jxl)|*.jxl",
                      "All Files(*.*)|*.*",
                  }));
  EXPECT_EQ(ReadablePatterns(), all);
  EXPECT_EQ(BookPatterns(), books);
  EXPECT_EQ(DefaultSourcePatterns(),
            "*.jpg;*.jpeg;*.gif;*.ufo;*.bmp;*.png;*.tif;*.wmf;*.jp2;*.j2k;*.jpc;*.cbz;*.zip;*.cbr;"
            "*.rar;*.cb7;*.7z;*.cbt;*.tar;*.pdf;*.webp;*.avif;*.jxl");
  EXPECT_EQ(
      SourcePatternLists(),
      (std::vector<std::string>{
          DefaultSourcePatterns(), "*.jpg;*.jpeg", "*.gif", "*.ufo", "*.bmp;*.dib", "*.png",
          "*.tif;*.tiff", "*.wmf;*.emf", "*.jp2;*.j2k;*.jpc",
          "*.cbz;*.zip;*.cbr;*.rar;*.cb7;*.7z;*.cbt;*.tar", "*.pdf", "*.webp", "*.avif", "*.jxl"}));
  EXPECT_EQ(SaveExtensions(), (std::vector<std::string>{".jpg", ".bmp", ".png", ".tif", ".jp2",
                                                        ".webp", ".avif", ".jxl"}));
  EXPECT_EQ(JoinedForText(SaveExtensions()), ".jpg、.bmp、.png、.tif、.jp2、.webp、.avif或.jxl");
  SetMessageLanguage(MessageLanguage::kEnglish);
  EXPECT_EQ(JoinedForText(SaveExtensions()), ".jpg, .bmp, .png, .tif, .jp2, .webp, .avif or .jxl");
  // The messages that say what can be saved name every writer and every
  // format of reduced pages.
  EXPECT_EQ(UnsupportedSaveExtensionText(),
            "Sorry, a saved file name must end in jpg, bmp, png, tif, jp2, webp, avif or jxl. "
            "Please correct it.");
  EXPECT_EQ(ReducedPagesOnlyText(),
            "Sorry, a picture with reduced colours can only be saved as BMP, PNG, TIFF, WebP or "
            "JPEG XL. Please choose again.");
  SetMessageLanguage(MessageLanguage::kChinese);
  EXPECT_EQ(UnsupportedSaveExtensionText(),
            "抱歉，保存的文件名只能以jpg、bmp、png、tif、jp2、webp、avif或jxl为扩展名，请更正。");
  EXPECT_EQ(ReducedPagesOnlyText(),
            "抱歉，减色后的图像只能保存为BMP、PNG、TIFF、WebP或JPEG XL格式，请重新选择。");
  for (const FileFormat& f : FileFormats()) {
    if (f.reducedPages == kCxImageUnknown) continue;
    EXPECT_TRUE(TakesReducedPages(std::string("page") + f.extensions[0].text)) << f.name;
  }
  // Every picture row whose header tells its size has its size reader.
  std::vector<std::string> sizeless;
  for (const FileFormat& f : FileFormats()) {
    if (f.role == FormatRole::kImage && f.readSize == nullptr) sizeless.emplace_back(f.name);
  }
  EXPECT_EQ(sizeless, (std::vector<std::string>{"UFO", "metafile"}));
  std::vector<std::string> save;
  for (const FileFilter& f : SaveFileFilters()) save.push_back(f.label + "|" + f.patterns);
  EXPECT_EQ(save, (std::vector<std::string>{
                      "Jpeg Files(*.jpg)|*.jpg", "BMP Files(*.bmp)|*.bmp", "PNG Files(*.png)|*.png",
                      "Tiff Files(*.tif)|*.tif", "Jpeg 2000 Files(*.jp2)|*.jp2",
                      "WebP Files(*.webp)|*.webp", "Avif Files(*.avif)|*.avif",
                      "Jpeg XL Files(*.jxl)|*.jxl", "All Files(*.*)|*.*"}));
  EXPECT_STREQ(PrimaryExtension(kFormatJpeg), ".jpg");
}

// Every extension any reading list offers, with the row it must reach.
std::vector<std::pair<std::string, const FileFormat*>> OfferedExtensions() {
  std::vector<std::string> lists = SourcePatternLists();
  lists.push_back(ReadablePatterns());
  for (const FileFilter& f : OpenFileFilters()) {
    if (f.patterns != "*.*") lists.push_back(f.patterns);
  }
  std::set<std::string> seen;
  std::vector<std::pair<std::string, const FileFormat*>> offered;
  for (const std::string& list : lists) {
    for (const std::string& pattern : Split(list)) {
      const std::string ext = ExtensionOf(pattern);
      if (seen.insert(ext).second) offered.emplace_back(ext, RowOfExtension(ext));
    }
  }
  return offered;
}

TEST(FormatTable, EveryOfferedExtensionIsRecognisedAndReachesAReader) {
  const auto offered = OfferedExtensions();
  EXPECT_EQ(offered.size(), 27u);
  for (const auto& [ext, row] : offered) {
    SCOPED_TRACE(ext);
    ASSERT_NE(row, nullptr) << "no row of the table knows the extension";
    // A book's pages are read by sources/ (tested there); a picture's by
    // the row's readers.
    EXPECT_EQ(row->read != nullptr, row->role == FormatRole::kImage);
    EXPECT_EQ(row->readBytes != nullptr, row->role == FormatRole::kImage);
    EXPECT_EQ(HasPictureExtension("a" + ext), row->role == FormatRole::kImage);
    EXPECT_EQ(BookRowOfName("a" + ext), row->role == FormatRole::kBook ? row : nullptr);
    const ImageFormat byName = DetectImageFormat(fs::path("/nonexistent/page" + ext), false);
    if (byName != kFormatUnknown) {
      EXPECT_EQ(byName, row->code);
    } else {
      // Known by its content alone: the format must have a signature.
      EXPECT_GT(row->signatures[0].length, 0);
    }
  }
}

// The same with real files: a corpus file of each extension's format, under
// a name with that extension, loads.
TEST(FormatTable, EveryOfferedExtensionLoadsACorpusFileOfItsFormat) {
  INKBRITE_NEED_CORPUS();
  const auto rows = test::ReadManifest("");
  test::TempDir dir;
  for (const auto& [ext, row] : OfferedExtensions()) {
    SCOPED_TRACE(ext);
    ASSERT_NE(row, nullptr);
    if (row->role == FormatRole::kBook) continue;  // the book tests of sources/
    // A file of the format, one with this very extension when there is one.
    std::string sample;
    for (const auto& r : rows) {
      if (r.formatCode != row->code || r.expect == "fail") continue;
      const std::string tail =
          r.path.size() >= ext.size() ? r.path.substr(r.path.size() - ext.size()) : "";
      if (sample.empty() || EqualsIgnoringAsciiCase(tail, ext)) sample = r.path;
      if (EqualsIgnoringAsciiCase(tail, ext)) break;
    }
    ASSERT_FALSE(sample.empty()) << "no corpus file of " << row->name;
    const fs::path copy = dir / ("page" + ext);
    test::WriteAll(copy, test::ReadAll(test::CorpusDir() / sample));
    DibImage image;
    int grey = -1;
    EXPECT_EQ(LoadImageFile(copy, image, &grey), 1) << sample;
  }
}

TEST(FormatTable, EverySaveExtensionReachesAWriterAndReadsBack) {
  test::TempDir dir;
  const DibImage page = test::MakePattern(24, 16);
  std::vector<std::string> fromFilters;
  for (const FileFilter& f : SaveFileFilters()) {
    if (f.patterns != "*.*") fromFilters.push_back(ExtensionOf(f.patterns));
  }
  EXPECT_EQ(fromFilters, SaveExtensions());
  for (const std::string& ext : SaveExtensions()) {
    SCOPED_TRACE(ext);
    const FileFormat* row = RowOfExtension(ext);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(HasWriter(ext));
    const fs::path file = dir / ("page" + ext);
    ASSERT_EQ(SaveImageFile(file, page, 0, 90), 1);
    EXPECT_EQ(DetectImageFormat(file, true), row->code);
    DibImage back;
    EXPECT_EQ(LoadImageFile(file, back, nullptr), 1);
    EXPECT_EQ(back.Width(), 24);
  }
  for (const char* name : {"a.gif", "a.ufo", "a.wmf", "a.emf", "a.j2k", "a.jpc", "a.jpe", "a"}) {
    EXPECT_FALSE(HasWriter(name)) << name;
  }
}

// One rule for the viewer's Save, the batch job and the command line.
TEST(FormatTable, LosslessPaletteFormatsTakeReducedPages) {
  for (const char* name :
       {"a.png", "a.BMP", "a.dib", "a.tif", "a.TIFF", ".png", "a.webp", "a.JXL"}) {
    EXPECT_TRUE(TakesReducedPages(name)) << name;
  }
  for (const char* name :
       {"a.jpg", "a.jp2", "a.gif", "a.j2k", "a.wmf", "a.png.txt", "png", "a.avif"}) {
    EXPECT_FALSE(TakesReducedPages(name)) << name;
  }
}

TEST(FormatTable, EveryReaderHasItsOwnFuzzTargets) {
  std::set<std::string> names;
  for (const FileFormat& f : FileFormats()) {
    SCOPED_TRACE(f.name);
    ASSERT_NE(f.fuzzTargets[0], nullptr);
    for (const char* t : f.fuzzTargets) {
      if (t != nullptr) {
        EXPECT_TRUE(names.insert(t).second) << t;
      }
    }
    EXPECT_NE(f.greySource, nullptr);
    EXPECT_NE(f.limits, nullptr);
    EXPECT_EQ(f.write != nullptr, f.saveFilter != nullptr);
  }
  EXPECT_EQ(names.count("load"), 0u);       // the name of the whole-file target
  EXPECT_EQ(names.count("comicinfo"), 0u);  // the ComicInfo.xml parser's
}

}  // namespace
}  // namespace inkbrite
