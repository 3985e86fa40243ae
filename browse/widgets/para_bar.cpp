// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/para_bar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "batch/attached_settings.h"
#include "batch/named_settings.h"
#include "browse/dialogs/curve_dialog.h"
#include "browse/dialogs/param_lists.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/series_settings.h"
#include "browse/widgets/setting_panel.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The pages of the original layout; the pages made from the table follow.
constexpr const char* kTabTexts[kPageAuto] = {QT_TRANSLATE_NOOP("inkbrite::CParaBar", "亮度"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "对比度"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "高亮度"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "Gamma校正"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "曲线调节"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "缩放"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "Jpg质量"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "切边"),
                                              QT_TRANSLATE_NOOP("inkbrite::CParaBar", "其它")};
constexpr int kCurveSlots[4] = {kCurveX1, kCurveY1, kCurveX2, kCurveY2};
// The crop spins as shown (上, 下, 左, 右) and their slots.
constexpr int kCropSlots[4] = {kCroppingTop, kCroppingBottom, kCroppingLeft, kCroppingRight};
constexpr const char* kCropLabels[4] = {
    QT_TRANSLATE_NOOP("inkbrite::CParaBar", "上:"), QT_TRANSLATE_NOOP("inkbrite::CParaBar", "下:"),
    QT_TRANSLATE_NOOP("inkbrite::CParaBar", "左:"), QT_TRANSLATE_NOOP("inkbrite::CParaBar", "右:")};
constexpr int kCropIds[4] = {kParaCropTop, kParaCropBottom, kParaCropLeft, kParaCropRight};

constexpr int kPageWidth = 560;
constexpr int kPageHeight = 34;
// A page made from the table grows to this height, then scrolls.
constexpr int kPanelPageMaxHeight = 190;

constexpr int kValueWidth = 44;

bool IsSliderPage(int page) {
  return page == kPageBrightness || page == kPageContrast || page == kPageHighlight ||
         page == kPageGamma || page == kPageResize || page == kPageJpegQuality;
}

}  // namespace

CParaBar::CParaBar(Views views, QWidget* parent) : QDialog(parent), m_views(std::move(views)) {
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  BuildControls();
  // Creation: page 0, the caption, the spins and the slider at their
  // starting positions, the filter of slot 23.
  m_loading = true;
  m_threshold->setValue(190);
  for (QSpinBox* spin : m_crop) spin->setValue(0);
  m_slider->setValue(100);
  m_value->setText(QStringLiteral("100"));
  m_filter->setCurrentIndex(AppParams().GetValue(kResizeType));
  m_loading = false;
  m_current = 0;
  LayoutPage(0);
  LoadPage(0);
  UpdateCaption();
  // Keys typed into the bar's controls stay there (eventFilter).
  qApp->installEventFilter(this);
}

// The value field reports its last edit when the dialog's own destructor
// takes the focus away from it: by then this bar is gone, so it is cut off
// first.
CParaBar::~CParaBar() {
  if (m_value) m_value->disconnect(this);
}

// ---- controls ----

void CParaBar::BuildControls() {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 6, 6, 6);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);

  m_tabs = new QTabBar(this);
  m_tabs->setObjectName(ControlName(kParaTabs));
  m_tabs->setDrawBase(true);
  m_tabs->setExpanding(false);
  m_tabs->setUsesScrollButtons(false);
  for (const char* text : kTabTexts) m_tabs->addTab(tr(text));
  for (const SettingGroup group : PanelGroups()) m_tabs->addTab(GroupTitle(group));
  connect(m_tabs, &QTabBar::currentChanged, this, [this](int) { ShowPage(); });
  grid->addWidget(m_tabs, 0, 0);

  m_page = new QWidget(this);
  m_page->setFixedSize(kPageWidth, kPageHeight);
  grid->addWidget(m_page, 1, 0);

  m_windowOnly = new QCheckBox(tr("以上参数仅适用于当前窗口"), this);
  m_windowOnly->setObjectName(ControlName(kParaWindowOnly));
  connect(m_windowOnly, &QCheckBox::clicked, this, [this] { OnWindowOnlyClicked(); });
  grid->addWidget(m_windowOnly, 2, 0);

  auto* buttons = new QVBoxLayout;
  buttons->setSpacing(4);
  struct Command {
    int id;
    const char* text;
    void (CParaBar::*handler)();
  };
  // "保存" and "恢复" keep their one click; their arrows open what belongs
  // with them: attaching the settings to the book or its series, and going
  // back to the set in force for the book.
  constexpr Command kCommands[] = {{kParaSave, QT_TR_NOOP("保存"), &CParaBar::OnSave},
                                   {kParaLoad, QT_TR_NOOP("调入"), &CParaBar::OnLoad},
                                   {kParaRestore, QT_TR_NOOP("恢复"), &CParaBar::OnRestore}};
  for (const Command& command : kCommands) {
    auto* button = new QToolButton(this);
    button->setText(tr(command.text));
    button->setObjectName(ControlName(command.id));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(button, &QToolButton::clicked, this, command.handler);
    if (command.id == kParaSave) BuildAttachMenu(button);
    if (command.id == kParaRestore) {
      auto* menu = new QMenu(button);
      QAction* inForce = menu->addAction(tr("本书设置"));
      inForce->setObjectName(ControlName(kParaInForce));
      connect(inForce, &QAction::triggered, this, [this] { OnSettingInForce(); });
      button->setMenu(menu);
      button->setPopupMode(QToolButton::MenuButtonPopup);
    }
    buttons->addWidget(button);
  }
  buttons->addStretch();
  grid->addLayout(buttons, 0, 1, 3, 1);

  BuildSliderPage();
  BuildCurvePage();
  BuildCropPage();
  BuildOtherPage();
  // The pages are as wide as the tabs above them and the widest line of a
  // page made from the table (wider in English than in Chinese), and never
  // narrower than kPageWidth.
  m_pageWidth = std::max(kPageWidth, m_tabs->sizeHint().width());
  BuildPanelPages(m_pageWidth - m_page->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  for (const PanelPage& page : m_panels) {
    m_pageWidth = std::max(m_pageWidth, page.panel->sizeHint().width());
  }
  m_page->setFixedSize(m_pageWidth, kPageHeight);
  setFixedSize(sizeHint());
}

void CParaBar::BuildSliderPage() {
  // The shared slider with its value field, the highlight threshold, the
  // resampling filter.
  m_slider = new QSlider(Qt::Horizontal, m_page);
  m_slider->setObjectName(ControlName(kParaSlider));
  m_slider->setRange(0, 200);
  m_slider->setPageStep(5);
  m_slider->setTickInterval(10);
  m_slider->setTickPosition(QSlider::TicksBelow);
  connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
    m_value->setText(QString::number(value));
    if (!m_loading && IsSliderPage(m_current)) Announce(m_current, value);
  });
  // The value field shows the position, and takes a typed value (Enter or
  // leaving the field) and the arrow keys too: clamped to the slider's
  // range, moved on the slider, announced as a drag is.
  m_value = new QLineEdit(m_page);
  m_value->setObjectName(ControlName(kParaValue));
  m_value->setAlignment(Qt::AlignRight);
  m_value->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?\\d{0,4}")), m_value));
  m_value->installEventFilter(this);
  connect(m_value, &QLineEdit::editingFinished, this, [this] { TakeTypedValue(); });
  m_thresholdLabel = new QLabel(tr("高亮值:"), m_page);
  m_threshold = new QSpinBox(m_page);
  m_threshold->setObjectName(ControlName(kParaThreshold));
  m_threshold->setRange(BoundsOfSetting(kThreshold).min, BoundsOfSetting(kThreshold).max);
  connect(m_threshold, &QSpinBox::valueChanged, this, [this](int value) {
    if (!m_loading) Announce(kThreshold, value);
  });
  m_filter = new QComboBox(m_page);
  m_filter->setObjectName(ControlName(kParaFilter));
  m_filter->addItems(FilterEntries());
  connect(m_filter, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!m_loading && index >= 0) Announce(kResizeType, index);
  });
}

void CParaBar::BuildCurvePage() {
  constexpr const char* kLabels[4] = {"X1:", "Y1:", "X2:", "Y2:"};
  constexpr int kIds[4] = {kParaCurveX1, kParaCurveY1, kParaCurveX2, kParaCurveY2};
  int x = 0;
  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel(QString::fromLatin1(kLabels[i]), m_page);
    label->setGeometry(x, 6, 26, 22);
    m_curveTexts[i] = new QLineEdit(m_page);
    m_curveTexts[i]->setObjectName(ControlName(kIds[i]));
    m_curveTexts[i]->setReadOnly(true);
    m_curveTexts[i]->setGeometry(x + 26, 6, 60, 22);
    m_curveWidgets.push_back(label);
    m_curveWidgets.push_back(m_curveTexts[i]);
    x += 100;
  }
  m_curveButton = new QPushButton(tr("设置"), m_page);
  m_curveButton->setObjectName(ControlName(kParaCurveButton));
  m_curveButton->setAutoDefault(false);
  m_curveButton->setGeometry(x + 10, 4, 80, 26);
  connect(m_curveButton, &QPushButton::clicked, this, [this] { OnCurveButton(); });
  m_curveWidgets.push_back(m_curveButton);
}

void CParaBar::BuildCropPage() {
  // The labels as wide as the widest text needs (longer in English); the
  // spins narrower when four groups would not fit otherwise.
  int labelWidth = 24;
  for (const char* text : kCropLabels) {
    labelWidth = std::max(labelWidth, fontMetrics().horizontalAdvance(tr(text)) + 4);
  }
  const int spinWidth = std::min(80, kPageWidth / 4 - labelWidth - 6);
  const int step = std::max(130, labelWidth + spinWidth + 6);
  int x = 0;
  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel(tr(kCropLabels[i]), m_page);
    label->setGeometry(x, 6, labelWidth, 22);
    m_crop[i] = new QSpinBox(m_page);
    m_crop[i]->setObjectName(ControlName(kCropIds[i]));
    const int slot = kCropSlots[i];
    m_crop[i]->setRange(BoundsOfSetting(slot).min, BoundsOfSetting(slot).max);
    m_crop[i]->setGeometry(x + labelWidth, 5, spinWidth, 24);
    connect(m_crop[i], &QSpinBox::valueChanged, this, [this, slot](int value) {
      if (!m_loading) Announce(slot, value);
    });
    m_cropWidgets.push_back(label);
    m_cropWidgets.push_back(m_crop[i]);
    x += step;
  }
}

void CParaBar::BuildOtherPage() {
  // Three label and list groups; the labels as wide as the widest text needs.
  const char* const labels[3] = {QT_TR_NOOP("锐化:"), QT_TR_NOOP("柔化:"), QT_TR_NOOP("色彩:")};
  constexpr int kListWidth = 120;
  int labelWidth = 40;
  for (const char* text : labels) {
    labelWidth = std::max(labelWidth, fontMetrics().horizontalAdvance(tr(text)) + 4);
  }
  const int gap = std::clamp((kPageWidth - 3 * (labelWidth + kListWidth)) / 2, 4, 20);
  const int step = labelWidth + kListWidth + gap;
  auto addList = [&](int left, int id, const char* label, const QStringList& items, int slot) {
    auto* text = new QLabel(tr(label), m_page);
    text->setGeometry(left, 6, labelWidth, 22);
    auto* list = new QComboBox(m_page);
    list->setObjectName(ControlName(id));
    list->addItems(items);
    list->setGeometry(left + labelWidth, 5, kListWidth, 24);
    connect(list, &QComboBox::currentIndexChanged, this, [this, slot](int index) {
      if (!m_loading && index >= 0) Announce(slot, index);
    });
    m_otherWidgets.push_back(text);
    m_otherWidgets.push_back(list);
    return list;
  };
  m_sharpen = addList(0, kParaSharpen, labels[0], SharpenEntries(), kSharpen);
  m_soften = addList(step, kParaSoften, labels[1], SoftenEntries(), kBlur);
  m_colour = addList(2 * step, kParaColour, labels[2], ColourEntries(), kGreyScale);
}

void CParaBar::BuildPanelPages(int width) {
  for (const SettingGroup group : PanelGroups()) {
    auto* area = new QScrollArea(m_page);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidgetResizable(true);
    auto* panel = new CSettingPanel(
        group, [](int slot) { return ControlName(SettingControlId(slot)); }, width, area);
    area->setWidget(panel);
    connect(panel, &CSettingPanel::Changed, this, [this](int slot, int value) {
      if (!m_loading) Announce(slot, value);
    });
    m_panels.push_back({area, panel});
  }
}

CSettingPanel* CParaBar::PanelOf(int page) const {
  const int index = page - kPageAuto;
  return index >= 0 && index < static_cast<int>(m_panels.size())
             ? m_panels[static_cast<size_t>(index)].panel
             : nullptr;
}

int CParaBar::PageHeight(int page) const {
  const CSettingPanel* panel = PanelOf(page);
  return panel ? std::min(panel->sizeHint().height(), kPanelPageMaxHeight) : kPageHeight;
}

// ---- keys and visibility ----

bool CParaBar::Holds(QObject* object) const {
  // Across windows: a list's pop-up belongs to the bar too.
  for (auto* w = qobject_cast<QWidget*>(object); w != nullptr; w = w->parentWidget()) {
    if (w == this) return true;
  }
  return false;
}

void CParaBar::KeepOnScreen(int bottom) {
  if (!isVisible()) return;
  // The bottom edge stays where it was (the bar grows upwards, away from
  // the frame's bottom), and the whole bar within the screen's free area.
  QRect frame = frameGeometry();
  frame.moveBottom(bottom);
  if (const QScreen* shown = screen()) {
    const QRect room = shown->availableGeometry();
    if (frame.bottom() > room.bottom()) frame.moveBottom(room.bottom());
    if (frame.top() < room.top()) frame.moveTop(room.top());
    if (frame.right() > room.right()) frame.moveRight(room.right());
    if (frame.left() < room.left()) frame.moveLeft(room.left());
  }
  PlaceAt(frame.topLeft());
}

void CParaBar::PlaceAt(QPoint topLeft) {
  m_placedAt = topLeft;
  move(topLeft);
}

void CParaBar::moveEvent(QMoveEvent* event) {
  QDialog::moveEvent(event);
  // A window manager may shift a window by its frame's width: a user's move
  // goes further.
  constexpr int kSlack = 8;
  const QPoint at = frameGeometry().topLeft();
  if (!isVisible() || m_placedAt == QPoint(-1, -1) ||
      (at - m_placedAt).manhattanLength() <= kSlack) {
    return;
  }
  m_placedAt = at;
  emit MovedByUser(at);
}

void CParaBar::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  emit Resized();
}

void CParaBar::TakeTypedValue() {
  bool number = false;
  const int typed = m_value->text().trimmed().toInt(&number);
  if (number) m_slider->setValue(std::clamp(typed, m_slider->minimum(), m_slider->maximum()));
  // What it shows is the slider's position again (also after a clamp).
  m_value->setText(QString::number(m_slider->value()));
}

bool CParaBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_value && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    const int step = key == Qt::Key_Up         ? 1
                     : key == Qt::Key_Down     ? -1
                     : key == Qt::Key_PageUp   ? m_slider->pageStep()
                     : key == Qt::Key_PageDown ? -m_slider->pageStep()
                                               : 0;
    if (step != 0) {
      TakeTypedValue();
      m_slider->setValue(m_slider->value() + step);
      return true;
    }
  }
  // A shortcut override accepted here makes the key a key press for the
  // control with the focus instead of one of the viewer's shortcuts.
  if (event->type() == QEvent::ShortcutOverride && Holds(watched)) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool commandKey =
        (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
    const bool functionKey = key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35;
    if (!commandKey && !functionKey) key->accept();
  }
  return QDialog::eventFilter(watched, event);
}

void CParaBar::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  emit VisibilityChanged(true);
}

void CParaBar::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  emit VisibilityChanged(false);
}

// ---- pages ----

void CParaBar::SelectPage(int page) { m_tabs->setCurrentIndex(page); }

void CParaBar::TakeStateFrom(const CParaBar& other) {
  m_snapshot.Assign(other.m_snapshot);
  m_windowOnly->setChecked(other.m_windowOnly->isChecked());
  SelectPage(other.m_current);
}

void CParaBar::ShowPage() {
  const int selected = m_tabs->currentIndex();
  if (selected != m_current) StorePage(m_current);
  LayoutPage(selected);
  m_current = selected;
  LoadPage(selected);
}

void CParaBar::StorePage(int page) {
  CParaBlock& block = AppParams();
  if (page == kPageCurve) {
    for (int i = 0; i < 4; ++i) block.SetValue(kCurveSlots[i], m_curveTexts[i]->text().toInt());
  } else if (page == kPageCrop) {
    for (int i = 0; i < 4; ++i) block.SetValue(kCropSlots[i], m_crop[i]->value());
  } else if (page == kPageOther) {
    block.SetValue(kSharpen, m_sharpen->currentIndex());
    block.SetValue(kBlur, m_soften->currentIndex());
    block.SetValue(kGreyScale, m_colour->currentIndex());
  } else if (const CSettingPanel* panel = PanelOf(page)) {
    panel->Store(block);
  } else if (IsSliderPage(page)) {
    block.SetValue(page, m_slider->value());
    if (page == kPageHighlight) block.SetValue(kThreshold, m_threshold->value());
    if (page == kPageResize) block.SetValue(kResizeType, m_filter->currentIndex());
  }
}

void CParaBar::LayoutPage(int page) {
  const bool slider = IsSliderPage(page);
  m_slider->setVisible(slider);
  m_value->setVisible(slider);
  m_thresholdLabel->setVisible(page == kPageHighlight);
  m_threshold->setVisible(page == kPageHighlight);
  m_filter->setVisible(page == kPageResize);
  for (QWidget* w : m_curveWidgets) w->setVisible(page == kPageCurve);
  for (QWidget* w : m_cropWidgets) w->setVisible(page == kPageCrop);
  for (QWidget* w : m_otherWidgets) w->setVisible(page == kPageOther);
  // A page made from the table has several lines; the bar grows for it and
  // shrinks back.
  const int height = PageHeight(page);
  for (const PanelPage& shown : m_panels) {
    const bool on = shown.panel == PanelOf(page);
    shown.area->setVisible(on);
    if (on) shown.area->setGeometry(0, 0, m_pageWidth, height);
  }
  if (m_page->height() != height) {
    const int bottom = frameGeometry().bottom();
    m_page->setFixedSize(m_pageWidth, height);
    layout()->activate();
    setFixedSize(sizeHint());
    KeepOnScreen(bottom);
  }
  if (!slider) return;

  const int valueLeft = m_pageWidth - kValueWidth;
  m_value->setGeometry(valueLeft, 6, kValueWidth, 22);
  int sliderRight = valueLeft - 6;
  if (page == kPageHighlight) {
    // The label as wide as its text needs (longer in English).
    const int labelWidth = std::max(
        52, m_thresholdLabel->fontMetrics().horizontalAdvance(m_thresholdLabel->text()) + 4);
    m_threshold->setGeometry(valueLeft - 76, 5, 68, 24);
    m_thresholdLabel->setGeometry(valueLeft - 78 - labelWidth, 6, labelWidth, 22);
    sliderRight = valueLeft - 84 - labelWidth;
  } else if (page == kPageResize) {
    m_filter->setGeometry(valueLeft - 106, 5, 98, 24);
    sliderRight = valueLeft - 112;
  }
  m_slider->setGeometry(0, 2, sliderRight, kPageHeight - 4);
  // The slider page of a slot shows the slot's range.
  m_loading = true;
  m_slider->setRange(BoundsOfSetting(page).min, BoundsOfSetting(page).max);
  m_loading = false;
}

void CParaBar::LoadPage(int page) {
  const CParaBlock& block = AppParams();
  m_loading = true;
  if (IsSliderPage(page)) {
    const int value = block.GetValue(page);
    // Set twice so that the value field is rewritten even when the
    // position does not change.
    m_slider->setValue(value + 1);
    m_slider->setValue(value);
    m_value->setText(QString::number(m_slider->value()));
    if (page == kPageHighlight) m_threshold->setValue(block.GetValue(kThreshold));
    if (page == kPageResize) m_filter->setCurrentIndex(block.GetValue(kResizeType));
  } else if (page == kPageCurve) {
    for (int i = 0; i < 4; ++i)
      m_curveTexts[i]->setText(QString::number(block.GetValue(kCurveSlots[i])));
  } else if (page == kPageCrop) {
    for (int i = 0; i < 4; ++i) m_crop[i]->setValue(block.GetValue(kCropSlots[i]));
  } else if (page == kPageOther) {
    m_sharpen->setCurrentIndex(block.GetValue(kSharpen));
    m_soften->setCurrentIndex(block.GetValue(kBlur));
    m_colour->setCurrentIndex(block.GetValue(kGreyScale));
  } else if (CSettingPanel* panel = PanelOf(page)) {
    panel->Load(block);  // clamped into the ranges the steps read
  }
  m_loading = false;
}

// ---- announcing ----

void CParaBar::Announce(int slot, int value) {
  AppParams().SetValue(slot, value);
  SetPerWindowMode(m_windowOnly->isChecked());
  if (PerWindowMode()) {
    if (QObject* view = m_views.active ? m_views.active() : nullptr) {
      QApplication::postEvent(view, new ParamChangeEvent(slot, value));
    }
    return;
  }
  if (!m_views.all) return;
  for (QObject* view : m_views.all())
    QApplication::postEvent(view, new ParamChangeEvent(slot, value));
}

void CParaBar::OnWindowOnlyClicked() {
  const bool before = PerWindowMode();
  SetPerWindowMode(m_windowOnly->isChecked());
  if (before == PerWindowMode() || !m_views.all) return;
  QObject* active = m_views.active ? m_views.active() : nullptr;
  for (QObject* view : m_views.all()) {
    if (view != active) QApplication::postEvent(view, new ParamResetEvent);
  }
}

void CParaBar::AnnounceDifferences(const CParaBlock& before) {
  for (int slot = 0; slot < kParaSlotCount; ++slot) {
    const int value = AppParams().GetValue(slot);
    if (value != before.GetValue(slot)) Announce(slot, value);
  }
}

void CParaBar::TakeSnapshot() { m_snapshot.Assign(AppParams()); }

void CParaBar::Refresh() {
  LayoutPage(m_current);
  LoadPage(m_current);
  UpdateCaption();
  AnnounceDifferences(m_snapshot);
}

void CParaBar::OnRestore() {
  CParaBlock before;
  before.Assign(AppParams());
  AppParams().ResetDefaults();
  LayoutPage(m_current);
  LoadPage(m_current);
  UpdateCaption();
  AnnounceDifferences(before);
}

void CParaBar::OnLoad() {
  StorePage(m_current);
  CParaBlock before;
  before.Assign(AppParams());
  CSettingsDialog dialog(CSettingsDialog::Mode::kLoad, AppParams(), NamedSettingsFile(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  UpdateCaption();
  LayoutPage(m_current);
  LoadPage(m_current);
  AnnounceDifferences(before);
}

void CParaBar::OnSave() {
  StorePage(m_current);
  CSettingsDialog dialog(CSettingsDialog::Mode::kSave, AppParams(), NamedSettingsFile(), this);
  dialog.exec();
  UpdateCaption();
}

// "用于此系列" / "用于此书": the settings shown saved under a name and
// attached to the active view's book or its folder; "不再用于…" removes it.
void CParaBar::BuildAttachMenu(QToolButton* button) {
  auto* menu = new QMenu(button);
  menu->setObjectName(ControlName(kParaAttach));
  struct Item {
    const char* text;
    AttachScope scope;
    bool attach;
  };
  constexpr Item kItems[] = {{QT_TR_NOOP("用于此系列"), AttachScope::kSeries, true},
                             {QT_TR_NOOP("用于此书"), AttachScope::kBook, true},
                             {QT_TR_NOOP("不再用于此系列"), AttachScope::kSeries, false},
                             {QT_TR_NOOP("不再用于此书"), AttachScope::kBook, false}};
  std::vector<QAction*> actions;
  menu->addSeparator();
  QAction* pageOnly = menu->addAction(tr("只用于此页"));
  pageOnly->setObjectName(ControlName(kParaPageOnly));
  connect(pageOnly, &QAction::triggered, this, [this] { OnPageOnly(); });
  QAction* pageNoMore = menu->addAction(tr("不再只用于此页"));
  pageNoMore->setObjectName(ControlName(kParaPageNoMore));
  connect(pageNoMore, &QAction::triggered, this, [this] { OnPageNoMore(); });
  actions.push_back(pageOnly);
  actions.push_back(pageNoMore);
  menu->addSeparator();
  for (const Item& item : kItems) {
    if (!item.attach && item.scope == AttachScope::kSeries) menu->addSeparator();
    QAction* action = menu->addAction(tr(item.text));
    actions.push_back(action);
    connect(action, &QAction::triggered, this, [this, item] {
      const fs::path book = BookShownIn(m_views.active ? m_views.active() : nullptr);
      const fs::path target = item.scope == AttachScope::kSeries ? book.parent_path() : book;
      if (book.empty()) return;
      StorePage(m_current);
      if (item.attach ? AttachShownSettings(this, AppParams(), target, item.scope)
                      : DetachSettings(this, target)) {
        UpdateCaption();
        CParaBlock scratch;
        QString note;
        LoadSettingInForce(book, scratch, note);
        if (m_views.note) m_views.note(note.isEmpty() ? tr("此书和它的系列没有附加的设置") : note);
      }
    });
  }
  // Only for a book shown.
  connect(menu, &QMenu::aboutToShow, this, [this, actions] {
    const bool book = !BookShownIn(m_views.active ? m_views.active() : nullptr).empty();
    for (QAction* action : actions) action->setEnabled(book);
  });
  button->setMenu(menu);
  button->setPopupMode(QToolButton::MenuButtonPopup);
}

void CParaBar::TakeSet(const CParaBlock& set) {
  CParaBlock before;
  before.Assign(AppParams());
  AppParams().Assign(set);
  LayoutPage(m_current);
  LoadPage(m_current);
  UpdateCaption();
  AnnounceDifferences(before);
}

QString CParaBar::FollowBook(const fs::path& book) {
  // A page of another book with its own settings takes nothing with it.
  if (m_pageOwn && book != m_book) {
    TakeSet(m_bookBase);
    m_pageOwn = false;
  }
  CParaBlock set;
  CopyBlockValues(AppParams(), set);
  QString note;
  if (LoadSettingInForce(book, set, note)) TakeSet(set);
  return note;
}

namespace {

QString PageOwnNote(const PageSlots& own) {
  const std::string text = PageSlotsShortText(own);
  return QCoreApplication::translate("CParaBar", "此页另有设置：%1")
      .arg(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace

QString CParaBar::FollowPage(const fs::path& book, const std::string& page) {
  if (book != m_book) {
    m_pageOwn = false;  // FollowBook left the page of the other book
    m_book = book;
    m_bookKey = PageSettingsKey(book);
    m_pageSettings.clear();
    const LibraryState state;
    if (state.Ok()) m_pageSettings = state.PageSettings(m_bookKey);
  }
  // A page without settings of its own shows the book's: a change made on
  // it stays for the pages after it.
  if (!m_pageOwn) CopyBlockValues(AppParams(), m_bookBase);
  m_bookPage = page;
  PageSlots own;
  for (const auto& [name, text] : m_pageSettings) {
    if (name == page) own = PageSlotsOf(text);
  }
  if (!own.empty()) {
    CParaBlock set;
    CopyBlockValues(m_bookBase, set);
    for (const auto& [slot, value] : own) set.SetValue(slot, value);
    TakeSet(set);
    m_pageOwn = true;
    return PageOwnNote(own);
  }
  if (!m_pageOwn) return {};
  TakeSet(m_bookBase);
  m_pageOwn = false;
  return tr("此页用本书的设置");
}

bool CParaBar::OnPageOnly() {
  StorePage(m_current);
  const fs::path book = BookShownIn(m_views.active ? m_views.active() : nullptr);
  if (book.empty() || book != m_book || m_bookKey.empty()) {
    if (m_views.note) m_views.note(tr("只有书中的页才能有自己的设置"));
    return false;
  }
  const PageSlots changed = ChangedSlots(m_bookBase.Values(), AppParams().Values());
  LibraryState state;
  if (!state.SetPageSetting(m_bookKey, m_bookPage, PageSlotsText(changed))) {
    ShowMessage(this, QString::fromStdString(state.Error()));
    return false;
  }
  m_pageSettings = state.PageSettings(m_bookKey);
  m_pageOwn = !changed.empty();
  if (m_views.note) {
    m_views.note(changed.empty() ? tr("此页的设置与本书的相同，不另存") : PageOwnNote(changed));
  }
  return true;
}

bool CParaBar::OnPageNoMore() {
  const fs::path book = BookShownIn(m_views.active ? m_views.active() : nullptr);
  if (book.empty() || book != m_book || m_bookKey.empty()) return false;
  LibraryState state;
  if (!state.SetPageSetting(m_bookKey, m_bookPage, {})) {
    ShowMessage(this, QString::fromStdString(state.Error()));
    return false;
  }
  m_pageSettings = state.PageSettings(m_bookKey);
  if (m_pageOwn) TakeSet(m_bookBase);
  m_pageOwn = false;
  if (m_views.note) m_views.note(tr("此页用本书的设置"));
  return true;
}

void CParaBar::OnSettingInForce() {
  StorePage(m_current);
  const fs::path book = BookShownIn(m_views.active ? m_views.active() : nullptr);
  CParaBlock set;
  CopyBlockValues(AppParams(), set);
  QString note;
  if (LoadSettingInForce(book, set, note)) TakeSet(set);
  // The page shown then has the book's settings (its own stay stored).
  if (book == m_book && m_pageOwn) {
    CopyBlockValues(AppParams(), m_bookBase);
    m_pageOwn = false;
  }
  if (note.isEmpty()) note = tr("此书和它的系列没有附加的设置");
  if (m_views.note) m_views.note(note);
}

void CParaBar::OnCurveButton() {
  CCurveDialog dialog(
      AppParams(), [this](int slot, int value) { Announce(slot, value); }, this);
  dialog.exec();
  LoadPage(kPageCurve);
}

QString CParaBar::CaptionText() const {
  return tr("参数：") + QString::fromStdString(AppParams().GetName());
}

void CParaBar::UpdateCaption() { setWindowTitle(CaptionText()); }

}  // namespace inkbrite
