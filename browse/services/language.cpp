// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSettings>
#include <cstdlib>

#include "platform/messages.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace {

UiLanguage g_current = UiLanguage::kChinese;

QString Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

}  // namespace

std::optional<UiLanguage> ParseLanguageCode(const QString& code) {
  const QString c = code.trimmed().toLower();
  if (c == QLatin1String("zh")) return UiLanguage::kChinese;
  if (c == QLatin1String("en")) return UiLanguage::kEnglish;
  return std::nullopt;
}

QString LanguageCode(UiLanguage language) {
  return language == UiLanguage::kChinese ? QStringLiteral("zh") : QStringLiteral("en");
}

UiLanguage LanguageForLocaleName(const QString& locale) {
  return locale.trimmed().startsWith(QLatin1String("zh"), Qt::CaseInsensitive)
             ? UiLanguage::kChinese
             : UiLanguage::kEnglish;
}

UiLanguage ChooseLanguage(const QString& environment, const QString& stored,
                          const QString& locale) {
  if (const auto chosen = ParseLanguageCode(environment)) return *chosen;
  if (const auto chosen = ParseLanguageCode(stored)) return *chosen;
  return LanguageForLocaleName(locale);
}

QString SystemLocaleName() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    QString value = Environment(name);
    if (!value.isEmpty()) return value;
  }
  return {};
}

QString StoredLanguageChoice() {
  const QString code = QSettings().value(QLatin1String(kLanguageKey)).toString();
  return ParseLanguageCode(code) ? code.trimmed().toLower() : QString();
}

void StoreLanguageChoice(const QString& code) {
  QSettings settings;
  if (ParseLanguageCode(code)) {
    settings.setValue(QLatin1String(kLanguageKey), code.trimmed().toLower());
  } else {
    settings.remove(QLatin1String(kLanguageKey));
  }
}

UiLanguage StartupLanguage() {
  return ChooseLanguage(Environment("INKBRITE_LANG"), StoredLanguageChoice(), SystemLocaleName());
}

UiLanguage CurrentUiLanguage() { return g_current; }

CInterfaceLanguage::~CInterfaceLanguage() { Remove(); }

void CInterfaceLanguage::Remove() {
  if (m_viewerInstalled) QCoreApplication::removeTranslator(&m_viewer);
  if (m_qtInstalled) QCoreApplication::removeTranslator(&m_qt);
  m_viewerInstalled = m_qtInstalled = false;
}

bool CInterfaceLanguage::Apply(UiLanguage language) {
  Remove();
  g_current = language;
  // The engine's texts (batch job, books, formats) in the same language.
  SetMessageLanguage(language == UiLanguage::kEnglish ? MessageLanguage::kEnglish
                                                      : MessageLanguage::kChinese);
  bool found = true;
  if (language == UiLanguage::kEnglish) {
    const std::filesystem::path qm = ShippedFilePath("translations/inkbrite_en.qm");
    found = !qm.empty() && m_viewer.load(QString::fromStdString(qm.string()));
    if (found) m_viewerInstalled = QCoreApplication::installTranslator(&m_viewer);
  } else if (m_qt.load(QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    // The standard dialogs' own texts (file dialog, message box buttons).
    m_qtInstalled = QCoreApplication::installTranslator(&m_qt);
  }
  return found;
}

}  // namespace inkbrite
