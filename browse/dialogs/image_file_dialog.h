// SPDX-License-Identifier: GPL-2.0-or-later
// CImageFileMultSel: the open-file dialog of the viewer and of the batch
// dialog's picked files. A non-native QFileDialog (open mode, several files,
// existing files only) with a "预览" (preview) box and, right of the file
// list, a pane showing the current file decoded and fitted.
//
// The box starts from slot kShowPreview of AppParams(); a 200 ms timer
// stores a changed box back there (so the next dialog starts the same way),
// refreshes the preview and shows or hides the pane.
//
// Threads: user-interface thread only.
#pragma once

#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QStringList>
#include <filesystem>
#include <vector>

#include "core/dib_image.h"

class QCheckBox;
class QTimer;

namespace inkbrite {

// The preview pane: the image scaled into the pane keeping its aspect ratio
// and centred (a smaller image centred unscaled), the rest in the button
// face colour; all button face without an image.
class CPreviewPane : public QFrame {
  Q_OBJECT

 public:
  explicit CPreviewPane(QWidget* parent = nullptr);

  // Takes a copy of `image` (empty: no image) and repaints.
  void SetImage(const DibImage& image);
  const DibImage& Image() const { return m_image; }
  // Where the image is drawn inside the pane's contents, empty without one.
  QRect ImageRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  DibImage m_image;
  QImage m_shown;  // m_image converted once for painting
};

// Text of the preview box.
inline const char* const kPreviewBoxText = QT_TRANSLATE_NOOP("Messages", "预览");

// Widens the list of places on the left of a shown file dialog (and the
// dialog with it) to its longest name: Qt gives it a fixed width, which cuts
// "Computer" short in English.
void FitFileDialogPlaces(QFileDialog& dialog);

class CImageFileMultSel : public QFileDialog {
  Q_OBJECT

 public:
  // `folder`: the folder shown first; `presetName`: a file name in it to
  // select and scroll into view (empty: none). `nameFilters` as for
  // QFileDialog::setNameFilters.
  CImageFileMultSel(QWidget* parent, const QString& title, const QString& folder,
                    const QStringList& nameFilters, const QString& presetName);
  ~CImageFileMultSel() override;

  // Full paths of the chosen files in the order the dialog returns them;
  // empty unless the dialog was accepted.
  std::vector<std::filesystem::path> SelectedPaths() const;

  // Makes `path` the current file (as a click on it would) and shows its
  // preview.
  void SetCurrentFile(const QString& path);
  const DibImage& PreviewImage() const;
  CPreviewPane* PreviewPane() const { return m_pane; }
  QCheckBox* PreviewBox() const { return m_box; }
  // The 200 ms tick; public so tests need not wait for the timer.
  void SyncPreview();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowPreviewOf(const QString& path);
  // Once the folder is listed (and again whenever the list is sorted anew):
  // the columns of the detailed list as wide as their contents, the dialog
  // wider when they need it, and the preset file scrolled into view while
  // it is still the current one.
  void FitList();
  void ShowPreset();

  QCheckBox* m_box = nullptr;
  CPreviewPane* m_pane = nullptr;
  QTimer* m_timer = nullptr;
  QTimer* m_fitTimer = nullptr;
  QString m_folder;
  QString m_preset;   // the file name preset, empty for none
  QString m_current;  // the file whose preview is wanted
  QSize m_lastSize;   // the dialog's size at the last tick
  bool m_widened = false;
};

}  // namespace inkbrite
