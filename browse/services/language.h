// SPDX-License-Identifier: GPL-2.0-or-later
// The language of the viewer's interface: Chinese (the source texts) or
// English (translations/inkbrite_en.ts, shipped as inkbrite_en.qm).
//
// The choice, in order of precedence: INKBRITE_LANG ("zh" or "en"), the
// choice made in the Help menu's language submenu (kept in the settings
// under kLanguageKey: "zh", "en", or absent to follow the system), then the
// system locale (the first non-empty of LC_ALL, LC_MESSAGES and LANG):
// a Chinese locale ("zh", "zh_CN.UTF-8", ...) gives Chinese, every other
// locale (also "C" and none) English.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>
#include <QTranslator>
#include <optional>

namespace inkbrite {

enum class UiLanguage { kChinese, kEnglish };

// The settings key of the Help menu's choice (QSettings of the viewer).
inline constexpr const char* kLanguageKey = "Interface/Language";

// "zh" or "en" (any case, surrounding blanks ignored); nothing for any
// other value.
std::optional<UiLanguage> ParseLanguageCode(const QString& code);
QString LanguageCode(UiLanguage language);
// A locale name: "zh..." is Chinese, anything else English.
UiLanguage LanguageForLocaleName(const QString& locale);
// The rule above, from its three inputs (an unusable value is skipped).
UiLanguage ChooseLanguage(const QString& environment, const QString& stored, const QString& locale);

// The system's locale name (LC_ALL, LC_MESSAGES, LANG: the first set).
QString SystemLocaleName();
// The Help menu's stored choice: "zh", "en", or empty (follow the system).
QString StoredLanguageChoice();
void StoreLanguageChoice(const QString& code);
// The language to start with: the rule above over the environment and
// the settings.
UiLanguage StartupLanguage();

// The language the interface was last set to (Chinese before any call).
UiLanguage CurrentUiLanguage();

// The translators of one language, installed into the application while
// this object lives: the viewer's own English texts for English, Qt's own
// Chinese texts (standard dialogs, message box buttons) for Chinese. The
// engine's texts follow the same language. Load failures leave the source
// texts (Chinese), never an error. The engine's message catalogue
// (platform/messages.h) is set to the same language.
class CInterfaceLanguage {
 public:
  CInterfaceLanguage() = default;
  CInterfaceLanguage(const CInterfaceLanguage&) = delete;
  CInterfaceLanguage& operator=(const CInterfaceLanguage&) = delete;
  ~CInterfaceLanguage();

  // Sets the language; true when its translation was found (always for
  // Chinese, whose texts are the source texts).
  bool Apply(UiLanguage language);

 private:
  void Remove();

  QTranslator m_viewer;  // inkbrite_en.qm
  QTranslator m_qt;      // qtbase_zh_CN
  bool m_viewerInstalled = false;
  bool m_qtInstalled = false;
};

}  // namespace inkbrite
