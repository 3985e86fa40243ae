// SPDX-License-Identifier: GPL-2.0-or-later
// CParaBar: the floating parameter bar. Ten pages of controls over the
// program-wide parameter block (AppParams()); every change is written into
// the block at once and announced to the views (ParamChangeEvent), or only
// to the active view when "以上参数仅适用于当前窗口" is checked. "保存",
// "调入" and "恢复" save, load and restore whole parameter sets.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "browse/services/ui_services.h"
#include "core/para_block.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QScrollArea;
class QTabBar;
class QToolButton;

namespace inkbrite {

class CSettingPanel;

// The pages of the bar, in tab order (pages 0 to 3, 5 and 6 show the slot of
// the same number on the shared slider). After the pages of the original
// layout comes a page made from the settings table for each group of
// PanelGroups() (browse/widgets/setting_panel.h): "自动" first, then any later group.
enum ParaBarPage : int {
  kPageBrightness = 0,
  kPageContrast = 1,
  kPageHighlight = 2,
  kPageGamma = 3,
  kPageCurve = 4,
  kPageResize = 5,
  kPageJpegQuality = 6,
  kPageCrop = 7,
  kPageOther = 8,
  kPageAuto = 9,  // "自动": the automatic clean-up steps (a taller page)
};

// The bar's controls by id; each control's object name is ControlName(id)
// ("ctl1000" for the tab strip).
enum ParaBarControl : int {
  kParaTabs = 1000,
  kParaSlider = 1001,  // the slider the six slider pages share
  kParaValue = 1002,   // its value field
  kParaThreshold = 1003,
  kParaFilter = 1004,
  kParaCurveX1 = 1005,
  kParaCurveY1 = 1006,
  kParaCurveX2 = 1007,
  kParaCurveY2 = 1008,
  kParaCurveButton = 1009,  // "设置"
  kParaCropTop = 1010,
  kParaCropBottom = 1011,
  kParaCropLeft = 1012,
  kParaCropRight = 1013,
  kParaSharpen = 1014,
  kParaSoften = 1015,
  kParaColour = 1016,
  kParaWindowOnly = 1017,  // "以上参数仅适用于当前窗口"
  kParaSave = 1018,        // "保存"
  kParaLoad = 1019,        // "调入"
  kParaRestore = 1020,     // "恢复"
  // The pages made from the table: one control per slot, its id
  // SettingControlId(slot) (slots from kAutoLevels on).
  kParaAutoLevels = 1021,
  kParaAutoLevelsClip = 1022,
  kParaAutoLevelsLimit = 1023,
  kParaAutoLevelsNeutral = 1024,
  kParaAutoCrop = 1025,
  kParaAutoCropBorder = 1026,
  kParaAutoCropTolerance = 1027,
  kParaAutoCropMinShare = 1028,
  kParaAutoCropFacing = 1029,
  kParaSplitSpreads = 1030,
  kParaSplitRightToLeft = 1031,
  kParaDeskew = 1032,
  kParaDeskewRange = 1033,
  kParaFitWidth = 1034,
  kParaFitHeight = 1035,
  kParaAutoCropFill = 1036,
  // After the ids the table's later slots take.
  kParaAttach = 1100,      // "保存"'s menu: attaching the settings to the book or its series
  kParaInForce = 1101,     // "恢复"'s menu: "本书设置", back to the set in force for the book
  kParaPageOnly = 1102,    // "保存"'s menu: "只用于此页", the change kept for the page shown
  kParaPageNoMore = 1103,  // "保存"'s menu: "不再只用于此页"
};
constexpr int SettingControlId(int slot) {
  return static_cast<int>(kParaAutoLevels) - static_cast<int>(kAutoLevels) + slot;
}

// Keys: while the keyboard focus is in the bar (or in a list it opened),
// keys without Ctrl or Alt stay there, as in any dialog: Enter, Escape
// (which hides the bar), Tab, Space, Home, End, the arrows and the
// characters typed into a field never reach the viewer's shortcuts. Ctrl
// combinations (Ctrl+P hides the bar) and the function keys still do.
class CParaBar : public QDialog {
  Q_OBJECT

 public:
  // Where announcements go: every open view, and the active one (null when
  // none). `note` shows a text on the status bar (may be unset).
  struct Views {
    std::function<std::vector<QObject*>()> all;
    std::function<QObject*()> active;
    std::function<void(const QString&)> note;
  };

  CParaBar(Views views, QWidget* parent = nullptr);
  ~CParaBar() override;

  // Moves the bar's window frame to `topLeft` (global). A move that does
  // not come from here or from the bar's own growing is the user's:
  // MovedByUser tells it.
  void PlaceAt(QPoint topLeft);

  // Writes `value` into the program-wide block and posts it to the views.
  void Announce(int slot, int value);
  // Shows the selected page with its values from the program-wide block.
  void ShowPage();
  // After the batch dialog: reload, refresh the caption, and announce every
  // slot that differs from the snapshot.
  void TakeSnapshot();
  void Refresh();
  // "恢复", "调入", "保存".
  void OnRestore();
  void OnLoad();
  void OnSave();
  // "本书设置": back to the set in force for the book of the active view
  // (browse/widgets/series_settings.h); the status bar names it, or says
  // that nothing is attached (and nothing changes).
  void OnSettingInForce();
  // A book opened: its set in force (when one is attached) becomes the
  // program-wide block and is announced. What the status bar says, empty
  // when nothing is attached.
  QString FollowBook(const std::filesystem::path& book);
  // A page of a book shown (`page` its name in the book): a page with its
  // own settings ("只用于此页") takes them over the book's; leaving it goes
  // back to the book's. What the status bar says, empty when the page has
  // none and none was left.
  QString FollowPage(const std::filesystem::path& book, const std::string& page);
  // "只用于此页": the settings shown that differ from the book's kept for
  // the page shown (stored in the library, batch/attached_settings.h);
  // none differing removes what the page had. "不再只用于此页": removes
  // them and goes back to the book's. False (said in a message or on the
  // status bar) when no book page is shown or the state cannot be written.
  bool OnPageOnly();
  bool OnPageNoMore();

  // A bar made anew in another language takes over the old one's state:
  // the snapshot "恢复" goes back to, the window-only choice, the page.
  void TakeStateFrom(const CParaBar& other);

  int CurrentPage() const { return m_current; }
  int PageCount() const { return kPageAuto + static_cast<int>(m_panels.size()); }
  void SelectPage(int page);
  QString CaptionText() const;

  // A control by its id (ParaBarControl), null for an id the bar lacks.
  template <class T>
  T* Control(int id) const {
    return findChild<T*>(ControlName(id));
  }

 signals:
  // The bar was shown or hidden, however that happened.
  void VisibilityChanged(bool visible);
  // The user moved the bar (its window frame's top left now at `topLeft`).
  void MovedByUser(QPoint topLeft);
  // The bar grew or shrank (a taller page).
  void Resized();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The value typed into the slider's value field, taken.
  void TakeTypedValue();
  // Moves the bar, grown or shrunk, so that its bottom edge stays at
  // `bottom` and all of it on the screen's free area.
  void KeepOnScreen(int bottom);
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  void BuildSliderPage();
  void BuildCurvePage();
  void BuildCropPage();
  void BuildOtherPage();
  // The pages made from the table; their lines no wider than `width`.
  void BuildPanelPages(int width);
  // The panel of a page made from the table; null for the other pages.
  CSettingPanel* PanelOf(int page) const;
  int PageHeight(int page) const;
  bool Holds(QObject* object) const;
  void StorePage(int page);
  void LoadPage(int page);
  void LayoutPage(int page);
  void UpdateCaption();
  void AnnounceDifferences(const CParaBlock& before);
  void OnWindowOnlyClicked();
  void OnCurveButton();
  void BuildAttachMenu(QToolButton* button);
  // Makes `set` the program-wide block, the page shown and the views following.
  void TakeSet(const CParaBlock& set);

  Views m_views;
  CParaBlock m_snapshot;
  QTabBar* m_tabs = nullptr;
  QWidget* m_page = nullptr;
  int m_pageWidth = 0;  // the pages' width (BuildControls)
  QSlider* m_slider = nullptr;
  QLineEdit* m_value = nullptr;
  QLabel* m_thresholdLabel = nullptr;
  QSpinBox* m_threshold = nullptr;
  QComboBox* m_filter = nullptr;
  std::vector<QWidget*> m_curveWidgets;
  QLineEdit* m_curveTexts[4] = {};
  QPushButton* m_curveButton = nullptr;
  std::vector<QWidget*> m_cropWidgets;
  QSpinBox* m_crop[4] = {};  // top, bottom, left, right as shown
  std::vector<QWidget*> m_otherWidgets;
  QComboBox* m_sharpen = nullptr;
  QComboBox* m_soften = nullptr;
  QComboBox* m_colour = nullptr;
  struct PanelPage {
    QScrollArea* area;
    CSettingPanel* panel;
  };
  std::vector<PanelPage> m_panels;  // pages kPageAuto on
  QCheckBox* m_windowOnly = nullptr;
  int m_current = 0;
  bool m_loading = false;     // controls are being set from the block
  QPoint m_placedAt{-1, -1};  // where the bar put itself or was put last
  // The book whose pages FollowPage follows: its key in the library, its
  // pages' own settings, the page shown and whether it shows its own
  // settings, and the book's settings (those of its pages without).
  std::filesystem::path m_book;
  std::string m_bookKey;
  std::vector<std::pair<std::string, std::string>> m_pageSettings;
  std::string m_bookPage;
  bool m_pageOwn = false;
  CParaBlock m_bookBase;
};

}  // namespace inkbrite
