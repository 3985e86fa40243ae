// SPDX-License-Identifier: GPL-2.0-or-later
// Leaving the viewer without losing what the run changed: SIGTERM and SIGHUP
// end it as Exit does (the recent-file list written), and the list reaches
// the settings file within seconds of a change even without an exit.
#include <signal.h>

#include <QProcess>
#include <QSettings>
#include <cstdio>
#include <cstdlib>

#include "browse/services/exit_signals.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::WaitFor;

class ViewerExitTest : public ui_test::AppTest {};

// The settings file a QSettings of the viewer writes.
fs::path SettingsFile() { return QSettings().fileName().toStdString(); }

TEST_F(ViewerExitTest, TheRecentListIsWrittenSoonAfterItChanges) {
  ui_test::WritePage(dir / "page.bmp", 8, 8);
  ASSERT_NE(app->OpenDocumentFile(dir / "page.bmp"), nullptr);
  const std::string page = (dir / "page.bmp").string();
  // Written from the event loop, without an exit.
  EXPECT_TRUE(
      WaitFor([&] { return test::ReadText(SettingsFile()).find(page) != std::string::npos; }, 8000))
      << test::ReadText(SettingsFile());
}

TEST_F(ViewerExitTest, TermAndHangUpEndTheViewerAsExitDoesWritingTheRecentList) {
  if (const char* config = std::getenv("INKBRITE_EXIT_CHILD")) {
    // The child: its own settings folder, a page opened, then the event loop
    // until a signal ends it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(config));
    app.reset();
    app = std::make_unique<CInkbriteApp>();
    app->InitInstance(false);
    ui_test::WritePage(dir / "page.bmp", 8, 8);
    ASSERT_NE(app->OpenDocumentFile(dir / "page.bmp"), nullptr);
    ASSERT_TRUE(InstallExitSignals());
    std::printf("ready %s\n", (dir / "page.bmp").c_str());
    std::fflush(stdout);
    QApplication::exec();
    app.reset();
    return;
  }
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const fs::path config = dir / ("config" + std::to_string(signal));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("INKBRITE_EXIT_CHILD"), QString::fromStdString(config));
    child.setProcessEnvironment(environment);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    QString output;
    ASSERT_TRUE(WaitFor(
        [&] {
          child.waitForReadyRead(10);
          output += QString::fromUtf8(child.readAllStandardOutput());
          return output.contains(QStringLiteral("\nready ")) ||
                 child.state() == QProcess::NotRunning;
        },
        60000));
    ASSERT_EQ(child.state(), QProcess::Running) << output.toStdString();
    const QString page =
        output.section(QStringLiteral("\nready "), 1).section(QLatin1Char('\n'), 0, 0);
    ::kill(static_cast<pid_t>(child.processId()), signal);
    ASSERT_TRUE(child.waitForFinished(30000));
    output += QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    const std::string written = test::ReadText(config / "Quillmark's Tools" / "Inkbrite.conf");
    EXPECT_NE(written.find(page.toStdString()), std::string::npos) << written;
  }
}

}  // namespace
}  // namespace inkbrite
