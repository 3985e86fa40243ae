// SPDX-License-Identifier: GPL-2.0-or-later
// The message catalogue of the layers without Qt (core, formats, sources,
// batch and inkbrite-batch): the texts a user sees from the engine, in the
// language of the run.
//
// A text's id is its Chinese wording as the program has always shown it;
// Chinese output is the id itself, byte for byte. The English wording lives
// in translations/engine_en.ts (Qt Linguist's format, beside the viewer's
// translations), which the build turns into a C++ table
// (scripts/engine_messages.py); nothing here needs Qt at run time.
//
// A text is marked where it is written, with INKBRITE_TEXT("context",
// "文本"), so that lupdate finds it:
//   lupdate -locations none -tr-function-alias QT_TRANSLATE_NOOP+=INKBRITE_TEXT
//           core formats sources batch platform -ts translations/engine_en.ts
// and is shown through EngineText (or EngineTextArgs for one with %1..%9).
// A test checks that every marked text has an English translation with the
// same placeholders.
//
// Threads: the language is one atomic value; every call may be made from
// any thread.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

// Expands to the text: a marker for lupdate (shaped as QT_TRANSLATE_NOOP).
#define INKBRITE_TEXT(context, text) text

namespace inkbrite {

enum class MessageLanguage { kChinese, kEnglish };

// The language EngineText answers in; kChinese until the first call.
void SetMessageLanguage(MessageLanguage language);
MessageLanguage CurrentMessageLanguage();

// A locale name's language: "zh", "zh_CN.UTF-8", "zh_TW" ... Chinese; any
// other, also "", "C" and "POSIX", English.
MessageLanguage LanguageForLocale(std::string_view locale);

// "zh" or "en" (the command line's --lang); false for anything else.
bool ParseMessageLanguage(std::string_view name, MessageLanguage& language);

// The language of the environment: INKBRITE_LANG when set and not empty
// (read as a locale name), else the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty, else English. `getenv` reads the environment
// (default: std::getenv).
using MessageEnvLookup = std::function<const char*(const char* name)>;
MessageLanguage LanguageFromEnvironment(const MessageEnvLookup& getenv = {});

// `source` (a marked text) in the current language; a text without an
// English translation is answered as it is. The view lives as long as the
// program when `source` does (a literal or a marked constant).
std::string_view EngineText(std::string_view source);

// EngineText with each %1 .. %9 replaced by the argument of that number
// (a placeholder without an argument stays as it is).
std::string EngineTextArgs(std::string_view source, std::initializer_list<std::string_view> args);

// The translation table: every English entry, in the order of the ids.
struct EngineMessage {
  std::string_view context;
  std::string_view source;
  std::string_view english;
};
const EngineMessage* EngineMessagesBegin();
const EngineMessage* EngineMessagesEnd();

}  // namespace inkbrite
