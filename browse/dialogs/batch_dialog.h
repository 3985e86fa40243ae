// SPDX-License-Identifier: GPL-2.0-or-later
// CBatchDlg: the batch conversion dialog "批量Inkbrite". It holds the source
// and target folders, the source patterns, the new extension and a full copy
// of the enhancement parameters, runs CBatchJob inside itself (on the
// user-interface thread, events pumped between steps), shows the progress and
// lets the user stop the run.
//
// The dialog works on the program-wide block (AppParams()): its controls are
// loaded from it on opening and stored back before every run and before a
// named setting is saved; closing stores nothing. The remembered folders
// (RememberedBatchFolders()) give the two path fields and take them back the
// same way.
//
// Every control carries the object name "ctl<id>" (BatchControlName) with
// its id from BatchControlId, so tests and the screenshots find them. The
// threshold edit and its spin (1026, 1027) are one QSpinBox with the edit's
// id; the crop edits with their spins likewise.
//
// Before a run that would replace files the dialog did not write itself
// (the target field starts at the folder of the page being read), it says
// how many and asks once (BatchSettings::askBeforeReplacing).
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <set>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QVBoxLayout;

class QTreeView;
class QFileSystemModel;

namespace inkbrite {

struct BatchSelection;
struct DeviceRow;
class CBatchDialogHost;
class CSettingPanel;

// The dialog's control ids. (No fixed underlying type: Qt's lupdate loses
// the namespace of every class after an "enum X : int" in this header, and
// then files the dialog's texts under a context the program never asks for.)
enum BatchControlId {
  kBatchIdConvertAll = 1,  // "全部转换"
  kBatchIdClose = 2,       // "关闭"
  kBatchIdChooseSource = 1000,
  kBatchIdSourcePatterns = 1001,
  kBatchIdProgress = 1002,
  kBatchIdChooseTarget = 1003,
  kBatchIdTarget = 1004,  // the target path
  kBatchIdNewExtension = 1005,
  kBatchIdBrightness = 1009,
  kBatchIdBrightnessValue = 1010,
  kBatchIdSource = 1011,  // the source path
  kBatchIdContrast = 1013,
  kBatchIdHighlight = 1014,
  kBatchIdContrastValue = 1015,
  kBatchIdHighlightValue = 1016,
  kBatchIdResize = 1017,
  kBatchIdResizeValue = 1018,
  kBatchIdViewSource = 1019,
  kBatchIdViewTarget = 1020,
  kBatchIdSubdirs = 1021,
  kBatchIdQuality = 1022,
  kBatchIdHelp = 1023,
  kBatchIdQualityValue = 1024,
  kBatchIdGamma = 1025,
  kBatchIdThreshold = 1026,
  kBatchIdAnimation = 1028,
  kBatchIdSharpen = 1030,
  kBatchIdSoften = 1031,
  kBatchIdGammaValue = 1032,
  kBatchIdSaveSetting = 1033,  // "保存"
  kBatchIdLoadSetting = 1034,  // "调入"
  kBatchIdRestore = 1035,      // "恢复"
  kBatchIdCurveX1 = 1036,
  kBatchIdCurveY1 = 1038,
  kBatchIdOperation = 1040,
  kBatchIdCurrentFile = 1041,
  kBatchIdColour = 1043,
  kBatchIdConvertPicked = 1044,  // "选择转换"
  kBatchIdCurveX2 = 1045,
  kBatchIdCropLeft = 1046,
  kBatchIdCurveY2 = 1047,
  kBatchIdCurve = 1048,  // "设置"
  kBatchIdCropTop = 1049,
  kBatchIdCropBottom = 1052,
  kBatchIdCropRight = 1054,
  kBatchIdSkipColour = 1060,
  kBatchIdFilter = 1061,
  kBatchIdBooks = 1062,         // what becomes of a comic book (BookOutput)
  kBatchIdFolderBooks = 1063,   // each folder of pages becomes one book
  kBatchIdStripCut = 1064,      // long strips cut into pages this tall
  kBatchIdStripJoin = 1065,     // a folder's or book's pages joined into one strip first
  kBatchIdDeviceSearch = 1066,  // narrows the device list to the devices it names
  kBatchIdDevice = 1067,        // the reading device whose settings the run takes
  kBatchIdSpreadPages = 1068,   // what a split spread becomes (SpreadPages)
  kBatchIdRenumber = 1069,      // a book's pages named by their place in the reading order
  kBatchIdPanels = 1070,        // the steps' pages made from the settings table
  kBatchIdUseAttached = 1071,   // each book with the settings attached to it or its series
  kBatchIdSettings = 1100,      // + slot: a control of those pages
};
constexpr int BatchSettingId(int slot) { return kBatchIdSettings + slot; }

// The object name of the control with this id: "ctl" + id.
QString BatchControlName(int id);

// Source patterns of list 1001, in order (slot 17 indexes it).
const QStringList& BatchSourcePatterns();
// New extensions of list 1005, in order (slot 18 indexes it).
const QStringList& BatchNewExtensions();

inline const char* const kBatchDialogTitle = QT_TRANSLATE_NOOP("Messages", "批量Inkbrite");
inline const char* const kStopConversionText = QT_TRANSLATE_NOOP("Messages", "停止转换");
inline const char* const kConvertAllText = QT_TRANSLATE_NOOP("Messages", "全部转换");
inline const char* const kConvertPickedText = QT_TRANSLATE_NOOP("Messages", "选择转换");
// "%1" stands for the refused path.
inline const char* const kFolderNotMadeMessage =
    QT_TRANSLATE_NOOP("Messages", "无法建立目录\n\n%1");
inline const char* const kMakingTargetMessage =
    QT_TRANSLATE_NOOP("Messages", "目标目录\n\n%1\n\n原先不存在，已经建立。");
inline const char* const kNotOpenedMessage =
    QT_TRANSLATE_NOOP("Messages", "抱歉，无法打开\n%1\n找不到可以显示它的程序。");
inline const char* const kInvalidFolderMessage =
    QT_TRANSLATE_NOOP("Messages", "您所指定的目录\n\n%1\n\n无效。请重新指定。");

// A one-line path display: the text in the widget's font on the window
// background, vertically centred, no mnemonics, shortened in the middle with
// an ellipsis when it does not fit. Setting the text repaints it.
class CPathDisplay : public QFrame {
  Q_OBJECT

 public:
  // A path is elided in its middle; a status text at its end.
  explicit CPathDisplay(QWidget* parent = nullptr, Qt::TextElideMode elide = Qt::ElideMiddle);
  void SetText(const QString& text);
  QString Text() const { return m_text; }
  // The text as painted at the current width.
  QString ShownText() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_text;
  Qt::TextElideMode m_elide;
};

// The dialog's animation: a short loop of frames drawn by the program (a
// page passing under a brightening light). Stopped, it shows its first frame.
class CBatchAnimation : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kFrameCount = 12;
  static constexpr int kFrameMs = 90;

  explicit CBatchAnimation(QWidget* parent = nullptr);
  void Play();  // from the first frame, looping without end
  void Stop();  // back to the first frame
  bool IsPlaying() const;
  int CurrentFrame() const { return m_frame; }

 private:
  void ShowFrame(int frame);

  std::vector<QPixmap> m_frames;
  QTimer* m_timer;
  int m_frame = 0;
};

// The folder chooser of the two "选择" buttons: a prompt, an edit line above
// a folder tree, OK and Cancel. Picking a folder in the tree puts its path
// into the edit line; OK is enabled only while the line is not empty and
// accepts only a valid folder (IsValidFolder), otherwise it shows
// kInvalidFolderMessage and keeps the focus on the edit line.
class CFolderChooser : public QDialog {
  Q_OBJECT

 public:
  // With `mayBeNew` (a target) a folder that does not exist yet is taken
  // too (it is made when the run starts), and 新建文件夹 makes one in the
  // folder chosen.
  CFolderChooser(QWidget* parent, const QString& caption, const QString& prompt,
                 const QString& start, bool mayBeNew = false);
  // The chosen folder after exec() == Accepted: normalised, without a
  // trailing "/" (except for the root itself).
  QString Folder() const { return m_folder; }
  QLineEdit* EditLine() const { return m_edit; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* NewFolderButton() const { return m_newFolder; }

  // An absolute path naming an existing folder.
  static bool IsValidFolder(const QString& path);
  // An absolute path naming an existing folder, or one that could be made
  // there: nothing on the way but folders.
  static bool IsPossibleFolder(const QString& path);

  void accept() override;

 private:
  void MakeNewFolder();

  QLineEdit* m_edit;
  QPushButton* m_ok;
  QPushButton* m_newFolder = nullptr;
  QTreeView* m_tree = nullptr;
  QFileSystemModel* m_model = nullptr;
  bool m_mayBeNew;
  QString m_folder;
};

class CBatchDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CBatchDlg(QWidget* parent = nullptr);
  ~CBatchDlg() override;

  // True while a run is going on (inside a click of "全部转换" or "选择转换").
  bool IsRunning() const { return m_running; }
  bool StopRequested() const { return m_stopRequest; }

  // "恢复": what resets the program-wide block. The main frame passes the
  // parameter bar's restore (which also tells the views); none: the block is
  // reset here and the main frame's comparison after the dialog tells them.
  void SetRestoreHandler(std::function<void()> restore) { m_restore = std::move(restore); }
  // Where the curve editor ("设置") sends each change as (slot, value). The
  // main frame passes the parameter bar's announcement, which writes the
  // program-wide block and tells the bar's page and the views at once; none:
  // the editor writes the block, and the views learn of it when the dialog
  // closes.
  void SetAnnouncer(std::function<void(int slot, int value)> announce) {
    m_announce = std::move(announce);
  }

  // How files are opened for "查看文件" and the result record; none:
  // OpenWithShell. Tests count the calls instead.
  void SetOpenHandler(std::function<bool(const std::filesystem::path&)> open) {
    m_open = std::move(open);
  }
  // How "选择转换" picks its files (folder to start in); none: the
  // multi-selection open dialog. An empty answer is a cancel.
  using FilePicker = std::function<std::vector<std::filesystem::path>(const QString& folder)>;
  void SetFilePicker(FilePicker picker) { m_picker = std::move(picker); }
  // How the two "选择" buttons pick a folder (start folder); none: the
  // folder chooser. An empty answer is a cancel.
  using FolderPicker = std::function<QString(const QString& start)>;
  void SetFolderPicker(FolderPicker picker) { m_folderPicker = std::move(picker); }

  // The colour-mode rule: which entry of the new-extension list goes with
  // colour mode `mode` when `current` is selected.
  static int ExtensionForColourMode(int mode, int current);

  // While running: asks the run to stop instead of closing.
  void reject() override;

 private:
  friend class CBatchDialogHost;

  void BuildControls();
  QGroupBox* BuildSourceBox();
  QGroupBox* BuildTargetBox();
  // The device row (a search field and the device list) and the spreads
  // row (what a split spread becomes, renumbering) of the target box.
  void AddDeviceRows(QWidget* box, QGridLayout* grid, int deviceRow, int spreadsRow);
  // Narrows the device list to the devices whose name or label holds every
  // word of `text` (case ignored); the device chosen stays chosen.
  void FilterDevices(const QString& text);
  // A device chosen from the list: its settings (as --device gives them)
  // into the program-wide block and the controls.
  void OnDeviceChosen(int index);
  // The list back at no device (a setting loaded or restored).
  void ForgetDevice();
  QGroupBox* BuildOptionsBox();
  // The pages of the steps' settings, one per group of PanelGroups(), made
  // from the settings table.
  QTabWidget* BuildPanels();
  QGridLayout* BuildSliders();
  QGridLayout* BuildValues();
  QHBoxLayout* BuildCurveRow();
  QVBoxLayout* BuildRunColumn();
  QHBoxLayout* BuildStatusLines();
  // Each adds its control to m_controls.
  QSlider* AddSlider(int sliderId, int valueId, int min, int max, QLineEdit** value);
  QPushButton* AddButton(QWidget* parent, const QString& text, int id,
                         void (CBatchDlg::*handler)());
  void LoadControls();
  void StoreControls();
  void ApplyColourRule(bool adjustExtension);
  void UpdateCaption();

  void OnChooseSource();
  void OnChooseTarget();
  void OnViewSource();
  void OnViewTarget();
  void OnChooseFolder(bool target);
  void OnViewFiles(bool target);
  void OnConvertAll();
  void OnConvertPicked();
  void RunJob(QPushButton* button, const BatchSelection* selection);
  void OnSaveSetting();
  void OnLoadSetting();
  void OnRestore();
  void OnCurve();
  void OnHelp();
  bool Open(const std::filesystem::path& path);
  // Makes the target folder when it does not exist yet, saying so; false
  // (after saying why) when it cannot be made.
  bool MakeTargetFolder();

  QGroupBox* m_options = nullptr;
  CPathDisplay* m_source = nullptr;
  CPathDisplay* m_target = nullptr;
  QComboBox* m_patterns = nullptr;
  QComboBox* m_extension = nullptr;
  QComboBox* m_books = nullptr;
  QCheckBox* m_folderBooks = nullptr;
  QSpinBox* m_stripCut = nullptr;
  QCheckBox* m_stripJoin = nullptr;
  QCheckBox* m_useAttached = nullptr;
  QLineEdit* m_deviceSearch = nullptr;
  QComboBox* m_device = nullptr;
  QComboBox* m_spreads = nullptr;
  QCheckBox* m_renumber = nullptr;
  // The device whose settings the controls hold (the PDF's density and the
  // e-book's two-page view follow it); none once a setting is loaded or
  // restored.
  const DeviceRow* m_deviceRow = nullptr;
  QCheckBox* m_subdirs = nullptr;
  std::vector<CSettingPanel*> m_panels;
  QSlider* m_brightness = nullptr;
  QSlider* m_contrast = nullptr;
  QSlider* m_highlight = nullptr;
  QSlider* m_gamma = nullptr;
  QSlider* m_resize = nullptr;
  QSlider* m_quality = nullptr;
  // Value fields of the six sliders, in slot order 0, 1, 2, 3, 5, 6.
  QLineEdit* m_values[6] = {};
  QSpinBox* m_threshold = nullptr;
  QLineEdit* m_curve[4] = {};  // X1, Y1, X2, Y2
  QComboBox* m_filter = nullptr;
  QSpinBox* m_cropTop = nullptr;
  QSpinBox* m_cropBottom = nullptr;
  QSpinBox* m_cropLeft = nullptr;
  QSpinBox* m_cropRight = nullptr;
  QComboBox* m_sharpen = nullptr;
  QComboBox* m_soften = nullptr;
  QComboBox* m_colour = nullptr;
  QCheckBox* m_skipColour = nullptr;
  QPushButton* m_convertAll = nullptr;
  QPushButton* m_convertPicked = nullptr;
  CBatchAnimation* m_animation = nullptr;
  CPathDisplay* m_operation = nullptr;
  CPathDisplay* m_currentFile = nullptr;
  QProgressBar* m_progress = nullptr;
  // Everything a run disables (the buttons, lists, sliders, edits).
  std::vector<QWidget*> m_controls;

  bool m_running = false;
  bool m_stopRequest = false;
  // Every file the dialog's runs wrote: replacing them asks nothing.
  std::set<std::filesystem::path> m_written;
  std::function<void()> m_restore;
  std::function<void(int, int)> m_announce;
  std::function<bool(const std::filesystem::path&)> m_open;
  FilePicker m_picker;
  FolderPicker m_folderPicker;
};

}  // namespace inkbrite
