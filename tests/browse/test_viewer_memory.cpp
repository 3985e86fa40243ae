// SPDX-License-Identifier: GPL-2.0-or-later
// A page that does not fit in memory: showing, fitting, rendering in the
// background and saving each say so and the viewer goes on. The failures are
// real: the process's address space is limited (RLIMIT_AS) just around what
// it has mapped, so the page-sized copies those steps make cannot be had.
// The test runs itself again in a fresh process, whose heap holds no free
// blocks left by earlier tests that could serve a copy without new memory.
#include <sys/resource.h>

#include <QProcess>
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define INKBRITE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define INKBRITE_SANITIZED 1
#endif
#endif

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::WaitFor;

// Bytes of address space the process has mapped (VmSize).
int64_t MappedBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  int64_t kilobytes = 0;
  while (status >> key) {
    if (key == "VmSize:" && status >> kilobytes) return kilobytes * 1024;
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// While it lives, the process may map at most `room` bytes more than it has
// mapped now (less than now when negative).
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(int64_t room) {
    getrlimit(RLIMIT_AS, &m_saved);
    rlimit limit = m_saved;
    limit.rlim_cur = static_cast<rlim_t>(MappedBytes() + room);
    m_set = setrlimit(RLIMIT_AS, &limit) == 0;
  }
  ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &m_saved); }
  AddressSpaceLimit(const AddressSpaceLimit&) = delete;
  AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
  bool IsSet() const { return m_set; }

 private:
  rlimit m_saved{};
  bool m_set = false;
};

class ViewerMemoryTest : public ui_test::AppTest {
 protected:
  void SetUp() override {
#ifdef INKBRITE_SANITIZED
    GTEST_SKIP() << "a sanitizer maps its own memory up front: address-space limits do not bite";
#endif
    AppTest::SetUp();
  }
};

// Runs the current test again in a fresh process and checks that it
// passed there; false in that fresh process, where the test itself runs.
bool RanInFreshProcess() {
  if (std::getenv("INKBRITE_FRESH_PROCESS") != nullptr) return false;
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("INKBRITE_FRESH_PROCESS"), QStringLiteral("1"));
  child.setProcessEnvironment(environment);
  child.setProcessChannelMode(QProcess::MergedChannels);
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
  EXPECT_TRUE(child.waitForFinished(180000));
  const QString output = QString::fromUtf8(child.readAll());
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
  return true;
}

TEST_F(ViewerMemoryTest, APageThatCannotBeHeldIsReportedAndTheViewerGoesOn) {
  if (RanInFreshProcess()) return;
  // 38.4 MB a copy: above the largest block glibc keeps on its heap, so
  // every copy is mapped, and unmapped when freed.
  constexpr int kWidth = 4000, kHeight = 3200;
  constexpr int64_t kPage = int64_t{kWidth} * kHeight * 3;
  ui_test::WritePage(dir / "big.bmp", kWidth, kHeight);
  CInkbriteDoc doc(nullptr);
  CInkbriteView view(&doc);
  view.resize(800, 600);
  view.show();
  doc.DirList().SetCurrentFile(dir / "big.bmp");
  ASSERT_EQ(doc.OnOpenDocument(dir / "big.bmp"), 1);
  doc.SetSavingView(&view);
  const std::vector<std::string> noMemory{kOutOfMemoryMessage};

  // Showing the page: room for half a copy.
  {
    AddressSpaceLimit limit(kPage / 2);
    ASSERT_TRUE(limit.IsSet());
    view.OnInitialUpdate();
  }
  EXPECT_EQ(messages, noMemory);
  EXPECT_TRUE(view.DisplayedSize().isEmpty());
  view.OnInitialUpdate();  // with memory again
  EXPECT_EQ(view.DisplayedSize(), QSize(kWidth, kHeight));

  // Fitting lets the page on screen go first; even then there is only room
  // for half a copy.
  messages.clear();
  {
    AddressSpaceLimit limit(-kPage / 2);
    view.ToggleFitToWindow();
  }
  EXPECT_EQ(messages, noMemory);
  EXPECT_TRUE(view.DisplayedSize().isEmpty());
  view.ToggleFitToWindow();
  EXPECT_EQ(view.DisplayedSize(), QSize(kWidth, kHeight));

  // A rendering in the background: the page on screen stays as it was, its
  // part in view too (shown first when there is room for the whole page).
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  view.viewport()->repaint();
  messages.clear();
  const DibImage before = view.DisplayedPage();
  {
    AddressSpaceLimit limit(kPage / 2);
    QApplication::postEvent(&view, new ParamChangeEvent(kBrightness, 130));
    ASSERT_TRUE(WaitFor([&] { return view.RenderFailures() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
  }
  EXPECT_EQ(messages, noMemory);
  EXPECT_TRUE(view.DisplayedPage().PackedDib() == before.PackedDib());
  QApplication::postEvent(&view, new ParamChangeEvent(kBrightness, 120));
  EXPECT_TRUE(WaitFor([&] { return view.RenderCount() == 1; }, 30000));

  // Saving: the reason, then the failure; nothing is written.
  messages.clear();
  {
    AddressSpaceLimit limit(kPage / 2);
    EXPECT_EQ(doc.SaveAs(dir / "saved.png"), 0);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{kOutOfMemoryMessage, "文件存盘失败。"}));
  EXPECT_FALSE(fs::exists(dir / "saved.png"));
  EXPECT_EQ(doc.SaveAs(dir / "saved.png"), 1);
}

// A book page too big to hold, turned to: its bytes cannot be read for its
// header on the interface thread, nor decoded, nor read ahead on the
// prefetch thread. The page says so, and the reader goes on.
TEST_F(ViewerMemoryTest, ABookPageThatCannotBeHeldIsReportedAndTheReaderGoesOn) {
  if (RanInFreshProcess()) return;
  constexpr int kWidth = 4000, kHeight = 6400;
  constexpr int64_t kPage = int64_t{kWidth} * kHeight * 3;
  ui_test::WritePage(dir / "small.bmp", 60, 80);
  ui_test::WritePage(dir / "big.bmp", kWidth, kHeight);
  {
    std::vector<test::MadeEntry> entries;
    entries.emplace_back("01.bmp", test::ReadAll(dir / "small.bmp"));
    entries.emplace_back("02.bmp", test::ReadAll(dir / "big.bmp"));
    test::WriteArchive(dir / "big.cbz", test::MadeFormat::kZipStored, entries);
  }
  fs::remove(dir / "big.bmp");
  CInkbriteDoc* doc = app->OpenDocumentFile(dir / "big.cbz");
  ASSERT_NE(doc, nullptr);
  // What was decoded ahead is let go, so the page is read when it is turned to.
  ASSERT_TRUE(WaitFor([&] { return doc->Prefetch().Decodes() >= 1; }, 30000));
  doc->Prefetch().Clear();
  {
    AddressSpaceLimit limit(kPage / 2);
    ASSERT_TRUE(limit.IsSet());
    Frame()->ActiveView()->NextPage();
    ui_test::Settle(300);
  }
  EXPECT_EQ(messages,
            std::vector<std::string>{std::string("big.cbz：02.bmp\n") + kOutOfMemoryMessage});
  EXPECT_EQ(doc->DirList().GetCurrentIndex(), 2);
  messages.clear();
  Frame()->ActiveView()->PreviousPage();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(doc->Page().Width(), 60);
}

}  // namespace
}  // namespace inkbrite
