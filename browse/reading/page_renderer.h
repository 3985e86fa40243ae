// SPDX-License-Identifier: GPL-2.0-or-later
// PageRenderer: the picture a view shows, made from the page it is given
// and kept in step with the parameters it is given, with no widget of its
// own (a view paints it; a test or a strip of pages can drive it alone).
//
// ShowPage renders a page at once on the calling thread (the user-interface
// thread: opening a page, fitting it), from its base page: the source page
// after the automatic source steps (one page of a split spread), or that
// fitted into the layout's box once, so a change never scales the full page
// again. Afterwards a worker thread keeps the picture in step with the
// parameters: SetParameters wakes it at once (it never polls), and when
// they differ from the ones the picture was made with it renders the base
// page again into an image of its own, puts it in place under the picture's
// lock and says rendered(generation). A page at least twice the size of the
// part of it in view (SetPartInView; not fitted) gets that part first,
// rendered alone (the same bytes as the whole page there) and written over
// the picture, then the whole page replaces it band by band; a further
// change meanwhile gives the whole page up for its own part. A change that
// needs the whole page (a resize, auto levels, a colour reduction, another
// crop, the automatic source steps) renders the whole page at once.
// ReplaceSource puts a fuller decoding of the same page in place of the
// source (a big page loading in the background): the worker renders it
// while the earlier picture stays.
//
// A page or a copy that cannot be held in memory leaves no picture
// (ShowPage returns false) or the picture as it was (a background rendering:
// renderFailed is said); the worker goes on.
//
// Threads: every call from one owning thread (the user-interface thread);
// the signals are delivered there (queued). The worker never waits for the
// owning thread, so stopping it cannot deadlock, and a reader of the
// picture (under its lock) never sees a page being written.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "browse/reading/learned_pages.h"
#include "browse/reading/worker_thread.h"
#include "core/auto_steps.h"
#include "core/dib_image.h"
#include "core/enhance.h"
#include "core/jpeg_cleanup.h"
#include "core/page_histogram.h"
#include "core/para_block.h"

namespace inkbrite {

class PageRenderer : public QObject {
  Q_OBJECT

 public:
  // How the page is laid out: at full size, or fitted into `box` (the
  // client area); `ahead`: the source already fitted into that box by the
  // same scaling (taken instead of fitting again; null: none). `rough`: a
  // large page without source steps (two pages side by side) may be fitted
  // by sampling first, the exact fitting following from the worker. `part`:
  // the page of a split spread to show (-1: the last).
  struct Layout {
    bool fit = false;
    QSize box;
    std::shared_ptr<const DibImage> ahead;
    bool rough = false;
    int part = 0;
    // The luminance table of the JPEG file the page was decoded from, for
    // the JPEG clean-up (none: the usual quality-50 table is assumed).
    std::optional<JpegQuantisers> jpeg;
  };

  explicit PageRenderer(QObject* parent = nullptr);
  ~PageRenderer() override;
  PageRenderer(const PageRenderer&) = delete;
  PageRenderer& operator=(const PageRenderer&) = delete;

  // Stops the worker, renders `source` laid out by `layout` with `params`
  // and starts the worker: true when the page is shown; false when it
  // cannot be held (no picture then; the caller says so). A null source
  // clears the picture.
  bool ShowPage(std::shared_ptr<const DibImage> source, const Layout& layout,
                const EnhanceSettings& params);
  // The source replaced by the same page decoded further: rendered by the
  // worker with the parameters in force, the picture staying meanwhile.
  // After LetSourceGo it gives the page back the same way.
  void ReplaceSource(std::shared_ptr<const DibImage> source);
  // The picture kept alone, the source and base page it was made from let
  // go (the worker stopped): true when they went. Not while a rendering is
  // due, the learned step's page awaited, the layout fitted, or the picture
  // is the base page itself. A change of parameters meanwhile is taken and
  // rendered once ReplaceSource gives the page back.
  bool LetSourceGo();
  // `page` rendered with `params` by the worker in its own pixels, no copy
  // made, and then the picture; meanwhile there is none. No source is kept,
  // as after LetSourceGo. Not for parameters with source steps or the
  // learned step (false: nothing done).
  bool RenderInPlace(std::shared_ptr<DibImage> page, const EnhanceSettings& params);
  // The parameters to render with; the worker starts at once when they
  // differ from the picture's.
  void SetParameters(const EnhanceSettings& params);
  // The page auto levels measures, when the page shown is a piece of it
  // (EnhanceHooks::levelsFrom; null: the page shown): a new one renders again.
  void SetLevelsFrom(std::shared_ptr<const DibImage> page);
  // The picture's pixels in view (what a change renders first).
  void SetPartInView(QRect part);
  // Stops the worker (a rendering under way is given up).
  void Stop();

  const std::shared_ptr<const DibImage>& Source() const { return m_source; }
  bool IsFitted() const { return m_fitted; }

  // The picture, read under its lock: `paint` gets the rendered page, the
  // unenhanced page it was made from (null when none) and the size of the
  // source page it was made from; the generation is returned. Nothing of
  // it may be kept past the call, and `paint` must not call back.
  uint64_t Read(const std::function<void(const DibImage& page, const DibImage* original,
                                         QSize source)>& paint) const;
  DibImage Picture() const;
  QSize PictureSize() const;
  // The picture is the base page itself, no copy of it: the parameters
  // leave it as it is.
  bool PictureIsBase() const;
  // The size of the source page the picture was made from (a stand-in for
  // a page still being decoded is smaller than the page that replaces it).
  QSize PictureSourceSize() const;
  // The picture lacks the learned step its settings ask for: the page with
  // it is being made (LearnedPages) and replaces this one when done.
  bool LearnedWaiting() const { return m_learnedWaiting; }
  // Stand-ins made with the learned step's part in view in them (a page not
  // fitted shows that part first, LearnedPages).
  int LearnedParts() const { return m_learnedParts.load(); }
  // Pictures put in place so far (each ShowPage, part and rendering counts
  // one).
  uint64_t Generation() const;
  // The histogram of the picture, counted as each one is put in place.
  PageHistogram Histogram() const;
  // What the automatic steps found on the picture's page, and which page
  // of a split spread it is (0 or 1) of how many the source gave.
  PageFindings Findings() const;
  int Part() const { return m_part; }
  int Parts() const { return m_parts.load(); }

  // Background renderings begun (each woken by a change), finished, given
  // up for lack of memory; parts in view shown ahead of their whole page;
  // pages shown roughly fitted first.
  int RenderStarts() const { return m_renderStarts.load(); }
  int RenderCount() const { return m_renderCount.load(); }
  int RenderFailures() const { return m_renderFailures.load(); }
  int RendersOnWake() const { return m_rendersOnWake.load(); }
  int PartPictures() const { return m_partPictures.load(); }
  int RoughPictures() const { return m_roughPictures; }
  // A rendering is under way, or due.
  bool RenderPending() const {
    return m_rebase.load() || m_wakePending.load() || m_renderStarts.load() != m_renderEnds.load();
  }

 signals:
  // A picture (a part or a whole page) is in place; `generation` is its
  // Generation().
  void rendered(quint64 generation);
  // A page, or a copy a rendering needed, did not fit in memory, or no
  // thread could be had.
  void renderFailed();

 private:
  class Worker : public CWorkerThread {
   public:
    explicit Worker(PageRenderer& renderer) : m_renderer(renderer) {}
    ~Worker() override { Stop(); }

   protected:
    void OnStopRequest() override { m_renderer.Wake(); }

   private:
    PageRenderer& m_renderer;
  };
  // kNothing: no page to render from (rendered in place, its source let
  // go): a change waits for ReplaceSource.
  enum class Rendering { kDone, kStopped, kNoMemory, kSuperseded, kNothing };

  void Wake();
  void StartWorker();
  int Routine();
  Rendering RenderOnce(const EnhanceHooks& hooks);
  Rendering RenderPageInPlace(const EnhanceHooks& hooks);
  bool RenderPartInView(const EnhanceHooks& hooks, DibImage& room);
  // The parameters asked for differ from the ones being rendered.
  bool ParametersMoved() const;
  bool MakeBase(bool fit, const EnhanceSettings& params, bool rough);
  // The source stage's page (null: no room for it).
  std::shared_ptr<const DibImage> StageSource(bool fit, const EnhanceSettings& params);
  Rendering Prepare(DibImage& page, const EnhanceSettings& params, const EnhanceHooks& hooks,
                    PageFindings& findings) const;
  // `page` enhanced with `params`, the findings and the page auto levels
  // measures in its hooks.
  Rendering Enhance(DibImage& page, const EnhanceSettings& params, const EnhanceHooks& hooks,
                    PageFindings& findings, bool fitted) const;
  // The picture put in place; one with the pixels of `original` is
  // `original` itself (its copy let go).
  void SetPicture(DibImage page, std::shared_ptr<const DibImage> original,
                  const PageFindings& findings);
  // The picture (under m_pictureMutex): its own, or the base shown itself.
  const DibImage& ShownLocked() const { return m_pictureShared ? *m_pictureShared : m_picture; }
  void Say(bool failed);

  Worker m_worker{*this};
  std::mutex m_wakeMutex;
  std::condition_variable m_wakeSignal;
  bool m_wake = false;
  std::atomic<bool> m_wakePending{false};  // a change not yet taken by the worker

  // The parameters asked for (guarded by m_paramsMutex) and the ones the
  // worker renders (its own while it runs).
  mutable std::mutex m_paramsMutex;
  EnhanceSettings m_wanted;
  EnhanceSettings m_rendering;
  std::shared_ptr<const DibImage> m_levelsFrom;  // likewise guarded

  // The source page and the base page the picture is made from, with their
  // layout; written by the owning thread only while the worker is stopped,
  // the base then by the worker when the source steps' slots change.
  std::shared_ptr<const DibImage> m_source;
  std::optional<JpegQuantisers> m_jpeg;  // the source file's, set with it
  std::shared_ptr<const DibImage> m_base;
  bool m_fitted = false;
  QSize m_box;
  std::shared_ptr<const DibImage> m_ahead;
  std::shared_ptr<DibImage> m_inPlace;  // RenderInPlace's page, taken by the worker
  bool m_roughBase = false;
  int m_roughPictures = 0;
  PageFindings m_baseFindings;
  QSize m_baseSource;  // the source's size when the base was made
  std::array<int, kParaSlotCount - kBaseSlotCount> m_baseAuto{};
  int m_part = 0;
  std::atomic<int> m_parts{1};

  mutable std::mutex m_pictureMutex;
  DibImage m_picture;                               // guarded by m_pictureMutex
  std::shared_ptr<const DibImage> m_pictureShared;  // likewise: the base, when it is the picture
  std::shared_ptr<const DibImage> m_original;       // likewise
  PageFindings m_findings;                          // likewise
  PageHistogram m_histogram;                        // likewise
  uint64_t m_generation = 0;                        // likewise
  QSize m_pictureSource;                            // likewise
  QRect m_partInView;                               // likewise

  std::atomic<int> m_renderStarts{0};
  std::atomic<int> m_renderCount{0};
  std::atomic<int> m_renderFailures{0};
  std::atomic<int> m_rendersOnWake{0};
  std::atomic<int> m_partPictures{0};
  std::atomic<int> m_renderEnds{0};
  // The source was replaced (or the base sampled): the next rendering makes
  // the base again even when the parameters did not change.
  std::atomic<bool> m_rebase{false};

  // The learned step's page asked for (m_learnedMutex), and whether the
  // picture waits for it. The maker's answer reaches this renderer through
  // m_answers, cut when the renderer goes.
  void AskLearned(const LearnedPages::Key& key, const EnhanceSettings& params);
  void LearnedMade(const LearnedPages::Key& key, LearnedPages::Answer made);
  void LearnedPartMade(const LearnedPages::Key& key, std::shared_ptr<const DibImage> part,
                       DibRect rect);
  // The learned part made first, put into the stand-in `page` (the source
  // at the step's scale) when it belongs to it.
  void PutLearnedPart(const LearnedPages::Key& key, DibImage& page, int scale);
  struct Answers {
    std::mutex mutex;
    PageRenderer* renderer = nullptr;
  };
  std::shared_ptr<Answers> m_answers = std::make_shared<Answers>();
  // `call` run on the renderer's thread, if the renderer is still there.
  static void PostAnswer(const std::weak_ptr<Answers>& answers,
                         std::function<void(PageRenderer&)> call);
  std::mutex m_learnedMutex;
  std::optional<LearnedPages::Key> m_learnedAsked;  // guarded by m_learnedMutex
  std::atomic<bool> m_learnedWaiting{false};
  struct LearnedPart {
    LearnedPages::Key key;
    DibRect rect;  // of the source
    std::shared_ptr<const DibImage> page;
  };
  std::optional<LearnedPart> m_learnedPart;  // guarded by m_learnedMutex
  std::atomic<int> m_learnedParts{0};
};

}  // namespace inkbrite
