// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer: start-up and the event loop; everything else is in browse/.
#include <QApplication>

#include "browse/inkbrite_app.h"
#include "platform/page_memory.h"

int main(int argc, char** argv) {
  inkbrite::TunePageMemory();
  QApplication application(argc, argv);
  inkbrite::CInkbriteApp app;
  app.InitInstance();
  return QApplication::exec();
}
