// SPDX-License-Identifier: GPL-2.0-or-later
// Books made here: what decides that a file is a book, the read-ahead that
// keeps paging through a solid archive from unpacking it again, the limits
// that refuse hostile books, and folders as page sources.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "formats/image_file.h"
#include "sources/archive_reader.h"
#include "sources/book_limits.h"
#include "sources/book_source.h"
#include "sources/page_source.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;

// A small JPEG page whose pixels tell `n` apart.
std::vector<uint8_t> JpegPage(int n) {
  test::TempDir dir;
  const DibImage page = test::MakeImage(24 + n, 16, [n](int32_t x, int32_t y) {
    return test::Bgr{static_cast<uint8_t>(n * 20), static_cast<uint8_t>(x * 9),
                     static_cast<uint8_t>(y * 13)};
  });
  EXPECT_EQ(SaveImageFile(dir / "p.jpg", page, 0, 90), 1);
  return test::ReadAll(dir / "p.jpg");
}

// Pages "01.jpg" ... in the given order of the archive.
std::vector<MadeEntry> Pages(const std::vector<int>& order) {
  std::vector<MadeEntry> entries;
  for (int n : order) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.jpg", n);
    entries.push_back({name, JpegPage(n)});
  }
  return entries;
}

std::string Name(SourceError e) { return std::string(SourceErrorName(e)); }

TEST(BookKind, TheContentDecidesThenTheName) {
  test::TempDir dir;
  const std::vector<uint8_t> zip = test::MakeArchive(MadeFormat::kZipStored, Pages({1}));
  const std::vector<uint8_t> tar = test::MakeArchive(MadeFormat::kTar, Pages({1}));
  test::WriteAll(dir / "zip-named.cbr", zip);
  test::WriteAll(dir / "tar-named.dat", tar);
  test::WriteAll(dir / "jpeg-named.cbz", JpegPage(1));
  test::WriteAll(dir / "junk.cb7", std::vector<uint8_t>(100, 'x'));
  test::WriteAll(dir / "junk.txt", std::vector<uint8_t>(100, 'x'));
  EXPECT_EQ(BookKindOf(dir / "zip-named.cbr"), kFormatZipBook);
  EXPECT_EQ(BookKindOf(dir / "tar-named.dat"), kFormatTarBook);
  EXPECT_EQ(BookKindOf(dir / "jpeg-named.cbz"), kFormatUnknown);  // a picture
  EXPECT_EQ(BookKindOf(dir / "junk.cb7"), kFormat7zBook);         // by name: refused as damaged
  EXPECT_EQ(BookKindOf(dir / "junk.txt"), kFormatUnknown);
  EXPECT_EQ(BookKindOf(dir / "missing.cbz"), kFormatUnknown);

  // A CBR that is really a zip opens as one; junk under a book's name is
  // refused as damaged.
  SourceError error = SourceError::kNone;
  const auto book = BookSource::Open(dir / "zip-named.cbr", error);
  ASSERT_NE(book, nullptr) << Name(error);
  EXPECT_EQ(book->Container(), kFormatZipBook);
  EXPECT_EQ(BookSource::Open(dir / "junk.cb7", error), nullptr);
  EXPECT_EQ(error, SourceError::kDamaged);
}

TEST(BookKind, AFifoUnderABooksNameIsNeverOpened) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe.cbz").c_str(), 0600), 0);
  EXPECT_EQ(BookKindOf(dir / "pipe.cbz"), kFormatUnknown);
  SourceError error = SourceError::kNone;
  EXPECT_EQ(BookSource::Open(dir / "pipe.cbz", error), nullptr);
  EXPECT_EQ(error, SourceError::kOpenFailed);
  ArchiveReader reader;
  EXPECT_EQ(reader.Open(dir / "pipe.cbz"), SourceError::kOpenFailed);
}

TEST(BookSource, PagesDecodeFromEveryContainerWeWrite) {
  test::TempDir dir;
  for (MadeFormat format : {MadeFormat::kZipStored, MadeFormat::kZipDeflated, MadeFormat::kSevenZip,
                            MadeFormat::kTar}) {
    test::WriteArchive(dir / "b", format, Pages({3, 1, 2}));
    SourceError error = SourceError::kNone;
    const auto book = BookSource::Open(dir / "b", error);
    ASSERT_NE(book, nullptr) << Name(error);
    ASSERT_EQ(book->PageCount(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(book->Pages()[i].name, "0" + std::to_string(i + 1) + ".jpg");
      EXPECT_EQ(book->Pages()[i].time, WindowsFileTime(1577836800));
      DibImage image;
      ASSERT_EQ(book->LoadPage(i, image, nullptr), SourceError::kNone);
      EXPECT_EQ(image.Width(), 25 + static_cast<int>(i));  // the page of that number
    }
  }
}

// Reads every page in order as a reader pages forward: the page, then the
// read-ahead, and returns how often the archive was read from its start.
size_t PageThrough(BookSource& book) {
  for (size_t i = 0; i < book.PageCount(); ++i) {
    DibImage image;
    EXPECT_EQ(book.LoadPage(i, image, nullptr), SourceError::kNone);
    EXPECT_EQ(image.Width(), 25 + static_cast<int>(i));
    book.ReadAhead(i);
  }
  return book.Restarts();
}

TEST(BookSource, PagingThroughASolidArchiveNeverUnpacksItFromTheStartEachTime) {
  test::TempDir dir;
  std::vector<int> inOrder, reversed;
  for (int n = 1; n <= 20; ++n) {
    inOrder.push_back(n);
    reversed.insert(reversed.begin(), n);
  }
  SourceError error = SourceError::kNone;
  test::WriteArchive(dir / "a.cb7", MadeFormat::kSevenZip, Pages(inOrder));
  auto book = BookSource::Open(dir / "a.cb7", error);
  ASSERT_NE(book, nullptr);
  EXPECT_TRUE(book->InOrderOnly());
  EXPECT_EQ(PageThrough(*book), 1u);  // one pass

  // Pages stored last to first: the pages passed on the way are kept, so the
  // archive is started again once per half a read-ahead, not once a page.
  test::WriteArchive(dir / "b.cb7", MadeFormat::kSevenZip, Pages(reversed));
  book = BookSource::Open(dir / "b.cb7", error);
  ASSERT_NE(book, nullptr);
  EXPECT_LE(PageThrough(*book), 20 / (kReadAheadPages / 2) + 1);

  // Without a read-ahead every page of the reversed book starts again.
  book = BookSource::Open(dir / "b.cb7", error);
  ASSERT_NE(book, nullptr);
  book->SetReadAhead(0, 0);
  EXPECT_EQ(PageThrough(*book), 20u);

  // Paging back by one page is served from what is kept.
  book = BookSource::Open(dir / "a.cb7", error);
  ASSERT_NE(book, nullptr);
  PageThrough(*book);
  const size_t before = book->Restarts();
  DibImage image;
  EXPECT_EQ(book->LoadPage(18, image, nullptr), SourceError::kNone);
  EXPECT_EQ(book->Restarts(), before);
}

TEST(BookSource, TheReadAheadStaysWithinItsBudget) {
  test::TempDir dir;
  test::WriteArchive(dir / "a.cbz", MadeFormat::kZipStored, Pages({1, 2, 3, 4, 5, 6, 7, 8, 9}));
  SourceError error = SourceError::kNone;
  const auto book = BookSource::Open(dir / "a.cbz", error);
  ASSERT_NE(book, nullptr);
  const uint64_t page = book->Pages()[0].size;
  book->SetReadAhead(3 * page + page / 2, 8);
  book->ReadAhead(0);
  EXPECT_GT(book->ReadAheadHeld(), 0u);
  EXPECT_LE(book->ReadAheadHeld(), 3 * page + page / 2);
}

TEST(BookSource, ReadingAheadOnAnotherThreadWhilePagesAreShown) {
  test::TempDir dir;
  std::vector<int> order;
  for (int n = 1; n <= 16; ++n) order.push_back(n);
  test::WriteArchive(dir / "a.cb7", MadeFormat::kSevenZip, Pages(order));
  SourceError error = SourceError::kNone;
  const auto book = BookSource::Open(dir / "a.cb7", error);
  ASSERT_NE(book, nullptr);
  std::atomic<size_t> shown{0};
  std::atomic<bool> done{false};
  std::thread ahead([&] {
    while (!done) book->ReadAhead(shown.load());
  });
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < book->PageCount(); ++i) {
      shown = i;
      DibImage image;
      ASSERT_EQ(book->LoadPage(i, image, nullptr), SourceError::kNone);
      ASSERT_EQ(image.Width(), 25 + static_cast<int>(i));
    }
  }
  done = true;
  ahead.join();
}

TEST(BookLimits, HostileListingsAreRefusedBeforeAnyPageIsRead) {
  test::TempDir dir;
  SourceError error = SourceError::kNone;
  // Too many entries.
  std::vector<MadeEntry> many(kMaxBookEntries + 1);
  for (size_t i = 0; i < many.size(); ++i) many[i].name = std::to_string(i) + ".jpg";
  test::WriteArchive(dir / "many.cbz", MadeFormat::kZipStored, many);
  EXPECT_EQ(BookSource::Open(dir / "many.cbz", error), nullptr);
  EXPECT_EQ(error, SourceError::kTooManyEntries);

  // A 40 MiB page of zeros deflated to 40 KiB: far more than the archive
  // could hold as a picture; 30 MiB (below the size the ratio is checked
  // from) is taken.
  for (const auto& [mib, refused] : {std::pair{40, true}, std::pair{30, false}}) {
    std::vector<MadeEntry> bomb = Pages({1});
    bomb.push_back({"02.bmp", std::vector<uint8_t>(size_t(mib) << 20, 0)});
    test::WriteArchive(dir / "bomb.cbz", MadeFormat::kZipDeflated, bomb);
    const auto book = BookSource::Open(dir / "bomb.cbz", error);
    EXPECT_EQ(book == nullptr, refused) << mib;
    EXPECT_EQ(error, refused ? SourceError::kTooLarge : SourceError::kNone) << mib;
  }

  // Encrypted pages.
  test::WriteArchive(dir / "secret.cbz", MadeFormat::kZipDeflated, Pages({1, 2}), "password");
  EXPECT_EQ(BookSource::Open(dir / "secret.cbz", error), nullptr);
  EXPECT_EQ(error, SourceError::kEncrypted);
  EXPECT_EQ(SourceErrorText(error), "加密的压缩包无法读取。");

  // A zip whose central directory says it is on the second disk.
  std::vector<uint8_t> split = test::MakeArchive(MadeFormat::kZipStored, Pages({1}));
  ASSERT_GE(split.size(), 22u);
  split[split.size() - 22 + 4] = 1;  // this disk's number
  test::WriteAll(dir / "part.zip", split);
  EXPECT_EQ(BookSource::Open(dir / "part.zip", error), nullptr);
  EXPECT_EQ(error, SourceError::kMultiVolume);

  // No pages at all.
  test::WriteArchive(dir / "text.cbz", MadeFormat::kZipStored, {{"readme.txt", {'a'}}});
  EXPECT_EQ(BookSource::Open(dir / "text.cbz", error), nullptr);
  EXPECT_EQ(error, SourceError::kNoPages);
}

// 7z headers announce counts the unpacker allocates for before it reads on
// (libarchive takes up to 100 million files: gigabytes for 78 bytes). They
// are checked first: the unpacker never starts on such an archive.
TEST(BookLimits, SevenZipHeadersThatAnnounceMillionsOfThingsAreRefusedBeforeUnpacking) {
  const auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const std::vector<uint8_t> files =
      cat({{0x01, 0x05}, test::SevenZipNumber(50'000'000), {0x00, 0x00}});
  // Main streams: one folder of one LZMA coder, then millions of streams in it.
  const std::vector<uint8_t> folder = {0x01, 0x23, 0x03, 0x01, 0x01, 0x05, 0x5D, 0, 0, 1, 0};
  const std::vector<uint8_t> streams =
      cat({{0x01, 0x04, 0x06, 0x00, 0x01, 0x09, 0x10, 0x00, 0x07, 0x0B, 0x01, 0x00},
           folder,
           {0x0C, 0x40, 0x00, 0x08, 0x0D},
           test::SevenZipNumber(30'000'000),
           {0x00, 0x00, 0x00}});
  const std::vector<uint8_t> folders =
      cat({{0x01, 0x04, 0x07, 0x0B}, test::SevenZipNumber(kMaxBookEntries + 1), {0x00}});
  std::vector<uint8_t> program = {'M', 'Z'};
  program.resize(0x27000);
  struct Case {
    const char* what;
    std::vector<uint8_t> archive;
  };
  const Case cases[] = {
      {"files", test::SevenZipAround(files, false)},
      {"files, header compressed", test::SevenZipAround(files, true)},
      {"files, self-extracting", test::SevenZipAround(files, false, program)},
      {"streams of a folder", test::SevenZipAround(streams, true)},
      {"folders", test::SevenZipAround(folders, false)},
  };
  for (const Case& c : cases) {
    ArchiveReader reader;
    EXPECT_EQ(Name(reader.OpenMemory(c.archive.data(), c.archive.size())),
              Name(SourceError::kTooManyEntries))
        << c.what;
    EXPECT_EQ(reader.Starts(), 0u) << c.what;
  }
  SourceError error = SourceError::kNone;
  const std::vector<uint8_t>& hostile = cases[1].archive;
  EXPECT_EQ(BookSource::OpenMemory(hostile.data(), hostile.size(), error), nullptr);
  EXPECT_EQ(SourceErrorText(error), "压缩包中的文件过多，无法读取。");

  // A next header beyond the file, or larger than any book needs.
  std::vector<uint8_t> beyond = test::SevenZipAround(files, false);
  beyond[20] = 0xFF;  // its size
  ArchiveReader reader;
  EXPECT_EQ(Name(reader.OpenMemory(beyond.data(), beyond.size())), Name(SourceError::kDamaged));
  EXPECT_EQ(reader.Starts(), 0u);

  // The same shapes within the limits pass the check (and are then read).
  const std::vector<uint8_t> few = cat({{0x01, 0x05}, test::SevenZipNumber(3), {0x00, 0x00}});
  for (bool lzma : {false, true}) {
    const std::vector<uint8_t> archive = test::SevenZipAround(few, lzma);
    ArchiveReader fine;
    EXPECT_NE(Name(fine.OpenMemory(archive.data(), archive.size())),
              Name(SourceError::kTooManyEntries));
    EXPECT_EQ(fine.Starts(), 1u) << lzma;
  }
}

// Bombs that a listing of the pages alone would let through: entries that
// are not pages, entries that declare no size (read while they arrive),
// sparse tar entries. Each is a few tens of KiB that unpack to 40 MiB or
// more; the same shapes with honest sizes open.
TEST(BookLimits, EveryEntryCountsAgainstTheBooksLimitsSizedOrNot) {
  const std::vector<uint8_t> zeros(size_t{1} << 20, 0);
  std::vector<MadeEntry> others = Pages({1});
  for (int i = 0; i < 40; ++i) others.push_back({"data/" + std::to_string(i) + ".bin", zeros});
  std::vector<MadeEntry> blankPage = Pages({1});
  blankPage.push_back({"02.bmp", std::vector<uint8_t>(size_t{40} << 20, 0)});
  std::vector<MadeEntry> sparse = Pages({1});
  for (int i = 0; i < 3; ++i) {
    MadeEntry e{"data/" + std::to_string(i) + ".bin", std::vector<uint8_t>(4096, 1)};
    e.sparseSize = int64_t{64} << 20;
    sparse.push_back(std::move(e));
  }
  std::vector<MadeEntry> fewOthers = Pages({1, 2});
  fewOthers.push_back({"notes.txt", {'a', 'b'}});
  struct Case {
    const char* what;
    std::vector<uint8_t> archive;
    SourceError expected;
  };
  const Case cases[] = {
      {"40 MiB of other entries", test::MakeArchive(MadeFormat::kZipDeflated, others),
       SourceError::kTooLarge},
      {"a streamed 40 MiB page", test::MakeStreamedZip(blankPage), SourceError::kTooLarge},
      {"sparse tar entries", test::MakeArchive(MadeFormat::kTar, sparse), SourceError::kTooLarge},
      {"a streamed book", test::MakeStreamedZip(fewOthers), SourceError::kNone},
      {"other entries within the limits", test::MakeArchive(MadeFormat::kZipDeflated, fewOthers),
       SourceError::kNone},
  };
  for (const Case& c : cases) {
    SourceError error = SourceError::kNone;
    const auto book = BookSource::OpenMemory(c.archive.data(), c.archive.size(), error);
    EXPECT_EQ(Name(error), Name(c.expected)) << c.what;
    if (!book) continue;
    ASSERT_EQ(book->PageCount(), 2u) << c.what;
    std::vector<uint8_t> bytes;
    EXPECT_EQ(Name(book->ReadPage(1, bytes)), Name(SourceError::kNone)) << c.what;
    EXPECT_EQ(bytes, JpegPage(2)) << c.what;
    const BookEntry& notes = book->Entries().back();
    EXPECT_TRUE(notes.entry.sizeKnown) << c.what;
    EXPECT_EQ(notes.entry.size, 2u) << c.what;
  }
}

TEST(BookLimits, APassThatTakesTooLongIsGivenUp) {
  test::TempDir dir;
  test::WriteArchive(dir / "a.cbz", MadeFormat::kZipStored, Pages({1, 2, 3}));
  ArchiveReader reader;
  reader.SetPassLimit(std::chrono::milliseconds(-1));
  EXPECT_EQ(reader.Open(dir / "a.cbz"), SourceError::kTimedOut);
  ArchiveReader fine;
  ASSERT_EQ(fine.Open(dir / "a.cbz"), SourceError::kNone);
  fine.SetPassLimit(std::chrono::milliseconds(-1));
  std::vector<uint8_t> bytes;
  EXPECT_EQ(fine.ReadEntry(0, 1 << 20, bytes), SourceError::kTimedOut);
  EXPECT_TRUE(bytes.empty());
}

TEST(BookSource, ComicInfoAtTheTopOfTheBookIsOffered) {
  test::TempDir dir;
  std::vector<MadeEntry> entries = Pages({1, 2});
  const std::string nested = "<ComicInfo><Title>nested</Title></ComicInfo>";
  const std::string top =
      "<ComicInfo><Title>Top</Title><Manga>YesAndRightToLeft</Manga></ComicInfo>";
  entries.push_back({"extra/ComicInfo.xml", {nested.begin(), nested.end()}});
  entries.push_back({"comicinfo.XML", {top.begin(), top.end()}});
  test::WriteArchive(dir / "a.cbz", MadeFormat::kZipDeflated, entries);
  SourceError error = SourceError::kNone;
  const auto book = BookSource::Open(dir / "a.cbz", error);
  ASSERT_NE(book, nullptr);
  const ComicInfo info = book->Info();
  EXPECT_TRUE(info.present);
  EXPECT_EQ(info.title, "Top");
  EXPECT_TRUE(info.rightToLeft);
  EXPECT_EQ(book->PageCount(), 2u);  // the XML files are no pages
}

TEST(PageSource, AFolderListsItsPicturesAndAPathOpensAFolderOrABook) {
  test::TempDir dir;
  test::WriteAll(dir / "b.jpg", JpegPage(2));
  test::WriteAll(dir / "a.jpg", JpegPage(1));
  test::WriteAll(dir / "notes.txt", {'x'});
  test::WriteArchive(dir / "book.cbz", MadeFormat::kZipStored, Pages({1}));
  SourceError error = SourceError::kNone;
  auto folder = OpenPageSource(dir.path(), error);
  ASSERT_NE(folder, nullptr);
  EXPECT_FALSE(folder->IsBook());
  ASSERT_EQ(folder->PageCount(), 2u);  // pictures only: no book, no text
  EXPECT_EQ(folder->Pages()[0].name, "a.jpg");
  EXPECT_EQ(folder->Pages()[1].path, dir / "b.jpg");
  EXPECT_EQ(folder->FindPage("b.jpg"), 1u);
  DibImage image;
  ASSERT_EQ(folder->LoadPage(1, image, nullptr), SourceError::kNone);
  EXPECT_EQ(image.Width(), 26);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(folder->ReadPage(0, bytes), SourceError::kNone);
  EXPECT_EQ(bytes, JpegPage(1));

  // A picture file gives its folder; a book, the book.
  EXPECT_EQ(OpenPageSource(dir / "a.jpg", error)->PageCount(), 2u);
  const auto book = OpenPageSource(dir / "book.cbz", error);
  ASSERT_NE(book, nullptr);
  EXPECT_TRUE(book->IsBook());
  EXPECT_EQ(book->Path(), dir / "book.cbz");
  EXPECT_EQ(OpenPageSource(dir / "missing.cbz", error), nullptr);
  EXPECT_EQ(error, SourceError::kOpenFailed);
}

}  // namespace
}  // namespace inkbrite
