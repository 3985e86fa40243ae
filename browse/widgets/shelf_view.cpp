// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/shelf_view.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "browse/reading/reading_places.h"
#include "browse/widgets/dib_paint.h"
#include "browse/widgets/series_settings.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Threads reading covers (at most; never more than the processor's cores).
constexpr unsigned kMaxThreads = 2;
// A grid cell: the cover's box, the two lines under it and the bar.
constexpr int kCoverWidth = 150;
constexpr int kCoverHeight = 210;
constexpr int kCellWidth = 176;
constexpr int kCellHeight = 286;
constexpr const char* kOrderKey = "View/ShelfOrder";
constexpr const char* kSeenKey = "View/ShelvesSeen";
constexpr int kMaxShelvesSeen = 100;

QString PathText(const fs::path& path) { return QString::fromStdString(path.string()); }

bool IsUnder(const fs::path& path, const fs::path& folder) {
  const std::string p = path.lexically_normal().string();
  std::string f = folder.lexically_normal().string();
  if (!f.empty() && f.back() != '/') f += '/';
  return p.size() > f.size() && p.compare(0, f.size(), f) == 0;
}

}  // namespace

std::vector<fs::path> ShelvesSeen() {
  std::vector<fs::path> seen;
  for (const QString& folder : QSettings().value(QString::fromLatin1(kSeenKey)).toStringList()) {
    seen.emplace_back(folder.toStdString());
  }
  return seen;
}

void NoteShelfSeen(const fs::path& folder) {
  QStringList seen = QSettings().value(QString::fromLatin1(kSeenKey)).toStringList();
  seen.removeAll(PathText(folder));
  seen.prepend(PathText(folder));
  while (seen.size() > kMaxShelvesSeen) seen.removeLast();
  QSettings().setValue(QString::fromLatin1(kSeenKey), seen);
}

Shelf BooksBegunOnShelves() {
  const std::vector<fs::path> shelves = ShelvesSeen();
  std::vector<ShelfItem> items;
  for (const auto& entry : AllReadingPlaces()) {
    const fs::path& path = entry.first;
    const ReadingPlace& place = entry.second;
    if (place.number <= 0) continue;
    if (std::none_of(shelves.begin(), shelves.end(),
                     [&path](const fs::path& shelf) { return IsUnder(path, shelf); })) {
      continue;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !(fs::is_regular_file(status) || fs::is_directory(status))) continue;
    ShelfItem item;
    item.path = path;
    item.name = path.filename().string();
    item.kind = fs::is_directory(status) ? ShelfKind::kPageFolder : ShelfKind::kBook;
    item.progress = {place.number, place.count, place.lastRead};
    items.push_back(std::move(item));
  }
  return Shelf::Of(BooksBegun(std::move(items)));
}

// ---- the threads' job ----

struct CShelfView::Arrival {
  fs::path path;
  ShelfDetails details;
  QImage cover;
};

// The items to read, which are taken, those on screen (taken first), and
// what arrived and is not yet shown.
struct CShelfView::Job : TeamJob {
  std::vector<ShelfItem> items;
  std::vector<size_t> wanted;    // guarded by mutex: positions on screen
  std::vector<Arrival> arrived;  // guarded by mutex
  bool posted = false;           // guarded by mutex

  bool Next(size_t& position) {
    std::lock_guard lock(mutex);
    if (stop) return false;
    for (size_t i : wanted) {
      if (i < taken.size() && !taken[i]) return Take(i, position);
    }
    for (size_t i = 0; i < taken.size(); ++i) {
      if (!taken[i]) return Take(i, position);
    }
    return false;
  }
};

// ---- the grid's model and painting ----

class CShelfModel : public QAbstractListModel {
 public:
  explicit CShelfModel(CShelfView* shelf) : QAbstractListModel(shelf), m_shelf(shelf) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(m_shelf->m_rows.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount({})) return {};
    const ShelfItem& item = m_shelf->ItemAt(index.row());
    if (role == Qt::DisplayRole) return QString::fromStdString(item.Title());
    if (role == Qt::ToolTipRole) {
      QStringList lines{QString::fromStdString(item.name)};
      if (!item.details.series.empty()) lines << QString::fromStdString(item.details.series);
      if (!item.details.writer.empty()) lines << QString::fromStdString(item.details.writer);
      return lines.join(QLatin1Char('\n'));
    }
    return {};
  }
  void Reset() {
    beginResetModel();
    endResetModel();
  }
  void Changed(int row) { emit dataChanged(index(row), index(row)); }

 private:
  CShelfView* m_shelf;
};

class CShelfDelegate : public QStyledItemDelegate {
 public:
  explicit CShelfDelegate(CShelfView* shelf) : QStyledItemDelegate(shelf), m_shelf(shelf) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return {kCellWidth, kCellHeight};
  }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  void PaintCover(QPainter& painter, const QRect& box, const ShelfItem& item) const;
  void PaintMark(QPainter& painter, const QRect& box, const ShelfItem& item) const;
  void PaintLines(QPainter& painter, const QRect& cell, const QStyleOptionViewItem& option,
                  const ShelfItem& item) const;
  CShelfView* m_shelf;
};

void CShelfDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  const ShelfItem& item = m_shelf->ItemAt(index.row());
  painter->save();
  const QRect cell = option.rect;
  if (option.state & QStyle::State_Selected) {
    QColor tint = option.palette.highlight().color();
    tint.setAlpha(70);
    painter->fillRect(cell.adjusted(2, 2, -2, -2), tint);
  }
  const QRect box(cell.left() + (cell.width() - kCoverWidth) / 2, cell.top() + 6, kCoverWidth,
                  kCoverHeight);
  PaintCover(*painter, box, item);
  PaintMark(*painter, box, item);
  PaintLines(*painter, cell, option, item);
  if (option.state & QStyle::State_HasFocus) {
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(option.palette.highlight().color(), 2));
    painter->drawRect(cell.adjusted(2, 2, -3, -3));
  }
  painter->restore();
}

void CShelfDelegate::PaintCover(QPainter& painter, const QRect& box, const ShelfItem& item) const {
  // A folder shows its first book's cover with the folder's sign over it,
  // or the sign alone.
  const QPixmap cover = m_shelf->m_covers.value(PathText(item.path));
  const QIcon folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
  if (cover.isNull() && !item.IsBook()) {
    folder.paint(&painter, box.adjusted(20, 40, -20, -40));
    return;
  }
  if (cover.isNull()) {
    // A page-shaped card while the cover is coming, or for a book without one.
    painter.fillRect(box, QColor(0xd8, 0xd8, 0xd8));
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    return;
  }
  const QSize size = cover.size().scaled(box.size(), Qt::KeepAspectRatio);
  const QRect at(box.left() + (box.width() - size.width()) / 2, box.bottom() + 1 - size.height(),
                 size.width(), size.height());
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(at, cover);
  if (!item.IsBook()) folder.paint(&painter, QRect(at.left() + 4, at.bottom() - 35, 32, 32));
}

void CShelfDelegate::PaintMark(QPainter& painter, const QRect& box, const ShelfItem& item) const {
  if (!item.IsNew() && !item.IsRead()) return;
  const QString text = item.IsNew() ? CShelfView::tr("新") : CShelfView::tr("已读");
  QFont font = painter.font();
  font.setBold(true);
  painter.setFont(font);
  const QFontMetrics metrics(font);
  const QRect badge(box.right() - metrics.horizontalAdvance(text) - 12, box.top() + 4,
                    metrics.horizontalAdvance(text) + 8, metrics.height() + 2);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(item.IsNew() ? QColor(0x2a, 0x6f, 0xdb) : QColor(0x3a, 0x8a, 0x3a));
  painter.drawRoundedRect(badge, 4, 4);
  painter.setPen(Qt::white);
  painter.drawText(badge, Qt::AlignCenter, text);
}

void CShelfDelegate::PaintLines(QPainter& painter, const QRect& cell,
                                const QStyleOptionViewItem& option, const ShelfItem& item) const {
  painter.setPen(option.palette.color(QPalette::Text));
  QFont font = option.font;
  font.setBold(true);
  painter.setFont(font);
  const QFontMetrics bold(font);
  const int left = cell.left() + 8, width = cell.width() - 16;
  int y = cell.top() + 6 + kCoverHeight + 4;
  const QString title = QString::fromStdString(item.Title());
  painter.drawText(QRect(left, y, width, bold.height()), Qt::AlignHCenter,
                   bold.elidedText(title, Qt::ElideMiddle, width));
  y += bold.height();
  painter.setFont(option.font);
  const QFontMetrics plain(option.font);
  QString second;
  if (!item.IsBook()) {
    second = CShelfView::tr("文件夹");
  } else {
    if (!item.details.number.empty()) {
      second = CShelfView::tr("第 %1 卷").arg(QString::fromStdString(item.details.number));
    }
    if (item.progress.page > 0 && item.Pages() > 0) {
      const QString pages = CShelfView::tr("%1/%2 页").arg(item.progress.page).arg(item.Pages());
      second = second.isEmpty() ? pages : second + QStringLiteral(" · ") + pages;
    }
  }
  painter.drawText(QRect(left, y, width, plain.height()), Qt::AlignHCenter,
                   plain.elidedText(second, Qt::ElideRight, width));
  y += plain.height() + 3;
  if (item.IsBook() && item.progress.page > 0 && item.Pages() > 0) {
    const QRect bar(left + 6, y, width - 12, 5);
    painter.fillRect(bar, QColor(0xc8, 0xc8, 0xc8));
    const int done = bar.width() * std::min(item.progress.page, item.Pages()) / item.Pages();
    painter.fillRect(QRect(bar.left(), bar.top(), done, bar.height()),
                     item.IsRead() ? QColor(0x3a, 0x8a, 0x3a) : QColor(0x2a, 0x6f, 0xdb));
  }
}

// ---- the view ----

CShelfView::CShelfView(const fs::path& folder, QWidget* parent)
    : QWidget(parent),
      m_root(folder),
      m_pathBar(new QWidget(this)),
      m_pathLayout(new QHBoxLayout(m_pathBar)),
      m_begunButton(new QToolButton(this)),
      m_order(new QComboBox(this)),
      m_search(new QLineEdit(this)),
      m_grid(new QListView(this)),
      m_model(new CShelfModel(this)) {
  setObjectName(QStringLiteral("shelfView"));
  // The workspace's black is not the shelf's: the roles set anew, so that
  // they are the shelf's own rather than inherited.
  QPalette own = QApplication::palette();
  for (const QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Button,
                                         QPalette::ButtonText, QPalette::Base, QPalette::Text}) {
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      own.setColor(group, role, own.color(group, role));
    }
  }
  setPalette(own);
  setAutoFillBackground(true);
  m_pathLayout->setContentsMargins(0, 0, 0, 0);
  m_pathLayout->setSpacing(0);
  m_begunButton->setCheckable(true);
  m_search->setObjectName(QStringLiteral("shelfSearch"));
  m_search->setClearButtonEnabled(true);
  m_search->setMinimumWidth(240);
  for (int i = 0; i < 4; ++i) m_order->addItem(QString());
  auto* top = new QHBoxLayout;
  top->addWidget(m_pathBar, 1);
  top->addWidget(m_begunButton);
  top->addWidget(m_order);
  top->addWidget(m_search);
  m_grid->setObjectName(QStringLiteral("shelfGrid"));
  m_grid->setViewMode(QListView::IconMode);
  m_grid->setMovement(QListView::Static);
  m_grid->setResizeMode(QListView::Adjust);
  m_grid->setUniformItemSizes(true);
  m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
  m_grid->setGridSize(QSize(kCellWidth, kCellHeight));
  m_grid->setModel(m_model);
  m_grid->setItemDelegate(new CShelfDelegate(this));
  m_grid->installEventFilter(this);
  m_search->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(top);
  layout->addWidget(m_grid, 1);
  setFocusProxy(m_grid);
  Retranslate();
  const int order = QSettings().value(QString::fromLatin1(kOrderKey), 0).toInt();
  m_order->setCurrentIndex(std::clamp(order, 0, 3));
  // A click opens (Enter too: HandleKey); the second click of a double-click
  // would land on what the first one opened.
  connect(m_grid, &QListView::clicked, this, [this](const QModelIndex& i) {
    if (m_sinceOpen.isValid() && m_sinceOpen.elapsed() < QApplication::doubleClickInterval()) {
      return;
    }
    Open(i.row());
  });
  // "用于此系列" / "用于此书": the settings of the moment attached to a
  // cover's folder (the shelf's folder for a book) or to the book.
  m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_grid, &QListView::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = m_grid->indexAt(at);
    if (index.isValid()) ShowAttachMenu(index.row(), m_grid->viewport()->mapToGlobal(at));
  });
  connect(m_search, &QLineEdit::textChanged, this,
          [this](const QString& text) { SetSearch(text); });
  connect(m_begunButton, &QToolButton::toggled, this, [this](bool on) { ShowBegun(on); });
  connect(m_order, &QComboBox::activated, this, [this](int i) {
    QSettings().setValue(QString::fromLatin1(kOrderKey), i);
    SetOrder(static_cast<ShelfOrder>(i));
  });
  connect(m_grid->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { UpdateVisibleRange(); });
  NoteShelfSeen(m_root);
  ShowFolder(m_root);
}

CShelfView::~CShelfView() { StopWorker(); }

void CShelfView::Retranslate() {
  m_begunButton->setText(tr("继续阅读"));
  m_begunButton->setToolTip(tr("已开始但未读完的书，最近读的在前"));
  const char* const orders[] = {QT_TR_NOOP("自然顺序"), QT_TR_NOOP("按标题"),
                                QT_TR_NOOP("按添加日期"), QT_TR_NOOP("按上次阅读")};
  for (int i = 0; i < 4; ++i) m_order->setItemText(i, tr(orders[i]));
  m_search->setPlaceholderText(tr("搜索名称、系列、作者（/）"));
  UpdatePath();
  m_grid->viewport()->update();
}

void CShelfView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) Retranslate();
  QWidget::changeEvent(event);
}

void CShelfView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  UpdateVisibleRange();
}

QString CShelfView::Title() const {
  if (m_begun) return tr("继续阅读");
  const fs::path& folder = Folder();
  const std::string name = folder.filename().string();
  return QString::fromStdString(name.empty() ? folder.string() : name);
}

void CShelfView::ShowFolder(const fs::path& folder) {
  if (m_begun) {
    const QSignalBlocker block(m_begunButton);
    m_begunButton->setChecked(false);
    m_begun = false;
  }
  ListShown(Shelf::List(folder));
}

void CShelfView::ListShown(const Shelf& shelf) {
  StopWorker();
  const fs::path previous = Folder();
  const bool same = previous == shelf.Folder() && !m_begun;
  m_shelf = shelf;
  // The covers of the folder shown only; the details of every book seen.
  if (!same) {
    m_covers.clear();
    m_arrived.clear();
  }
  for (size_t i = 0; i < m_shelf.size(); ++i) {
    const auto known = m_details.constFind(PathText(m_shelf[i].path));
    if (known != m_details.constEnd()) m_shelf.SetDetails(i, *known);
  }
  ReadProgress();
  m_shelf.Sort(m_begun ? ShelfOrder::kLastRead : static_cast<ShelfOrder>(m_order->currentIndex()));
  // Back up: the folder come from is the current item.
  UpdateRows(IsUnder(previous, Folder()) ? previous : fs::path());
  UpdatePath();
  StartWorker();
  emit folderChanged();
}

void CShelfView::ReadProgress() {
  std::vector<size_t> books;
  std::vector<fs::path> paths;
  for (size_t i = 0; i < m_shelf.size(); ++i) {
    if (!m_shelf[i].IsBook()) continue;
    books.push_back(i);
    paths.push_back(m_shelf[i].path);
  }
  const std::vector<ShelfProgress> progress = ReadingProgresses(paths);
  for (size_t k = 0; k < books.size(); ++k) m_shelf.SetProgress(books[k], progress[k]);
}

bool CShelfView::GoUp() {
  if (m_begun) {
    ShowBegun(false);
    return true;
  }
  const fs::path folder = Folder();
  if (!IsUnder(folder, m_root)) return false;
  ShowFolder(folder.parent_path());
  return true;
}

void CShelfView::ShowBegun(bool on) {
  if (on == m_begun) return;
  {
    const QSignalBlocker block(m_begunButton);
    m_begunButton->setChecked(on);
  }
  if (on) {
    m_folderBeforeBegun = Folder();
    m_begun = true;
    ListShown(BooksBegunOnShelves());
  } else {
    m_begun = false;
    ListShown(Shelf::List(m_folderBeforeBegun.empty() ? m_root : m_folderBeforeBegun));
  }
}

void CShelfView::SetOrder(ShelfOrder order) {
  if (m_begun) return;  // the books begun are always last read first
  if (m_order->currentIndex() != static_cast<int>(order)) {
    m_order->setCurrentIndex(static_cast<int>(order));
  }
  const int row = CurrentRow();
  const fs::path keep = row >= 0 ? ItemAt(row).path : fs::path();
  m_shelf.Sort(order);
  UpdateRows(keep);
}

void CShelfView::SetSearch(const QString& text) {
  if (m_search->text() != text) m_search->setText(text);  // comes back here
  const int row = CurrentRow();
  UpdateRows(row >= 0 ? ItemAt(row).path : fs::path());
}

void CShelfView::RefreshProgress(const fs::path& path) {
  ReadProgress();
  if (m_begun) {
    ListShown(BooksBegunOnShelves());
  } else {
    if (m_shelf.Order() == ShelfOrder::kLastRead) m_shelf.Sort(ShelfOrder::kLastRead);
    UpdateRows(path);
  }
  m_grid->viewport()->update();
}

void CShelfView::UpdateRows(const fs::path& keep) {
  m_rows = m_shelf.Search(m_search->text().toStdString());
  m_model->Reset();
  int current = m_rows.empty() ? -1 : 0;
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (!keep.empty() && m_shelf[m_rows[i]].path == keep) current = static_cast<int>(i);
  }
  if (current >= 0) {
    m_grid->setCurrentIndex(m_model->index(current));
    m_grid->scrollTo(m_model->index(current));
  }
  UpdateVisibleRange();
}

void CShelfView::UpdatePath() {
  // Later: this may run in a path button's own click.
  while (QLayoutItem* item = m_pathLayout->takeAt(0)) {
    if (QWidget* widget = item->widget()) {
      widget->hide();
      widget->deleteLater();
    }
    delete item;
  }
  // The root's name, then each folder down to the one shown.
  std::vector<fs::path> folders{m_root};
  if (!m_begun && IsUnder(Folder(), m_root)) {
    const fs::path inside = Folder().lexically_relative(m_root);
    fs::path at = m_root;
    for (const fs::path& part : inside) folders.push_back(at /= part);
  }
  for (size_t i = 0; i < folders.size(); ++i) {
    auto* button = new QToolButton(m_pathBar);
    const std::string name = folders[i].filename().string();
    button->setText(QString::fromStdString(name.empty() ? folders[i].string() : name));
    button->setAutoRaise(true);
    const bool last = i + 1 == folders.size() && !m_begun;
    QFont font = button->font();
    font.setBold(last);
    button->setFont(font);
    const fs::path target = folders[i];
    connect(button, &QToolButton::clicked, this, [this, target] { ShowFolder(target); });
    m_pathLayout->addWidget(button);
    if (!last) m_pathLayout->addWidget(new QLabel(QStringLiteral("›"), m_pathBar));
  }
  m_pathLayout->addStretch(1);
}

std::vector<QToolButton*> CShelfView::PathButtons() const {
  std::vector<QToolButton*> buttons;
  for (int i = 0; i < m_pathLayout->count(); ++i) {
    if (auto* button = qobject_cast<QToolButton*>(m_pathLayout->itemAt(i)->widget())) {
      buttons.push_back(button);
    }
  }
  return buttons;
}

int CShelfView::Count() const { return static_cast<int>(m_rows.size()); }

const ShelfItem& CShelfView::ItemAt(int row) const {
  return m_shelf[m_rows.at(static_cast<size_t>(row))];
}

bool CShelfView::CoverArrived(int row) const {
  const ShelfItem& item = ItemAt(row);
  return m_arrived.value(PathText(item.path), false);
}

bool CShelfView::AllArrived() const {
  for (int row = 0; row < Count(); ++row) {
    if (!CoverArrived(row)) return false;
  }
  return true;
}

int CShelfView::CurrentRow() const {
  const QModelIndex current = m_grid->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void CShelfView::ShowAttachMenu(int row, const QPoint& globalAt) {
  QMenu* menu = MakeAttachMenu(row, this);
  menu->exec(globalAt);
  delete menu;
}

QMenu* CShelfView::MakeAttachMenu(int row, QWidget* parent) {
  const ShelfItem& item = ItemAt(row);
  const fs::path series = item.IsBook() ? item.path.parent_path() : item.path;
  auto* menu = new QMenu(parent);
  auto add = [&](const QString& text, const fs::path& target, AttachScope scope, bool attach) {
    connect(menu->addAction(text), &QAction::triggered, this, [this, target, scope, attach] {
      if (attach) {
        AttachShownSettings(this, AppParams(), target, scope);
      } else {
        DetachSettings(this, target);
      }
    });
  };
  add(tr("用于此系列"), series, AttachScope::kSeries, true);
  if (item.IsBook()) add(tr("用于此书"), item.path, AttachScope::kBook, true);
  menu->addSeparator();
  add(tr("不再用于此系列"), series, AttachScope::kSeries, false);
  if (item.IsBook()) add(tr("不再用于此书"), item.path, AttachScope::kBook, false);
  return menu;
}

void CShelfView::Open(int row) {
  if (row < 0 || row >= Count()) return;
  const ShelfItem item = ItemAt(row);
  m_sinceOpen.start();
  if (item.kind == ShelfKind::kFolder) {
    ShowFolder(item.path);
  } else {
    emit bookChosen(item.path);
  }
}

bool CShelfView::HandleKey(QKeyEvent* key) {
  switch (key->key()) {
    case Qt::Key_Backspace: GoUp(); return true;
    case Qt::Key_Slash:
      m_search->setFocus(Qt::ShortcutFocusReason);
      m_search->selectAll();
      return true;
    case Qt::Key_Delete: return true;  // never deletes a book
    case Qt::Key_Return:
    case Qt::Key_Enter: Open(CurrentRow()); return true;
    default: return false;
  }
}

namespace {

// The keys a grid or a search field uses, which no shortcut of the main
// window may take from them there: moving, opening, going up, typing.
bool KeyOfTheShelf(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
  switch (key.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Space: return true;
    default: return !key.text().isEmpty() && key.text().front().isPrint();
  }
}

}  // namespace

bool CShelfView::eventFilter(QObject* watched, QEvent* event) {
  // Only key events are looked at as keys.
  const bool isKey = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
  const bool plain = isKey && KeyOfTheShelf(*static_cast<const QKeyEvent*>(event));
  if (watched == m_grid && plain) {
    // The grid's keys are the grid's, not the main window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride) {
      event->accept();
      return true;
    }
    if (HandleKey(static_cast<QKeyEvent*>(event))) return true;
  }
  if (watched == m_search && event->type() == QEvent::KeyPress) {
    const int k = static_cast<const QKeyEvent*>(event)->key();
    if (k == Qt::Key_Escape) m_search->clear();
    if (k == Qt::Key_Escape || k == Qt::Key_Down || k == Qt::Key_Return || k == Qt::Key_Enter) {
      m_grid->setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  if (watched == m_search && event->type() == QEvent::ShortcutOverride && plain) {
    event->accept();  // typing stays in the field
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// ---- the threads ----

void CShelfView::StartWorker() {
  StopWorker();
  auto job = std::make_shared<Job>();
  for (const ShelfItem& item : m_shelf.Items()) {
    if (!m_arrived.contains(PathText(item.path))) job->items.push_back(item);
  }
  if (job->items.empty()) return;
  job->taken.assign(job->items.size(), false);
  m_job = job;
  UpdateVisibleRange();
  // Without a thread the books show their names only.
  m_workers.Start(job, kMaxThreads, [this, job] { WorkerLoop(job); });
}

void CShelfView::StopWorker() {
  m_workers.Stop();
  m_job.reset();
}

void CShelfView::WorkerLoop(const std::shared_ptr<Job>& job) {
  size_t position = 0;
  while (job->Next(position)) {
    Arrival arrival{job->items[position].path, {}, {}};
    // A book without room for its cover shows its name; the shelf goes on.
    try {
      DibImage cover;
      arrival.details = ReadShelfDetails(job->items[position], &cover);
      if (!cover.IsEmpty()) {
        const QImage picture = DibRegionToImage(cover, QRect(0, 0, cover.Width(), cover.Height()));
        arrival.cover = picture.scaled(kCoverWidth, kCoverHeight, Qt::KeepAspectRatio,
                                       Qt::SmoothTransformation);
      }
    } catch (const std::exception&) {
      arrival.details.known = true;
      arrival.cover = QImage();
    }
    bool post = false;
    {
      std::lock_guard lock(job->mutex);
      job->arrived.push_back(std::move(arrival));
      post = !job->posted;
      job->posted = true;
    }
    if (post) QMetaObject::invokeMethod(this, "OnArrivals", Qt::QueuedConnection);
  }
}

void CShelfView::OnArrivals() {
  if (!m_job) return;  // stopped since
  std::vector<Arrival> arrived;
  {
    std::lock_guard lock(m_job->mutex);
    arrived.swap(m_job->arrived);
    m_job->posted = false;
  }
  for (Arrival& arrival : arrived) {
    const size_t at = m_shelf.Find(arrival.path);
    if (at >= m_shelf.size()) continue;
    const QString key = PathText(arrival.path);
    m_details.insert(key, arrival.details);
    m_shelf.SetDetails(at, std::move(arrival.details));
    m_covers.insert(key, QPixmap::fromImage(arrival.cover));
    m_arrived.insert(key, true);
    const auto row = std::find(m_rows.begin(), m_rows.end(), at);
    if (row != m_rows.end()) m_model->Changed(static_cast<int>(row - m_rows.begin()));
  }
  if (m_job && AllArrived()) {
    StopWorker();
    // The titles are known now.
    if (m_shelf.Order() == ShelfOrder::kTitle) SetOrder(ShelfOrder::kTitle);
  }
}

void CShelfView::UpdateVisibleRange() {
  if (!m_job || m_rows.empty()) return;
  const QRect area = m_grid->viewport()->rect();
  const QModelIndex first = m_grid->indexAt(area.topLeft() + QPoint(4, 4));
  const int firstRow = first.isValid() ? first.row() : 0;
  // A screenful and a row on: more than fits in any window.
  const int cells = std::max(1, area.width() / kCellWidth) * (area.height() / kCellHeight + 2);
  const int lastRow = std::min(Count() - 1, firstRow + cells);
  std::unordered_map<std::string, size_t> positions;
  for (size_t i = 0; i < m_job->items.size(); ++i) positions[m_job->items[i].path.string()] = i;
  std::vector<size_t> wanted;
  for (int row = firstRow; row <= lastRow; ++row) {
    const auto found = positions.find(ItemAt(row).path.string());
    if (found != positions.end()) wanted.push_back(found->second);
  }
  std::lock_guard lock(m_job->mutex);
  m_job->wanted = std::move(wanted);
}

}  // namespace inkbrite
