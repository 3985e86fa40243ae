// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/series_settings.h"

#include <QCoreApplication>
#include <QDialog>

#include "batch/attached_settings.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/inkbrite_doc.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/inkbrite_view.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

fs::path BookShownIn(QObject* view) {
  auto* shown = qobject_cast<CInkbriteView*>(view);
  if (shown == nullptr || shown->Document() == nullptr || !shown->Document()->IsBook()) return {};
  return shown->Document()->PathName();
}

void CopyBlockValues(const CParaBlock& from, CParaBlock& to) {
  const auto values = from.Values();
  for (int slot = 0; slot < kParaSlotCount; ++slot) to.SetValue(slot, values[slot]);
  to.SetName(from.GetName());
}

bool LoadSettingInForce(const fs::path& book, CParaBlock& block, QString& note) {
  note.clear();
  if (book.empty()) return false;
  const LibraryState state;
  if (!state.Ok()) {
    note = FromUtf8(state.Error());
    return false;
  }
  CParaBlock loaded;
  CopyBlockValues(block, loaded);
  const AttachedSetting found = LoadAttachedSetting(state, book, NamedSettingsFile(), loaded);
  if (!found.attachment) return false;
  if (found.missing) {
    note = FromUtf8(MissingAttachedSettingText(*found.attachment));
    return false;
  }
  block.Assign(loaded);
  note = QCoreApplication::translate("SeriesSettings", "设置：%1")
             .arg(FromUtf8(AttachedSettingText(*found.attachment)));
  return true;
}

bool AttachShownSettings(QWidget* parent, CParaBlock& block, const fs::path& target,
                         AttachScope scope) {
  if (target.empty()) return false;
  CSettingsDialog dialog(CSettingsDialog::Mode::kSave, block, NamedSettingsFile(), parent);
  if (dialog.exec() != QDialog::Accepted || block.GetName().empty()) return false;
  LibraryState state;
  if (!state.Attach(target, scope, block.GetName())) {
    ShowMessage(parent, FromUtf8(state.Error()));
    return false;
  }
  return true;
}

bool DetachSettings(QWidget* parent, const fs::path& target) {
  LibraryState state;
  if (!state.Detach(target)) {
    ShowMessage(parent, FromUtf8(state.Error()));
    return false;
  }
  return true;
}

}  // namespace inkbrite
