// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the user-interface tests: waiting on the event loop,
// writing pages, and the application object on a clean slate.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/reading/dir_manager.h"
#include "browse/services/commands.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/main_frame.h"
#include "formats/image_file.h"
#include "tests/test_support.h"

namespace inkbrite::ui_test {

// The sanitizers' builds run the renderer many times slower: what a test
// waits for is given longer there (a wait ends as soon as it is met).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr int kWaitScale = 6;
#else
inline constexpr int kWaitScale = 1;
#endif

// Processes events for `ms`, or until `done`.
inline void ProcessEventsFor(int ms, const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}
// Processes events until `done` or `ms` pass; returns done().
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  ProcessEventsFor(ms * kWaitScale, done);
  return done();
}
inline void Settle(int ms) {
  ProcessEventsFor(ms, [] { return false; });
}

inline void WritePage(const std::filesystem::path& path, int width, int height, bool grey = false) {
  const DibImage page =
      grey ? test::MakeGreyPattern(width, height) : test::MakePattern(width, height);
  ASSERT_EQ(SaveImageFile(path, page, grey ? 1 : 0, 90), 1) << path;
}

using test::ReadText;

// The application with no stored settings, the default parameters and
// display order; message boxes are recorded and answered with `answer`,
// beeps counted. The main window stays hidden unless a test shows it.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings().clear();
    CDirManager::SaveOrder(0, 0);
    AppParams().ResetDefaults();
    SetPerWindowMode(false);
    SetCentreSmallPages(false);
    SetShowClipping(false);
    SetMessageHandler([this](QWidget*, const QString& text, QMessageBox::StandardButtons) {
      messages.push_back(text.toStdString());
      return answer;
    });
    SetBeepHandler([this] { ++beeps; });
    app = std::make_unique<CInkbriteApp>();
    app->InitInstance(false);
    Frame()->resize(1200, 900);
  }
  void TearDown() override {
    app.reset();
    SetMessageHandler({});
    SetBeepHandler({});
    AppParams().ResetDefaults();
    CDirManager::SaveOrder(0, 0);
    SetPerWindowMode(false);
    SetCentreSmallPages(false);
    SetShowClipping(false);
  }
  CMainFrame* Frame() { return app->MainFrame(); }

  test::TempDir dir;
  std::unique_ptr<CInkbriteApp> app;
  std::vector<std::string> messages;
  QMessageBox::StandardButton answer = QMessageBox::Yes;
  int beeps = 0;
};

}  // namespace inkbrite::ui_test
