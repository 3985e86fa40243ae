// SPDX-License-Identifier: GPL-2.0-or-later
// The entries of the parameter drop-down lists, shared by the parameter bar,
// the batch dialog and the settings manager. A list's index is the value of
// its slot. The texts are in the interface's language.
#pragma once

#include <QStringList>

namespace inkbrite {

// Sharpen (slot Sharpen): "无", "01级" ... "09级".
QStringList SharpenEntries();
// Soften (slot Blur): "无", "一般", "强".
QStringList SoftenEntries();
// Colour mode (slot GreyScale): "彩色漫画" ... "单色".
QStringList ColourEntries();
// What becomes of a book (slot Books, in BookOutput's order): "每本转为一个CBZ文件" ...
QStringList BookKindEntries();
// What a split spread becomes (slot SpreadPages, in SpreadPages' order).
QStringList SpreadPageEntries();
// A book's page names (slot Renumber): kept, or numbered in reading order.
QStringList RenumberEntries();
// A folder of pages (slot FolderBooks): its pages one by one, or one book.
QStringList FolderBookEntries();
// Resampling filter (slot ResizeType): "bilinear", "bicubic", "nearest".
const QStringList& FilterEntries();
// The batch job's source patterns (slot SourceFiles); the first is the
// command-line converter's default.
const QStringList& SourcePatternEntries();
// The batch job's new extensions (slot TargetFiles).
const QStringList& NewExtensionEntries();

}  // namespace inkbrite
