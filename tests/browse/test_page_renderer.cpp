// SPDX-License-Identifier: GPL-2.0-or-later
// PageRenderer driven alone, without a widget: the picture it shows is the
// page enhanced with the parameters it was given last, laid out as asked,
// after any sequence of changes, source replacements and page changes; each
// change renders once, an unchanged set not at all.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "browse/reading/page_renderer.h"
#include "core/enhance.h"
#include "core/jpeg_cleanup.h"
#include "core/learned.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

EnhanceSettings With(const std::vector<std::pair<int, int>>& values) {
  EnhanceSettings settings;
  for (const auto& [slot, value] : values) settings.Set(slot, value);
  return settings;
}

// What the renderer must show: `source` (fitted into `box` when asked, as
// the renderer fits: the same resampling, then no resize by the steps)
// enhanced with `params`.
std::vector<uint8_t> Expected(const DibImage& source, const PageRenderer::Layout& layout,
                              const EnhanceSettings& params) {
  DibImage page = source;
  if (layout.fit) {
    int32_t w = 0, h = 0;
    page.FitSize(layout.box.width(), layout.box.height(), w, h);
    if (w != page.Width() || h != page.Height()) {
      EXPECT_TRUE(page.ResizeTo(w, h));
    }
  }
  EXPECT_EQ(EnhanceImage(params, page, {}, layout.fit), 0);
  return page.PackedDib();
}

struct Step {
  enum Kind { kParameters, kReplaceSource, kShowPage } kind;
  EnhanceSettings params;  // kParameters, kShowPage
  int renders;             // background renderings this step adds
};

struct Case {
  const char* name;
  int width, height;
  bool fit;
  QSize box;
  QRect partInView;  // set before the steps (empty: none)
  std::vector<Step> steps;
};

const EnhanceSettings kBright = With({{kBrightness, 140}});
const EnhanceSettings kDark = With({{kBrightness, 60}, {kContrast, 130}});
const EnhanceSettings kSharp = With({{kSharpen, 3}, {kGamma, 80}});
const EnhanceSettings kScaled = With({{kResize, 150}});

TEST(PageRendererTest, ShowsTheLastParametersAfterEverySequence) {
  const std::vector<Case> cases = {
      {"one change", 300, 200, false, {}, {}, {{Step::kParameters, kBright, 1}}},
      {"unchanged set renders nothing",
       300,
       200,
       false,
       {},
       {},
       {{Step::kParameters, EnhanceSettings(), 0},
        {Step::kParameters, kDark, 1},
        {Step::kParameters, kDark, 0}}},
      {"fitted, then a resize by the steps",
       900,
       1300,
       true,
       {400, 300},
       {},
       {{Step::kParameters, kSharp, 1}, {Step::kParameters, kScaled, 1}}},
      {"part in view first, then the whole page",
       1200,
       1600,
       false,
       {},
       {100, 100, 200, 150},
       {{Step::kParameters, kBright, 1}, {Step::kParameters, kSharp, 1}}},
      {"a fuller source renders with the set in force",
       500,
       400,
       false,
       {},
       {},
       {{Step::kParameters, kDark, 1}, {Step::kReplaceSource, {}, 1}}},
      {"another page while rendering",
       1500,
       1500,
       false,
       {},
       {},
       {{Step::kParameters, kSharp, -1},
        {Step::kShowPage, kBright, 0},
        {Step::kParameters, kDark, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PageRenderer renderer;
    std::vector<quint64> said;
    QObject::connect(&renderer, &PageRenderer::rendered,
                     [&](quint64 generation) { said.push_back(generation); });
    auto source = std::make_shared<const DibImage>(test::MakePattern(c.width, c.height));
    PageRenderer::Layout layout;
    layout.fit = c.fit;
    layout.box = c.box;
    ASSERT_TRUE(renderer.ShowPage(source, layout, EnhanceSettings()));
    // Opening renders on the calling thread: the picture is there at once.
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(*source, layout, EnhanceSettings()));
    renderer.SetPartInView(c.partInView);
    EnhanceSettings inForce;
    int renders = 0;
    for (const Step& step : c.steps) {
      if (step.kind == Step::kParameters) {
        inForce = step.params;
        renderer.SetParameters(step.params);
      } else if (step.kind == Step::kReplaceSource) {
        source = std::make_shared<const DibImage>(test::MakePattern(c.width, c.height + 10));
        renderer.ReplaceSource(source);
      } else {
        // A page change stops a rendering under way; the new page comes
        // with its own set.
        inForce = step.params;
        source = std::make_shared<const DibImage>(test::MakePattern(c.width / 2, c.height / 3));
        ASSERT_TRUE(renderer.ShowPage(source, layout, inForce));
        renders = renderer.RenderCount();
        continue;
      }
      if (step.renders < 0) continue;  // not waited for
      renders += step.renders;
      ASSERT_TRUE(WaitFor(
          [&] { return !renderer.RenderPending() && renderer.RenderCount() >= renders; }, 20000));
      EXPECT_EQ(renderer.RenderCount(), renders);
      EXPECT_EQ(renderer.Picture().PackedDib(), Expected(*source, layout, inForce));
    }
    EXPECT_EQ(renderer.RenderFailures(), 0);
    // Only a page change may end a rendering unfinished.
    const bool changedPage = c.steps.size() > 1 && c.steps[1].kind == Step::kShowPage;
    if (!changedPage) {
      EXPECT_EQ(renderer.RenderStarts(), renderer.RenderCount());
    }
    // Every rendering and part is said, with the generation it put in place
    // (the news is posted after the count, so it may come a little later).
    EXPECT_TRUE(
        WaitFor([&] { return !said.empty() && said.back() == renderer.Generation(); }, 20000))
        << (said.empty() ? 0 : said.back()) << " said, " << renderer.Generation() << " in place";
    if (!c.partInView.isEmpty()) {
      EXPECT_GE(renderer.PartPictures(), 1);
    }
  }
}

// Many changes in a row, faster than a rendering: the picture ends with the
// last set, and fewer renderings than changes may run, never more.
TEST(PageRendererTest, ChangesInARowEndWithTheLast) {
  PageRenderer renderer;
  const auto source = std::make_shared<const DibImage>(test::MakePattern(1400, 1000));
  ASSERT_TRUE(renderer.ShowPage(source, {}, EnhanceSettings()));
  renderer.SetPartInView({0, 0, 300, 200});
  EnhanceSettings last;
  for (int i = 1; i <= 12; ++i) {
    last = With({{kBrightness, 100 + 5 * i}, {kSharpen, i % 3}});
    renderer.SetParameters(last);
  }
  ASSERT_TRUE(WaitFor([&] { return !renderer.RenderPending(); }));
  EXPECT_LE(renderer.RenderStarts(), 12);
  EXPECT_EQ(renderer.Picture().PackedDib(), Expected(*source, {}, last));
}

// No page: nothing shown, nothing rendered, and a change does not start a
// thread that would render nothing.
TEST(PageRendererTest, NoPageShowsNothing) {
  PageRenderer renderer;
  EXPECT_TRUE(renderer.ShowPage(nullptr, {}, kBright));
  renderer.SetParameters(kDark);
  QApplication::processEvents();
  EXPECT_TRUE(renderer.PictureSize().isEmpty());
  EXPECT_EQ(renderer.RenderStarts(), 0);
}

// A restoration step turned on while the page is shown renders it again
// from its source, the JPEG clean-up by the table the page came with (not
// the usual one assumed without it).
TEST(PageRendererTest, ASourceStepTurnedOnFollowsThePagesJpegTable) {
  const DibImage source = test::MakeNoise(96, 64, 5);
  PageRenderer::Layout layout;
  layout.jpeg = StandardJpegQuantisers(15);
  const EnhanceSettings on = With({{kJpegCleanup, 1}});
  DibImage expected = source, assumed = source;
  CleanJpegArtefacts(expected, &*layout.jpeg);
  CleanJpegArtefacts(assumed, nullptr);
  ASSERT_NE(expected.PackedDib(), assumed.PackedDib());
  PageRenderer renderer;
  ASSERT_TRUE(renderer.ShowPage(std::make_shared<const DibImage>(source), layout, {}));
  EXPECT_EQ(renderer.Picture().PackedDib(), source.PackedDib());
  renderer.SetParameters(on);
  ASSERT_TRUE(WaitFor([&] { return renderer.RenderCount() == 1 && !renderer.RenderPending(); }));
  EXPECT_EQ(renderer.Picture().PackedDib(), Expected(expected, layout, on));
  EXPECT_TRUE(renderer.Findings().jpegCleanupRan);
}

// The learned step takes seconds: the page is shown at once without it (at
// the size it gives), fills in with the step's page, the same bytes as the
// steps run in a row, and a page shown again (read again: another copy of
// the same pixels) is shown with it at once, not made again.
TEST(PageRendererTest, TheLearnedStepFillsInAndIsKeptForThePageShownAgain) {
  DibImage probe = test::MakeNoise(8, 8, 1);
  if (!ApplyLearned(probe, {0, -1, 2})) GTEST_SKIP() << "no codec helper or waifu2x weights";
  const DibImage source = test::MakeNoise(60, 44, 9);
  const EnhanceSettings params = With({{kLearned, 1},
                                       {kLearnedModel, 0},
                                       {kLearnedNoise, -1},
                                       {kLearnedScale, 2},
                                       {kBrightness, 120}});
  DibImage staged = source, second;
  PageFindings found[2];
  ASSERT_EQ(PrepareSourcePages(params, staged, second, found).pages, 1);
  ASSERT_EQ(staged.Width(), 120);
  const std::vector<uint8_t> want = Expected(staged, {}, params);

  PageRenderer renderer;
  ASSERT_TRUE(renderer.ShowPage(std::make_shared<const DibImage>(source), {}, params));
  EXPECT_TRUE(renderer.LearnedWaiting());
  EXPECT_EQ(renderer.PictureSize(), QSize(120, 88));
  EXPECT_NE(renderer.Picture().PackedDib(), want);
  ASSERT_TRUE(WaitFor([&] { return !renderer.LearnedWaiting() && !renderer.RenderPending(); }));
  EXPECT_EQ(renderer.Picture().PackedDib(), want);
  EXPECT_TRUE(renderer.Findings().learnedDone);

  const int made = LearnedPages::Shared().Made();
  PageRenderer again;
  ASSERT_TRUE(again.ShowPage(std::make_shared<const DibImage>(DibImage(source)), {}, params));
  EXPECT_FALSE(again.LearnedWaiting());
  EXPECT_EQ(again.Picture().PackedDib(), want);
  // Another setting of the step is another page.
  ASSERT_TRUE(again.ShowPage(
      std::make_shared<const DibImage>(source), {},
      With({{kLearned, 1}, {kLearnedModel, 0}, {kLearnedNoise, 1}, {kLearnedScale, 2}})));
  EXPECT_TRUE(again.LearnedWaiting());
  EXPECT_EQ(LearnedPages::Shared().Made(), made);
  ASSERT_TRUE(WaitFor([&] { return !again.LearnedWaiting() && !again.RenderPending(); }));
  EXPECT_EQ(LearnedPages::Shared().Made(), made + 1);
}

TEST(PageRendererTest, APageNotFittedShowsTheLearnedPartInViewFirst) {
  DibImage probe = test::MakeNoise(8, 8, 1);
  if (!ApplyLearned(probe, {0, -1, 2})) GTEST_SKIP() << "no codec helper or waifu2x weights";
  const DibImage source = test::MakeNoise(360, 280, 5);
  const EnhanceSettings params =
      With({{kLearned, 1}, {kLearnedModel, 0}, {kLearnedNoise, 0}, {kLearnedScale, 2}});
  PageRenderer renderer;
  // Each picture while the learned page is made, kept with its stand-ins.
  std::vector<std::pair<int, DibImage>> seen;
  QObject::connect(&renderer, &PageRenderer::rendered, [&] {
    if (renderer.LearnedWaiting()) seen.emplace_back(renderer.LearnedParts(), renderer.Picture());
  });
  ASSERT_TRUE(renderer.ShowPage(std::make_shared<const DibImage>(source), {}, params));
  ASSERT_TRUE(renderer.LearnedWaiting());
  // The window shows a part of the doubled page, as a paint tells.
  const QRect inView(300, 210, 240, 160);
  renderer.SetPartInView(inView);
  ASSERT_TRUE(WaitFor([&] { return !renderer.LearnedWaiting() && !renderer.RenderPending(); }));
  const DibImage whole = renderer.Picture();
  ASSERT_EQ(whole.Width(), 720);
  // A stand-in showed the part in view as the learned page has it, the
  // rest of the page without the step.
  const auto it = std::find_if(seen.begin(), seen.end(), [](const auto& s) { return s.first > 0; });
  ASSERT_NE(it, seen.end());
  const DibImage& first = it->second;
  ASSERT_EQ(first.Width(), whole.Width());
  const auto rowPart = [&](const DibImage& page, int y, int left, int width) {
    return std::vector<uint8_t>(page.Row(y) + size_t(left) * 3,
                                page.Row(y) + size_t(left + width) * 3);
  };
  for (int y = inView.top(); y <= inView.bottom(); ++y) {
    ASSERT_EQ(rowPart(first, y, inView.left(), inView.width()),
              rowPart(whole, y, inView.left(), inView.width()))
        << "row " << y;
  }
  EXPECT_NE(rowPart(first, 20, 0, 720), rowPart(whole, 20, 0, 720));
}

// A picture held alone, its source let go after a rendering or the page
// rendered in its own pixels: a change meanwhile is taken without a page
// to render from, and rendered once the source is given back.
TEST(PageRendererTest, APictureHeldAloneTakesAChangeOnceItsSourceIsBack) {
  const DibImage source = test::MakeNoise(80, 60, 5);
  for (const bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "rendered in place" : "source let go");
    PageRenderer renderer;
    if (inPlace) {
      ASSERT_TRUE(renderer.RenderInPlace(std::make_shared<DibImage>(source), kBright));
    } else {
      ASSERT_TRUE(renderer.ShowPage(std::make_shared<const DibImage>(source), {}, kBright));
    }
    ASSERT_TRUE(WaitFor([&] { return !renderer.RenderPending(); }));
    if (!inPlace) {
      EXPECT_TRUE(renderer.LetSourceGo());
    }
    EXPECT_EQ(renderer.Source(), nullptr);
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(source, {}, kBright));
    renderer.SetParameters(kDark);
    ASSERT_TRUE(WaitFor([&] { return !renderer.RenderPending(); }));
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(source, {}, kBright));
    renderer.ReplaceSource(std::make_shared<const DibImage>(source));
    ASSERT_TRUE(WaitFor([&] { return !renderer.RenderPending(); }));
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(source, {}, kDark));
    EXPECT_EQ(renderer.RenderFailures(), 0);
  }
  // Not with a source step: the renderer keeps nothing of the page.
  PageRenderer renderer;
  EXPECT_FALSE(renderer.RenderInPlace(std::make_shared<DibImage>(source), With({{kAutoCrop, 1}})));
  EXPECT_TRUE(renderer.PictureSize().isEmpty());
}

TEST(PageRendererTest, APictureTheParametersLeaveAsItWasIsThePageItself) {
  // A grey page (three equal bytes a pixel), which the default colour mode
  // leaves as it is.
  const DibImage noise = test::MakeNoise(90, 70, 3);
  const DibImage source = test::MakeImage(90, 70, [&](int x, int y) {
    const uint8_t v = noise.Row(y)[x * 3];
    return test::Bgr{v, v, v};
  });
  const auto page = std::make_shared<const DibImage>(source);
  PageRenderer::Layout fitted;
  fitted.fit = true;
  fitted.box = QSize(45, 35);
  struct Shown {
    const char* name;
    PageRenderer::Layout layout;
    EnhanceSettings params;
    bool itself;
  };
  for (const Shown& c : {Shown{"the defaults", {}, With({}), true},
                         Shown{"fitted, the defaults", fitted, With({}), true},
                         Shown{"brighter", {}, With({{kBrightness, 120}}), false},
                         Shown{"sharpened, fitted", fitted, With({{kSharpen, 3}}), false}}) {
    SCOPED_TRACE(c.name);
    PageRenderer renderer;
    ASSERT_TRUE(renderer.ShowPage(page, c.layout, c.params));
    EXPECT_EQ(renderer.PictureIsBase(), c.itself);
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(source, c.layout, c.params));
    // A change that does something, then back: the page itself again.
    renderer.SetParameters(With({{kContrast, 130}}));
    ASSERT_TRUE(WaitFor([&] { return !renderer.RenderPending(); }));
    EXPECT_FALSE(renderer.PictureIsBase());
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(source, c.layout, With({{kContrast, 130}})));
    renderer.SetParameters(c.params);
    ASSERT_TRUE(WaitFor([&] { return !renderer.RenderPending(); }));
    EXPECT_EQ(renderer.PictureIsBase(), c.itself);
    EXPECT_EQ(renderer.Picture().PackedDib(), Expected(source, c.layout, c.params));
  }
}

}  // namespace
}  // namespace inkbrite
