// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/image_file_dialog.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QListView>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <system_error>

#include "browse/services/ui_services.h"
#include "browse/widgets/dib_paint.h"
#include "core/para_block.h"
#include "formats/image_file.h"
#include "sources/book_source.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// How much wider the dialog grows for the preview pane.
constexpr int kPreviewExtraWidth = 260;
constexpr int kSyncIntervalMs = 200;

}  // namespace

CPreviewPane::CPreviewPane(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);  // static edge, no border
  setMinimumWidth(80);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPreviewPane::SetImage(const DibImage& image) {
  m_image = image;
  m_shown = m_image.IsEmpty()
                ? QImage()
                : DibRegionToImage(m_image, QRect(0, 0, m_image.Width(), m_image.Height()));
  update();
}

QRect CPreviewPane::ImageRect() const {
  if (m_shown.isNull()) return {};
  const QRect area = contentsRect();
  QSize size = m_shown.size();
  if (size.width() > area.width() || size.height() > area.height()) {
    size.scale(area.size(), Qt::KeepAspectRatio);
  }
  return QRect(area.left() + (area.width() - size.width()) / 2,
               area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
}

void CPreviewPane::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(contentsRect(), palette().color(QPalette::Button));
    const QRect target = ImageRect();
    if (!target.isEmpty()) {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(target, m_shown);
    }
  }
  QFrame::paintEvent(event);  // the edge
}

CImageFileMultSel::CImageFileMultSel(QWidget* parent, const QString& title, const QString& folder,
                                     const QStringList& nameFilters, const QString& presetName)
    : QFileDialog(parent, title, folder), m_folder(folder), m_preset(presetName) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setOption(QFileDialog::HideNameFilterDetails, true);
  setOption(QFileDialog::ReadOnly, true);
  setFileMode(QFileDialog::ExistingFiles);
  setAcceptMode(QFileDialog::AcceptOpen);
  if (!nameFilters.isEmpty()) setNameFilters(nameFilters);

  const bool preview = AppParams().GetValue(kShowPreview) != 0;
  m_box = new QCheckBox(UiText(kPreviewBoxText), this);
  m_box->setObjectName(QStringLiteral("previewBox"));
  m_box->setChecked(preview);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    grid->addWidget(m_box, grid->rowCount(), 1, 1, 1);
  }
  m_pane = new CPreviewPane(this);
  m_pane->setObjectName(QStringLiteral("previewPane"));
  // The pane shares the splitter with the file list, right of it, so the
  // user can move the border between them.
  if (auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter"))) {
    splitter->addWidget(m_pane);
    splitter->setCollapsible(splitter->indexOf(m_pane), false);
  }
  m_pane->setVisible(preview);

  connect(this, &QFileDialog::currentChanged, this,
          [this](const QString& path) { ShowPreviewOf(path); });
  // Qt's dialog selects the preset file once the folder has been listed in
  // the background; the list is sorted, and its columns measured, later.
  if (!presetName.isEmpty()) {
    selectFile(presetName);
    ShowPreviewOf(QDir(folder).filePath(presetName));
  }
  m_fitTimer = new QTimer(this);
  m_fitTimer->setSingleShot(true);
  connect(m_fitTimer, &QTimer::timeout, this, &CImageFileMultSel::FitList);
  if (auto* model = findChild<QFileSystemModel*>()) {
    connect(model, &QFileSystemModel::directoryLoaded, m_fitTimer, qOverload<>(&QTimer::start));
    connect(model, &QAbstractItemModel::layoutChanged, m_fitTimer, qOverload<>(&QTimer::start));
  }

  m_timer = new QTimer(this);
  m_timer->setInterval(kSyncIntervalMs);
  connect(m_timer, &QTimer::timeout, this, &CImageFileMultSel::SyncPreview);
  m_timer->start();
}

CImageFileMultSel::~CImageFileMultSel() = default;

void FitFileDialogPlaces(QFileDialog& dialog) {
  auto* places = dialog.findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
  auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
  if (!places || !splitter || splitter->count() < 2 || splitter->widget(0) != places) return;
  constexpr int kMargin = 4;
  const int wanted = places->sizeHintForColumn(0) + 2 * places->frameWidth() + kMargin;
  QList<int> sizes = splitter->sizes();
  if (sizes[0] >= wanted) return;
  dialog.resize(dialog.width() + wanted - sizes[0], dialog.height());
  sizes[0] = wanted;
  splitter->setSizes(sizes);
}

void CImageFileMultSel::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (m_widened) return;
  m_widened = true;
  FitFileDialogPlaces(*this);
  // Room for the pane: the dialog grows by the pane's width and the list
  // keeps the width it had.
  auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter"));
  if (!splitter || splitter->count() < 3) return;
  QList<int> sizes = splitter->sizes();
  resize(width() + kPreviewExtraWidth, height());
  sizes[2] = kPreviewExtraWidth;
  splitter->setSizes(sizes);
  m_fitTimer->start();
}

void CImageFileMultSel::FitList() {
  auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"));
  auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter"));
  if (tree && splitter && splitter->count() >= 3 && isVisible()) {
    QHeaderView* header = tree->header();
    const QAbstractItemView* view = tree;  // sizeHintForColumn is public there
    for (int column = 0; column < header->count(); ++column) {
      if (header->isSectionHidden(column)) continue;
      const int wanted = std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column));
      header->resizeSection(column, wanted);
    }
    // The dialog grows as far as the screen allows to show them whole.
    const int missing = header->length() - tree->viewport()->width();
    const QScreen* shown = screen();
    const int room = shown ? shown->availableGeometry().width() - frameGeometry().width() : 0;
    const int grow = std::min(missing, room);
    if (grow > 0) {
      QList<int> sizes = splitter->sizes();
      resize(width() + grow, height());
      sizes[1] += grow;
      splitter->setSizes(sizes);
    }
  }
  // Once the list has taken its new width.
  QTimer::singleShot(0, this, &CImageFileMultSel::ShowPreset);
}

void CImageFileMultSel::ShowPreset() {
  if (m_preset.isEmpty()) return;
  auto* model = findChild<QFileSystemModel*>();
  if (!model) return;
  const QModelIndex preset = model->index(QDir(m_folder).filePath(m_preset));
  if (!preset.isValid()) return;
  for (auto* view :
       {static_cast<QAbstractItemView*>(findChild<QTreeView*>(QStringLiteral("treeView"))),
        static_cast<QAbstractItemView*>(findChild<QListView*>(QStringLiteral("listView")))}) {
    if (!view || view->model() != model) continue;
    // Only while the preset is still the current file: a file the user
    // went to stays where it is.
    const QModelIndex current = view->currentIndex();
    if (current.isValid() && current.sibling(current.row(), 0) != preset) continue;
    view->scrollTo(preset, QAbstractItemView::PositionAtCenter);
  }
}

std::vector<fs::path> CImageFileMultSel::SelectedPaths() const {
  std::vector<fs::path> paths;
  if (result() != QDialog::Accepted) return paths;
  for (const QString& file : selectedFiles()) paths.emplace_back(file.toStdString());
  return paths;
}

void CImageFileMultSel::SetCurrentFile(const QString& path) {
  selectFile(path);
  ShowPreviewOf(path);
}

const DibImage& CImageFileMultSel::PreviewImage() const { return m_pane->Image(); }

void CImageFileMultSel::ShowPreviewOf(const QString& path) {
  m_current = path;
  DibImage image;
  std::error_code ec;
  const fs::path file(path.toStdString());
  if (AppParams().GetValue(kShowPreview) != 0 && !path.isEmpty() && fs::is_regular_file(file, ec)) {
    int grey = 0;
    // A book shows its first page. A file that cannot be decoded leaves the
    // pane empty.
    if (IsBookFile(file)) {
      SourceError error = SourceError::kNone;
      const std::unique_ptr<BookSource> book = OpenBookSource(file, error);
      if (!book || book->LoadPage(0, image, &grey) != SourceError::kNone) image.Clear();
    } else if (LoadImageFile(file, image, &grey) != 1) {
      image.Clear();
    }
  }
  m_pane->SetImage(image);
}

void CImageFileMultSel::SyncPreview() {
  if (size() != m_lastSize) {
    m_lastSize = size();
    m_pane->update();
  }
  const int wanted = m_box->isChecked() ? 1 : 0;
  if (AppParams().GetValue(kShowPreview) != wanted) {
    AppParams().SetValue(kShowPreview, wanted);
    ShowPreviewOf(m_current);
    m_pane->setVisible(wanted != 0);
  }
}

}  // namespace inkbrite
