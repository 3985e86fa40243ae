// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/thumbnail_strip.h"

#include <QEvent>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <algorithm>

#include "browse/inkbrite_doc.h"
#include "browse/widgets/dib_paint.h"
#include "sources/page_thumbnails.h"

namespace inkbrite {

namespace {

constexpr ThumbnailSize kSize = ThumbnailSize::kNormal;
constexpr int kStateRole = Qt::UserRole + 1;
// Threads making thumbnails (at most; never more than the processor's cores).
constexpr unsigned kMaxThreads = 2;
// Room around a picture in the grid, and for its page number below it.
constexpr int kCellMargin = 10;
constexpr int kLabelHeight = 22;

// A page-shaped grey card; crossed for a page that cannot be read.
QPixmap Placeholder(bool broken) {
  const int side = ThumbnailPixels(kSize);
  QPixmap card(side * 3 / 4, side);
  card.fill(QColor(0xd8, 0xd8, 0xd8));
  QPainter painter(&card);
  painter.setPen(QColor(0x90, 0x90, 0x90));
  painter.drawRect(card.rect().adjusted(0, 0, -1, -1));
  if (broken) {
    painter.setPen(QPen(QColor(0xb0, 0x30, 0x30), 3));
    const QRect r = card.rect().adjusted(16, 24, -16, -24);
    painter.drawLine(r.topLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomLeft());
  }
  return card;
}

constexpr const char* kWantedKey = "View/Thumbnails";

}  // namespace

bool ThumbnailStripWanted() {
  return QSettings().value(QString::fromLatin1(kWantedKey), false).toBool();
}

void SetThumbnailStripWanted(bool wanted) {
  QSettings().setValue(QString::fromLatin1(kWantedKey), wanted);
}

// What the strip's thread works through: the listed pages, which of them
// are taken, and the positions on screen, taken first.
struct CThumbnailStrip::Job : TeamJob {
  std::shared_ptr<PageSource> source;
  std::vector<size_t> order;
  size_t firstVisible = 0;  // guarded by mutex
  size_t lastVisible = 0;   // guarded by mutex
  // Pictures made and not yet shown (a null picture: the page cannot be
  // read), and whether the interface thread has been told.
  std::vector<std::pair<int, QImage>> arrived;  // guarded by mutex
  bool posted = false;                          // guarded by mutex

  // The next position to make: on screen, then after it, then before it.
  // False when every position is taken or the job is stopped.
  bool Next(size_t& position) {
    std::lock_guard lock(mutex);
    if (stop) return false;
    const size_t count = taken.size();
    const size_t last = std::min(lastVisible, count == 0 ? 0 : count - 1);
    for (size_t i = firstVisible; i <= last && i < count; ++i) {
      if (!taken[i]) return Take(i, position);
    }
    for (size_t i = last + 1; i < count; ++i) {
      if (!taken[i]) return Take(i, position);
    }
    for (size_t i = 0; i < std::min(firstVisible, count); ++i) {
      if (!taken[i]) return Take(i, position);
    }
    return false;
  }
};

void CThumbnailStrip::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) setWindowTitle(tr("缩略图"));
  QDockWidget::changeEvent(event);
}

CThumbnailStrip::CThumbnailStrip(QWidget* parent)
    : QDockWidget(tr("缩略图"), parent), m_list(new QListWidget(this)) {
  setObjectName(QStringLiteral("thumbnailStrip"));
  setAllowedAreas(Qt::AllDockWidgetAreas);
  m_list->setObjectName(QStringLiteral("thumbnailList"));
  m_list->setViewMode(QListView::IconMode);
  m_list->setMovement(QListView::Static);
  m_list->setResizeMode(QListView::Adjust);
  m_list->setUniformItemSizes(true);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  const int side = ThumbnailPixels(kSize);
  m_list->setIconSize(QSize(side, side));
  m_list->setGridSize(QSize(side + kCellMargin, side + kCellMargin + kLabelHeight));
  m_list->setMinimumWidth(side + kCellMargin + m_list->verticalScrollBar()->sizeHint().width() + 4);
  setWidget(m_list);
  connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    const int position = m_list->row(item) + 1;
    if (position != m_marked) emit PageChosen(position);
  });
  connect(m_list, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const int position = m_list->row(item) + 1;
    if (position != m_marked) emit PageChosen(position);
  });
  for (QScrollBar* bar : {m_list->verticalScrollBar(), m_list->horizontalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this] { UpdateVisibleRange(); });
  }
  connect(this, &QDockWidget::dockLocationChanged, this,
          [this](Qt::DockWidgetArea area) { FollowDockArea(area); });
  FollowDockArea(Qt::LeftDockWidgetArea);
}

CThumbnailStrip::~CThumbnailStrip() { StopWorker(); }

void CThumbnailStrip::FollowDockArea(Qt::DockWidgetArea area) {
  // A row along the top or bottom edge, a grid down the side.
  const bool row = area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
  m_list->setFlow(QListView::LeftToRight);
  m_list->setWrapping(!row);
  m_list->setHorizontalScrollBarPolicy(row ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

int CThumbnailStrip::Count() const { return m_list->count(); }

CThumbnailStrip::ItemState CThumbnailStrip::StateAt(int position) const {
  const QListWidgetItem* item = m_list->item(position - 1);
  return item ? static_cast<ItemState>(item->data(kStateRole).toInt()) : ItemState::kWaiting;
}

int CThumbnailStrip::MarkedPosition() const { return m_marked; }

bool CThumbnailStrip::AllArrived() const { return m_arrived == m_list->count(); }

void CThumbnailStrip::ShowDocument(CInkbriteDoc* doc) {
  std::shared_ptr<PageSource> source = doc ? doc->DirList().Source() : nullptr;
  std::vector<size_t> order;
  const int count = doc ? doc->DirList().GetCount() : 0;
  order.reserve(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) order.push_back(doc->DirList().PageAt(i).index);
  if (source != m_source || order != m_order) Rebuild(std::move(source), std::move(order));
  // Both pages of a spread.
  const int current = doc ? doc->DirList().GetCurrentIndex() : 0;
  Mark(current, doc && current > 0 && doc->Shown().count == 2 ? 2 : 1);
}

void CThumbnailStrip::showEvent(QShowEvent* event) {
  QDockWidget::showEvent(event);
  if (!AllArrived()) StartWorker();
}

void CThumbnailStrip::hideEvent(QHideEvent* event) {
  QDockWidget::hideEvent(event);
  // What is left is made when the strip is shown again.
  StopWorker();
}

void CThumbnailStrip::closeEvent(QCloseEvent* event) {
  QDockWidget::closeEvent(event);
  emit Closed();
}

void CThumbnailStrip::Rebuild(std::shared_ptr<PageSource> source, std::vector<size_t> order) {
  StopWorker();
  m_source = std::move(source);
  m_order = std::move(order);
  m_marked = 0;
  m_markedCount = 1;
  m_arrived = 0;
  m_list->clear();
  const QIcon waiting(Placeholder(false));
  for (size_t i = 0; i < m_order.size(); ++i) {
    auto* item = new QListWidgetItem(waiting, QString::number(i + 1));
    item->setData(kStateRole, static_cast<int>(ItemState::kWaiting));
    if (m_source && m_order[i] < m_source->PageCount()) {
      item->setToolTip(QString::fromStdString(m_source->Pages()[m_order[i]].name));
    }
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    m_list->addItem(item);
  }
  StartWorker();
}

void CThumbnailStrip::StartWorker() {
  StopWorker();
  if (!m_source || m_order.empty() || !isVisible()) return;
  auto job = std::make_shared<Job>();
  job->source = m_source;
  job->order = m_order;
  job->taken.assign(m_order.size(), false);
  for (int i = 0; i < m_list->count(); ++i) {
    if (StateAt(i + 1) != ItemState::kWaiting) job->taken[static_cast<size_t>(i)] = true;
  }
  m_job = job;
  UpdateVisibleRange();
  // Without a thread the pictures wait for the strip to be shown again.
  m_workers.Start(job, kMaxThreads, [this, job] { WorkerLoop(job); });
}

void CThumbnailStrip::StopWorker() {
  m_workers.Stop();
  m_job.reset();
}

void CThumbnailStrip::WorkerLoop(const std::shared_ptr<Job>& job) {
  size_t position = 0;
  while (job->Next(position)) {
    // A page without room for its thumbnail is shown as one that cannot be
    // read; the strip goes on with the next.
    QImage picture;
    try {
      DibImage thumbnail;
      if (PageThumbnail(*job->source, job->order[position], kSize, thumbnail) !=
          ThumbnailOrigin::kFailed) {
        picture = DibRegionToImage(thumbnail, QRect(0, 0, thumbnail.Width(), thumbnail.Height()));
      }
    } catch (const std::exception&) {
      picture = QImage();
    }
    bool post = false;
    {
      std::lock_guard lock(job->mutex);
      job->arrived.emplace_back(static_cast<int>(position) + 1, std::move(picture));
      post = !job->posted;
      job->posted = true;
    }
    if (post) QMetaObject::invokeMethod(this, "OnArrivals", Qt::QueuedConnection);
  }
}

void CThumbnailStrip::OnArrivals() {
  if (!m_job) return;  // stopped since: what is left is made again
  std::vector<std::pair<int, QImage>> arrived;
  {
    std::lock_guard lock(m_job->mutex);
    arrived.swap(m_job->arrived);
    m_job->posted = false;
  }
  for (const auto& [position, picture] : arrived) OnArrived(position, picture);
}

void CThumbnailStrip::OnArrived(int position, const QImage& picture) {
  QListWidgetItem* item = m_list->item(position - 1);
  if (!item || item->data(kStateRole).toInt() != static_cast<int>(ItemState::kWaiting)) return;
  const bool broken = picture.isNull();
  item->setIcon(broken ? QIcon(Placeholder(true)) : QIcon(QPixmap::fromImage(picture)));
  item->setData(kStateRole, static_cast<int>(broken ? ItemState::kBroken : ItemState::kShown));
  ++m_arrived;
  if (m_arrived == m_list->count()) StopWorker();
}

void CThumbnailStrip::UpdateVisibleRange() {
  if (!m_job || m_list->count() == 0) return;
  const QRect area = m_list->viewport()->rect();
  const QModelIndex first = m_list->indexAt(area.topLeft() + QPoint(4, 4));
  QModelIndex last = m_list->indexAt(area.bottomRight() - QPoint(4, 4));
  const int firstRow = first.isValid() ? first.row() : 0;
  // The cells the bottom-right corner misses (a part row): a screenful on.
  const int lastRow = last.isValid() ? last.row() : std::min(m_list->count() - 1, firstRow + 24);
  std::lock_guard lock(m_job->mutex);
  m_job->firstVisible = static_cast<size_t>(firstRow);
  m_job->lastVisible = static_cast<size_t>(std::max(firstRow, lastRow));
}

void CThumbnailStrip::Mark(int position, int count) {
  if (position == m_marked && count == m_markedCount) return;
  for (int i = 0; i < m_markedCount; ++i) {
    if (QListWidgetItem* old = m_list->item(m_marked - 1 + i)) {
      QFont font = old->font();
      font.setBold(false);
      old->setFont(font);
    }
  }
  m_marked = position;
  m_markedCount = count;
  QListWidgetItem* item = m_list->item(position - 1);
  const QSignalBlocker block(m_list);
  m_list->clearSelection();
  if (!item) return;
  for (int i = 0; i < count; ++i) {
    if (QListWidgetItem* shown = m_list->item(position - 1 + i)) {
      QFont font = shown->font();
      font.setBold(true);
      shown->setFont(font);
      // Past the single selection the user may make.
      m_list->selectionModel()->select(m_list->indexFromItem(shown), QItemSelectionModel::Select);
    }
  }
  m_list->setCurrentItem(item, QItemSelectionModel::NoUpdate);
  m_list->scrollToItem(item, QAbstractItemView::EnsureVisible);
  UpdateVisibleRange();
}

}  // namespace inkbrite
