// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/thumbnail_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/md5.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old, m_had = true;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    if (m_had) {
      setenv(m_name, m_old.c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had = false;
};

TEST(Md5, KnownDigestsAcrossBlockEdges) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  // 56 bytes: the length no longer fits the block, a second one follows.
  EXPECT_EQ(Md5Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "8215ef0796a20bcaaae116d3876c664a");
  EXPECT_EQ(
      Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(ThumbnailCache, UrisEscapeAsDesktopProgramsDo) {
  EXPECT_EQ(FileUri("/home/reader/comics/page 1.jpg"), "file:///home/reader/comics/page%201.jpg");
  EXPECT_EQ(FileUri("/a/#?%;[]\"b"), "file:///a/%23%3F%25%3B%5B%5D%22b");
  EXPECT_EQ(FileUri("/a/-_.!~*'()&=:@+$,"), "file:///a/-_.!~*'()&=:@+$,");
  EXPECT_EQ(FileUri("/漫画/01.png"), "file:///%E6%BC%AB%E7%94%BB/01.png");
  // A relative path is made absolute.
  EXPECT_EQ(FileUri("x.png"), FileUri(fs::current_path() / "x.png"));
}

TEST(ThumbnailCache, NamesAreTheMd5OfTheUriInTheSizesFolder) {
  test::TempDir dir;
  EnvGuard cache("XDG_CACHE_HOME", dir.path().c_str());
  const std::string uri = "file:///home/jens/photos/me.png";
  // The example of the thumbnail standard.
  EXPECT_EQ(Md5Hex(uri), "c6ee772d9e49320e97ec29a7eb5b1697");
  EXPECT_EQ(SharedThumbnailPath(uri, ThumbnailSize::kNormal),
            dir.path() / "thumbnails/normal/c6ee772d9e49320e97ec29a7eb5b1697.png");
  EXPECT_EQ(SharedThumbnailPath(uri, ThumbnailSize::kLarge),
            dir.path() / "thumbnails/large/c6ee772d9e49320e97ec29a7eb5b1697.png");
  EXPECT_EQ(ThumbnailPixels(ThumbnailSize::kNormal), 128);
  EXPECT_EQ(ThumbnailPixels(ThumbnailSize::kLarge), 256);

  // A book's pages go to the program's own folder; a changed book (another
  // time) and another entry get other names.
  const ThumbnailSource book{"file:///b/story.cbz", 1000, 5};
  const fs::path page = BookPageThumbnailPath(book, "01.jpg", ThumbnailSize::kNormal);
  EXPECT_EQ(page.parent_path(), dir.path() / "inkbrite/thumbnails/normal");
  EXPECT_NE(page, BookPageThumbnailPath({"file:///b/story.cbz", 1001, 5}, "01.jpg",
                                        ThumbnailSize::kNormal));
  EXPECT_NE(page, BookPageThumbnailPath(book, "02.jpg", ThumbnailSize::kNormal));
  EXPECT_EQ(BookPageUri(book, "ch 1/01.jpg"), "file:///b/story.cbz#ch%201/01.jpg");
}

TEST(ThumbnailCache, CacheHomeFallsBackToHomeWhenUnsetOrRelative) {
  EnvGuard home("HOME", "/home/someone");
  {
    EnvGuard cache("XDG_CACHE_HOME", nullptr);
    EXPECT_EQ(CacheHome(), fs::path("/home/someone/.cache"));
  }
  {
    EnvGuard cache("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(CacheHome(), fs::path("/home/someone/.cache"));
  }
  EnvGuard cache("XDG_CACHE_HOME", "/var/cache/me");
  EXPECT_EQ(CacheHome(), fs::path("/var/cache/me"));
  EXPECT_TRUE(IsInThumbnailCache("/var/cache/me/thumbnails/normal/x.png"));
  EXPECT_TRUE(IsInThumbnailCache("/var/cache/me/inkbrite/thumbnails/large/x.png"));
  EXPECT_FALSE(IsInThumbnailCache("/var/cache/me/thumbnails-not/x.png"));
  EXPECT_FALSE(IsInThumbnailCache("/home/someone/x.png"));
}

// A PNG file with the given tEXt chunks (no image data is needed to read
// them; CRCs are not checked by the reader).
std::vector<uint8_t> PngWithText(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&png](const std::string& type, const std::string& data) {
    test::PutBE(png, 4, {static_cast<uint32_t>(data.size())});
    png.insert(png.end(), type.begin(), type.end());
    png.insert(png.end(), data.begin(), data.end());
    test::PutBE(png, 4, {0});
  };
  chunk("IHDR", std::string(13, '\0'));
  for (const auto& [key, text] : fields) chunk("tEXt", key + std::string(1, '\0') + text);
  chunk("IEND", "");
  return png;
}

TEST(ThumbnailCache, StaleWhenTheFileChangedSinceTheThumbnail) {
  test::TempDir dir;
  const fs::path page = dir / "page.jpg";
  test::WriteText(page, "twelve bytes");
  const std::optional<ThumbnailSource> now = DescribeFile(page);
  ASSERT_TRUE(now);
  EXPECT_EQ(now->uri, FileUri(page));
  EXPECT_EQ(now->size, 12u);
  const fs::path thumb = dir / "t.png";
  const std::string mtime = std::to_string(now->mtime);
  test::WriteAll(thumb, PngWithText({{"Thumb::URI", now->uri},
                                     {"Thumb::MTime", mtime},
                                     {"Thumb::Size", "12"},
                                     {"Software", "x"}}));
  const auto fields = ReadPngTextFields(thumb);
  EXPECT_EQ(fields.at("Thumb::URI"), now->uri);
  EXPECT_EQ(fields.at("Software"), "x");
  EXPECT_TRUE(IsThumbnailCurrent(thumb, *now));

  ThumbnailSource changed = *now;
  changed.mtime += 1;
  EXPECT_FALSE(IsThumbnailCurrent(thumb, changed));
  changed = *now;
  changed.size = 13;
  EXPECT_FALSE(IsThumbnailCurrent(thumb, changed));
  changed = *now;
  changed.uri += "x";
  EXPECT_FALSE(IsThumbnailCurrent(thumb, changed));
  // Another program's thumbnail without Thumb::Size is judged by the rest.
  test::WriteAll(thumb, PngWithText({{"Thumb::URI", now->uri}, {"Thumb::MTime", mtime}}));
  EXPECT_TRUE(IsThumbnailCurrent(thumb, *now));
  // No MTime, no PNG, no file: stale.
  test::WriteAll(thumb, PngWithText({{"Thumb::URI", now->uri}}));
  EXPECT_FALSE(IsThumbnailCurrent(thumb, *now));
  test::WriteText(thumb, "not a png at all");
  EXPECT_FALSE(IsThumbnailCurrent(thumb, *now));
  EXPECT_TRUE(ReadPngTextFields(thumb).empty());
  EXPECT_FALSE(IsThumbnailCurrent(dir / "missing.png", *now));
  EXPECT_FALSE(DescribeFile(dir / "missing.jpg"));
  EXPECT_FALSE(DescribeFile(dir.path()));  // a folder
}

TEST(ThumbnailCache, DamagedChunksEndTheReadingWithoutHarm) {
  test::TempDir dir;
  std::vector<uint8_t> png = PngWithText({{"Thumb::URI", "file:///a"}});
  // A chunk claiming 2 GiB, then the file ends.
  png.resize(png.size() - 12);
  test::PutBE(png, 4, {0x7FFFFFF0});
  png.insert(png.end(), {'t', 'E', 'X', 't', 'a', 0, 'b'});
  test::WriteAll(dir / "d.png", png);
  const auto fields = ReadPngTextFields(dir / "d.png");
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields.at("Thumb::URI"), "file:///a");
}

TEST(ThumbnailCache, CacheFilesAreWrittenWholeAndPrivately) {
  test::TempDir dir;
  const fs::path target = dir / "cache/thumbnails/normal/abc.png";
  ASSERT_TRUE(WriteCacheFile(target, "first"));
  EXPECT_EQ(test::ReadText(target), "first");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(target.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_TRUE(WriteCacheFile(target, "second"));
  EXPECT_EQ(test::ReadText(target), "second");
  EXPECT_EQ(test::Listing(target.parent_path()), std::vector<std::string>{"abc.png"});

  // A folder in the way of the file: false, and nothing left behind.
  fs::create_directories(dir / "cache/thumbnails/normal/busy.png/inside");
  EXPECT_FALSE(WriteCacheFile(dir / "cache/thumbnails/normal/busy.png", "x"));
  EXPECT_EQ(test::Listing(target.parent_path()), (std::vector<std::string>{"abc.png", "busy.png"}));
  // A file where a folder should be.
  test::WriteText(dir / "plain", "x");
  EXPECT_FALSE(WriteCacheFile(dir / "plain/sub/t.png", "x"));
}

}  // namespace
}  // namespace inkbrite
