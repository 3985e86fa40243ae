// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/source_texts.h"

#include "platform/messages.h"

namespace inkbrite {

namespace {

std::string_view SourceErrorSource(SourceError error, bool pdf) {
  switch (error) {
    case SourceError::kNone: return "";
    case SourceError::kOpenFailed: return INKBRITE_TEXT("sources", "文件无法打开。");
    case SourceError::kNotABook: return INKBRITE_TEXT("sources", "无法识别的压缩包格式。");
    case SourceError::kEncrypted:
      return pdf ? INKBRITE_TEXT("sources", "加密的PDF文件无法读取。")
                 : INKBRITE_TEXT("sources", "加密的压缩包无法读取。");
    case SourceError::kDamaged:
      return pdf ? INKBRITE_TEXT("sources", "PDF文件已损坏，无法读取。")
                 : INKBRITE_TEXT("sources", "压缩包已损坏，无法读取。");
    case SourceError::kNoPages:
      return pdf ? INKBRITE_TEXT("sources", "PDF文件中没有页面。")
                 : INKBRITE_TEXT("sources", "压缩包中没有可显示的图像。");
    case SourceError::kMultiVolume:
      return INKBRITE_TEXT("sources", "分卷压缩包的一部分无法单独读取。");
    case SourceError::kTooManyEntries:
      return pdf ? INKBRITE_TEXT("sources", "PDF文件的页数过多，无法读取。")
                 : INKBRITE_TEXT("sources", "压缩包中的文件过多，无法读取。");
    case SourceError::kTooLarge:
      return pdf ? INKBRITE_TEXT("sources", "PDF文件中的页面过大，无法读取。")
                 : INKBRITE_TEXT("sources", "压缩包中的文件过大，无法读取。");
    case SourceError::kTimedOut:
      return pdf ? INKBRITE_TEXT("sources", "读取PDF文件超时，文件可能已损坏。")
                 : INKBRITE_TEXT("sources", "读取压缩包超时，文件可能已损坏。");
    case SourceError::kPageUnreadable: return INKBRITE_TEXT("sources", "文件读取失败。");
    case SourceError::kUnsafeName:
      return INKBRITE_TEXT("sources", "压缩包中的文件名指向包外，已拒绝。");
    case SourceError::kOverMemory: return INKBRITE_TEXT("sources", "页面超出内存限制。");
  }
  return INKBRITE_TEXT("sources", "文件读取失败。");
}

}  // namespace

std::string_view SourceErrorText(SourceError error, bool pdf) {
  return EngineText(SourceErrorSource(error, pdf));
}

std::string_view SourceErrorName(SourceError error) {
  switch (error) {
    case SourceError::kNone: return "none";
    case SourceError::kOpenFailed: return "open failed";
    case SourceError::kNotABook: return "not a book";
    case SourceError::kEncrypted: return "encrypted";
    case SourceError::kDamaged: return "damaged";
    case SourceError::kNoPages: return "no pages";
    case SourceError::kMultiVolume: return "multi-volume part";
    case SourceError::kTooManyEntries: return "too many entries";
    case SourceError::kTooLarge: return "too large";
    case SourceError::kTimedOut: return "timed out";
    case SourceError::kPageUnreadable: return "page unreadable";
    case SourceError::kUnsafeName: return "unsafe name";
    case SourceError::kOverMemory: return "over the memory limit";
  }
  return "?";
}

}  // namespace inkbrite
