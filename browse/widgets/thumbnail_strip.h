// SPDX-License-Identifier: GPL-2.0-or-later
// CThumbnailStrip: a dock showing small pictures of the pages of the active
// window's folder or book in the display order, the page shown marked;
// clicking one opens that page. Docked at the top or bottom it is one row;
// at the side it is a grid as wide as the dock.
//
// The pictures come from two threads of the strip's own (sources/
// page_thumbnails.h: the thumbnail cache, else made from the page), the
// pages on screen first, then onward from there; the pictures wait in the
// strip's list under its mutex, and a queued call (carrying nothing) has the
// interface thread show them. A page that cannot be read gets a crossed
// placeholder.
//
// Threads: user-interface thread, plus the strip's threads, which read
// pages through the page source (safe from any thread), share their list
// under its mutex and never wait for the interface thread.
#pragma once

#include <QDockWidget>
#include <QImage>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "browse/reading/work_team.h"
#include "sources/page_source.h"

class QListWidget;

namespace inkbrite {

class CInkbriteDoc;

// Whether the user wants the strip (kept in the settings under
// View/Thumbnails; off at first).
bool ThumbnailStripWanted();
void SetThumbnailStripWanted(bool wanted);

class CThumbnailStrip : public QDockWidget {
  Q_OBJECT

 public:
  // What an item shows.
  enum class ItemState { kWaiting, kShown, kBroken };

  explicit CThumbnailStrip(QWidget* parent);
  ~CThumbnailStrip() override;

  // Lists the pages of `doc` (null: none) and marks its current page; cheap
  // when the pages are the ones already listed. Nothing is made while the
  // strip is hidden; it catches up when shown.
  void ShowDocument(CInkbriteDoc* doc);

  QListWidget* List() const { return m_list; }
  int Count() const;
  ItemState StateAt(int position) const;  // 1-based, as the page counter
  // The page marked as shown (1-based; the first of a spread, whose two
  // pages are marked); 0 with none.
  int MarkedPosition() const;
  int MarkedCount() const { return m_markedCount; }
  // True once every listed page has its picture or its placeholder.
  bool AllArrived() const;

 signals:
  // The user picked the page at `position` (1-based in the display order).
  void PageChosen(int position);
  // The strip's own close button was pressed.
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // A new interface language: the title.
  void changeEvent(QEvent* event) override;

 private slots:
  // Posted by the threads (with no data: the pictures wait in the job,
  // under its mutex): shows the pictures that arrived.
  void OnArrivals();

 private:
  struct Job;
  void Rebuild(std::shared_ptr<PageSource> source, std::vector<size_t> order);
  void StopWorker();
  void StartWorker();
  void WorkerLoop(const std::shared_ptr<Job>& job);
  void OnArrived(int position, const QImage& picture);
  void UpdateVisibleRange();
  void Mark(int position, int count);
  void FollowDockArea(Qt::DockWidgetArea area);

  QListWidget* m_list;
  std::shared_ptr<PageSource> m_source;
  std::vector<size_t> m_order;  // source page indexes in display order
  int m_marked = 0;
  int m_markedCount = 1;  // two for a spread
  int m_arrived = 0;

  std::shared_ptr<Job> m_job;
  WorkTeam m_workers;
};

}  // namespace inkbrite
