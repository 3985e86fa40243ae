// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/messages.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>

namespace inkbrite {

namespace {

// kEngineMessages: {context, source, english}, sorted by source (bytes).
#include "engine_messages_table.inc"

std::atomic<MessageLanguage> g_language{MessageLanguage::kChinese};

}  // namespace

void SetMessageLanguage(MessageLanguage language) {
  g_language.store(language, std::memory_order_relaxed);
}

MessageLanguage CurrentMessageLanguage() { return g_language.load(std::memory_order_relaxed); }

MessageLanguage LanguageForLocale(std::string_view locale) {
  return locale.starts_with("zh") ? MessageLanguage::kChinese : MessageLanguage::kEnglish;
}

bool ParseMessageLanguage(std::string_view name, MessageLanguage& language) {
  if (name == "zh") {
    language = MessageLanguage::kChinese;
  } else if (name == "en") {
    language = MessageLanguage::kEnglish;
  } else {
    return false;
  }
  return true;
}

MessageLanguage LanguageFromEnvironment(const MessageEnvLookup& getenv) {
  for (const char* name : {"INKBRITE_LANG", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv ? getenv(name) : std::getenv(name);
    if (value != nullptr && *value != '\0') return LanguageForLocale(value);
  }
  return MessageLanguage::kEnglish;
}

const EngineMessage* EngineMessagesBegin() { return std::begin(kEngineMessages); }
const EngineMessage* EngineMessagesEnd() { return std::end(kEngineMessages); }

std::string_view EngineText(std::string_view source) {
  if (CurrentMessageLanguage() == MessageLanguage::kChinese) return source;
  const EngineMessage* end = EngineMessagesEnd();
  const EngineMessage* found =
      std::lower_bound(EngineMessagesBegin(), end, source,
                       [](const EngineMessage& m, std::string_view s) { return m.source < s; });
  return found != end && found->source == source ? found->english : source;
}

std::string EngineTextArgs(std::string_view source, std::initializer_list<std::string_view> args) {
  const std::string_view pattern = EngineText(source);
  std::string text;
  text.reserve(pattern.size() + 16);
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
      const size_t n = static_cast<size_t>(pattern[i + 1] - '1');
      if (n < args.size()) {
        text += *(args.begin() + n);
        ++i;
        continue;
      }
    }
    text += c;
  }
  return text;
}

}  // namespace inkbrite
