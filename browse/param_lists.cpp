// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/param_lists.h"

#include <string>

#include "formats/format_table.h"

namespace inkbrite {

const QStringList& SharpenEntries() {
  static const QStringList entries = [] {
    QStringList list{QStringLiteral("无")};
    for (int level = 1; level <= 9; ++level) {
      list << QStringLiteral("%1级").arg(level, 2, 10, QLatin1Char('0'));
    }
    return list;
  }();
  return entries;
}

const QStringList& SoftenEntries() {
  static const QStringList entries = {QStringLiteral("无"), QStringLiteral("一般"),
                                      QStringLiteral("强")};
  return entries;
}

const QStringList& ColourEntries() {
  static const QStringList entries = {QStringLiteral("彩色漫画"), QStringLiteral("黑白漫画"),
                                      QStringLiteral("保持原样"), QStringLiteral("256色"),
                                      QStringLiteral("16级灰度"), QStringLiteral("8级灰度"),
                                      QStringLiteral("4级灰度"),  QStringLiteral("单色")};
  return entries;
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
