// SPDX-License-Identifier: GPL-2.0-or-later
// E-books and PDF files written by the batch job: every kind through the
// validator a reader's maker uses (epubcheck, qpdf, pdftoppm, Python's
// zipfile, calibre's ebook-meta; a test skips when its tool is absent),
// pages in reading order, the book's metadata, the same bytes with any
// number of jobs, and nothing written when a page fails.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "batch/batch_job.h"
#include "batch/book_meta.h"
#include "batch/book_writer.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"
#include "platform/file_io.h"
#include "tests/engine/job_fixture.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;

// Runs a shell command; its exit status, with what it printed in `out`.
int Shell(const std::string& command, std::string& out) {
  test::TempDir dir;
  const int status = std::system((command + " >" + (dir / "out").string() + " 2>&1").c_str());
  out = test::ReadText(dir / "out");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Have(const std::string& tool) {
  std::string out;
  return Shell("command -v " + tool, out) == 0;
}

const char* const kEpubcheckJar = "/usr/share/java/epubcheck.jar";

// Pages whose pixels tell them apart; a spread 60 wide among them.
std::vector<uint8_t> Page(int n, const char* extension, int width = 30, int height = 40) {
  test::TempDir dir;
  const DibImage page = test::MakeImage(width, height, [n](int32_t x, int32_t y) {
    return test::Bgr{static_cast<uint8_t>(n * 40), static_cast<uint8_t>(x * 6 + y),
                     static_cast<uint8_t>(y * 5 + n)};
  });
  const fs::path file = dir / (std::string("p") + extension);
  EXPECT_EQ(SaveImageFile(file, page, 0, 90), 1);
  return test::ReadAll(file);
}

// Stored out of reading order (10 before 2), with a ComicInfo.xml.
std::vector<MadeEntry> MangaBook() {
  const std::string info =
      "<ComicInfo><Title>Rose &amp; Crown</Title><Series>Moon Tales</Series>"
      "<Number>12</Number><Volume>3</Volume><Writer>Ann Writer</Writer>"
      "<Penciller>Bo Artist</Penciller><LanguageISO>ja</LanguageISO>"
      "<Manga>YesAndRightToLeft</Manga></ComicInfo>";
  return {{"p10.jpg", Page(3, ".jpg")},
          {"ComicInfo.xml", {info.begin(), info.end()}},
          {"p2.jpg", Page(2, ".jpg", 60)},
          {"p1.jpg", Page(1, ".jpg")}};
}

class EbookTest : public test::JobTest {
 protected:
  EbookTest() {
    test::WriteArchive(dir / "src/moon.cbz", test::MadeFormat::kZipDeflated, MangaBook());
  }
  fs::path Convert(BookOutput kind, int jobs = 1) {
    settings.books = kind;
    settings.jobs = jobs;
    Run();
    EXPECT_EQ(job.SuccessCount(), 1) << test::ReadText(settings.recordPath);
    return dir / ("tgt/moon" + std::string(BookKindRowOf(kind).extension));
  }
  // The converted pages, in reading order, decoded.
  std::vector<DibImage> Expected() {
    std::vector<DibImage> pages;
    for (const auto& [name, n, width] :
         {std::tuple{"p1", 1, 30}, std::tuple{"p2", 2, 60}, std::tuple{"p10", 3, 30}}) {
      const std::vector<uint8_t> bytes = Page(n, ".jpg", width);
      DibImage page;
      EXPECT_EQ(LoadImageMemory(bytes.data(), bytes.size(), "p.jpg", page, nullptr), 1) << name;
      pages.push_back(std::move(page));
    }
    return pages;
  }
};

TEST_F(EbookTest, EpubAndKepubPassEpubcheckWithPagesInReadingOrderAndTheMetadata) {
  for (BookOutput kind : {BookOutput::kEpub, BookOutput::kKepub}) {
    SCOPED_TRACE(BookKindRowOf(kind).name);
    const fs::path book = Convert(kind);
    const std::vector<uint8_t> bytes = test::ReadAll(book);
    // The mimetype first, stored, with no extra field: what readers test.
    ASSERT_GT(bytes.size(), 58u);
    EXPECT_EQ(std::string(bytes.begin() + 30, bytes.begin() + 58), "mimetypeapplication/epub+zip");
    EXPECT_EQ(bytes[8] | bytes[9] << 8, 0);    // stored
    EXPECT_EQ(bytes[28] | bytes[29] << 8, 0);  // no extra field
    std::map<std::string, std::vector<uint8_t>> entries;
    for (MadeEntry& e : test::ReadArchive(book)) entries[e.name] = std::move(e.data);
    const std::vector<uint8_t>& opfBytes = entries["OEBPS/content.opf"];
    const std::string opf(opfBytes.begin(), opfBytes.end());
    // The pictures are the converted pages, by their place in the reading
    // order, stored as they are.
    const std::vector<DibImage> expected = Expected();
    for (size_t i = 0; i < expected.size(); ++i) {
      const std::vector<uint8_t>& png =
          entries["OEBPS/Images/i000" + std::to_string(i + 1) + ".png"];
      DibImage page;
      ASSERT_EQ(LoadImageMemory(png.data(), png.size(), "p.png", page, nullptr), 1) << i;
      EXPECT_EQ(test::Psnr(page, expected[i]), 1000.0) << i;
    }
    const size_t first = opf.find("idref=\"p0001\"");
    EXPECT_LT(first, opf.find("idref=\"p0002\""));
    EXPECT_LT(opf.find("idref=\"p0002\""), opf.find("idref=\"p0003\""));
    for (const char* text :
         {"<dc:title>Rose &amp; Crown</dc:title>", "<dc:creator id=\"creator2\">Bo Artist<",
          "<dc:language>ja<", "page-progression-direction=\"rtl\"",
          "property=\"belongs-to-collection\" id=\"series\">Moon Tales<",
          "property=\"group-position\">3.12<", "name=\"calibre:series\" content=\"Moon Tales\"",
          "pre-paginated", "properties=\"cover-image\""}) {
      EXPECT_NE(opf.find(text), std::string::npos) << text;
    }
    const std::vector<uint8_t>& page2 = entries["OEBPS/Text/p0002.xhtml"];
    EXPECT_NE(std::string(page2.begin(), page2.end()).find("content=\"width=60, height=40\""),
              std::string::npos);
    // Kobo pairs pages by their sides: the first page alone on the left of
    // a right-to-left book.
    EXPECT_EQ(opf.find("idref=\"p0001\" properties=\"page-spread-left\"") != std::string::npos,
              kind == BookOutput::kKepub);
    if (access(kEpubcheckJar, R_OK) != 0 || !Have("java")) continue;
    std::string out;
    EXPECT_EQ(Shell("java -jar " + std::string(kEpubcheckJar) + " '" + book.string() + "'", out), 0)
        << out;
    EXPECT_NE(out.find("No errors or warnings detected"), std::string::npos) << out;
  }
}

TEST_F(EbookTest, CalibreReadsTitleAuthorAndSeriesBack) {
  if (!Have("ebook-meta")) GTEST_SKIP() << "calibre's ebook-meta is not installed";
  settings.bookAuthor = "Cy Override, Di Two";
  std::string out;
  ASSERT_EQ(Shell("ebook-meta '" + Convert(BookOutput::kEpub).string() + "'", out), 0) << out;
  EXPECT_NE(out.find("Rose & Crown"), std::string::npos) << out;
  EXPECT_NE(out.find("Cy Override"), std::string::npos) << out;
  EXPECT_NE(out.find("Moon Tales #3.12"), std::string::npos) << out;
}

// pdftoppm's renderer smooths a picture drawn at its own size; at four
// times the density it repeats each pixel, so every fourth one is the page.
std::string CompareRendered(const fs::path& ppm, const DibImage& page) {
  test::Ppm big, small;
  if (!test::ReadPpm(ppm, big)) return "unreadable " + ppm.string();
  small.width = big.width / 4;
  small.height = big.height / 4;
  for (int y = 0; y < small.height; ++y) {
    for (int x = 0; x < small.width; ++x) {
      const size_t at = (static_cast<size_t>(y * 4 + 1) * big.width + x * 4 + 1) * 3;
      small.rgb.insert(small.rgb.end(), big.rgb.begin() + at, big.rgb.begin() + at + 3);
    }
  }
  return test::CompareWithPpm(page, small, 0);
}

TEST_F(EbookTest, PdfPassesQpdfAndRendersBackToEveryPage) {
  if (!Have("qpdf") || !Have("pdftoppm")) GTEST_SKIP() << "qpdf or pdftoppm is not installed";
  settings.bookPixelsPerInch = 150;
  for (const char* extension : {".png", ".jpg"}) {
    SCOPED_TRACE(extension);
    settings.newExtension = extension;
    settings.jpegQuality = 85;
    const fs::path pdf = Convert(BookOutput::kPdf);
    std::string out;
    EXPECT_EQ(Shell("qpdf --check '" + pdf.string() + "'", out), 0) << out;
    EXPECT_NE(out.find("No syntax or stream encoding errors"), std::string::npos) << out;
    ASSERT_EQ(Shell("pdftoppm -r 600 '" + pdf.string() + "' '" + (dir / "r").string() + "'", out),
              0)
        << out;
    const std::vector<uint8_t> pdfBytes = test::ReadAll(pdf);
    const std::string file(pdfBytes.begin(), pdfBytes.end());
    EXPECT_NE(file.find("/Direction /R2L"), std::string::npos);
    // A PNG page is the converted page exactly; a JPEG page is embedded as
    // the conversion wrote it.
    std::vector<DibImage> expected = Expected();
    for (size_t i = 0; i < expected.size(); ++i) {
      const fs::path rendered = dir / ("r-" + std::to_string(i + 1) + ".ppm");
      if (std::string(extension) == ".png") {
        EXPECT_EQ(CompareRendered(rendered, expected[i]), "") << i;
      } else {
        test::Ppm ppm;
        ASSERT_TRUE(test::ReadPpm(rendered, ppm));
        EXPECT_EQ(ppm.width, expected[i].Width() * 4) << i;  // 4 x 150 = 600 per inch
        EXPECT_EQ(ppm.height, expected[i].Height() * 4) << i;
      }
    }
    EXPECT_EQ(Shell("pdfinfo '" + pdf.string() + "'", out), 0);
    EXPECT_NE(out.find("Rose & Crown"), std::string::npos) << out;
    EXPECT_NE(out.find("Ann Writer, Bo Artist"), std::string::npos) << out;
  }
}

// A PNG page of grey, RGB or palette samples goes into the PDF by its
// compressed rows as they are (PNG's predictors, every filter type and
// compression level of the suite, 1-, 2- and 4-bit rows of odd widths, a
// palette as an Indexed colour space, grey when its entries are, indices
// past a short palette black as reading gives them, a gamma or a
// histogram passed over as reading does); an interlaced, transparent or
// 16-bit PNG is decoded and stored again. Either way the PDF's page is
// the picture.
TEST_F(EbookTest, PngPagesGoIntoThePdfByTheirRowsWherePdfTakesThem) {
  INKBRITE_NEED_CORPUS();
  const bool render = Have("pdftoppm");
  // A device set's page: 16 greys, a 4-bit palette of greys.
  const fs::path greys = dir / "greys16";
  ASSERT_TRUE(SaveReducedPage(test::MakeImage(37, 23,
                                              [](int32_t x, int32_t y) {
                                                const auto v = static_cast<uint8_t>(x * 7 + y);
                                                return test::Bgr{v, v, v};
                                              }),
                              true, 4, 16, greys.string() + ".png"));
  struct Case {
    std::string file;  // below the corpus's png/
    bool asTheyAre;
    const char* colours;  // the colour space written, when it is Indexed
  };
  for (const Case& c : {
           Case{greys.string(), true, "/Indexed /DeviceGray 15 "},
           Case{"pngsuite/basn0g08", true, nullptr},
           Case{"pngsuite/basn2c08", true, nullptr},
           Case{"pngsuite/f00n2c08", true, nullptr},
           Case{"pngsuite/f01n2c08", true, nullptr},
           Case{"pngsuite/f02n2c08", true, nullptr},
           Case{"pngsuite/f03n2c08", true, nullptr},
           Case{"pngsuite/f04n2c08", true, nullptr},
           Case{"pngsuite/f04n0g08", true, nullptr},
           Case{"pngsuite/z09n2c08", true, nullptr},
           Case{"pngsuite/g03n2c08", true, nullptr},
           Case{"pngsuite/basn0g01", true, nullptr},
           Case{"pngsuite/basn0g02", true, nullptr},
           Case{"pngsuite/basn0g04", true, nullptr},
           Case{"pngsuite/xs1n0g01", false, nullptr},  // no image (a bad signature)
           Case{"pngsuite/basn3p01", true, "/Indexed /DeviceRGB 1 "},
           Case{"pngsuite/basn3p02", true, "/Indexed /DeviceRGB 3 "},
           Case{"pngsuite/basn3p04", true, "/Indexed /DeviceRGB 15 "},
           Case{"pngsuite/basn3p08", true, "/Indexed /DeviceRGB 255 "},
           Case{"pngsuite/s01n3p01", true, "/Indexed /DeviceRGB 1 "},
           Case{"pngsuite/s03n3p01", true, "/Indexed /DeviceRGB 1 "},
           Case{"pngsuite/s06n3p02", true, "/Indexed /DeviceRGB 3 "},
           Case{"pngsuite/s09n3p02", true, "/Indexed /DeviceRGB 3 "},
           Case{"pngsuite/g04n3p04", true, "/Indexed /DeviceRGB 15 "},
           Case{"pngsuite/ch1n3p04", true, "/Indexed /DeviceRGB 15 "},
           Case{"pngsuite/cs3n3p08", true, "/Indexed /DeviceRGB 255 "},
           Case{"libpng/palette-1", true, "/Indexed /DeviceRGB 1 "},
           Case{"libpng/test-palette-4", true, "/Indexed /DeviceRGB 15 "},
           Case{"libpng/small-palette-2", true, "/Indexed /DeviceRGB 3 "},
           Case{"libpng/regression-palette-8", true, "/Indexed /DeviceRGB 255 "},
           Case{"pngsuite/basi0g08", false, nullptr},
           Case{"pngsuite/basi3p04", false, nullptr},
           Case{"pngsuite/basn6a08", false, nullptr},
           Case{"pngsuite/basn0g16", false, nullptr},
           Case{"pngsuite/tbrn2c08", false, nullptr},
           Case{"pngsuite/tm3n3p02", false, nullptr},
           Case{"libpng/palette-8-tRNS", false, nullptr},
           Case{"libpng/gray-4-tRNS", false, nullptr},
       }) {
    SCOPED_TRACE(c.file);
    const std::vector<uint8_t> png = test::ReadAll(test::CorpusDir() / "png" / (c.file + ".png"));
    DibImage page;
    const bool readable = LoadImageMemory(png.data(), png.size(), "p.png", page, nullptr) == 1;
    const fs::path pdf = dir / "page.pdf";
    SafeFileWriter out(pdf);
    ASSERT_TRUE(out.Open());
    std::unique_ptr<BookWriter> writer = MakePdfWriter(out, BookMeta{}, BookLayout{150, false});
    ASSERT_TRUE(writer->Open());
    // What the program cannot read fails the page and writes nothing.
    ASSERT_EQ(writer->AddPage("p.png", 0, png.data(), png.size(), 0), readable);
    if (!readable) continue;
    ASSERT_TRUE(writer->Close());
    ASSERT_TRUE(out.Commit());
    const std::string text = test::ReadText(pdf);
    EXPECT_EQ(text.find("/Predictor 15") != std::string::npos, c.asTheyAre);
    EXPECT_EQ(text.find("/Indexed") != std::string::npos, c.colours != nullptr);
    if (c.colours != nullptr) {
      EXPECT_NE(text.find(c.colours), std::string::npos);
    }
    if (!render) continue;
    ASSERT_TRUE(page.ConvertTo24Bit());
    std::string said;
    const fs::path rendered = dir / "page";
    ASSERT_EQ(Shell("pdftoppm -r 600 '" + pdf.string() + "' '" + rendered.string() + "'", said), 0)
        << said;
    EXPECT_EQ(CompareRendered(fs::path(rendered.string() + "-1.ppm"), page), "");
  }
}

TEST_F(EbookTest, JpegPagesGoIntoThePdfAsTheyAre) {
  settings.newExtension = ".jpg";
  const fs::path pdf = Convert(BookOutput::kPdf);
  const fs::path cbz = Convert(BookOutput::kCbz);
  const std::vector<uint8_t> pdfBytes = test::ReadAll(pdf);
  const std::string file(pdfBytes.begin(), pdfBytes.end());
  for (const MadeEntry& e : test::ReadArchive(cbz)) {
    if (e.name == "ComicInfo.xml") continue;
    EXPECT_NE(file.find(std::string(e.data.begin(), e.data.end())), std::string::npos) << e.name;
  }
  EXPECT_NE(file.find("/DCTDecode"), std::string::npos);
  if (!Have("python3")) return;
  std::string out;
  EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                  "sys.exit(z.testzip() is not None)\" '" +
                      cbz.string() + "'",
                  out),
            0)
      << out;
}

TEST_F(EbookTest, EveryJobCountWritesTheSameBytes) {
  for (BookOutput kind : {BookOutput::kEpub, BookOutput::kPdf}) {
    SCOPED_TRACE(BookKindRowOf(kind).name);
    const std::vector<uint8_t> one = test::ReadAll(Convert(kind, 1));
    fs::remove_all(dir / "tgt");
    EXPECT_EQ(test::ReadAll(Convert(kind, 4)), one);
  }
}

TEST_F(EbookTest, AFailedPageLeavesNoBookAndABadExtensionIsRefused) {
  std::vector<MadeEntry> book = MangaBook();
  book[2].data.resize(40);  // p2.jpg cut short
  test::WriteArchive(dir / "src/moon.cbz", test::MadeFormat::kZipDeflated, book);
  for (BookOutput kind : {BookOutput::kEpub, BookOutput::kKepub, BookOutput::kPdf}) {
    settings.books = kind;
    job.Run(host, settings);
    EXPECT_EQ(job.FailedCount(), 1);
    EXPECT_EQ(test::Listing(dir / "tgt"), std::vector<std::string>{});
  }
  settings.newExtension = ".tif";
  settings.books = BookOutput::kEpub;
  host = test::RecordingHost{};
  job.Run(host, settings);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages.front(), EngineText(kBatchBookPagesMessage));
}

// src/moon.cbz stays a book; the source folder's own page, a folder whose
// name holds a dot (pages out of order, its ComicInfo.xml, a hidden file)
// and a folder below it each become one book.
TEST_F(EbookTest, EachFolderOfPagesBecomesOneBookNamedAfterIt) {
  const fs::path moon = dir / "src/Moon v02.5";
  fs::create_directories(moon / "extra");
  const std::vector<MadeEntry> pages = MangaBook();
  for (const MadeEntry& e : pages) test::WriteAll(moon / e.name, e.data);
  test::WriteAll(moon / ".hidden.jpg", Page(9, ".jpg"));
  test::WriteAll(moon / "extra/a.jpg", Page(4, ".jpg"));
  test::WriteAll(dir / "src/top.jpg", Page(5, ".jpg"));
  settings.folderBooks = true;
  settings.books = BookOutput::kEpub;
  job.Run(host, settings);
  EXPECT_EQ(job.Total(), 4);
  EXPECT_EQ(job.SuccessCount(), 4) << test::ReadText(settings.recordPath);
  EXPECT_EQ(test::Listing(dir / "tgt"),
            (std::vector<std::string>{"Moon v02.5", "Moon v02.5.epub", "moon.epub", "src.epub"}));
  EXPECT_EQ(test::Listing(dir / "tgt/Moon v02.5"), std::vector<std::string>{"extra.epub"});
  std::map<std::string, std::vector<uint8_t>> entries;
  for (MadeEntry& e : test::ReadArchive(dir / "tgt/Moon v02.5.epub")) entries[e.name] = e.data;
  const std::vector<DibImage> expected = Expected();
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::vector<uint8_t>& png = entries["OEBPS/Images/i000" + std::to_string(i + 1) + ".png"];
    DibImage page;
    ASSERT_EQ(LoadImageMemory(png.data(), png.size(), "p.png", page, nullptr), 1) << i;
    EXPECT_EQ(test::Psnr(page, expected[i]), 1000.0) << i;
  }
  EXPECT_EQ(entries.count("OEBPS/Images/i0004.png"), 0u);  // the hidden file is no page
  const std::vector<uint8_t>& opf = entries["OEBPS/content.opf"];
  EXPECT_NE(std::string(opf.begin(), opf.end()).find("<dc:title>Rose &amp; Crown<"),
            std::string::npos);
  const std::vector<MadeEntry> extra = test::ReadArchive(dir / "tgt/Moon v02.5/extra.epub");
  for (const MadeEntry& e : extra) {
    if (e.name == "OEBPS/content.opf") {
      EXPECT_NE(std::string(e.data.begin(), e.data.end()).find("<dc:title>extra<"),
                std::string::npos);
    }
  }
  if (access(kEpubcheckJar, R_OK) == 0 && Have("java")) {
    std::string out;
    EXPECT_EQ(Shell("java -jar " + std::string(kEpubcheckJar) + " '" +
                        (dir / "tgt/Moon v02.5.epub").string() + "'",
                    out),
              0)
        << out;
  }
  // A book per folder is a kind that is one file: a folder kind keeps the
  // pages loose.
  fs::remove_all(dir / "tgt");
  settings.books = BookOutput::kFolder;
  job.Run(host, settings);
  EXPECT_EQ(job.Total(), 7);  // the book, five pages, the hidden file
  EXPECT_TRUE(fs::exists(dir / "tgt/Moon v02.5/p10.png"));
}

// ComicInfo's bookmarks make the table of contents, each at the first page
// its source page became (p2 is a spread split in two); the pages before
// the first are reached by the title.
TEST_F(EbookTest, TheTableOfContentsTakesComicInfosChapters) {
  std::vector<MadeEntry> book = MangaBook();
  const std::string info =
      "<ComicInfo><Title>Moon</Title><Pages><Page Image=\"1\" Bookmark=\"Two &amp; on\"/>"
      "<Page Image=\"2\" Bookmark=\"Three\"/><Page Image=\"9\" Bookmark=\"gone\"/>"
      "</Pages></ComicInfo>";
  book[1].data.assign(info.begin(), info.end());
  test::WriteArchive(dir / "src/moon.cbz", test::MadeFormat::kZipDeflated, book);
  params.SetValue(kSplitSpreads, 1);
  std::string nav;
  for (MadeEntry& e : test::ReadArchive(Convert(BookOutput::kEpub))) {
    // Without the indentation.
    if (e.name == "OEBPS/nav.xhtml") {
      nav = std::regex_replace(std::string(e.data.begin(), e.data.end()), std::regex("\n *"), "");
    }
  }
  EXPECT_NE(nav.find("<li><a href=\"Text/p0001.xhtml\">Moon</a></li>"
                     "<li><a href=\"Text/p0002.xhtml\">Two &amp; on</a></li>"
                     "<li><a href=\"Text/p0003.xhtml\">Three</a></li></ol>"),
            std::string::npos)
      << nav;
  EXPECT_EQ(nav.find("gone"), std::string::npos);
}

// A CBZ holds its other entries first, then its pages in reading order
// (the spread p2 split in two, tall enough to be one), whatever order the archive stores them in:
// from a zip read in that order, from a 7z (unpacked only in its own order)
// held back until their turn, in memory or, beyond the budget, in files.
// Renumbered, the pages are named by their place.
TEST_F(EbookTest, CbzPagesAreWrittenInReadingOrder) {
  params.SetValue(kSplitSpreads, 1);
  struct Case {
    test::MadeFormat format;
    uint64_t memory;
    bool renumber;
    std::vector<std::string> names;
  };
  const std::vector<std::string> kept = {"ComicInfo.xml", "p1.png", "p2_1.png", "p2_2.png",
                                         "p10.png"};
  const std::vector<std::string> renumbered = {"ComicInfo.xml", "0001.png", "0002_1.png",
                                               "0002_2.png", "0003.png"};
  std::vector<std::vector<uint8_t>> firstPages;
  // 900000: a page fits; of the pages that wait, p10 and the first half of
  // p2 in memory, the second half in a file.
  for (const Case& c : {Case{test::MadeFormat::kZipDeflated, uint64_t{2} << 30, false, kept},
                        Case{test::MadeFormat::kSevenZip, uint64_t{2} << 30, false, kept},
                        Case{test::MadeFormat::kSevenZip, 900000, false, kept},
                        Case{test::MadeFormat::kTar, uint64_t{2} << 30, true, renumbered},
                        Case{test::MadeFormat::kSevenZip, 900000, true, renumbered}}) {
    SCOPED_TRACE(static_cast<int>(c.format) * 10 + c.renumber);
    fs::remove_all(dir / "tgt");
    fs::remove(dir / "src/moon.cbz");
    std::vector<MadeEntry> book = MangaBook();
    book[2].data = Page(2, ".jpg", 400, 320);
    test::WriteArchive(dir / "src/moon.cbz", c.format, book);
    settings.renumber = c.renumber;
    settings.bookPagesMemory = c.memory;
    std::vector<std::string> names;
    std::vector<std::vector<uint8_t>> pages;
    for (MadeEntry& e : test::ReadArchive(Convert(BookOutput::kCbz))) {
      names.push_back(e.name);
      if (e.name != "ComicInfo.xml") pages.push_back(std::move(e.data));
    }
    EXPECT_EQ(names, c.names);
    if (firstPages.empty()) firstPages = pages;
    EXPECT_EQ(pages, firstPages);
    // Nothing is left of the pages that waited.
    EXPECT_EQ(test::Listing(dir / "tgt"), std::vector<std::string>{"moon.cbz"});
  }
}

// The pages of a book written as a CBZ, an e-book's pictures or a PDF's
// page count: what a volume holds.
std::vector<std::vector<uint8_t>> PagesOf(const fs::path& book, BookOutput kind) {
  std::vector<std::vector<uint8_t>> pages;
  if (kind == BookOutput::kPdf) {
    const std::vector<uint8_t> bytes = test::ReadAll(book);
    const std::string text(bytes.begin(), bytes.end());
    const std::regex page("/Type */Page[^s]");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), page);
         it != std::sregex_iterator(); ++it) {
      pages.emplace_back();
    }
    return pages;
  }
  for (MadeEntry& e : test::ReadArchive(book)) {
    const bool page =
        kind == BookOutput::kCbz ? e.name != "ComicInfo.xml" : e.name.starts_with("OEBPS/Images/");
    if (page) pages.push_back(std::move(e.data));
  }
  return pages;
}

// The metadata text of a volume: its ComicInfo.xml, its package or its
// PDF file.
std::string MetaTextOf(const fs::path& book, BookOutput kind) {
  if (kind == BookOutput::kPdf) return test::ReadText(book);
  for (const MadeEntry& e : test::ReadArchive(book)) {
    if (e.name == "ComicInfo.xml" || e.name == "OEBPS/content.opf") {
      return std::string(e.data.begin(), e.data.end());
    }
  }
  return {};
}

// With a size limit a long book becomes volumes under it, each a whole
// book of its kind holding the next pages in reading order, its title
// numbered (a CBZ's ComicInfo.xml told its own pages); a book within the
// limit keeps its name and its bytes; a page alone over the limit fails
// the book and leaves nothing.
TEST_F(EbookTest, ALongBookIsSplitIntoVolumesUnderTheLimit) {
  std::vector<MadeEntry> book = MangaBook();
  for (int n = 11; n <= 16; ++n) {
    book.push_back({"p" + std::to_string(n) + ".jpg", Page(n, ".jpg")});
  }
  const std::string info =
      "<ComicInfo><Title>Rose &amp; Crown</Title><PageCount>9</PageCount></ComicInfo>";
  book[1].data.assign(info.begin(), info.end());
  test::WriteArchive(dir / "src/moon.cbz", test::MadeFormat::kZipDeflated, book);
  constexpr uint64_t kLimit = 45000;
  for (BookOutput kind :
       {BookOutput::kCbz, BookOutput::kEpub, BookOutput::kKepub, BookOutput::kPdf}) {
    const std::string ext(BookKindRowOf(kind).extension);
    SCOPED_TRACE(ext);
    fs::remove_all(dir / "tgt");
    settings.bookMaxBytes = 0;
    const std::vector<uint8_t> whole = test::ReadAll(Convert(kind));
    const std::vector<std::vector<uint8_t>> wholePages = PagesOf(dir / ("tgt/moon" + ext), kind);
    ASSERT_EQ(wholePages.size(), 9u);
    // Within the limit: one book as before (a CBZ's ComicInfo.xml last).
    fs::remove_all(dir / "tgt");
    settings.bookMaxBytes = whole.size() + 64 * 1024;
    const fs::path one = Convert(kind);
    EXPECT_EQ(test::Listing(dir / "tgt"), std::vector<std::string>{"moon" + ext});
    if (kind != BookOutput::kCbz) {
      EXPECT_EQ(test::ReadAll(one), whole);
    }
    fs::remove_all(dir / "tgt");
    settings.bookMaxBytes = kLimit;
    job.Run(host, settings);
    EXPECT_EQ(job.SuccessCount(), 1) << test::ReadText(settings.recordPath);
    const std::vector<std::string> volumes = test::Listing(dir / "tgt");
    ASSERT_GE(volumes.size(), 2u);
    std::vector<std::vector<uint8_t>> pages;
    for (size_t v = 0; v < volumes.size(); ++v) {
      const std::string number = std::to_string(v + 1);
      const fs::path volume = dir / "tgt" / ("moon Vol. " + number + ext);
      ASSERT_TRUE(fs::exists(volume)) << volumes[v];
      EXPECT_LE(fs::file_size(volume), kLimit);
      std::vector<std::vector<uint8_t>> held = PagesOf(volume, kind);
      EXPECT_FALSE(held.empty());
      const std::string meta = MetaTextOf(volume, kind);
      if (kind == BookOutput::kCbz) {
        EXPECT_NE(meta.find("<Title>Rose &amp; Crown Vol. " + number + "</Title><PageCount>" +
                            std::to_string(held.size()) + "<"),
                  std::string::npos)
            << meta;
      } else if (kind != BookOutput::kPdf) {
        EXPECT_NE(meta.find("<dc:title>Rose &amp; Crown Vol. " + number + "<"), std::string::npos);
      }
      pages.insert(pages.end(), held.begin(), held.end());
    }
    if (kind == BookOutput::kPdf) {
      EXPECT_EQ(pages.size(), wholePages.size());
    } else {
      EXPECT_EQ(pages, wholePages);
    }
  }
  // Run again with --skip-existing: the volumes are found, by the newer
  // target (a text record) and by a JSON record's entry, and not rewritten.
  const std::vector<std::string> volumes = test::Listing(dir / "tgt");
  const auto times = [&] {
    std::vector<fs::file_time_type> t;
    for (const std::string& v : volumes) t.push_back(fs::last_write_time(dir / "tgt" / v));
    return t;
  };
  const std::vector<fs::file_time_type> written = times();
  settings.skipExisting = true;
  job.Run(host, settings);
  EXPECT_EQ(job.SkippedCount(), 1) << test::ReadText(settings.recordPath);
  EXPECT_EQ(times(), written);
  settings.recordFormat = RecordFormat::kJsonLines;
  settings.recordPath = dir / "rec.jsonl";
  job.Run(host, settings);  // no entry yet: converted, its first volume recorded
  EXPECT_EQ(job.SkippedCount(), 0);
  EXPECT_NE(test::ReadText(settings.recordPath).find("moon Vol. 1.pdf"), std::string::npos);
  const std::vector<fs::file_time_type> rewritten = times();
  job.Run(host, settings);
  EXPECT_EQ(job.SkippedCount(), 1) << test::ReadText(settings.recordPath);
  EXPECT_EQ(times(), rewritten);
  EXPECT_EQ(test::Listing(dir / "tgt"), volumes);
  // Asked for another kind of book, the record's PDF is not it: made again.
  settings.books = BookOutput::kCbz;
  job.Run(host, settings);
  EXPECT_EQ(job.SkippedCount(), 0) << test::ReadText(settings.recordPath);
  EXPECT_TRUE(fs::exists(dir / "tgt/moon Vol. 1.cbz"))
      << ::testing::PrintToString(test::Listing(dir / "tgt"));
  settings.books = BookOutput::kPdf;
  settings.skipExisting = false;
  settings.recordFormat = RecordFormat::kText;
  settings.recordPath = dir / "rec.txt";
  std::string out;
  if (Have("pdfinfo")) {
    EXPECT_EQ(Shell("pdfinfo '" + (dir / "tgt/moon Vol. 2.pdf").string() + "'", out), 0);
    EXPECT_NE(out.find("Rose & Crown Vol. 2"), std::string::npos) << out;
  }
  // A limit no page fits under.
  fs::remove_all(dir / "tgt");
  settings.bookMaxBytes = 1000;
  settings.books = BookOutput::kEpub;
  job.Run(host, settings);
  EXPECT_EQ(job.FailedCount(), 1);
  EXPECT_NE(test::ReadText(settings.recordPath).find(EngineText(kBatchVolumeOverLimit)),
            std::string::npos);
  EXPECT_EQ(test::Listing(dir / "tgt"), std::vector<std::string>{});
}

TEST(BookMeta, NamesComicInfoAndOverrides) {
  struct Case {
    const char* stem;
    const char* series;
    const char* volume;
    const char* number;
  };
  for (const Case& c :
       {Case{"Moon Tales v03 c012", "Moon Tales", "3", "12"},
        Case{"Moon Tales Vol. 2 Ch. 7.5", "Moon Tales", "2", "7.5"},
        Case{"Moon_Tales_-_012", "Moon_Tales", "", "12"},
        Case{"Moon Tales #4", "Moon Tales", "", "4"},
        Case{"Moon Tales (v01)", "Moon Tales", "1", ""},
        Case{"Vivid Colours", "Vivid Colours", "", ""}, Case{"2001", "2001", "", ""}}) {
    BookMeta meta;
    ParseBookName(c.stem, meta);
    EXPECT_EQ(meta.series, c.series) << c.stem;
    EXPECT_EQ(meta.volume, c.volume) << c.stem;
    EXPECT_EQ(meta.number, c.number) << c.stem;
  }
  ComicInfo info;
  info.series = "Real Series";
  info.writer = "Ann, Bo";
  info.penciller = "Bo";
  info.language = "not a tag!";
  BookMeta fromInfo = MakeBookMeta(info, "Name v02 c005", {});
  EXPECT_EQ(fromInfo.title, "Name v02 c005");
  EXPECT_EQ(fromInfo.series, "Real Series");
  EXPECT_EQ(SeriesPosition(fromInfo), "2.5");
  EXPECT_EQ(fromInfo.authors, (std::vector<std::string>{"Ann", "Bo"}));
  EXPECT_EQ(fromInfo.language, "");
  BookMeta over = MakeBookMeta(info, "Name", {"T\x01itle\xff", "S", "Cy"});
  EXPECT_EQ(over.title, "Title\xEF\xBF\xBD");
  EXPECT_EQ(over.series, "S");
  EXPECT_EQ(over.authors, std::vector<std::string>{"Cy"});
}

}  // namespace
}  // namespace inkbrite
