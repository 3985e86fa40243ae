// SPDX-License-Identifier: GPL-2.0-or-later
// The interface language: the choice from the environment, the Help menu's
// setting and the locale; the viewer started in English and in Chinese; every
// window's texts translated; the language submenu; the help page by language.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSettings>
#include <QTabBar>
#include <QTextDocumentFragment>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "browse/dialogs/about_dialog.h"
#include "browse/dialogs/auto_play_dialog.h"
#include "browse/dialogs/batch_dialog.h"
#include "browse/dialogs/curve_dialog.h"
#include "browse/dialogs/order_dialog.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/services/language.h"
#include "browse/widgets/histogram_dock.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/thumbnail_strip.h"
#include "platform/messages.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

using ui_test::AppTest;

TEST(LanguageChoice, EnvironmentThenSettingThenLocale) {
  const auto zh = UiLanguage::kChinese;
  const auto en = UiLanguage::kEnglish;
  // The locale alone: Chinese locales only.
  EXPECT_EQ(ChooseLanguage("", "", "zh_CN.UTF-8"), zh);
  EXPECT_EQ(ChooseLanguage("", "", "zh_TW"), zh);
  EXPECT_EQ(ChooseLanguage("", "", "zh"), zh);
  EXPECT_EQ(ChooseLanguage("", "", "en_GB.UTF-8"), en);
  EXPECT_EQ(ChooseLanguage("", "", "de_DE"), en);
  EXPECT_EQ(ChooseLanguage("", "", "C"), en);
  EXPECT_EQ(ChooseLanguage("", "", ""), en);
  // The stored choice beats the locale, the environment beats both.
  EXPECT_EQ(ChooseLanguage("", "en", "zh_CN.UTF-8"), en);
  EXPECT_EQ(ChooseLanguage("", "zh", "en_US.UTF-8"), zh);
  EXPECT_EQ(ChooseLanguage("en", "zh", "zh_CN.UTF-8"), en);
  EXPECT_EQ(ChooseLanguage("zh", "en", "en_US"), zh);
  EXPECT_EQ(ChooseLanguage(" ZH ", "", "C"), zh);
  // An unusable value is passed over, never taken for English.
  EXPECT_EQ(ChooseLanguage("fr", "", "zh_CN"), zh);
  EXPECT_EQ(ChooseLanguage("", "klingon", "zh_CN"), zh);
  EXPECT_EQ(ChooseLanguage("chinese", "zh", "C"), zh);
}

TEST(LanguageChoice, LocaleFromTheEnvironmentInOrder) {
  const std::vector<const char*> names = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::string> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value ? value : "");
  }
  setenv("LC_ALL", "", 1);
  setenv("LC_MESSAGES", "zh_CN.UTF-8", 1);
  setenv("LANG", "en_US.UTF-8", 1);
  EXPECT_EQ(SystemLocaleName(), "zh_CN.UTF-8");
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(SystemLocaleName(), "C");
  for (size_t i = 0; i < names.size(); ++i) setenv(names[i], saved[i].c_str(), 1);
}

TEST(LanguageChoice, StoredChoiceKeepsOnlyKnownCodes) {
  QSettings().clear();
  EXPECT_EQ(StoredLanguageChoice(), "");
  StoreLanguageChoice("en");
  EXPECT_EQ(StoredLanguageChoice(), "en");
  EXPECT_EQ(QSettings().value(kLanguageKey).toString(), "en");
  StoreLanguageChoice("");
  EXPECT_FALSE(QSettings().contains(kLanguageKey));
  QSettings().setValue(kLanguageKey, "xx");
  EXPECT_EQ(StoredLanguageChoice(), "");
  QSettings().clear();
}

// Texts with Chinese characters among `texts` (the language submenu's
// "中文" is that language's own name and is allowed).
std::vector<std::string> ChineseTexts(const QStringList& texts) {
  static const QRegularExpression han(QStringLiteral("\\p{Han}"));
  std::vector<std::string> found;
  for (const QString& text : texts) {
    if (text != QStringLiteral("中文") && text.contains(han)) found.push_back(text.toStdString());
  }
  return found;
}

// Every text a window shows: its title, labels, buttons, group titles,
// list entries, tabs, and its menus' items with their tips.
QStringList ShownTexts(QWidget* window) {
  QStringList texts{window->windowTitle()};
  for (auto* label : window->findChildren<QLabel*>()) texts << label->text();
  for (auto* button : window->findChildren<QAbstractButton*>()) texts << button->text();
  for (auto* group : window->findChildren<QGroupBox*>()) texts << group->title();
  for (auto* list : window->findChildren<QComboBox*>()) {
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
  }
  for (auto* tabs : window->findChildren<QTabBar*>()) {
    for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
  }
  std::function<void(QMenu*)> menu = [&](QMenu* m) {
    texts << m->title();
    for (QAction* action : m->actions()) {
      texts << action->text() << action->statusTip() << action->toolTip();
      if (action->menu()) menu(action->menu());
    }
  };
  for (auto* m : window->findChildren<QMenu*>()) menu(m);
  return texts;
}

// The application started with INKBRITE_LANG set to `code`.
class StartLanguageTest : public AppTest {
 protected:
  void Start(const char* code) {
    setenv("INKBRITE_LANG", code, 1);
    app.reset();
    app = std::make_unique<CInkbriteApp>();
    app->InitInstance(false);
  }
  void TearDown() override {
    AppTest::TearDown();
    setenv("INKBRITE_LANG", "zh", 1);
  }
  QStringList MenuTitles() {
    QStringList titles;
    for (QMenu* menu : Frame()->MenuBarMenus()) titles << menu->title();
    return titles;
  }
};

TEST_F(StartLanguageTest, EnglishStartShowsEnglishMenusAndChineseStartChinese) {
  ASSERT_EQ(ChineseTexts({"&File", "文件(&F)", "中文"}), std::vector<std::string>{"文件(&F)"});
  Start("en");
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::kEnglish);
  // The engine's texts follow the interface.
  EXPECT_EQ(CurrentMessageLanguage(), MessageLanguage::kEnglish);
  EXPECT_NE(EngineUiText(kBatchNoTargetMessage), QString::fromUtf8(kBatchNoTargetMessage.data()));
  EXPECT_EQ(MenuTitles(), QStringList({"&File", "&View", "&Help"}));
  EXPECT_EQ(Frame()->Action(kCmdOpen)->text(), "&Open...\tCtrl+O");
  EXPECT_EQ(Frame()->Action(kCmdOpen)->toolTip(), "Open");
  EXPECT_EQ(ChineseTexts(ShownTexts(Frame())), std::vector<std::string>{});

  Start("zh");
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::kChinese);
  EXPECT_EQ(CurrentMessageLanguage(), MessageLanguage::kChinese);
  EXPECT_EQ(EngineUiText(kBatchNoTargetMessage), QString::fromUtf8(kBatchNoTargetMessage.data()));
  EXPECT_EQ(MenuTitles(), QStringList({"文件(&F)", "查看(&V)", "帮助(&H)"}));
  EXPECT_EQ(Frame()->Action(kCmdOpen)->text(), "打开(&O)...\tCtrl+O");
}

TEST_F(StartLanguageTest, EveryWindowIsInEnglish) {
  Start("en");
  std::vector<std::unique_ptr<QWidget>> windows;
  windows.push_back(std::make_unique<CAboutDialog>());
  windows.push_back(std::make_unique<CAutoPlayDialog>());
  windows.push_back(std::make_unique<CBatchDlg>());
  windows.push_back(std::make_unique<COrderDialog>());
  CParaBlock block;
  windows.push_back(std::make_unique<CCurveDialog>(block, nullptr));
  const std::filesystem::path ini = dir.path() / "Inkbrite.ini";
  windows.push_back(std::make_unique<CSettingsDialog>(CSettingsDialog::Mode::kSave, block, ini));
  windows.push_back(std::make_unique<CSettingsDialog>(CSettingsDialog::Mode::kLoad, block, ini));
  windows.push_back(std::make_unique<CFolderChooser>(nullptr, "", "", ""));
  windows.push_back(std::make_unique<CFolderChooser>(nullptr, "", "", "", true));
  for (const auto& window : windows) {
    EXPECT_EQ(ChineseTexts(ShownTexts(window.get())), std::vector<std::string>{})
        << window->metaObject()->className();
  }
  // The parameter bar belongs to the frame.
  EXPECT_EQ(ChineseTexts(ShownTexts(Frame()->ParaBar())), std::vector<std::string>{});
  EXPECT_EQ(UiText(kReadFailedMessage), "The file could not be read.");
}

// A choice in the language submenu applies at once to every part of the
// open frame (menus, tips, status bar panes, docks, the parameter bar, the
// engine's texts), both ways, and is kept for the next start.
TEST_F(StartLanguageTest, LanguageMenuAppliesAtOnceAndForTheNextStart) {
  Start("zh");
  ui_test::WritePage(dir / "a.bmp", 60, 40);
  AppParams().SetValue(kDeskew, 1);
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  ASSERT_TRUE(ui_test::WaitFor([&] { return !Frame()->FindingsPaneText().isEmpty(); }));
  Frame()->Action(kCmdParaBar)->trigger();
  Frame()->ParaBar()->SelectPage(kPageAuto);
  Frame()->ParaBar()->Control<QCheckBox>(kParaWindowOnly)->setChecked(true);
  // In sorted order: the parameter bar made anew comes last among the
  // frame's children.
  const auto sorted = [](QStringList texts) {
    texts.sort();
    return texts;
  };
  const QStringList chinese = sorted(ShownTexts(Frame()));
  const QString chineseFindings = Frame()->FindingsPaneText();
  QMenu* languages = Frame()->LanguageMenu();
  ASSERT_NE(languages, nullptr);
  // In the Help menu of both menu sets.
  EXPECT_TRUE(Frame()->MenuBarMenus().back()->actions().contains(languages->menuAction()));
  const QList<QAction*> items = languages->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), "中文");
  EXPECT_EQ(items[1]->text(), "English");
  EXPECT_TRUE(items[2]->isChecked());  // nothing stored: the system's
  const auto choose = [&](int item) {
    languages->actions()[item]->trigger();
    // The changes arrive as posted events; the old bar goes later.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };

  choose(1);
  EXPECT_EQ(QSettings().value(kLanguageKey).toString(), "en");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::kEnglish);
  EXPECT_EQ(CurrentMessageLanguage(), MessageLanguage::kEnglish);
  EXPECT_EQ(MenuTitles(), QStringList({"&File", "&View", "&Window", "&Help"}));
  EXPECT_EQ(Frame()->Action(kCmdOpen)->toolTip(), "Open");
  EXPECT_EQ(ChineseTexts(ShownTexts(Frame())), std::vector<std::string>{});
  EXPECT_EQ(
      ChineseTexts({Frame()->FindingsPaneText(), Frame()->HistogramDock()->windowTitle(),
                    Frame()->ThumbnailStrip()->windowTitle(), Frame()->ParaBar()->windowTitle()}),
      std::vector<std::string>{});
  EXPECT_NE(Frame()->FindingsPaneText(), chineseFindings);
  EXPECT_EQ(Frame()->findChildren<CParaBar*>().size(), 1);
  // The bar made anew keeps what the old one showed.
  EXPECT_TRUE(Frame()->ParaBar()->isVisible());
  EXPECT_EQ(Frame()->ParaBar()->CurrentPage(), kPageAuto);
  EXPECT_TRUE(Frame()->ParaBar()->Control<QCheckBox>(kParaWindowOnly)->isChecked());
  EXPECT_TRUE(Frame()->Action(kCmdParaBar)->isChecked());

  // And back: every text as it was.
  choose(0);
  EXPECT_EQ(QSettings().value(kLanguageKey).toString(), "zh");
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::kChinese);
  EXPECT_EQ(CurrentMessageLanguage(), MessageLanguage::kChinese);
  EXPECT_EQ(sorted(ShownTexts(Frame())), chinese);
  EXPECT_EQ(Frame()->FindingsPaneText(), chineseFindings);
  EXPECT_EQ(Frame()->Action(kCmdOpen)->text(), "打开(&O)...\tCtrl+O");
  EXPECT_TRUE(messages.empty());

  // The next start follows the stored choice when INKBRITE_LANG is not set.
  choose(1);
  unsetenv("INKBRITE_LANG");
  app.reset();
  app = std::make_unique<CInkbriteApp>();
  app->InitInstance(false);
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::kEnglish);
  EXPECT_TRUE(Frame()->LanguageMenu()->actions()[1]->isChecked());
  EXPECT_EQ(Frame()->MenuBarMenus().front()->title(), "&File");
  // Following the system again removes the key, and INKBRITE_LANG, then
  // the locale, decide at once.
  setenv("INKBRITE_LANG", "zh", 1);
  languages = Frame()->LanguageMenu();
  choose(2);
  EXPECT_FALSE(QSettings().contains(kLanguageKey));
  EXPECT_EQ(CurrentUiLanguage(), UiLanguage::kChinese);
  EXPECT_EQ(Frame()->MenuBarMenus().front()->title(), "文件(&F)");
  EXPECT_TRUE(messages.empty());
}

// The help page names every command of the menus, in the language of the
// interface.
TEST_F(StartLanguageTest, TheHelpPageNamesEveryMenuCommand) {
  ui_test::WritePage(dir / "a.bmp", 20, 10);
  for (const char* code : {"zh", "en"}) {
    SCOPED_TRACE(code);
    Start(code);
    QFile file(QStringLiteral(INKBRITE_HELP_DIR) +
               (std::string(code) == "en" ? "/Inkbrite_en.htm" : "/Inkbrite.htm"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString page =
        QTextDocumentFragment::fromHtml(QString::fromUtf8(file.readAll())).toPlainText();
    ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);  // the menus of a window
    int named = 0;
    std::function<void(QMenu*)> check = [&](QMenu* menu) {
      for (QAction* action : menu->actions()) {
        if (action->menu() != nullptr) {
          check(action->menu());
          continue;
        }
        QString name = action->text().section(QLatin1Char('\t'), 0, 0);
        name.remove(QRegularExpression(QStringLiteral("\\(&\\w\\)"))).remove(QLatin1Char('&'));
        while (name.endsWith(QLatin1Char('.'))) name.chop(1);
        // Separators, and the recent files and windows by number.
        if (name.isEmpty() || name.contains(QRegularExpression(QStringLiteral("^\\d+ ")))) continue;
        EXPECT_TRUE(page.contains(name, Qt::CaseInsensitive)) << name.toStdString();
        ++named;
      }
    };
    for (QMenu* menu : Frame()->MenuBarMenus()) check(menu);
    EXPECT_GT(named, 50);
  }
}

TEST_F(StartLanguageTest, HelpPageFollowsTheLanguage) {
  std::vector<QUrl> opened;
  const UrlOpener previous = SetUrlOpener([&](const QUrl& url, const std::function<void()>&) {
    opened.push_back(url);
    return true;
  });
  const std::filesystem::path data = std::getenv("INKBRITE_DATA_DIR");
  std::ofstream(data / "Inkbrite.htm") << "<html></html>";
  std::ofstream(data / "Inkbrite_en.htm") << "<html></html>";
  Start("en");
  EXPECT_TRUE(ShowHelp(Frame()));
  Start("zh");
  EXPECT_TRUE(ShowHelp(Frame()));
  // An English start without the English page shows the Chinese one.
  std::filesystem::remove(data / "Inkbrite_en.htm");
  Start("en");
  EXPECT_TRUE(ShowHelp(Frame()));
  std::filesystem::remove(data / "Inkbrite.htm");
  SetUrlOpener(previous);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_TRUE(opened[0].toLocalFile().endsWith("/Inkbrite_en.htm"));
  EXPECT_TRUE(opened[1].toLocalFile().endsWith("/Inkbrite.htm"));
  EXPECT_TRUE(opened[2].toLocalFile().endsWith("/Inkbrite.htm"));
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace inkbrite
