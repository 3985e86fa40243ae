// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/ui_services.h"

#include <QApplication>
#include <utility>

namespace inkbrite {

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

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons) {
  if (Handler()) return Handler()(parent, text, buttons);
  QMessageBox box(buttons & QMessageBox::Yes ? QMessageBox::Question : QMessageBox::Information,
                  QStringLiteral("Inkbrite"), text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
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

bool PerWindowMode() { return g_perWindowMode; }
void SetPerWindowMode(bool on) { g_perWindowMode = on; }

QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

BatchFolders& RememberedBatchFolders() {
  static BatchFolders folders;
  return folders;
}

}  // namespace inkbrite
