// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/about_dialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEnterEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "browse/services/language.h"
#include "browse/services/ui_services.h"
#include "platform/program_paths.h"

namespace inkbrite {

const char* const kProgramVersion = INKBRITE_VERSION;

namespace fs = std::filesystem;

namespace {

UrlOpener& Opener() {
  static UrlOpener opener;
  return opener;
}

// The icon at `side` pixels, drawn on a 64-unit grid: a blue tile, a white
// comic page with three grey panels and a folded corner, a yellow sun of
// brightness over its upper right.
QPixmap DrawIcon(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(side / 64.0, side / 64.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2b, 0x4a, 0x7a));
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
  QPainterPath page;
  page.moveTo(14, 10);
  page.lineTo(40, 10);
  page.lineTo(50, 20);
  page.lineTo(50, 56);
  page.lineTo(14, 56);
  page.closeSubpath();
  p.setBrush(Qt::white);
  p.drawPath(page);
  p.setBrush(QColor(0xc8, 0xd2, 0xe0));
  QPainterPath fold;
  fold.moveTo(40, 10);
  fold.lineTo(40, 20);
  fold.lineTo(50, 20);
  fold.closeSubpath();
  p.drawPath(fold);
  p.setBrush(QColor(0x33, 0x33, 0x33));
  p.drawRect(QRectF(18, 24, 13, 13));
  p.drawRect(QRectF(33, 24, 13, 13));
  p.drawRect(QRectF(18, 40, 28, 12));
  p.setBrush(QColor(0xff, 0xc8, 0x2e));
  p.drawEllipse(QPointF(48, 14), 7, 7);
  return pixmap;
}

// The desktop's opener. xdg-open runs as a child process so that its end
// is seen: a non-zero exit status means nothing could show the URL (it
// answers 3 when no browser or program is found). Its output goes nowhere,
// and a browser it starts outlives it.
bool DesktopOpen(const QUrl& url, const std::function<void()>& failed) {
  const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (xdgOpen.isEmpty()) return QDesktopServices::openUrl(url);
  auto* process = new QProcess(qApp);
  process->setProgram(xdgOpen);
  process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString()});
  process->setStandardInputFile(QProcess::nullDevice());
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  QObject::connect(process, &QProcess::finished, process,
                   [process, failed](int code, QProcess::ExitStatus status) {
                     if (status != QProcess::NormalExit || code != 0) failed();
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, failed](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     failed();
                     process->deleteLater();
                   });
  process->start();
  return true;
}

}  // namespace

UrlOpener SetUrlOpener(UrlOpener opener) {
  UrlOpener previous = std::move(Opener());
  Opener() = std::move(opener);
  return previous;
}

bool OpenUrl(const QUrl& url, std::function<void()> failed) {
  // A failure always arrives through the event loop, after the caller has
  // dealt with the answer.
  const auto later = [failed = std::move(failed)] {
    if (failed) QMetaObject::invokeMethod(qApp, failed, Qt::QueuedConnection);
  };
  return Opener() ? Opener()(url, later) : DesktopOpen(url, later);
}

QString OpenErrorText(int code) {
  switch (code) {
    case 0: return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2: return QStringLiteral("The specified file was not found.");
    case 3: return QStringLiteral("The specified path was not found.");
    case 5: return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8: return QStringLiteral("There was not enough memory to complete the operation.");
    case 11:
      return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26: return QStringLiteral("A sharing violation occurred. ");
    case 27: return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28:
      return QStringLiteral(
          "The DDE transaction could not\nbe completed because the request timed out.");
    case 29: return QStringLiteral("The DDE transaction failed.");
    case 30:
      return QStringLiteral(
          "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
          "processed.");
    case 31:
      return QStringLiteral(
          "There is no application associated\nwith the given filename extension.");
    case 32: return QStringLiteral("The specified dynamic-link library was not found.");
    default: return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
  }
}

QIcon InkbriteIcon() {
  QIcon icon;
  for (int side : {16, 32, 48, 64}) icon.addPixmap(DrawIcon(side));
  return icon;
}

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent), m_target(text) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  setToolTip(m_target);
  Restyle();
}

void CLinkLabel::SetLinkTarget(const QString& target) {
  m_target = target;
  setToolTip(target);
  adjustSize();
}

QColor CLinkLabel::CurrentColour() const {
  if (m_hovered) return kHoverColour;
  return m_visited ? kVisitedColour : kLinkColour;
}

void CLinkLabel::Restyle() {
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, CurrentColour());
  setPalette(pal);
  update();
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
  m_hovered = true;
  Restyle();
  QLabel::enterEvent(event);
}

void CLinkLabel::leaveEvent(QEvent* event) {
  m_hovered = false;
  Restyle();
  QLabel::leaveEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    OpenTarget();
  QLabel::mouseReleaseEvent(event);
}

bool CLinkLabel::OpenTarget() {
  // A target with a scheme (mailto:, https:) is a URL; anything else is a
  // local file, which must exist.
  const QUrl asUrl(m_target, QUrl::StrictMode);
  const bool isUrl = asUrl.isValid() && asUrl.scheme().size() > 1;
  constexpr int kNoApplication = 31;
  const auto failedLater = [self = QPointer<CLinkLabel>(this)] {
    if (self) self->ReportOpenFailure(kNoApplication);
  };
  int code = kNoApplication;
  bool opened = false;
  if (isUrl) {
    opened = OpenUrl(asUrl, failedLater);
  } else if (!QFileInfo::exists(m_target)) {
    code = 2;
  } else {
    opened = OpenUrl(QUrl::fromLocalFile(m_target), failedLater);
  }
  if (opened) {
    m_visited = true;
    Restyle();
    return true;
  }
  ReportOpenFailure(code);
  return false;
}

void CLinkLabel::ReportOpenFailure(int code) {
  m_visited = false;
  Restyle();
  Beep();
  ShowMessage(this, QStringLiteral("Unable to open hyperlink:\n\n") + OpenErrorText(code),
              QMessageBox::Ok);
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("关于 Inkbrite"));
  auto* icon = new QLabel(this);
  icon->setPixmap(DrawIcon(48));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto* name = new QLabel(tr("Inkbrite %1 版").arg(QString::fromUtf8(kProgramVersion)), this);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);

  m_email = new CLinkLabel(QString::fromUtf8(kAuthorEmail), this);
  m_email->SetLinkTarget(QStringLiteral("mailto:") + QString::fromUtf8(kAuthorEmail));
  m_homepage = new CLinkLabel(QString::fromUtf8(kHomepageUrl), this);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr("作者："), this), 0, 0);
  grid->addWidget(new QLabel(QString::fromUtf8(kAuthorName), this), 0, 1);
  grid->addWidget(new QLabel(tr("电邮："), this), 1, 0);
  grid->addWidget(m_email, 1, 1, Qt::AlignLeft);
  grid->setColumnStretch(1, 1);

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addLayout(grid);
  text->addSpacing(8);
  text->addWidget(new QLabel(tr("如果希望了解本软件的最新信息，请访问作者主页:"), this));
  text->addWidget(m_homepage, 0, Qt::AlignLeft);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(text, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool ShowHelp(QWidget* parent) {
  std::error_code ec;
  // The page of the interface's language; the Chinese page where the
  // English one is missing.
  fs::path page;
  std::vector<std::string> suffixes = {".htm"};
  if (CurrentUiLanguage() == UiLanguage::kEnglish) suffixes.insert(suffixes.begin(), "_en.htm");
  for (const std::string& suffix : suffixes) {
    page = ProgramFilePath(suffix);
    if (page.empty() || !fs::is_regular_file(page, ec)) {
      page = ShippedFilePath(std::string(kProgramFileBase) + suffix);
    }
    if (!page.empty() && fs::is_regular_file(page, ec)) break;
  }
  if (page.empty() || !fs::is_regular_file(page, ec)) {
    ShowMessage(parent, UiText(kHelpMissingMessage), QMessageBox::Ok);
    return false;
  }
  const QString path = QString::fromStdString(page.string());
  const auto notShown = [parent = QPointer<QWidget>(parent), path] {
    ShowMessage(parent, UiText(kHelpNotShownMessage).arg(path), QMessageBox::Ok);
  };
  if (!OpenUrl(QUrl::fromLocalFile(path), notShown)) notShown();
  return true;
}

}  // namespace inkbrite
