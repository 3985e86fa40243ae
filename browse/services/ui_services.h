// SPDX-License-Identifier: GPL-2.0-or-later
// Small services the viewer's classes share: message boxes, the program-wide
// viewing state, and the folders the batch dialog remembers.
#pragma once

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

class QWidget;

namespace inkbrite {

// A text shared by several classes (the constants marked
// QT_TRANSLATE_NOOP("Messages", ...) in the viewer's headers) in the
// interface's language.
inline QString UiText(const char* text) { return QCoreApplication::translate("Messages", text); }
// A text of the engine's catalogue (platform/messages.h) in the language of
// the run.
QString EngineUiText(std::string_view text);

// A modal message titled "Inkbrite". Tests replace the handler so that no
// message blocks them; the default shows a QMessageBox. A question whose
// buttons include YesToAll is shown with Yes and No and a check box
// kDontAskAgainText: Yes with the box ticked answers YesToAll.
using MessageHandler = std::function<QMessageBox::StandardButton(
    QWidget* parent, const QString& text, QMessageBox::StandardButtons buttons)>;
QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// The box the default handler shows (not yet shown).
std::unique_ptr<QMessageBox> CreateMessageBox(QWidget* parent, const QString& text,
                                              QMessageBox::StandardButtons buttons);
// Installs `handler` (empty: the default) and returns the previous one.
MessageHandler SetMessageHandler(MessageHandler handler);

// The system's simple beep (ends of the file list, Space without a page).
// Tests replace the handler to count beeps; empty: QApplication::beep().
void Beep();
std::function<void()> SetBeepHandler(std::function<void()> handler);

inline const char* const kDontAskAgainText = QT_TRANSLATE_NOOP("Messages", "以后不再询问");

// Whether Save asks before it writes over the file the page was read from
// (kept in the settings; on until the user turns it off).
bool AskBeforeOverwritingSource();
void SetAskBeforeOverwritingSource(bool ask);
// The recent-file list keeps one entry per folder or book (a page turn
// replaces the entry of its folder) rather than one per page shown; kept in
// the settings, off by default.
// Whether a double-click on the page goes into the reader's full screen
// and out, instead of turning to the next page (off by default).
bool DoubleClickFullScreen();
void SetDoubleClickFullScreen(bool on);
bool RecentPerFolder();
void SetRecentPerFolder(bool on);

// Whether a page smaller than its window is centred on a neutral grey
// (kept in the settings; off: the page sits top left on black).
bool CentreSmallPages();
void SetCentreSmallPages(bool on);

// Whether pages show the pixels clipped to black (blue stripes) and to
// white (red stripes); kept in the settings, off by default.
bool ShowClipping();
void SetShowClipping(bool on);

// The parameter bar's "these parameters apply to this window only" box.
bool PerWindowMode();
void SetPerWindowMode(bool on);

// The source and target folders the batch dialog starts with; they live
// only while the program runs. Opening a page sets them.
struct BatchFolders {
  std::filesystem::path source;
  std::filesystem::path target;
  int stripCut = 0;         // long strips cut into pages this tall (0: not cut)
  bool stripJoin = false;   // a folder's or book's pages joined first
  bool useAttached = true;  // each book with the settings attached to it or its series
};
BatchFolders& RememberedBatchFolders();

// The object name of a dialog's control with id `id`: "ctl<id>". Tests and
// the screenshot tool find controls by it.
QString ControlName(int id);

// Text of the message shown when a page cannot be read.
inline const char* const kReadFailedMessage = QT_TRANSLATE_NOOP("Messages", "文件读取失败。");
// A folder opened (command line, drop) without a single page in it.
inline const char* const kEmptyFolderMessage =
    QT_TRANSLATE_NOOP("Messages", "这个文件夹里没有可以打开的图像。");

}  // namespace inkbrite
