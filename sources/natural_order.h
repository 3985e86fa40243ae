// SPDX-License-Identifier: GPL-2.0-or-later
// The reading order of a book's pages and the rule for which entries are
// pages.
//
// Natural order compares entry paths folder by folder (the components
// between '/'), and each component as runs of digits, compared by their
// value ("2" before "10", "page2" before "page10"), and other text, compared
// without regard to ASCII case ("a", "B", "c"); bytes outside ASCII compare
// by value, which for UTF-8 is the order of the characters. A path whose
// components all equal the start of another's comes first. Paths equal but
// for case or leading zeros fall back to byte order, so the order is total
// and every listing of one book gives the same pages in the same order.
#pragma once

#include <string>
#include <string_view>

namespace inkbrite {

// <0, 0 or >0 as `a` sorts before, with or after `b` (UTF-8 paths with '/').
int CompareNatural(std::string_view a, std::string_view b);
inline bool NaturalLess(std::string_view a, std::string_view b) { return CompareNatural(a, b) < 0; }

// An entry name as the book shows it: '\' turned into '/', "./" components
// and a trailing '/' dropped.
std::string CleanEntryName(std::string_view raw);

// True when a cleaned name points outside the book when unpacked: empty, a
// path from the root ("/x"), a drive ("C:x") or a ".." component.
bool IsUnsafeEntryName(std::string_view name);

// The page rule, for a regular file entry with a cleaned, safe name: its
// name ends in the extension of a picture format of the format table, no
// component starts with '.' (hidden files, AppleDouble "._x.jpg"), and it
// is not under "__MACOSX/" (nor named Thumbs.db, which no picture format
// claims anyway).
bool IsPageEntryName(std::string_view name);

// Entries a converted book leaves out besides the pages' neighbours worth
// keeping: hidden components, "__MACOSX/" and Thumbs.db (the file
// managers' litter).
bool IsLitterEntryName(std::string_view name);

}  // namespace inkbrite
