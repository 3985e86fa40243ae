// SPDX-License-Identifier: GPL-2.0-or-later
// ASCII case folding for names and keys that compare without regard to case
// (extensions, settings keys, file names as the display order sorts them).
// Only A-Z fold; every other byte, those of multi-byte characters included,
// stays as it is, whatever the locale.
#pragma once

#include <string_view>

namespace inkbrite {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace inkbrite
