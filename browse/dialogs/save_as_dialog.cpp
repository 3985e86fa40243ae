// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/save_as_dialog.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>

#include "browse/dialogs/image_file_dialog.h"
#include "formats/format_table.h"

namespace inkbrite {

namespace {

// The extension used when the chosen filter names none: JPEG's, without
// its dot.
QString DefaultExtension() { return QString::fromLatin1(PrimaryExtension(kFormatJpeg) + 1); }

const QString kLastTypeKey = QStringLiteral("Save/LastType");

// What is kept of a filter: its extension, "*" for one matching every file.
QString FilterKey(const QString& filter) {
  const QString extension = CSaveAsDialog::FilterExtension(filter);
  return extension.isEmpty() ? QStringLiteral("*") : extension;
}

}  // namespace

CSaveAsDialog::CSaveAsDialog(QWidget* parent, const QStringList& filters, const QString& name)
    : QFileDialog(parent) {
  setAcceptMode(QFileDialog::AcceptSave);
  setOption(QFileDialog::DontUseNativeDialog, true);
  setOption(QFileDialog::HideNameFilterDetails, true);
  setOption(QFileDialog::DontConfirmOverwrite, false);
  setNameFilters(filters);
  // A name typed without an extension takes the chosen type's.
  connect(this, &QFileDialog::filterSelected, this, &CSaveAsDialog::FollowFilter);
  if (!filters.isEmpty()) FollowFilter(filters.front());
  // The type chosen last time.
  const QString last = QSettings().value(kLastTypeKey).toString();
  for (const QString& filter : filters) {
    if (last.isEmpty() || FilterKey(filter) != last) continue;
    selectNameFilter(filter);
    FollowFilter(filter);
    break;
  }
  selectFile(name);
}

QStringList CSaveAsDialog::Filters() {
  QStringList filters;
  for (const FileFilter& f : SaveFileFilters()) {
    const QString pattern =
        f.patterns == "*.*" ? QStringLiteral("*") : QString::fromStdString(f.patterns);
    filters << QString::fromUtf8(f.label.c_str()) + QStringLiteral(" (") + pattern +
                   QLatin1Char(')');
  }
  return filters;
}

QString CSaveAsDialog::FilterExtension(const QString& filter) {
  static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
  const QRegularExpressionMatch match = pattern.match(filter);
  return match.hasMatch() ? match.captured(1) : QString();
}

QString CSaveAsDialog::NameForFilter(const QString& name, const QString& filter) {
  const QString extension = FilterExtension(filter);
  if (extension.isEmpty()) {
    return QFileInfo(name).suffix().isEmpty() ? name + QLatin1Char('.') + DefaultExtension() : name;
  }
  return HasWriter(name.toStdString()) ? name : name + QLatin1Char('.') + extension;
}

void CSaveAsDialog::accept() {
  // The name is settled from what was typed before the dialog checks it, so
  // that the question about replacing a file is asked about the file that
  // will be written. (The dialog's own choice may be a file of the list that
  // the typed name matched under the previous type.)
  auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  const QString typed = edit ? edit->text().trimmed() : QString();
  if (!typed.isEmpty() && !typed.contains(QLatin1Char('"'))) {
    const QString full = directory().absoluteFilePath(typed);
    if (!QFileInfo(full).isDir()) {
      const QString filter = selectedNameFilter();
      FollowFilter(filter);
      if (auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView"))) {
        list->clearSelection();
      }
      edit->setText(NameForFilter(full, filter));
    }
  }
  QSettings().setValue(kLastTypeKey, FilterKey(selectedNameFilter()));
  QFileDialog::accept();
}

void CSaveAsDialog::FollowFilter(const QString& filter) {
  const QString extension = FilterExtension(filter);
  setDefaultSuffix(extension.isEmpty() ? DefaultExtension() : extension);
}

void CSaveAsDialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  FitFileDialogPlaces(*this);
}

}  // namespace inkbrite
