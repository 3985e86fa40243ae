// SPDX-License-Identifier: GPL-2.0-or-later
// The settings manager against a real settings file: saving under a name
// (empty, new, existing, unwritable), loading, and deleting.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QStringList>
#include <deque>
#include <string>
#include <vector>

#include "batch/named_settings.h"
#include "browse/dialogs/settings_dialog.h"
#include "browse/services/ui_services.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using Mode = CSettingsDialog::Mode;

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageHandler([this](QWidget*, const QString& text, QMessageBox::StandardButtons) {
      messages.push_back(text.toStdString());
      if (answers.empty()) return QMessageBox::Ok;
      const QMessageBox::StandardButton answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }
  void TearDown() override { SetMessageHandler({}); }

  void WriteIni(const std::string& text) {
    test::WriteAll(ini, std::vector<uint8_t>(text.begin(), text.end()));
  }
  static QComboBox* Names(CSettingsDialog& d) { return d.findChild<QComboBox*>("name"); }
  static QString Number(CSettingsDialog& d, const char* key) {
    return d.findChild<QLineEdit*>(key)->text();
  }
  static int Listed(CSettingsDialog& d, const char* key) {
    return d.findChild<QComboBox*>(key)->currentIndex();
  }
  static QStringList Items(CSettingsDialog& d) {
    QStringList items;
    for (int i = 0; i < Names(d)->count(); ++i) items << Names(d)->itemText(i);
    return items;
  }
  int Stored(const std::string& name, int slot) {
    std::array<int, kParaSlotCount> values{};
    values.fill(-999);
    EXPECT_TRUE(ReadNamedSetting(ini, name, values)) << name;
    return values[static_cast<size_t>(slot)];
  }

  test::TempDir dir;
  std::filesystem::path ini = dir / "Inkbrite.ini";
  CParaBlock block;
  std::vector<std::string> messages;
  std::deque<QMessageBox::StandardButton> answers;
};

TEST_F(SettingsDialogTest, SaveRefusesAnEmptyNameAndStoresATrimmedNewOne) {
  block.SetName("Old");
  block.SetValue(kBrightness, 150);
  block.SetValue(kGreyScale, 3);
  CSettingsDialog dialog(Mode::kSave, block, ini);
  EXPECT_EQ(Names(dialog)->currentText(), "Old");
  EXPECT_EQ(Number(dialog, "Brightness"), "150");
  EXPECT_EQ(Listed(dialog, "GreyScale"), 3);
  EXPECT_TRUE(dialog.findChild<QWidget*>("delete")->isHidden());

  Names(dialog)->setEditText("  \t ");
  dialog.accept();
  EXPECT_EQ(messages, std::vector<std::string>{"请输入有效的设置名称。"});
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(std::filesystem::exists(ini));

  Names(dialog)->setEditText("  Night mode ");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(ListNamedSettings(ini), std::vector<std::string>{"Night mode"});
  EXPECT_EQ(Stored("Night mode", kBrightness), 150);
  EXPECT_EQ(block.GetName(), "Night mode");
}

TEST_F(SettingsDialogTest, SaveAsksBeforeOverwritingOnlyASectionWithSharpen) {
  WriteIni("[Keep]\r\nBrightness=10\r\nSharpen=2\r\n[Bare]\r\nBrightness=20\r\n");
  block.SetValue(kBrightness, 77);
  {
    CSettingsDialog dialog(Mode::kSave, block, ini);
    EXPECT_EQ(Items(dialog), (QStringList{"Bare", "Keep"}));
    Names(dialog)->setEditText("keep");  // case ignored
    answers = {QMessageBox::No};
    dialog.accept();
    EXPECT_EQ(messages, std::vector<std::string>{"在磁盘中有同名的设置存在，您想覆盖吗？"});
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Stored("Keep", kBrightness), 10);
    answers = {QMessageBox::Yes};
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Stored("Keep", kBrightness), 77);
  }
  messages.clear();
  CSettingsDialog bare(Mode::kSave, block, ini);
  Names(bare)->setEditText("Bare");
  bare.accept();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(bare.result(), QDialog::Accepted);
  EXPECT_EQ(Stored("Bare", kBrightness), 77);
}

TEST_F(SettingsDialogTest, AFailedSaveIsReportedAndTheDialogStaysOpen) {
  const std::filesystem::path nowhere = dir / "missing" / "Inkbrite.ini";
  CSettingsDialog dialog(Mode::kSave, block, nowhere);
  Names(dialog)->setEditText("Lost");
  dialog.accept();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Lost"), std::string::npos);
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(block.GetName(), "");
}

TEST_F(SettingsDialogTest, LoadSelectsTheBlocksNameAndAppliesDefaultsForMissingKeys) {
  WriteIni("[Zeta]\nBrightness=120\nCroppingTop=7\n[alpha]\nContrast=80\nSharpen=3\n");
  block.SetName("ZETA");
  block.SetValue(kIncludeSubdirs, 0);  // belongs to no setting
  CSettingsDialog dialog(Mode::kLoad, block, ini);
  EXPECT_EQ(Items(dialog), (QStringList{"alpha", "Zeta"}));
  EXPECT_EQ(Names(dialog)->currentText(), "Zeta");
  EXPECT_EQ(Number(dialog, "Brightness"), "120");
  EXPECT_EQ(Number(dialog, "CroppingBottom"), "1");
  EXPECT_EQ(Listed(dialog, "GreyScale"), 1);

  Names(dialog)->setCurrentIndex(0);
  EXPECT_EQ(Number(dialog, "Contrast"), "80");
  EXPECT_EQ(Number(dialog, "Brightness"), "100");
  EXPECT_EQ(Listed(dialog, "Sharpen"), 3);
  EXPECT_EQ(block.GetValue(kContrast), 100);  // shown only, until OK
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(block.GetName(), "alpha");
  EXPECT_EQ(block.GetValue(kContrast), 80);
  EXPECT_EQ(block.GetValue(kSharpen), 3);
  EXPECT_EQ(block.GetValue(kGreyScale), 1);
  EXPECT_EQ(block.GetValue(kIncludeSubdirs), 0);
  EXPECT_TRUE(messages.empty());
}

// Every stored value of a set is shown with it, the automatic steps' and the
// screen fit's too (as a ready-made device set holds them), read only.
TEST_F(SettingsDialogTest, LoadShowsEveryStoredValueOfTheSet) {
  WriteIni(
      "[eink-6-1072x1448]\nResize=100\nGreyScale=5\nAutoLevels=1\nAutoCrop=1\n"
      "AutoCropBorder=12\nDeskewRange=30\nFitWidth=1072\nFitHeight=1448\nBooks=5\n");
  CSettingsDialog dialog(Mode::kLoad, block, ini);
  Names(dialog)->setCurrentIndex(0);
  EXPECT_EQ(Number(dialog, "Resize"), "100");
  const auto* fitWidth = dialog.findChild<QSpinBox*>("FitWidth");
  ASSERT_NE(fitWidth, nullptr);
  EXPECT_EQ(fitWidth->text(), "1072 px");
  EXPECT_EQ(dialog.findChild<QSpinBox*>("FitHeight")->value(), 1448);
  EXPECT_EQ(dialog.findChild<QSpinBox*>("AutoCropBorder")->value(), 12);
  EXPECT_EQ(dialog.findChild<QAbstractSpinBox*>("DeskewRange")->text(), "3.0°");
  EXPECT_TRUE(dialog.findChild<QCheckBox*>("AutoLevels")->isChecked());
  EXPECT_FALSE(dialog.findChild<QCheckBox*>("Deskew")->isChecked());
  EXPECT_FALSE(fitWidth->isEnabled());  // shown, not edited
  // The book's kind the set chooses; none where it leaves it to the run.
  EXPECT_EQ(dialog.findChild<QComboBox*>("Books")->currentIndex(), 5);
  EXPECT_EQ(dialog.findChild<QComboBox*>("Renumber")->currentIndex(), -1);
  // Every stored slot has a field of its name.
  for (const NamedSettingKey& key : kNamedSettingKeys) {
    EXPECT_NE(dialog.findChild<QWidget*>(QString::fromLatin1(key.key.data(), key.key.size())),
              nullptr)
        << key.key;
  }
}

TEST_F(SettingsDialogTest, LoadAndDeleteNeedASelectionAndDeletingTheLastEmptiesTheFields) {
  WriteIni("[b]\nBrightness=5\n[a]\nBrightness=6\n");
  CSettingsDialog dialog(Mode::kLoad, block, ini);
  EXPECT_EQ(Names(dialog)->currentText(), "");
  EXPECT_EQ(Number(dialog, "Brightness"), "");
  dialog.accept();
  dialog.Delete();
  EXPECT_EQ(messages, (std::vector<std::string>{"抱歉，请先从列表中选择您希望读取的设置。",
                                                "抱歉，请先从列表中选择您希望删除的设置。"}));
  EXPECT_NE(dialog.result(), QDialog::Accepted);

  messages.clear();
  Names(dialog)->setCurrentIndex(0);  // "a"
  answers = {QMessageBox::No};
  dialog.Delete();
  EXPECT_EQ(messages, std::vector<std::string>{"您真的想从磁盘记录中删除当前设置吗？"});
  EXPECT_EQ(ListNamedSettings(ini).size(), 2u);

  answers = {QMessageBox::Yes};
  dialog.Delete();
  EXPECT_EQ(ListNamedSettings(ini), std::vector<std::string>{"b"});
  EXPECT_EQ(Items(dialog), QStringList{"b"});
  EXPECT_EQ(Names(dialog)->currentText(), "b");
  EXPECT_EQ(Number(dialog, "Brightness"), "5");

  answers = {QMessageBox::Yes};
  dialog.Delete();
  EXPECT_TRUE(ListNamedSettings(ini).empty());
  EXPECT_EQ(Names(dialog)->count(), 0);
  EXPECT_EQ(Names(dialog)->currentText(), "");
  EXPECT_EQ(Number(dialog, "Brightness"), "");
  EXPECT_EQ(Number(dialog, "CroppingLeft"), "0");
  EXPECT_EQ(Listed(dialog, "Sharpen"), -1);
  EXPECT_EQ(Listed(dialog, "GreyScale"), 1);
  EXPECT_EQ(block.GetName(), "");  // a deletion alone changes no block
}

}  // namespace
}  // namespace inkbrite
