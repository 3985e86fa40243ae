// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/batch_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "batch/devices.h"
#include "batch/named_settings.h"
#include "browse/dialogs/about_dialog.h"
#include "browse/dialogs/curve_dialog.h"
#include "browse/dialogs/image_file_dialog.h"
#include "browse/dialogs/param_lists.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/main_frame.h"
#include "browse/widgets/setting_panel.h"
#include "core/enhance.h"
#include "core/para_block.h"
#include "formats/format_table.h"
#include "platform/program_paths.h"
#include "platform/shell_open.h"
#include "sources/srch_dir.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

QString FromPath(const fs::path& path) { return QString::fromStdString(path.string()); }
fs::path ToPath(const QString& text) { return fs::path(text.toStdString()); }

// Entries of list 1005 by index.
enum ExtensionIndex : int { kExtJpg = 0, kExtBmp = 1, kExtPng = 2, kExtTif = 3, kExtJp2 = 4 };

// A list's index from a slot. A value outside the list selects the first
// entry: a run must never start with no pattern or no extension selected.
void SelectIndex(QComboBox* list, int value) {
  list->setCurrentIndex(value >= 0 && value < list->count() ? value : 0);
}

QComboBox* MakeList(QWidget* parent, const QStringList& entries, int id) {
  auto* list = new QComboBox(parent);
  list->addItems(entries);
  list->setEditable(false);
  list->setObjectName(BatchControlName(id));
  return list;
}

QSpinBox* MakeSpin(QWidget* parent, int min, int max, int id) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(min, max);
  spin->setObjectName(BatchControlName(id));
  return spin;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, int id) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(BatchControlName(id));
  button->setAutoDefault(false);
  return button;
}

// Draws frame `frame` of the animation: a page whose upper part has already
// passed under a light bar and shows crisp dark lines on white paper, the
// rest still dull and grey; the bar sweeps down and starts over.
QPixmap DrawAnimationFrame(int frame, int count, QSize size, qreal ratio) {
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF page(size.width() * 0.2, size.height() * 0.08, size.width() * 0.6,
                    size.height() * 0.84);
  const qreal sweep = page.top() + page.height() * frame / (count - 1);
  // Paper: grey below the bar, white above it.
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(QColor(175, 170, 160));
  p.drawRect(page);
  p.fillRect(QRectF(page.left() + 0.5, page.top() + 0.5, page.width() - 1, sweep - page.top()),
             Qt::white);
  // Ink: lines of text and a panel frame.
  const int lines = 7;
  for (int i = 0; i < lines; ++i) {
    const qreal y = page.top() + page.height() * (i + 1) / (lines + 1);
    const qreal right = page.right() - page.width() * (i % 3 == 2 ? 0.35 : 0.15);
    const bool done = y < sweep;
    p.setPen(QPen(done ? QColor(20, 20, 20) : QColor(120, 115, 110), done ? 2.0 : 1.5));
    p.drawLine(QPointF(page.left() + page.width() * 0.15, y), QPointF(right, y));
  }
  // The light bar with a soft glow.
  QLinearGradient glow(0, sweep - 6, 0, sweep + 2);
  glow.setColorAt(0, QColor(255, 220, 80, 0));
  glow.setColorAt(1, QColor(255, 200, 40, 200));
  p.fillRect(QRectF(page.left() - 4, sweep - 6, page.width() + 8, 8), glow);
  p.setPen(QPen(QColor(230, 140, 20), 2));
  p.drawLine(QPointF(page.left() - 4, sweep), QPointF(page.right() + 4, sweep));
  return pixmap;
}

}  // namespace

QString BatchControlName(int id) { return ControlName(id); }

const QStringList& BatchSourcePatterns() { return SourcePatternEntries(); }

const QStringList& BatchNewExtensions() { return NewExtensionEntries(); }

// ---- path display ----

CPathDisplay::CPathDisplay(QWidget* parent, Qt::TextElideMode elide)
    : QFrame(parent), m_elide(elide) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CPathDisplay::SetText(const QString& text) {
  if (text == m_text) return;
  m_text = text;
  setToolTip(text);
  update();
}

QString CPathDisplay::ShownText() const {
  return fontMetrics().elidedText(m_text, m_elide, contentsRect().width() - 4);
}

QSize CPathDisplay::sizeHint() const {
  return QSize(200, fontMetrics().height() + 2 * frameWidth() + 4);
}

QSize CPathDisplay::minimumSizeHint() const {
  return QSize(40, fontMetrics().height() + 2 * frameWidth() + 4);
}

void CPathDisplay::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  p.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  const QRect text = contentsRect().adjusted(2, 0, -2, 0);
  // Drawn as plain text: "&" in a path is never a mnemonic.
  p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownText());
}

// ---- animation ----

CBatchAnimation::CBatchAnimation(QWidget* parent) : QLabel(parent), m_timer(new QTimer(this)) {
  const QSize size(56, 56);
  const qreal ratio = devicePixelRatioF();
  for (int i = 0; i < kFrameCount; ++i) {
    m_frames.push_back(DrawAnimationFrame(i, kFrameCount, size, ratio));
  }
  setFixedSize(size);
  setAlignment(Qt::AlignCenter);
  m_timer->setInterval(kFrameMs);
  connect(m_timer, &QTimer::timeout, this, [this] { ShowFrame((m_frame + 1) % kFrameCount); });
  ShowFrame(0);
}

void CBatchAnimation::Play() {
  ShowFrame(0);
  m_timer->start();
}

void CBatchAnimation::Stop() {
  m_timer->stop();
  ShowFrame(0);
}

bool CBatchAnimation::IsPlaying() const { return m_timer->isActive(); }

void CBatchAnimation::ShowFrame(int frame) {
  m_frame = frame;
  setPixmap(m_frames[static_cast<size_t>(frame)]);
}

// ---- folder chooser ----

CFolderChooser::CFolderChooser(QWidget* parent, const QString& caption, const QString& prompt,
                               const QString& start, bool mayBeNew)
    : QDialog(parent),
      m_edit(new QLineEdit(this)),
      m_ok(new QPushButton(tr("确定"), this)),
      m_mayBeNew(mayBeNew) {
  setWindowTitle(caption);
  auto* model = new QFileSystemModel(this);
  model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model->setRootPath(QStringLiteral("/"));
  auto* tree = new QTreeView(this);
  m_model = model;
  m_tree = tree;
  tree->setModel(model);
  for (int column = 1; column < model->columnCount(); ++column) tree->hideColumn(column);
  tree->header()->hide();
  auto* cancel = new QPushButton(tr("取消"), this);
  m_ok->setDefault(true);
  m_ok->setEnabled(false);
  connect(m_ok, &QPushButton::clicked, this, &CFolderChooser::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_edit, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_ok->setEnabled(!text.isEmpty()); });
  connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this, model](const QModelIndex& index) {
            if (index.isValid()) m_edit->setText(model->filePath(index));
          });

  auto* buttons = new QHBoxLayout;
  if (mayBeNew) {
    m_newFolder = new QPushButton(tr("新建文件夹"), this);
    m_newFolder->setAutoDefault(false);
    connect(m_newFolder, &QPushButton::clicked, this, &CFolderChooser::MakeNewFolder);
    buttons->addWidget(m_newFolder);
  }
  buttons->addStretch();
  buttons->addWidget(m_ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(prompt, this));
  layout->addWidget(m_edit);
  layout->addWidget(tree, 1);
  layout->addLayout(buttons);

  // One and a half times the size a plain folder dialog would take.
  resize(QSize(360, 320) * 3 / 2);
  const QFileInfo info(start);
  if (!start.isEmpty() && info.isDir()) {
    const QModelIndex index = model->index(info.absoluteFilePath());
    tree->setCurrentIndex(index);
    // The tree fills in the background: bring the start folder into view
    // once its parent has been read, and only then.
    const QPersistentModelIndex shown(index);
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(model, &QFileSystemModel::directoryLoaded, tree,
                    [tree, shown, once, parentPath = info.absolutePath()](const QString& loaded) {
                      if (loaded != parentPath) return;
                      QObject::disconnect(*once);
                      // The rows of the loaded folder are laid out later.
                      QTimer::singleShot(0, tree, [tree, shown] {
                        tree->scrollTo(shown, QAbstractItemView::PositionAtCenter);
                      });
                    });
  }
  m_edit->setText(start);
  m_edit->setFocus();
}

bool CFolderChooser::IsValidFolder(const QString& path) {
  if (path.isEmpty() || !QDir::isAbsolutePath(path)) return false;
  const QFileInfo info(path);
  return info.exists() && info.isDir();
}

bool CFolderChooser::IsPossibleFolder(const QString& path) {
  if (path.isEmpty() || !QDir::isAbsolutePath(path)) return false;
  // The nearest part of the path that exists must be a folder.
  QString existing = QDir::cleanPath(path);
  while (!QFileInfo::exists(existing)) {
    const QString parent = QFileInfo(existing).path();
    if (parent == existing) return false;
    existing = parent;
  }
  return QFileInfo(existing).isDir();
}

void CFolderChooser::MakeNewFolder() {
  // In the folder named in the line (or the nearest one of it that exists).
  QString parent = QDir::cleanPath(m_edit->text());
  while (!parent.isEmpty() && !QFileInfo(parent).isDir()) {
    const QString up = QFileInfo(parent).path();
    if (up == parent) break;
    parent = up;
  }
  if (!QDir::isAbsolutePath(parent) || !QFileInfo(parent).isDir()) parent = QDir::homePath();
  const QString base = tr("新建文件夹");
  QString name = base;
  for (int i = 2; QFileInfo::exists(QDir(parent).filePath(name)); ++i) {
    name = QStringLiteral("%1 (%2)").arg(base).arg(i);
  }
  const QString made = QDir(parent).filePath(name);
  if (!QDir().mkdir(made)) {
    ShowMessage(this, UiText(kFolderNotMadeMessage).arg(made));
    return;
  }
  m_edit->setText(made);
  // Shown in the tree with its name ready to be typed over.
  const QModelIndex index = m_model->index(made);
  if (index.isValid()) {
    m_model->setReadOnly(false);
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index);
    m_tree->edit(index);
  }
}

void CFolderChooser::accept() {
  const QString typed = m_edit->text();
  if (!(m_mayBeNew ? IsPossibleFolder(typed) : IsValidFolder(typed))) {
    ShowMessage(this, UiText(kInvalidFolderMessage).arg(typed));
    m_edit->setFocus();
    m_edit->selectAll();
    return;
  }
  // "/a/b/../c/" is shown and remembered as "/a/c".
  m_folder = QDir::cleanPath(typed);
  QDialog::accept();
}

// ---- the job's host ----

class CBatchDialogHost : public BatchHost {
 public:
  explicit CBatchDialogHost(CBatchDlg& dialog) : m_dialog(dialog) {}

  MessageAnswer ShowMessage(std::string_view text, MessageKind kind) override {
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (kind == MessageKind::kOk) {
      inkbrite::ShowMessage(&m_dialog, message, QMessageBox::Ok);
      return MessageAnswer::kOk;
    }
    const auto answer =
        inkbrite::ShowMessage(&m_dialog, message, QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
  }

  void SetStatus(StatusLine line, std::string_view text) override {
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (line == StatusLine::kOperation) {
      m_dialog.m_operation->SetText(shown);
    } else {
      m_dialog.m_currentFile->SetText(shown);
    }
  }

  void SetProgressRange(int upper) override {
    m_dialog.m_progress->setRange(0, std::max(upper, 0));
    m_dialog.m_progress->setValue(0);
  }
  void SetProgressPosition(int position) override { m_dialog.m_progress->setValue(position); }
  void AdvanceProgress(int units) override {
    QProgressBar* bar = m_dialog.m_progress;
    bar->setValue(std::min(bar->value() + units, bar->maximum()));
  }

  bool PumpAndCheckStop() override {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return m_dialog.m_stopRequest;
  }

  bool OpenWithShell(const fs::path& path) override { return m_dialog.Open(path); }

 private:
  CBatchDlg& m_dialog;
};

// ---- the dialog ----

CBatchDlg::CBatchDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(UiText(kBatchDialogTitle));
  BuildControls();
  LoadControls();
  ApplyColourRule(true);
  m_animation->Stop();
}

CBatchDlg::~CBatchDlg() = default;

QSlider* CBatchDlg::AddSlider(int sliderId, int valueId, int min, int max, QLineEdit** value) {
  auto* slider = new QSlider(Qt::Horizontal, m_options);
  slider->setObjectName(BatchControlName(sliderId));
  slider->setRange(min, max);
  slider->setPageStep(5);
  slider->setTickInterval(10);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setMinimumWidth(150);
  auto* field = new QLineEdit(m_options);
  field->setObjectName(BatchControlName(valueId));
  field->setReadOnly(true);
  field->setAlignment(Qt::AlignRight);
  field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("-0000")) + 12);
  connect(slider, &QSlider::valueChanged, field,
          [field](int position) { field->setText(QString::number(position)); });
  *value = field;
  m_controls.push_back(slider);
  return slider;
}

QPushButton* CBatchDlg::AddButton(QWidget* parent, const QString& text, int id,
                                  void (CBatchDlg::*handler)()) {
  QPushButton* button = MakeButton(parent, text, id);
  connect(button, &QPushButton::clicked, this, handler);
  m_controls.push_back(button);
  return button;
}

void CBatchDlg::BuildControls() {
  auto* left = new QVBoxLayout;
  left->addWidget(BuildSourceBox());
  left->addWidget(BuildTargetBox());
  left->addWidget(BuildOptionsBox());
  left->addWidget(BuildPanels());
  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addLayout(BuildRunColumn());
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(BuildStatusLines());
  layout->addWidget(m_progress);
}

// The steps' settings: a page for each group made from the settings table
// (the automatic steps' "自动" and any later group), every setting of the
// parameter bar's page of the same name, so all the job uses is here.
QTabWidget* CBatchDlg::BuildPanels() {
  auto* pages = new QTabWidget(this);
  pages->setObjectName(BatchControlName(kBatchIdPanels));
  constexpr int kLineWidth = 620;
  for (const SettingGroup group : PanelGroups()) {
    auto* panel = new CSettingPanel(
        group, [](int slot) { return BatchControlName(BatchSettingId(slot)); }, kLineWidth, pages);
    panel->setContentsMargins(6, 4, 6, 4);
    pages->addTab(panel, GroupTitle(group));
    m_panels.push_back(panel);
    for (const auto& [slot, control] : panel->Controls()) m_controls.push_back(control);
  }
  return pages;
}

// "需增强的漫画": the source folder, its patterns and the subfolder box.
QGroupBox* CBatchDlg::BuildSourceBox() {
  auto* box = new QGroupBox(tr("需增强的漫画"), this);
  m_source = new CPathDisplay(box);
  m_source->setObjectName(BatchControlName(kBatchIdSource));
  m_source->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* choose = AddButton(box, tr("选择"), kBatchIdChooseSource, &CBatchDlg::OnChooseSource);
  m_patterns = MakeList(box, BatchSourcePatterns(), kBatchIdSourcePatterns);
  m_patterns->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_patterns->setMinimumContentsLength(16);
  auto* view = AddButton(box, tr("查看文件"), kBatchIdViewSource, &CBatchDlg::OnViewSource);
  m_subdirs = new QCheckBox(tr("包括子目录"), box);
  m_subdirs->setObjectName(BatchControlName(kBatchIdSubdirs));
  m_controls.insert(m_controls.end(), {m_source, m_patterns, m_subdirs});

  auto* grid = new QGridLayout(box);
  grid->addWidget(new QLabel(tr("存放源文件的目录:"), box), 0, 0);
  grid->addWidget(m_source, 0, 1, 1, 2);
  grid->addWidget(choose, 0, 3);
  grid->addWidget(new QLabel(tr("源文件:"), box), 1, 0);
  grid->addWidget(m_patterns, 1, 1);
  grid->addWidget(m_subdirs, 1, 2);
  grid->addWidget(view, 1, 3);
  grid->setColumnStretch(1, 1);
  return box;
}

// "增强后的漫画": the target folder and the new extension.
QGroupBox* CBatchDlg::BuildTargetBox() {
  auto* box = new QGroupBox(tr("增强后的漫画"), this);
  m_target = new CPathDisplay(box);
  m_target->setObjectName(BatchControlName(kBatchIdTarget));
  m_target->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* choose = AddButton(box, tr("选择"), kBatchIdChooseTarget, &CBatchDlg::OnChooseTarget);
  m_extension = MakeList(box, BatchNewExtensions(), kBatchIdNewExtension);
  auto* view = AddButton(box, tr("查看文件"), kBatchIdViewTarget, &CBatchDlg::OnViewTarget);
  m_books = MakeList(box, BookKindEntries(), kBatchIdBooks);
  m_folderBooks = new QCheckBox(tr("每个目录转为一本书"), box);
  m_folderBooks->setObjectName(BatchControlName(kBatchIdFolderBooks));
  m_folderBooks->setToolTip(
      tr("含有页面的每个目录转换为一本以它命名的书（CBZ、EPUB、KEPUB或PDF）"));
  m_stripCut = MakeSpin(box, 0, 65535, kBatchIdStripCut);
  m_stripCut->setSpecialValueText(tr("不切"));
  m_stripCut->setSuffix(tr(" 像素"));
  m_stripCut->setSingleStep(100);
  m_stripCut->setToolTip(tr("比这更高（适配和缩放后）的页面切成多页，尽量切在画格间的空白处"));
  m_stripJoin = new QCheckBox(tr("先接成一长条"), box);
  m_stripJoin->setObjectName(BatchControlName(kBatchIdStripJoin));
  m_stripJoin->setToolTip(tr("每个目录或书的页面先接成一长条再切开，跨两张图的画格保持完整"));
  m_useAttached = new QCheckBox(tr("每本书用附加在它或它的系列上的设置"), box);
  m_useAttached->setObjectName(BatchControlName(kBatchIdUseAttached));
  m_useAttached->setToolTip(
      tr("书和它的系列（所在目录）附加了设置时用那个设置转换，页面另有的设置（只用于此页）"
         "也用上；没有附加的书用这里的设置"));
  m_controls.insert(m_controls.end(), {m_target, m_extension, m_books, m_folderBooks, m_stripCut,
                                       m_stripJoin, m_useAttached});

  auto* grid = new QGridLayout(box);
  grid->addWidget(new QLabel(tr("存放新文件的目录:"), box), 0, 0);
  grid->addWidget(m_target, 0, 1, 1, 2);
  grid->addWidget(choose, 0, 3);
  grid->addWidget(new QLabel(tr("新文件扩展名:"), box), 1, 0);
  grid->addWidget(m_extension, 1, 1);
  grid->addWidget(view, 1, 3);
  grid->addWidget(new QLabel(tr("漫画书(CBZ、CBR、PDF等):"), box), 3, 0);
  grid->addWidget(m_books, 3, 1, 1, 2);
  grid->addWidget(m_folderBooks, 3, 3);
  AddDeviceRows(box, grid, 2, 4);
  grid->addWidget(new QLabel(tr("长条漫画切成页面:"), box), 5, 0);
  grid->addWidget(m_stripCut, 5, 1);
  grid->addWidget(m_stripJoin, 5, 2);
  grid->addWidget(m_useAttached, 6, 1, 1, 3);
  grid->setColumnStretch(2, 1);
  return box;
}

namespace {
// The device list's entries: the name (Qt::UserRole) and the label.
constexpr int kLabelRole = Qt::UserRole + 1;
}  // namespace

void CBatchDlg::AddDeviceRows(QWidget* box, QGridLayout* grid, int deviceRow, int spreadsRow) {
  m_deviceSearch = new QLineEdit(box);
  m_deviceSearch->setObjectName(BatchControlName(kBatchIdDeviceSearch));
  m_deviceSearch->setPlaceholderText(tr("搜索设备"));
  m_deviceSearch->setClearButtonEnabled(true);
  m_device = new QComboBox(box);
  m_device->setObjectName(BatchControlName(kBatchIdDevice));
  m_device->setToolTip(tr("选择设备即调入它的设置：屏幕大小、灰度或彩色、书的种类和跨页的处理"));
  m_device->addItem(tr("（不按设备）"));
  for (const DeviceRow& row : DeviceRows()) {
    // A ready-made set is known by its name, a device by its maker's.
    const bool readyMade =
        std::any_of(kDeviceSettings.begin(), kDeviceSettings.end(),
                    [&row](const DeviceSetting& s) { return s.name == row.name; });
    const QString shown = QString::fromStdString(readyMade ? row.name : row.label);
    m_device->addItem(shown + QStringLiteral("  %1×%2").arg(row.width).arg(row.height),
                      QString::fromStdString(row.name));
    m_device->setItemData(m_device->count() - 1, QString::fromStdString(row.label), kLabelRole);
  }
  connect(m_deviceSearch, &QLineEdit::textChanged, this, &CBatchDlg::FilterDevices);
  connect(m_device, &QComboBox::activated, this, &CBatchDlg::OnDeviceChosen);
  m_spreads = MakeList(box, SpreadPageEntries(), kBatchIdSpreadPages);
  m_spreads->setToolTip(tr("“拆分跨页”打开时，宽于高的页面变成什么（按阅读顺序）"));
  m_renumber = new QCheckBox(tr("页面按阅读顺序编号"), box);
  m_renumber->setObjectName(BatchControlName(kBatchIdRenumber));
  m_renumber->setToolTip(tr("书中的页面改名为0001.jpg……，因为阅读器按文字排序文件名"));
  m_controls.insert(m_controls.end(), {m_deviceSearch, m_device, m_spreads, m_renumber});
  grid->addWidget(new QLabel(tr("阅读设备:"), box), deviceRow, 0);
  grid->addWidget(m_deviceSearch, deviceRow, 1);
  grid->addWidget(m_device, deviceRow, 2, 1, 2);
  grid->addWidget(new QLabel(tr("跨页:"), box), spreadsRow, 0);
  grid->addWidget(m_spreads, spreadsRow, 1);
  grid->addWidget(m_renumber, spreadsRow, 2, 1, 2);
}

void CBatchDlg::FilterDevices(const QString& text) {
  const auto plain = [](const QString& s) {
    return s.toCaseFolded().replace(QLatin1Char('-'), ' ');
  };
  const QStringList words = plain(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
  auto* list = qobject_cast<QListView*>(m_device->view());
  for (int i = 1; i < m_device->count(); ++i) {
    // The name and the label, not the size shown beside them.
    const QString known = plain(m_device->itemData(i).toString() + ' ' +
                                m_device->itemData(i, kLabelRole).toString());
    const bool shown = std::all_of(words.begin(), words.end(),
                                   [&known](const QString& w) { return known.contains(w); });
    list->setRowHidden(i, !shown);
  }
}

void CBatchDlg::ForgetDevice() {
  m_deviceRow = nullptr;
  m_device->setCurrentIndex(0);
}

void CBatchDlg::OnDeviceChosen(int index) {
  m_deviceRow =
      index > 0 ? FindDevice(m_device->itemData(index).toString().toStdString()) : nullptr;
  if (m_deviceRow == nullptr) return;
  // The folders and the strip height are not the device's to change.
  StoreControls();
  ApplyDevice(*m_deviceRow, AppParams());
  LoadControls();
  ApplyColourRule(true);
}

// The options: the sliders on the left, the other values on the right.
QGroupBox* CBatchDlg::BuildOptionsBox() {
  m_options = new QGroupBox(this);
  auto* layout = new QHBoxLayout(m_options);
  layout->addLayout(BuildSliders(), 1);
  layout->addSpacing(12);
  layout->addLayout(BuildValues());
  return m_options;
}

// The six sliders with their value fields, and the resampling filter beside
// the resize slider.
QGridLayout* CBatchDlg::BuildSliders() {
  // Each over its slot's range.
  const auto slider = [this](int slot, int id, int valueId, QLineEdit** value) {
    return AddSlider(id, valueId, BoundsOfSetting(slot).min, BoundsOfSetting(slot).max, value);
  };
  m_brightness = slider(kBrightness, kBatchIdBrightness, kBatchIdBrightnessValue, &m_values[0]);
  m_contrast = slider(kContrast, kBatchIdContrast, kBatchIdContrastValue, &m_values[1]);
  m_highlight = slider(kHighlight, kBatchIdHighlight, kBatchIdHighlightValue, &m_values[2]);
  m_gamma = slider(kGamma, kBatchIdGamma, kBatchIdGammaValue, &m_values[3]);
  m_resize = slider(kResize, kBatchIdResize, kBatchIdResizeValue, &m_values[4]);
  m_quality = slider(kJpegQuality, kBatchIdQuality, kBatchIdQualityValue, &m_values[5]);
  m_filter = MakeList(m_options, FilterEntries(), kBatchIdFilter);
  m_controls.insert(m_controls.end(), std::begin(m_values), std::end(m_values));
  m_controls.push_back(m_filter);

  auto* grid = new QGridLayout;
  const std::pair<const char*, QSlider*> rows[] = {
      {QT_TR_NOOP("亮度:"), m_brightness},  {QT_TR_NOOP("对比度:"), m_contrast},
      {QT_TR_NOOP("高亮度:"), m_highlight}, {QT_TR_NOOP("Gamma校正:"), m_gamma},
      {QT_TR_NOOP("尺寸缩放:"), m_resize},  {QT_TR_NOOP("JPG压缩比:"), m_quality}};
  for (int row = 0; row < 6; ++row) {
    grid->addWidget(new QLabel(tr(rows[row].first), m_options), row, 0);
    grid->addWidget(rows[row].second, row, 1);
    grid->addWidget(m_values[row], row, 2);
  }
  grid->addWidget(m_filter, 4, 3);
  grid->setColumnStretch(1, 1);
  return grid;
}

// The threshold, the curve, the crop, sharpen, soften, the colour mode with
// its skip box, and the named-setting buttons.
QGridLayout* CBatchDlg::BuildValues() {
  auto label = [this](const char* text) { return new QLabel(tr(text), m_options); };
  const auto spin = [this](int slot, int id) {
    return MakeSpin(m_options, BoundsOfSetting(slot).min, BoundsOfSetting(slot).max, id);
  };
  m_threshold = spin(kThreshold, kBatchIdThreshold);
  m_cropTop = spin(kCroppingTop, kBatchIdCropTop);
  m_cropBottom = spin(kCroppingBottom, kBatchIdCropBottom);
  m_cropLeft = spin(kCroppingLeft, kBatchIdCropLeft);
  m_cropRight = spin(kCroppingRight, kBatchIdCropRight);
  m_sharpen = MakeList(m_options, SharpenEntries(), kBatchIdSharpen);
  m_soften = MakeList(m_options, SoftenEntries(), kBatchIdSoften);
  m_colour = MakeList(m_options, ColourEntries(), kBatchIdColour);
  connect(m_colour, &QComboBox::currentIndexChanged, this, [this] { ApplyColourRule(true); });
  m_skipColour = new QCheckBox(tr("不处理彩色图像文件"), m_options);
  m_skipColour->setObjectName(BatchControlName(kBatchIdSkipColour));
  m_controls.insert(m_controls.end(), {m_threshold, m_cropTop, m_cropBottom, m_cropLeft,
                                       m_cropRight, m_sharpen, m_soften, m_colour, m_skipColour});

  auto* grid = new QGridLayout;
  grid->addWidget(label(QT_TR_NOOP("高亮值:")), 0, 0);
  grid->addWidget(m_threshold, 0, 1);
  grid->addWidget(label(QT_TR_NOOP("曲线:")), 1, 0);
  grid->addLayout(BuildCurveRow(), 1, 1, 1, 3);
  const std::pair<const char*, QWidget*> cells[] = {
      {QT_TR_NOOP("上:"), m_cropTop},   {QT_TR_NOOP("下:"), m_cropBottom},
      {QT_TR_NOOP("左:"), m_cropLeft},  {QT_TR_NOOP("右:"), m_cropRight},
      {QT_TR_NOOP("锐化:"), m_sharpen}, {QT_TR_NOOP("柔化:"), m_soften}};
  for (int i = 0; i < 6; ++i) {
    grid->addWidget(label(cells[i].first), 2 + i / 2, 2 * (i % 2));
    grid->addWidget(cells[i].second, 2 + i / 2, 2 * (i % 2) + 1);
  }
  grid->addWidget(label(QT_TR_NOOP("色彩:")), 5, 0);
  grid->addWidget(m_colour, 5, 1);
  grid->addWidget(m_skipColour, 5, 2, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  auto* settingRow = new QHBoxLayout;
  settingRow->addStretch();
  settingRow->addWidget(
      AddButton(m_options, tr("保存"), kBatchIdSaveSetting, &CBatchDlg::OnSaveSetting));
  settingRow->addWidget(
      AddButton(m_options, tr("调入"), kBatchIdLoadSetting, &CBatchDlg::OnLoadSetting));
  settingRow->addWidget(AddButton(m_options, tr("恢复"), kBatchIdRestore, &CBatchDlg::OnRestore));
  grid->addLayout(settingRow, 6, 0, 1, 4);
  return grid;
}

// The four read-only curve values and "设置".
QHBoxLayout* CBatchDlg::BuildCurveRow() {
  auto* row = new QHBoxLayout;
  const int ids[4] = {kBatchIdCurveX1, kBatchIdCurveY1, kBatchIdCurveX2, kBatchIdCurveY2};
  for (int i = 0; i < 4; ++i) {
    m_curve[i] = new QLineEdit(m_options);
    m_curve[i]->setObjectName(BatchControlName(ids[i]));
    m_curve[i]->setReadOnly(true);
    m_curve[i]->setAlignment(Qt::AlignRight);
    m_curve[i]->setFixedWidth(m_curve[i]->fontMetrics().horizontalAdvance(QStringLiteral("-0000")) +
                              12);
    m_controls.push_back(m_curve[i]);
    row->addWidget(m_curve[i]);
  }
  row->addWidget(AddButton(m_options, tr("设置"), kBatchIdCurve, &CBatchDlg::OnCurve));
  row->addStretch();
  return row;
}

// The right column: the two run buttons, "关闭", "帮助" and the animation.
QVBoxLayout* CBatchDlg::BuildRunColumn() {
  m_convertAll =
      AddButton(this, UiText(kConvertAllText), kBatchIdConvertAll, &CBatchDlg::OnConvertAll);
  m_convertAll->setDefault(true);
  m_convertPicked = AddButton(this, UiText(kConvertPickedText), kBatchIdConvertPicked,
                              &CBatchDlg::OnConvertPicked);
  auto* close = AddButton(this, tr("关闭"), kBatchIdClose, &CBatchDlg::reject);
  auto* help = AddButton(this, tr("帮助"), kBatchIdHelp, &CBatchDlg::OnHelp);
  m_animation = new CBatchAnimation(this);
  m_animation->setObjectName(BatchControlName(kBatchIdAnimation));
  // The buttons keep one width, wide enough for every one's text and for
  // "停止转换" too (the run buttons' text while a run goes on).
  int buttonWidth = 96;
  for (QPushButton* button : {m_convertAll, m_convertPicked, close, help}) {
    buttonWidth = std::max(buttonWidth, button->sizeHint().width());
  }
  const QString stop = UiText(kStopConversionText);
  buttonWidth = std::max(buttonWidth,
                         m_convertAll->sizeHint().width() -
                             m_convertAll->fontMetrics().horizontalAdvance(m_convertAll->text()) +
                             m_convertAll->fontMetrics().horizontalAdvance(stop));
  auto* column = new QVBoxLayout;
  for (QPushButton* button : {m_convertAll, m_convertPicked, close, help}) {
    button->setMinimumWidth(buttonWidth);
    column->addWidget(button);
  }
  column->addSpacing(12);
  column->addWidget(m_animation, 0, Qt::AlignHCenter);
  column->addStretch();
  return column;
}

// The operation line and the current file above the progress bar.
QHBoxLayout* CBatchDlg::BuildStatusLines() {
  // Wide enough for the names of the run's stages in the interface's
  // language; anything longer is elided at its end.
  m_operation = new CPathDisplay(this, Qt::ElideRight);
  m_operation->setObjectName(BatchControlName(kBatchIdOperation));
  int widest = 0;
  for (std::string_view stage : {kBatchCounting, kBatchReading, kBatchCopying, kBatchReducing,
                                 kBatchSaving, kStageSharpen, kStageBrightness, kStageHighlight,
                                 kStageContrast, kStageCurve, kStageGamma, kStageSoften}) {
    widest = std::max(widest, m_operation->fontMetrics().horizontalAdvance(EngineUiText(stage)));
  }
  m_operation->setMinimumWidth(widest + 12);
  m_operation->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  m_currentFile = new CPathDisplay(this);
  m_currentFile->setObjectName(BatchControlName(kBatchIdCurrentFile));
  m_progress = new QProgressBar(this);
  m_progress->setObjectName(BatchControlName(kBatchIdProgress));
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  auto* status = new QHBoxLayout;
  status->addWidget(m_operation);
  status->addWidget(m_currentFile, 1);
  return status;
}

void CBatchDlg::UpdateCaption() {
  m_options->setTitle(tr("选项：") + QString::fromStdString(AppParams().GetName()));
}

void CBatchDlg::LoadControls() {
  const CParaBlock& block = AppParams();
  UpdateCaption();
  SelectIndex(m_patterns, block.GetValue(kSourceFiles));
  SelectIndex(m_extension, block.GetValue(kTargetFiles));
  m_threshold->setValue(block.GetValue(kThreshold));
  m_cropLeft->setValue(block.GetValue(kCroppingLeft));
  m_cropTop->setValue(block.GetValue(kCroppingTop));
  m_cropRight->setValue(block.GetValue(kCroppingRight));
  m_cropBottom->setValue(block.GetValue(kCroppingBottom));
  SelectIndex(m_filter, block.GetValue(kResizeType));
  QSlider* const sliders[6] = {m_brightness, m_contrast, m_highlight, m_gamma, m_resize, m_quality};
  const int slotIds[6] = {kBrightness, kContrast, kHighlight, kGamma, kResize, kJpegQuality};
  for (int i = 0; i < 6; ++i) {
    sliders[i]->setValue(block.GetValue(slotIds[i]));
    m_values[i]->setText(QString::number(sliders[i]->value()));
  }
  // The colour list is set without its rule; the caller applies it.
  {
    const QSignalBlocker quiet(m_colour);
    SelectIndex(m_colour, block.GetValue(kGreyScale));
  }
  m_subdirs->setChecked(block.GetValue(kIncludeSubdirs) != 0);
  SelectIndex(m_sharpen, block.GetValue(kSharpen));
  SelectIndex(m_soften, block.GetValue(kBlur));
  const int curveSlots[4] = {kCurveX1, kCurveY1, kCurveX2, kCurveY2};
  for (int i = 0; i < 4; ++i) m_curve[i]->setText(QString::number(block.GetValue(curveSlots[i])));
  for (CSettingPanel* panel : m_panels) panel->Load(block);
  const BatchFolders& folders = RememberedBatchFolders();
  m_source->SetText(FromPath(folders.source));
  m_target->SetText(FromPath(folders.target));
  // A setting that leaves the books to the run keeps the dialog's choice.
  const auto chosen = [&block](int slot) { return block.GetValue(slot) >= 0; };
  if (chosen(kBookKind)) SelectIndex(m_books, block.GetValue(kBookKind));
  if (chosen(kFolderBooks)) m_folderBooks->setChecked(block.GetValue(kFolderBooks) != 0);
  if (chosen(kSpreadPages)) SelectIndex(m_spreads, block.GetValue(kSpreadPages));
  if (chosen(kRenumber)) m_renumber->setChecked(block.GetValue(kRenumber) != 0);
  m_stripCut->setValue(folders.stripCut);
  m_stripJoin->setChecked(folders.stripJoin);
  m_useAttached->setChecked(folders.useAttached);
}

void CBatchDlg::StoreControls() {
  CParaBlock& block = AppParams();
  const int slotIds[6] = {kBrightness, kContrast, kHighlight, kGamma, kResize, kJpegQuality};
  for (int i = 0; i < 6; ++i) block.SetValue(slotIds[i], m_values[i]->text().toInt());
  block.SetValue(kThreshold, m_threshold->value());
  block.SetValue(kResizeType, m_filter->currentIndex());
  block.SetValue(kCroppingLeft, m_cropLeft->value());
  block.SetValue(kCroppingTop, m_cropTop->value());
  block.SetValue(kCroppingRight, m_cropRight->value());
  block.SetValue(kCroppingBottom, m_cropBottom->value());
  block.SetValue(kGreyScale, m_colour->currentIndex());
  block.SetValue(kSharpen, m_sharpen->currentIndex());
  block.SetValue(kBlur, m_soften->currentIndex());
  block.SetValue(kIncludeSubdirs, m_subdirs->isChecked() ? 1 : 0);
  const int curveSlots[4] = {kCurveX1, kCurveY1, kCurveX2, kCurveY2};
  for (int i = 0; i < 4; ++i) block.SetValue(curveSlots[i], m_curve[i]->text().trimmed().toInt());
  block.SetValue(kSourceFiles, m_patterns->currentIndex());
  block.SetValue(kTargetFiles, m_extension->currentIndex());
  for (const CSettingPanel* panel : m_panels) panel->Store(block);
  block.SetValue(kBookKind, m_books->currentIndex());
  block.SetValue(kFolderBooks, m_folderBooks->isChecked() ? 1 : 0);
  block.SetValue(kSpreadPages, m_spreads->currentIndex());
  block.SetValue(kRenumber, m_renumber->isChecked() ? 1 : 0);
  BatchFolders& folders = RememberedBatchFolders();
  folders.source = ToPath(m_source->Text());
  folders.target = ToPath(m_target->Text());
  folders.stripCut = m_stripCut->value();
  folders.stripJoin = m_stripJoin->isChecked();
  folders.useAttached = m_useAttached->isChecked();
}

int CBatchDlg::ExtensionForColourMode(int mode, int current) {
  if (mode == kBlackWhite) return kExtTif;
  if (IsReducedMode(mode)) {
    const std::vector<std::string>& extensions = SaveExtensions();
    const bool fits = current >= 0 && current < static_cast<int>(extensions.size()) &&
                      TakesReducedPages(extensions[static_cast<size_t>(current)]);
    return fits ? current : kExtPng;
  }
  return (current == kExtPng || current == kExtBmp || current == kExtJpg) ? current : kExtJpg;
}

void CBatchDlg::ApplyColourRule(bool adjustExtension) {
  const int mode = m_colour->currentIndex();
  if (mode == kColourComic || mode == kKeepAsIs) {
    m_skipColour->setChecked(false);
    m_skipColour->setEnabled(false);
  } else {
    m_skipColour->setEnabled(true);
  }
  if (adjustExtension) {
    m_extension->setCurrentIndex(ExtensionForColourMode(mode, m_extension->currentIndex()));
  }
}

// ---- folders and files ----

void CBatchDlg::OnChooseSource() { OnChooseFolder(false); }
void CBatchDlg::OnChooseTarget() { OnChooseFolder(true); }
void CBatchDlg::OnViewSource() { OnViewFiles(false); }
void CBatchDlg::OnViewTarget() { OnViewFiles(true); }

void CBatchDlg::OnChooseFolder(bool target) {
  CPathDisplay* field = target ? m_target : m_source;
  QString start = field->Text();
  if (target && start.isEmpty()) start = m_source->Text();
  QString chosen;
  if (m_folderPicker) {
    chosen = m_folderPicker(start);
  } else {
    CFolderChooser chooser(this, tr("打开目录"), tr("请选择希望打开的目录"), start, target);
    if (chooser.exec() == QDialog::Accepted) chosen = chooser.Folder();
  }
  if (!chosen.isEmpty()) field->SetText(chosen);
}

void CBatchDlg::OnViewFiles(bool target) {
  const QString folder = (target ? m_target : m_source)->Text();
  if (folder.isEmpty()) {
    ShowMessage(this, target ? tr("请先选择目标目录。") : tr("请先选择源目录。"));
    return;
  }
  const std::string patterns = target ? "*" + m_extension->currentText().toStdString()
                                      : m_patterns->currentText().toStdString();
  CSrchDirFirst search;
  const fs::path first = search.FindFirst(ToPath(folder), patterns, m_subdirs->isChecked());
  if (first.empty()) {
    ShowMessage(this, target ? tr("抱歉，在目标目录中找不到可查看的文件。")
                             : tr("抱歉，在源目录中找不到可查看的文件。"));
    return;
  }
  Open(first);
}

bool CBatchDlg::Open(const fs::path& path) {
  if (m_open) return m_open(path);
  // The desktop's opener, which reports a file nothing could show: then
  // its path is shown, so the user can open it by hand.
  const QString shown = FromPath(path);
  const auto notShown = [dialog = QPointer<CBatchDlg>(this), shown] {
    ShowMessage(dialog, UiText(kNotOpenedMessage).arg(shown), QMessageBox::Ok);
  };
  if (!OpenUrl(QUrl::fromLocalFile(shown), notShown)) {
    notShown();
    return false;
  }
  return true;
}

bool CBatchDlg::MakeTargetFolder() {
  const QString target = m_target->Text();
  if (target.isEmpty() || !QDir::isAbsolutePath(target) || QFileInfo(target).isDir()) return true;
  std::error_code ec;
  fs::create_directories(ToPath(target), ec);
  if (ec || !QFileInfo(target).isDir()) {
    ShowMessage(this, UiText(kFolderNotMadeMessage).arg(target));
    return false;
  }
  // Said once: the next run finds it.
  ShowMessage(this, UiText(kMakingTargetMessage).arg(target), QMessageBox::Ok);
  return true;
}

// ---- runs ----

void CBatchDlg::OnConvertAll() {
  if (m_running) {
    m_stopRequest = true;
    return;
  }
  RunJob(m_convertAll, nullptr);
}

void CBatchDlg::OnConvertPicked() {
  if (m_running) {
    m_stopRequest = true;
    return;
  }
  if (m_target->Text().isEmpty()) {
    ShowMessage(this, EngineUiText(kBatchNoTargetMessage));
    return;
  }
  const QString start = m_source->Text().isEmpty() ? QStringLiteral("/") : m_source->Text();
  std::vector<fs::path> files;
  if (m_picker) {
    files = m_picker(start);
  } else {
    CImageFileMultSel picker(this, tr("选择欲转换的文件"), start, CMainFrame::OpenDialogFilters(),
                             QString());
    if (picker.exec() == QDialog::Accepted) files = picker.SelectedPaths();
  }
  if (files.empty()) return;
  BatchSelection selection;
  selection.folder = files.front().parent_path();
  selection.files = std::move(files);
  if (m_source->Text().isEmpty()) m_source->SetText(FromPath(selection.folder));
  RunJob(m_convertPicked, &selection);
}

void CBatchDlg::RunJob(QPushButton* button, const BatchSelection* selection) {
  StoreControls();
  // A target that does not exist yet is made now, once the user agrees.
  if (!MakeTargetFolder()) return;
  BatchSettings settings;
  settings.sourceDir = ToPath(m_source->Text());
  settings.targetDir = ToPath(m_target->Text());
  settings.patterns = m_patterns->currentText().toStdString();
  settings.newExtension = m_extension->currentText().toStdString();
  settings.includeSubdirs = m_subdirs->isChecked();
  settings.skipColour = m_skipColour->isChecked();
  settings.colourMode = m_colour->currentIndex();
  settings.resizePercent = m_resize->value();
  settings.jpegQuality = m_quality->value();
  settings.params = &AppParams();
  TakeBookSettings(AppParams(), settings);
  if (m_deviceRow != nullptr) ApplyDeviceToRun(*m_deviceRow, settings);
  settings.stripCut = m_stripCut->value();
  settings.stripJoin = m_stripJoin->isChecked() && settings.stripCut > 0;
  settings.useAttached = m_useAttached->isChecked();
  settings.attachedSettingsFile = NamedSettingsFile();
  settings.jobs = 1;
  settings.askBeforeReplacing = true;
  settings.ownFiles = &m_written;

  m_running = true;
  m_stopRequest = false;
  std::vector<QWidget*> disabled;
  for (QWidget* control : m_controls) {
    if (control != button && control->isEnabled()) {
      control->setEnabled(false);
      disabled.push_back(control);
    }
  }
  const QString idleText = button->text();
  button->setText(UiText(kStopConversionText));
  m_animation->Play();

  // The dialog leaves the running state however the job ends: an exception
  // escaping it is reported and never leaves the controls disabled.
  CBatchDialogHost host(*this);
  try {
    CBatchJob job;
    job.Run(host, settings, selection);
    m_written.insert(job.WrittenFiles().begin(), job.WrittenFiles().end());
  } catch (const std::exception& error) {
    m_operation->SetText(QString());
    m_currentFile->SetText(QString());
    m_progress->setValue(0);
    ShowMessage(this, QString::fromUtf8(error.what()));
  }

  m_running = false;
  m_stopRequest = false;
  for (QWidget* control : disabled) control->setEnabled(true);
  ApplyColourRule(false);
  button->setText(idleText);
  m_animation->Stop();
}

// A run goes on inside a button's click, so the dialog must not close under
// it: Esc and the window's close box (QDialog::closeEvent comes here) then
// ask the run to stop, and the dialog stays open.
void CBatchDlg::reject() {
  if (m_running) {
    m_stopRequest = true;
    return;
  }
  QDialog::reject();
}

// ---- parameters ----

void CBatchDlg::OnSaveSetting() {
  StoreControls();
  CSettingsDialog dialog(CSettingsDialog::Mode::kSave, AppParams(), NamedSettingsFile(), this);
  if (dialog.exec() == QDialog::Accepted) UpdateCaption();
}

void CBatchDlg::OnLoadSetting() {
  CSettingsDialog dialog(CSettingsDialog::Mode::kLoad, AppParams(), NamedSettingsFile(), this);
  if (dialog.exec() == QDialog::Accepted) {
    ForgetDevice();
    LoadControls();
    ApplyColourRule(true);
  }
}

void CBatchDlg::OnRestore() {
  if (m_restore) {
    m_restore();
  } else {
    AppParams().ResetDefaults();
  }
  ForgetDevice();
  LoadControls();
  ApplyColourRule(true);
}

void CBatchDlg::OnCurve() {
  // Without an announcer the editor writes straight into the block.
  CCurveDialog dialog(AppParams(), m_announce, this);
  dialog.exec();
  const int curveSlots[4] = {kCurveX1, kCurveY1, kCurveX2, kCurveY2};
  for (int i = 0; i < 4; ++i) {
    m_curve[i]->setText(QString::number(AppParams().GetValue(curveSlots[i])));
  }
}

void CBatchDlg::OnHelp() { ShowHelp(this); }

}  // namespace inkbrite
