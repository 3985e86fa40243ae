// SPDX-License-Identifier: GPL-2.0-or-later
// The About box, the help page and the link label they use.
//
// Links and the help page open through a replaceable opener (the default
// runs the desktop's xdg-open, or QDesktopServices::openUrl where there is
// none), so tests can watch what would be opened without starting a browser.
// A page that cannot be shown is always reported: at once when nothing can
// be started, or when xdg-open ends in failure (no browser, no program for
// the type).
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QString>
#include <QUrl>
#include <functional>

namespace inkbrite {

extern const char* const kProgramVersion;  // the project's, from CMake
inline const char* const kAuthorName = "Quillmark";
inline const char* const kAuthorEmail = "inkbrite@quillmark.example.org";
inline const char* const kHomepageUrl = "https://quillmark.example.org/inkbrite/";
inline const char* const kHelpMissingMessage =
    QT_TRANSLATE_NOOP("Messages", "抱歉，找不到帮助文件Inkbrite.htm。\n请下载完整的ZIP文件。");
// %1: the help page's path.
inline const char* const kHelpNotShownMessage =
    QT_TRANSLATE_NOOP("Messages", "抱歉，无法打开帮助文件\n%1\n找不到可以显示它的浏览器。");

// Opens a URL with the desktop. False when it cannot be handed to anything;
// when a hand-over fails later (the program the desktop started ends in
// failure), `failed` is called then. An opener may call `failed` at any
// time; OpenUrl passes the call on from the event loop, never from within
// itself.
using UrlOpener = std::function<bool(const QUrl& url, const std::function<void()>& failed)>;
// Installs `opener` (empty: the desktop's) and returns the previous one.
UrlOpener SetUrlOpener(UrlOpener opener);
bool OpenUrl(const QUrl& url, std::function<void()> failed);

// Text for a failed open by result code: 2 file not found, 3 path not
// found, 5 access denied, 26 sharing violation, 31 no associated
// application, ... and "Unknown Error (%d) occurred." for any other code.
QString OpenErrorText(int code);

// The program's icon (the same drawing as resources/icons/inkbrite.svg),
// painted at 16, 32, 48 and 64 pixels.
QIcon InkbriteIcon();

// A label that behaves like a link: underlined, in the link colour, the
// hover colour under the pointer, the visited colour once opened; a hand
// cursor and a tooltip with the target. A click opens the target; a failure
// beeps and shows "Unable to open hyperlink:\n\n" and the reason.
class CLinkLabel : public QLabel {
  Q_OBJECT

 public:
  static inline const QColor kLinkColour{0, 0, 238};
  static inline const QColor kVisitedColour{85, 26, 139};
  static inline const QColor kHoverColour{204, 0, 0};

  // The target defaults to the text.
  explicit CLinkLabel(const QString& text, QWidget* parent = nullptr);

  void SetLinkTarget(const QString& target);
  QString LinkTarget() const { return m_target; }
  bool Visited() const { return m_visited; }
  bool Hovered() const { return m_hovered; }
  QColor CurrentColour() const;
  // Opens the target as a click does; true on success.
  bool OpenTarget();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Restyle();
  // The beep and "Unable to open hyperlink:" with the text for `code`.
  void ReportOpenFailure(int code);

  QString m_target;
  bool m_visited = false;
  bool m_hovered = false;
};

// The About box: icon, name and version, author, e-mail link, homepage link
// and an OK button.
class CAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDialog(QWidget* parent = nullptr);

  CLinkLabel* EmailLink() const { return m_email; }
  CLinkLabel* HomepageLink() const { return m_homepage; }

 private:
  CLinkLabel* m_email = nullptr;
  CLinkLabel* m_homepage = nullptr;
};

// The help command: opens Inkbrite.htm from the folder of the files beside
// the program (ProgramFilePath(".htm")), or else the page shipped with the
// program (ShippedFilePath: beside the executable in a build tree,
// <prefix>/share/inkbrite when installed). In English the English page
// Inkbrite_en.htm is looked for first in the same places.
// With no page: the message kHelpMissingMessage; a page no browser can show
// gives kHelpNotShownMessage. Returns true when the page was found.
bool ShowHelp(QWidget* parent);

}  // namespace inkbrite
