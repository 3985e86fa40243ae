// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/page_thumbnails.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cmath>
#include <cstdlib>

#include "formats/image_file.h"
#include "formats/thumbnail_image.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// A page whose colours change smoothly (so a reduced decode and a full one
// agree closely): red across, green down, blue constant.
DibImage Gradient(int32_t width, int32_t height) {
  return test::MakeImage(width, height, [width, height](int32_t x, int32_t y) {
    return test::Bgr{90, static_cast<uint8_t>(y * 255 / height),
                     static_cast<uint8_t>(x * 255 / width)};
  });
}

// The mean absolute difference of two pictures of the same size.
double MeanDifference(const DibImage& a, const DibImage& b) {
  double sum = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    for (int32_t x = 0; x < 3 * a.Width(); ++x) sum += std::abs(a.Row(y)[x] - b.Row(y)[x]);
  }
  return sum / (3.0 * a.Width() * a.Height());
}

void SetModified(const fs::path& path, time_t seconds) {
  struct utimbuf times {
    seconds, seconds
  };
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

class PageThumbnailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) m_old = old, m_had = true;
    setenv("XDG_CACHE_HOME", (cache.path()).c_str(), 1);
  }
  void TearDown() override {
    if (m_had) {
      setenv("XDG_CACHE_HOME", m_old.c_str(), 1);
    } else {
      unsetenv("XDG_CACHE_HOME");
    }
  }
  std::unique_ptr<PageSource> Open(const fs::path& path) {
    SourceError error = SourceError::kNone;
    auto source = OpenPageSource(path, error);
    EXPECT_NE(source, nullptr) << path;
    return source;
  }
  size_t IndexOf(PageSource& source, const std::string& name) { return source.FindPage(name); }

  test::TempDir dir;
  test::TempDir cache;

 private:
  std::string m_old;
  bool m_had = false;
};

TEST(ThumbnailImage, ReducedJpegDecodeMatchesTheFullDecodeShrunk) {
  test::TempDir dir;
  const DibImage page = Gradient(1700, 2400);
  ASSERT_EQ(SaveImageFile(dir / "p.jpg", page, 0, 90), 1);
  const std::vector<uint8_t> bytes = test::ReadAll(dir / "p.jpg");

  // The smallest scale whose longer side still reaches 128: 2400 / 8 = 300.
  DibImage reduced;
  ASSERT_TRUE(ReadJpegReduced(bytes.data(), bytes.size(), 128, reduced));
  EXPECT_EQ(reduced.Width(), 213);
  EXPECT_EQ(reduced.Height(), 300);
  ASSERT_TRUE(ReadJpegReduced(bytes.data(), bytes.size(), 400, reduced));
  EXPECT_EQ(reduced.Height(), 600);  // 1/4

  DibImage thumb;
  ASSERT_TRUE(MakeThumbnail(bytes.data(), bytes.size(), "p.jpg", 128, thumb));
  EXPECT_EQ(thumb.Width(), 91);
  EXPECT_EQ(thumb.Height(), 128);
  DibImage full;
  int grey = 0;
  ASSERT_EQ(LoadImageFile(dir / "p.jpg", full, &grey), 1);
  ASSERT_TRUE(ShrinkToFit(full, 128));
  ASSERT_EQ(full.Width(), thumb.Width());
  // Channels in their places and the picture the right way up.
  EXPECT_LT(MeanDifference(thumb, full), 3.0);
  EXPECT_GT(test::PixelAt(thumb, 90, 64).r, 200);
  EXPECT_GT(test::PixelAt(thumb, 45, 127).g, 200);
  EXPECT_NEAR(test::PixelAt(thumb, 45, 64).b, 90, 6);

  // A grey JPEG, and a PNG through its own reader; the damaged and the
  // unknown give no thumbnail.
  ASSERT_EQ(SaveImageFile(dir / "g.jpg", page, 1, 90), 1);
  const std::vector<uint8_t> greyBytes = test::ReadAll(dir / "g.jpg");
  ASSERT_TRUE(MakeThumbnail(greyBytes.data(), greyBytes.size(), "g.jpg", 128, thumb));
  EXPECT_EQ(thumb.Height(), 128);
  EXPECT_TRUE(thumb.IsGrey());
  ASSERT_EQ(SaveImageFile(dir / "s.png", test::MakePattern(40, 20), 0, 0), 1);
  const std::vector<uint8_t> small = test::ReadAll(dir / "s.png");
  ASSERT_TRUE(MakeThumbnail(small.data(), small.size(), "s.png", 128, thumb));
  EXPECT_EQ(thumb.Width(), 40);  // never enlarged
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 300);
  cut[100] ^= 0xFF;
  EXPECT_FALSE(ReadJpegReduced(cut.data(), 8, 128, reduced));
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'};
  EXPECT_FALSE(MakeThumbnail(text.data(), text.size(), "x.jpg", 128, thumb));
}

TEST(ThumbnailImage, PngCarriesItsTextFieldsBeforeTheImageData) {
  test::TempDir dir;
  const DibImage image = test::MakePattern(30, 20);
  const std::string png =
      EncodePngWithText(image, {{"Thumb::URI", "file:///a%20b.jpg"}, {"Thumb::MTime", "1234"}});
  ASSERT_FALSE(png.empty());
  test::WriteAll(dir / "t.png", std::vector<uint8_t>(png.begin(), png.end()));
  const auto fields = ReadPngTextFields(dir / "t.png");
  EXPECT_EQ(fields.at("Thumb::URI"), "file:///a%20b.jpg");
  EXPECT_EQ(fields.at("Thumb::MTime"), "1234");
  DibImage back;
  int grey = 0;
  ASSERT_EQ(LoadImageFile(dir / "t.png", back, &grey), 1);
  EXPECT_EQ(test::Pixels(back), test::Pixels(image));
}

TEST_F(PageThumbnailTest, FolderPagesGoToTheSharedCacheAndAreMadeAgainWhenStale) {
  ASSERT_EQ(SaveImageFile(dir / "01.jpg", Gradient(300, 400), 0, 90), 1);
  SetModified(dir / "01.jpg", 1600000000);
  auto source = Open(dir.path());
  const size_t index = IndexOf(*source, "01.jpg");
  DibImage thumb;
  ASSERT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kMade);
  EXPECT_EQ(thumb.Height(), 128);

  const std::string uri = FileUri(dir / "01.jpg");
  const fs::path cached = SharedThumbnailPath(uri, ThumbnailSize::kNormal);
  EXPECT_EQ(cached.parent_path(), cache.path() / "thumbnails" / "normal");
  auto fields = ReadPngTextFields(cached);
  EXPECT_EQ(fields["Thumb::URI"], uri);
  EXPECT_EQ(fields["Thumb::MTime"], "1600000000");
  EXPECT_EQ(fields["Thumb::Size"], std::to_string(fs::file_size(dir / "01.jpg")));
  EXPECT_EQ(fields["Software"], "Inkbrite");
  struct stat st {};
  ASSERT_EQ(::stat(cached.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The second time from the cache, the same picture.
  DibImage again;
  ASSERT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, again), ThumbnailOrigin::kCache);
  EXPECT_EQ(test::Pixels(again), test::Pixels(thumb));
  // The large size is its own file.
  ASSERT_EQ(PageThumbnail(*source, index, ThumbnailSize::kLarge, again), ThumbnailOrigin::kMade);
  EXPECT_EQ(again.Height(), 256);

  // The page replaced by another picture: the old thumbnail is stale, a new
  // one is made and recorded.
  ASSERT_EQ(SaveImageFile(dir / "01.jpg", test::MakePattern(200, 100), 0, 90), 1);
  SetModified(dir / "01.jpg", 1700000000);
  ASSERT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, again), ThumbnailOrigin::kMade);
  EXPECT_EQ(again.Width(), 128);
  EXPECT_EQ(again.Height(), 64);
  fields = ReadPngTextFields(cached);
  EXPECT_EQ(fields["Thumb::MTime"], "1700000000");

  // A damaged cached file is made again too.
  test::WriteText(cached, "garbage");
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, again), ThumbnailOrigin::kMade);
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, again), ThumbnailOrigin::kCache);
}

// The cache is anyone's to write: a cached file with the right fields that
// holds a picture larger than any thumbnail we write (a small file may claim
// a huge one), or that is a FIFO, is stale and made again, never decoded
// whole or waited on.
TEST_F(PageThumbnailTest, ACachedFileBeyondTheThumbnailSizesIsMadeAgain) {
  ASSERT_EQ(SaveImageFile(dir / "01.jpg", Gradient(300, 400), 0, 90), 1);
  auto source = Open(dir.path());
  const size_t index = IndexOf(*source, "01.jpg");
  const std::optional<ThumbnailSource> record = DescribeFile(dir / "01.jpg");
  ASSERT_TRUE(record);
  const fs::path cached = SharedThumbnailPath(record->uri, ThumbnailSize::kNormal);
  fs::create_directories(cached.parent_path());
  const std::string big = EncodePngWithText(test::MakePattern(1024, 300),
                                            {{"Thumb::URI", record->uri},
                                             {"Thumb::MTime", std::to_string(record->mtime)},
                                             {"Thumb::Size", std::to_string(record->size)}});
  test::WriteAll(cached, std::vector<uint8_t>(big.begin(), big.end()));
  DibImage thumb;
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kMade);
  EXPECT_EQ(thumb.Height(), 128);
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kCache);

  fs::remove(cached);
  ASSERT_EQ(::mkfifo(cached.c_str(), 0600), 0);
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kMade);
  EXPECT_TRUE(fs::is_regular_file(cached));
  EXPECT_EQ(thumb.Height(), 128);
}

// A broken page gets no thumbnail but a failure record, and is not read
// again while it stays as it is; once it changes it is read again, and the
// stale record goes.
TEST_F(PageThumbnailTest, ABrokenPageGetsAFailureRecordAndIsReadAgainOnlyOnceItChanges) {
  const fs::path page = dir / "broken.jpg";
  test::WriteText(page, std::string("\xFF\xD8\xFF\xE0 this is no JPEG data", 26));
  SetModified(page, 1600000000);
  auto source = Open(dir.path());
  const size_t index = IndexOf(*source, "broken.jpg");
  DibImage thumb;
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kFailed);
  EXPECT_TRUE(thumb.IsEmpty());
  EXPECT_FALSE(fs::exists(cache.path() / "thumbnails" / "normal"));
  EXPECT_EQ(PageThumbnail(*source, 99, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kFailed);

  const std::string uri = FileUri(page);
  const fs::path failed = FailedThumbnailPath(uri);
  EXPECT_EQ(failed.parent_path().parent_path(), cache.path() / "thumbnails" / "fail");
  EXPECT_EQ(failed.parent_path().filename().string().rfind("inkbrite-", 0), 0u);
  EXPECT_EQ(failed.filename(), SharedThumbnailPath(uri, ThumbnailSize::kNormal).filename());
  auto fields = ReadPngTextFields(failed);
  EXPECT_EQ(fields["Thumb::URI"], uri);
  EXPECT_EQ(fields["Thumb::MTime"], "1600000000");
  struct stat st {};
  ASSERT_EQ(::stat(failed.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Made readable behind the record's back (the same time): not read again.
  ASSERT_EQ(SaveImageFile(page, Gradient(300, 400), 0, 90), 1);
  SetModified(page, 1600000000);
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kFailed);
  // Another time: the record is stale, the page is read and the record goes.
  SetModified(page, 1700000000);
  EXPECT_EQ(PageThumbnail(*source, index, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kMade);
  EXPECT_EQ(thumb.Height(), 128);
  EXPECT_FALSE(fs::exists(failed));
}

TEST_F(PageThumbnailTest, BookPagesGoToTheProgramsCacheKeyedByTheBooksTime) {
  auto jpeg = [this](int width, int height) {
    const fs::path temp = dir / "temp.jpg";
    EXPECT_EQ(SaveImageFile(temp, Gradient(width, height), 0, 90), 1);
    std::vector<uint8_t> bytes = test::ReadAll(temp);
    fs::remove(temp);
    return bytes;
  };
  std::vector<test::MadeEntry> entries;
  entries.emplace_back("ch1/01.jpg", jpeg(400, 600));
  entries.emplace_back("ch1/02.jpg", jpeg(600, 400));
  entries.emplace_back("ch1/03.jpg",
                       std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0, 1, 2, 3, 4, 5, 6, 7});
  const fs::path book = dir / "story.cbz";
  test::WriteArchive(book, test::MadeFormat::kZipDeflated, entries);
  SetModified(book, 1600000000);
  auto source = Open(book);
  ASSERT_TRUE(source->IsBook());

  DibImage thumb;
  const size_t first = IndexOf(*source, "ch1/01.jpg");
  ASSERT_EQ(PageThumbnail(*source, first, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kMade);
  EXPECT_EQ(thumb.Width(), 85);
  EXPECT_EQ(thumb.Height(), 128);
  ASSERT_EQ(PageThumbnail(*source, IndexOf(*source, "ch1/02.jpg"), ThumbnailSize::kNormal, thumb),
            ThumbnailOrigin::kMade);
  EXPECT_EQ(thumb.Width(), 128);
  EXPECT_EQ(PageThumbnail(*source, IndexOf(*source, "ch1/03.jpg"), ThumbnailSize::kNormal, thumb),
            ThumbnailOrigin::kFailed);

  const std::optional<ThumbnailSource> described = DescribeFile(book);
  ASSERT_TRUE(described);
  const fs::path cached = BookPageThumbnailPath(*described, "ch1/01.jpg", ThumbnailSize::kNormal);
  EXPECT_EQ(cached.parent_path(), cache.path() / "inkbrite" / "thumbnails" / "normal");
  EXPECT_EQ(ReadPngTextFields(cached)["Thumb::URI"], FileUri(book) + "#ch1/01.jpg");
  EXPECT_EQ(test::Listing(cached.parent_path()).size(), 2u);  // not the broken page
  // Nothing of a book goes to the shared cache.
  EXPECT_FALSE(fs::exists(cache.path() / "thumbnails"));
  EXPECT_EQ(PageThumbnail(*source, first, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kCache);

  // The book changed: its pages are made again under new names.
  SetModified(book, 1600000100);
  auto reopened = Open(book);
  EXPECT_EQ(PageThumbnail(*reopened, first, ThumbnailSize::kNormal, thumb), ThumbnailOrigin::kMade);
  EXPECT_EQ(test::Listing(cached.parent_path()).size(), 3u);
}

}  // namespace
}  // namespace inkbrite
