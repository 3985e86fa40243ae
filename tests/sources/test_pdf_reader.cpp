// SPDX-License-Identifier: GPL-2.0-or-later
// PDF pages drawn by the helper program under its limits: hostile pages
// made here (a form that draws itself again and again, millions of saved
// states, more pages than a book may hold) fail with their reason and leave
// the other pages readable; a stop ends a page being drawn at once.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/child_process.h"
#include "sources/book_limits.h"
#include "sources/pdf_reader.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::PdfOf;

std::string Name(SourceError e) { return std::string(SourceErrorName(e)); }

std::string Deflated(const std::string& text) {
  uLongf size = compressBound(text.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
  out.resize(size);
  return out;
}

std::string Stream(const std::string& dict, const std::string& data) {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
         "\nendstream";
}

// A PDF of these pages (each its content stream and resources), 200 x 300
// points each; objects from `extra` follow the pages' (numbered from 3 + 2 *
// pages).
std::string PdfOfPages(const std::vector<std::pair<std::string, std::string>>& pages,
                       const std::vector<std::string>& extra = {}) {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) {
    const size_t page = 3 + 2 * i;
    kids += std::to_string(page) + " 0 R ";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] /Contents " +
                      std::to_string(page + 1) + " 0 R /Resources << " + pages[i].second +
                      " >> >>");
    objects.push_back(pages[i].first);
  }
  objects[1] =
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
  objects.insert(objects.end(), extra.begin(), extra.end());
  return PdfOf(objects);
}

struct OpenPdf {
  std::string bytes;
  PdfReader reader;
  SourceError opened;
  explicit OpenPdf(std::string pdf)
      : bytes(std::move(pdf)),
        opened(reader.OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) {}
};

TEST(PdfReader, AHostilePageFailsWithItsReasonAndThePagesAfterItStillRead) {
  // Forms 1..30, each drawing the next twice: 2^30 rectangles.
  constexpr int kDepth = 30;
  const size_t firstForm = 3 + 2 * 4;
  std::vector<std::string> forms;
  for (int i = 0; i < kDepth; ++i) {
    const std::string next = "/X" + std::to_string(i + 1);
    const std::string body = i + 1 < kDepth ? next + " Do " + next + " Do" : "0 0 1 1 re f";
    const std::string resources = i + 1 < kDepth
                                      ? "/Resources << /XObject << " + next + " " +
                                            std::to_string(firstForm + i + 1) + " 0 R >> >>"
                                      : "";
    forms.push_back(Stream("/Type /XObject /Subtype /Form /BBox [0 0 200 300] " + resources, body));
  }
  std::string saves;
  for (int i = 0; i < 2'000'000; ++i) saves += "q ";
  const std::string square = Stream("", "0 0 1 rg 50 50 100 100 re f");
  OpenPdf pdf(PdfOfPages(
      {{square, ""},
       {Stream("", "/X0 Do"), "/XObject << /X0 " + std::to_string(firstForm) + " 0 R >>"},
       {Stream("/Filter /FlateDecode", Deflated(saves)), ""},
       {square, ""}},
      forms));
  ASSERT_EQ(Name(pdf.opened), Name(SourceError::kNone));
  ASSERT_EQ(pdf.reader.PageCount(), 4u);
  pdf.reader.SetPageLimits(1, std::chrono::seconds(60), uint64_t{512} << 20);

  DibImage image;
  int grey = -1;
  ASSERT_EQ(Name(pdf.reader.LoadPage(0, image, &grey)), Name(SourceError::kNone));
  EXPECT_EQ(image.Height(), kPdfPageHeight);
  EXPECT_EQ(image.Width(), kPdfPageHeight * 2 / 3);
  EXPECT_EQ(grey, 0);
  const uint8_t* middle = image.Row(image.Height() / 2) + 3 * (image.Width() / 2);
  EXPECT_EQ((std::vector<int>{middle[0], middle[1], middle[2]}), (std::vector<int>{255, 0, 0}));
  const uint8_t* corner = image.Row(image.Height() - 1);
  EXPECT_EQ((std::vector<int>{corner[0], corner[1], corner[2]}), (std::vector<int>{255, 255, 255}));

  EXPECT_EQ(Name(pdf.reader.LoadPage(1, image, &grey)), Name(SourceError::kTimedOut));
  EXPECT_EQ(image.Width(), 0);
  if (AddressSpaceLimitsHold()) {
    EXPECT_EQ(Name(pdf.reader.LoadPage(2, image, &grey)), Name(SourceError::kOverMemory));
  }
  EXPECT_EQ(Name(pdf.reader.LoadPage(3, image, &grey)), Name(SourceError::kNone));
  EXPECT_EQ(image.Height(), kPdfPageHeight);

  // A stop ends the page being drawn, long before its time is up.
  pdf.reader.SetPageLimits(pdf_helper::kPageCpuSeconds, std::chrono::seconds(600), 0);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    StopChildPrograms();
  });
  EXPECT_EQ(Name(pdf.reader.LoadPage(1, image, &grey)), Name(SourceError::kPageUnreadable));
  stopper.join();
  EXPECT_EQ(Name(pdf.reader.LoadPage(3, image, &grey)), Name(SourceError::kPageUnreadable));
  AllowChildPrograms();
  EXPECT_EQ(Name(pdf.reader.LoadPage(3, image, &grey)), Name(SourceError::kNone));
}

// What the pages will need once drawn is known before any is drawn: more
// than a book may hold is refused at once.
TEST(PdfReader, PagesThatTogetherPassTheBooksBytesAreRefusedBeforeDrawing) {
  const std::string blank = Stream("", "");
  for (const auto& [pages, expected] : {std::pair{size_t{20'000}, SourceError::kTooLarge},
                                        std::pair{size_t{3}, SourceError::kNone}}) {
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "", blank};
    std::string kids;
    for (size_t i = 0; i < pages; ++i) {
      kids += std::to_string(4 + i) + " 0 R ";
      objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    OpenPdf pdf(PdfOf(objects));
    EXPECT_EQ(Name(pdf.opened), Name(expected)) << pages;
  }
}

// A page's size in points becomes pixels within the limits; sizes whose
// scale is lost (a side next to nothing beside a real one, or beyond any
// size) give none instead of a number out of range.
TEST(PdfReader, PageSizesBecomePixelsOrNone) {
  struct Case {
    double w, h;
    bool sized;
    int width, height;
  };
  const Case cases[] = {
      {200, 300, true, kPdfPageHeight * 2 / 3, kPdfPageHeight},
      {100000, 10, true, 32766, 3},
      {1e-320, 300, true, 1, kPdfPageHeight},
      {300, 1e-320, false, 0, 0},
      {1e308, 1e-300, false, 0, 0},
      {1e308, 1e308, false, 0, 0},
      {0, 300, false, 0, 0},
      {-5, 300, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    int width = -1, height = -1;
    double scale = 0;
    EXPECT_EQ(PdfRenderSize(c.w, c.h, width, height, scale), c.sized);
    if (!c.sized) continue;
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
  }
}

// The answers of the helper are checked, never trusted.
TEST(PdfReader, AnAnswerThatLiesAboutItsSizeIsRefused) {
  auto answerOf = [](const std::vector<uint8_t>& bytes) {
    PdfAnswer answer;
    answer.size = bytes.size();
    answer.read = [&bytes](uint64_t offset, void* out, size_t size) {
      if (offset > bytes.size() || size > bytes.size() - offset) return false;
      std::memcpy(out, bytes.data() + offset, size);
      return true;
    };
    return answer;
  };
  pdf_helper::PageHeader header;
  header.width = 4;
  header.height = 2;
  std::vector<uint8_t> bytes(sizeof header + 4 * 3 * 2, 0x80);
  std::memcpy(bytes.data(), &header, sizeof header);
  DibImage image;
  EXPECT_EQ(Name(ReadPdfPageAnswer(answerOf(bytes), image, nullptr)), Name(SourceError::kNone));
  EXPECT_EQ(image.Width(), 4);
  bytes.pop_back();
  EXPECT_EQ(Name(ReadPdfPageAnswer(answerOf(bytes), image, nullptr)),
            Name(SourceError::kPageUnreadable));
  header.error = 999;
  std::memcpy(bytes.data(), &header, sizeof header);
  EXPECT_EQ(Name(ReadPdfPageAnswer(answerOf(bytes), image, nullptr)),
            Name(SourceError::kPageUnreadable));
  pdf_helper::InfoHeader info;
  info.pages = 3;
  std::vector<uint8_t> listing(sizeof info + 2 * sizeof(pdf_helper::PageSize));
  std::memcpy(listing.data(), &info, sizeof info);
  std::vector<PdfPageSize> sizes;
  EXPECT_EQ(Name(ReadPdfInfoAnswer(answerOf(listing), sizes)), Name(SourceError::kDamaged));
}

}  // namespace
}  // namespace inkbrite
