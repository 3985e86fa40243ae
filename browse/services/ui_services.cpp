// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/ui_services.h"

#include <QApplication>
#include <QCheckBox>
#include <QSettings>
#include <utility>

#include "platform/messages.h"

namespace inkbrite {

QString EngineUiText(std::string_view text) {
  const std::string_view shown = EngineText(text);
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

namespace {

MessageHandler& Handler() {
  static MessageHandler handler;
  return handler;
}

bool g_perWindowMode = false;

std::function<void()>& BeepHandler() {
  static std::function<void()> handler;
  return handler;
}

}  // namespace

std::unique_ptr<QMessageBox> CreateMessageBox(QWidget* parent, const QString& text,
                                              QMessageBox::StandardButtons buttons) {
  const bool dontAskBox = buttons.testFlag(QMessageBox::YesToAll);
  if (dontAskBox) buttons = QMessageBox::Yes | QMessageBox::No;
  auto box = std::make_unique<QMessageBox>(
      buttons & QMessageBox::Yes ? QMessageBox::Question : QMessageBox::Information,
      QStringLiteral("Inkbrite"), text, buttons, parent);
  if (dontAskBox) box->setCheckBox(new QCheckBox(UiText(kDontAskAgainText), box.get()));
  return box;
}

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons) {
  if (Handler()) return Handler()(parent, text, buttons);
  const std::unique_ptr<QMessageBox> box = CreateMessageBox(parent, text, buttons);
  const auto answer = static_cast<QMessageBox::StandardButton>(box->exec());
  if (answer == QMessageBox::Yes && box->checkBox() && box->checkBox()->isChecked()) {
    return QMessageBox::YesToAll;
  }
  return answer;
}

MessageHandler SetMessageHandler(MessageHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

void Beep() {
  if (BeepHandler()) {
    BeepHandler()();
  } else {
    QApplication::beep();
  }
}

std::function<void()> SetBeepHandler(std::function<void()> handler) {
  return std::exchange(BeepHandler(), std::move(handler));
}

bool AskBeforeOverwritingSource() {
  return QSettings().value(QStringLiteral("Save/AskBeforeOverwritingSource"), true).toBool();
}

bool DoubleClickFullScreen() {
  return QSettings().value(QStringLiteral("View/DoubleClickFullScreen"), false).toBool();
}

void SetDoubleClickFullScreen(bool on) {
  QSettings().setValue(QStringLiteral("View/DoubleClickFullScreen"), on);
}

bool RecentPerFolder() {
  return QSettings().value(QStringLiteral("File/RecentPerFolder"), false).toBool();
}

void SetRecentPerFolder(bool on) {
  QSettings().setValue(QStringLiteral("File/RecentPerFolder"), on);
}

void SetAskBeforeOverwritingSource(bool ask) {
  QSettings().setValue(QStringLiteral("Save/AskBeforeOverwritingSource"), ask);
}

namespace {
// The setting, read once (it is asked at every paint).
int g_centreSmallPages = -1;
}  // namespace

bool CentreSmallPages() {
  if (g_centreSmallPages < 0) {
    g_centreSmallPages = QSettings().value(QStringLiteral("View/CentreSmallPages"), false).toBool();
  }
  return g_centreSmallPages == 1;
}

void SetCentreSmallPages(bool on) {
  g_centreSmallPages = on ? 1 : 0;
  QSettings().setValue(QStringLiteral("View/CentreSmallPages"), on);
}

namespace {
int g_showClipping = -1;  // read once, as the centring
}  // namespace

bool ShowClipping() {
  if (g_showClipping < 0) {
    g_showClipping = QSettings().value(QStringLiteral("View/ClippingWarnings"), false).toBool();
  }
  return g_showClipping == 1;
}

void SetShowClipping(bool on) {
  g_showClipping = on ? 1 : 0;
  QSettings().setValue(QStringLiteral("View/ClippingWarnings"), on);
}

bool PerWindowMode() { return g_perWindowMode; }
void SetPerWindowMode(bool on) { g_perWindowMode = on; }

QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

BatchFolders& RememberedBatchFolders() {
  static BatchFolders folders;
  return folders;
}

}  // namespace inkbrite
