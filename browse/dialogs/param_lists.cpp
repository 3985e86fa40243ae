// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dialogs/param_lists.h"

#include <QCoreApplication>
#include <string>

#include "formats/format_table.h"

namespace inkbrite {

// The texts in the interface's language, made at each call.
QString ListText(const char* text) { return QCoreApplication::translate("ParamLists", text); }

QStringList SharpenEntries() {
  QStringList list{ListText(QT_TRANSLATE_NOOP("ParamLists", "无"))};
  for (int level = 1; level <= 9; ++level) {
    list << ListText(QT_TRANSLATE_NOOP("ParamLists", "%1级")).arg(level, 2, 10, QLatin1Char('0'));
  }
  return list;
}

QStringList SoftenEntries() {
  return {ListText(QT_TRANSLATE_NOOP("ParamLists", "无")),
          ListText(QT_TRANSLATE_NOOP("ParamLists", "一般")),
          ListText(QT_TRANSLATE_NOOP("ParamLists", "强"))};
}

QStringList ColourEntries() {
  static const char* const kTexts[] = {
      QT_TRANSLATE_NOOP("ParamLists", "彩色漫画"), QT_TRANSLATE_NOOP("ParamLists", "黑白漫画"),
      QT_TRANSLATE_NOOP("ParamLists", "保持原样"), QT_TRANSLATE_NOOP("ParamLists", "256色"),
      QT_TRANSLATE_NOOP("ParamLists", "16级灰度"), QT_TRANSLATE_NOOP("ParamLists", "8级灰度"),
      QT_TRANSLATE_NOOP("ParamLists", "4级灰度"),  QT_TRANSLATE_NOOP("ParamLists", "单色")};
  QStringList list;
  for (const char* text : kTexts) list << ListText(text);
  return list;
}

QStringList BookKindEntries() {
  static const char* const kTexts[] = {
      QT_TRANSLATE_NOOP("ParamLists", "每本转为一个CBZ文件"),
      QT_TRANSLATE_NOOP("ParamLists", "每本转为一个文件夹"),
      QT_TRANSLATE_NOOP("ParamLists", "跳过漫画书"),
      QT_TRANSLATE_NOOP("ParamLists", "每本转为一个EPUB电子书"),
      QT_TRANSLATE_NOOP("ParamLists", "每本转为一个KEPUB电子书（Kobo）"),
      QT_TRANSLATE_NOOP("ParamLists", "每本转为一个PDF文件")};
  QStringList list;
  for (const char* text : kTexts) list << ListText(text);
  return list;
}

QStringList SpreadPageEntries() {
  return {ListText(QT_TRANSLATE_NOOP("ParamLists", "跨页拆成两页")),
          ListText(QT_TRANSLATE_NOOP("ParamLists", "跨页转90度")),
          ListText(QT_TRANSLATE_NOOP("ParamLists", "跨页转90度后再拆成两页"))};
}

QStringList RenumberEntries() {
  return {ListText(QT_TRANSLATE_NOOP("ParamLists", "页面保留原名")),
          ListText(QT_TRANSLATE_NOOP("ParamLists", "页面按阅读顺序编号"))};
}

QStringList FolderBookEntries() {
  return {ListText(QT_TRANSLATE_NOOP("ParamLists", "目录中的页面逐个转换")),
          ListText(QT_TRANSLATE_NOOP("ParamLists", "每个目录转为一本书"))};
}

const QStringList& FilterEntries() {
  static const QStringList entries = {QStringLiteral("bilinear"), QStringLiteral("bicubic"),
                                      QStringLiteral("nearest")};
  return entries;
}

const QStringList& SourcePatternEntries() {
  static const QStringList entries = [] {
    QStringList list;
    for (const std::string& patterns : SourcePatternLists()) {
      list << QString::fromStdString(patterns);
    }
    return list;
  }();
  return entries;
}

const QStringList& NewExtensionEntries() {
  static const QStringList entries = [] {
    QStringList list;
    for (const std::string& ext : SaveExtensions()) list << QString::fromStdString(ext);
    return list;
  }();
  return entries;
}

}  // namespace inkbrite
