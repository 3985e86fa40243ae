// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>

namespace inkbrite {
namespace {

// Sets a language for one test and restores the suite's (Chinese) after it.
class LanguageScope {
 public:
  explicit LanguageScope(MessageLanguage language) { SetMessageLanguage(language); }
  ~LanguageScope() { SetMessageLanguage(MessageLanguage::kChinese); }
};

MessageLanguage FromEnvironment(std::map<std::string, std::string> env) {
  return LanguageFromEnvironment([&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

TEST(MessagesTest, LanguageComesFromOverrideThenLocale) {
  using L = MessageLanguage;
  EXPECT_EQ(FromEnvironment({}), L::kEnglish);
  EXPECT_EQ(FromEnvironment({{"LANG", "zh_CN.UTF-8"}}), L::kChinese);
  EXPECT_EQ(FromEnvironment({{"LANG", "zh_TW.Big5"}}), L::kChinese);
  EXPECT_EQ(FromEnvironment({{"LANG", "de_DE.UTF-8"}}), L::kEnglish);
  EXPECT_EQ(FromEnvironment({{"LANG", "C"}}), L::kEnglish);
  // LC_ALL before LC_MESSAGES before LANG; empty values do not count.
  EXPECT_EQ(FromEnvironment({{"LC_ALL", "en_GB"}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "zh_CN"}}),
            L::kEnglish);
  EXPECT_EQ(FromEnvironment({{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "en_US"}}),
            L::kChinese);
  EXPECT_EQ(FromEnvironment({{"LC_MESSAGES", "POSIX"}, {"LANG", "zh_CN"}}), L::kEnglish);
  // INKBRITE_LANG before the locale, when not empty.
  EXPECT_EQ(FromEnvironment({{"INKBRITE_LANG", "en"}, {"LC_ALL", "zh_CN.UTF-8"}}), L::kEnglish);
  EXPECT_EQ(FromEnvironment({{"INKBRITE_LANG", "zh"}, {"LANG", "en_US"}}), L::kChinese);
  EXPECT_EQ(FromEnvironment({{"INKBRITE_LANG", ""}, {"LANG", "zh_CN"}}), L::kChinese);

  MessageLanguage parsed = L::kChinese;
  EXPECT_TRUE(ParseMessageLanguage("en", parsed));
  EXPECT_EQ(parsed, L::kEnglish);
  EXPECT_TRUE(ParseMessageLanguage("zh", parsed));
  EXPECT_EQ(parsed, L::kChinese);
  for (const char* bad : {"", "EN", "zh_CN", "fr", "english"}) {
    EXPECT_FALSE(ParseMessageLanguage(bad, parsed)) << bad;
  }
}

TEST(MessagesTest, ChineseIsTheSourceTextAndEnglishItsTranslation) {
  constexpr std::string_view kRead = INKBRITE_TEXT("sources", "文件读取失败。");
  const std::string_view chinese = EngineText(kRead);
  EXPECT_EQ(chinese.data(), kRead.data());  // the very bytes, not a copy
  EXPECT_EQ(EngineTextArgs(INKBRITE_TEXT("core", "缩至 %1×%2"), {"1072", "1448"}),
            "缩至 1072×1448");

  LanguageScope english(MessageLanguage::kEnglish);
  EXPECT_EQ(EngineText(kRead), "The file could not be read.");
  EXPECT_EQ(EngineTextArgs(INKBRITE_TEXT("core", "缩至 %1×%2"), {"1072", "1448"}), "Fit 1072×1448");
  // A text the table does not know is shown as it is.
  EXPECT_EQ(EngineText("没有这条"), "没有这条");
  // Placeholders: each number takes its argument, wherever it stands; one
  // without an argument, or a lone %, stays.
  EXPECT_EQ(EngineTextArgs("%2 of %1, %3 and 100%", {"a", "b"}), "b of a, %3 and 100%");
  EXPECT_EQ(EngineTextArgs("%1%1", {"%2", "x"}), "%2%2");  // arguments are not expanded again
}

// The placeholders of a text: %1..%9, printf conversions and {name}.
std::multiset<std::string> Placeholders(std::string_view text) {
  static const std::regex kPlaceholder(
      R"(%[1-9]|%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z|j|t)?[diouxXfFeEgGcsp]|\{[^{}]*\})");
  std::multiset<std::string> found;
  const std::string s(text);
  for (auto it = std::sregex_iterator(s.begin(), s.end(), kPlaceholder);
       it != std::sregex_iterator(); ++it) {
    found.insert(it->str());
  }
  return found;
}

TEST(MessagesTest, TableIsOrderedAndKeepsEachTextsPlaceholders) {
  const EngineMessage* begin = EngineMessagesBegin();
  const EngineMessage* end = EngineMessagesEnd();
  ASSERT_GT(end - begin, 40);
  LanguageScope english(MessageLanguage::kEnglish);
  for (const EngineMessage* m = begin; m != end; ++m) {
    if (m != begin) {
      EXPECT_LT(m[-1].source, m->source) << "out of order or twice: " << m->source;
    }
    EXPECT_FALSE(m->english.empty()) << m->source;
    EXPECT_EQ(Placeholders(m->source), Placeholders(m->english)) << m->source;
    EXPECT_EQ(EngineText(std::string(m->source)), m->english);  // found by its bytes alone
  }
}

}  // namespace
}  // namespace inkbrite
