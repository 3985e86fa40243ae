// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/natural_order.h"

#include <algorithm>

#include "formats/format_table.h"
#include "platform/ascii_case.h"

namespace inkbrite {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One component, by runs; ties (case, leading zeros) are left to the caller.
int CompareComponent(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      // Two runs of digits: by value, without building numbers (runs may be
      // longer than any integer type).
      size_t si = i, sj = j;
      while (si < a.size() && a[si] == '0') ++si;
      while (sj < b.size() && b[sj] == '0') ++sj;
      size_t ei = si, ej = sj;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      const size_t li = ei - si, lj = ej - sj;
      if (li != lj) return li < lj ? -1 : 1;
      const int c = a.substr(si, li).compare(b.substr(sj, lj));
      if (c != 0) return c < 0 ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    const auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiLower(b[j]));
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// The next component of `path` from `at`; `at` moves past it and its '/'.
std::string_view NextComponent(std::string_view path, size_t& at) {
  const size_t end = std::min(path.find('/', at), path.size());
  const std::string_view part = path.substr(at, end - at);
  at = end + 1;
  return part;
}

bool HasHiddenOrMacComponent(std::string_view name) {
  size_t at = 0;
  while (at <= name.size()) {
    const std::string_view part = NextComponent(name, at);
    if (!part.empty() && part.front() == '.') return true;
    if (part == "__MACOSX") return true;
  }
  return false;
}

std::string_view LastComponent(std::string_view name) {
  const size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

}  // namespace

int CompareNatural(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i <= a.size() && j <= b.size()) {
    const std::string_view pa = NextComponent(a, i);
    const std::string_view pb = NextComponent(b, j);
    const int c = CompareComponent(pa, pb);
    if (c != 0) return c;
    const bool endA = i > a.size(), endB = j > b.size();
    if (endA || endB) {
      if (endA && endB) break;
      return endA ? -1 : 1;
    }
  }
  const int c = a.compare(b);
  return c == 0 ? 0 : (c < 0 ? -1 : 1);
}

std::string CleanEntryName(std::string_view raw) {
  std::string name(raw);
  std::replace(name.begin(), name.end(), '\\', '/');
  // "./" components (a leading one or in the middle) and empty ones from
  // doubled separators mean nothing; a leading '/' is kept to be refused.
  std::string clean;
  if (!name.empty() && name.front() == '/') clean.push_back('/');
  size_t at = 0;
  while (at <= name.size()) {
    const std::string_view part = NextComponent(name, at);
    if (part.empty() || part == ".") continue;
    if (!clean.empty() && clean.back() != '/') clean += '/';
    clean += part;
  }
  return clean;
}

bool IsUnsafeEntryName(std::string_view name) {
  if (name.empty() || name.front() == '/') return true;
  if (name.size() >= 2 && name[1] == ':') return true;  // "C:..." on Windows
  size_t at = 0;
  while (at <= name.size()) {
    if (NextComponent(name, at) == "..") return true;
  }
  return false;
}

bool IsPageEntryName(std::string_view name) {
  if (IsUnsafeEntryName(name) || HasHiddenOrMacComponent(name)) return false;
  const std::string_view last = LastComponent(name);
  return !EqualsIgnoringAsciiCase(last, "Thumbs.db") && HasPictureExtension(last);
}

bool IsLitterEntryName(std::string_view name) {
  return HasHiddenOrMacComponent(name) || EqualsIgnoringAsciiCase(LastComponent(name), "Thumbs.db");
}

}  // namespace inkbrite
