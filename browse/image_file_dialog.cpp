// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/image_file_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QPainter>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <algorithm>
#include <system_error>

#include "browse/dib_paint.h"
#include "core/para_block.h"
#include "formats/image_file.h"

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
    : QFileDialog(parent, title, folder) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setOption(QFileDialog::HideNameFilterDetails, true);
  setOption(QFileDialog::ReadOnly, true);
  setFileMode(QFileDialog::ExistingFiles);
  setAcceptMode(QFileDialog::AcceptOpen);
  if (!nameFilters.isEmpty()) setNameFilters(nameFilters);

  const bool preview = AppParams().GetValue(kShowPreview) != 0;
  m_box = new QCheckBox(QString::fromUtf8(kPreviewBoxText), this);
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
  // Qt's dialog selects the preset file and scrolls it into view once the
  // folder has been listed in the background.
  if (!presetName.isEmpty()) selectFile(presetName);

  m_timer = new QTimer(this);
  m_timer->setInterval(kSyncIntervalMs);
  connect(m_timer, &QTimer::timeout, this, &CImageFileMultSel::SyncPreview);
  m_timer->start();
}

CImageFileMultSel::~CImageFileMultSel() = default;

void CImageFileMultSel::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (m_widened) return;
  m_widened = true;
  // Make room for the pane: the dialog grows, and the list keeps about two
  // thirds of the width it had, the pane the rest.
  auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter"));
  if (!splitter || splitter->count() < 3) return;
  resize(width() + kPreviewExtraWidth, height());
  QList<int> sizes = splitter->sizes();
  const int list = sizes.value(1);
  const int shared = list + kPreviewExtraWidth;
  sizes[1] = shared * 3 / 5;
  sizes[2] = shared - sizes[1];
  splitter->setSizes(sizes);
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
    // A file that cannot be decoded leaves the pane empty.
    if (LoadImageFile(file, image, &grey) != 1) image.Clear();
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
