// SPDX-License-Identifier: GPL-2.0-or-later
// CSaveAsDialog: the Save As file dialog. The file type chosen in its filter
// list decides the extension of the name written: a name whose extension no
// writer takes (none, or "p001.v2") gets the chosen type's extension, so
// choosing PNG writes p001.png. A name already ending in an extension the
// writers take keeps it. Under "All Files" a name without an extension gets
// ".jpg" and any other name is kept as typed. The dialog's question before
// replacing an existing file is asked about the final name. The type chosen
// when a save was accepted is kept in the settings and chosen again the next
// time.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

namespace inkbrite {

class CSaveAsDialog : public QFileDialog {
  Q_OBJECT

 public:
  // `filters` in order, the first chosen; `name` preset in the name field.
  CSaveAsDialog(QWidget* parent, const QStringList& filters, const QString& name);

  // The filters of the format table's writable types, "label (pattern)",
  // then "All Files".
  static QStringList Filters();
  // The extension a filter stands for ("png" for "PNG Files(*.png) (*.png)"),
  // empty for one that matches every file.
  static QString FilterExtension(const QString& filter);
  // `name` as it is written under `filter` (the rules above).
  static QString NameForFilter(const QString& name, const QString& filter);

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FollowFilter(const QString& filter);
};

}  // namespace inkbrite
