// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ini_file.h"

#include <climits>
#include <system_error>

#include "platform/ascii_case.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

constexpr size_t npos = std::string::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringAsciiCase(a, b); }

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != npos; }

}  // namespace

IniFile::Line IniFile::ParseLine(std::string text) {
  Line line;
  const std::string_view body = Trim(text);
  if (!body.empty() && body.front() == '[') {
    // The name runs to the last "]", so a name may itself hold brackets; a
    // header without one takes the rest of the line.
    std::string_view name = body.substr(1);
    const size_t close = name.rfind(']');
    if (close != npos) name = name.substr(0, close);
    line.isSection = true;
    line.section = std::string(Trim(name));
  } else if (!body.empty() && body.front() != ';') {
    const size_t equals = body.find('=');
    if (equals != npos) {
      line.isKey = true;
      line.key = std::string(Trim(body.substr(0, equals)));
    }
  }
  line.text = std::move(text);
  return line;
}

bool IniFile::Load() {
  m_lines.clear();
  m_loaded = false;
  std::error_code ec;
  const bool exists = std::filesystem::exists(m_path, ec);
  if (ec) return false;
  if (!exists) {
    m_loaded = true;
    return true;
  }
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(m_path, kMaxFileBytes, bytes)) return false;

  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    m_lines.push_back(ParseLine(std::string(text.substr(0, end))));
    if (end == npos) break;
    const size_t next =
        (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? end + 2 : end + 1;
    text.remove_prefix(next);
  }
  m_loaded = true;
  return true;
}

size_t IniFile::FindSection(std::string_view section) const {
  const std::string_view name = Trim(section);
  for (size_t i = 0; i < m_lines.size(); ++i) {
    if (m_lines[i].isSection && SameName(m_lines[i].section, name)) return i;
  }
  return npos;
}

size_t IniFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < m_lines.size() && !m_lines[i].isSection) ++i;
  return i;
}

size_t IniFile::FindKey(size_t header, std::string_view key) const {
  const std::string_view name = Trim(key);
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    if (m_lines[i].isKey && SameName(m_lines[i].key, name)) return i;
  }
  return npos;
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : m_lines) {
    if (!line.isSection || line.section.empty()) continue;  // "[ ]" names nothing
    bool seen = false;
    for (const std::string& name : names) seen = seen || SameName(name, line.section);
    if (!seen) names.push_back(line.section);
  }
  return names;
}

bool IniFile::HasSection(std::string_view section) const { return FindSection(section) != npos; }

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  return header != npos && FindKey(header, key) != npos;
}

std::optional<std::string> IniFile::GetString(std::string_view section,
                                              std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  const size_t at = FindKey(header, key);
  if (at == npos) return std::nullopt;
  const std::string_view text = m_lines[at].text;
  std::string_view value = Trim(text.substr(text.find('=') + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
  const std::optional<std::string> text = GetString(section, key);
  if (!text || text->empty()) return defaultValue;
  std::string_view digits = Trim(*text);
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  // Accumulate the magnitude, stopping once it is past any int.
  long long magnitude = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (c - '0');
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  if (sectionName.empty() || keyName.empty()) return false;
  if (HasLineBreak(sectionName) || HasLineBreak(keyName) || HasLineBreak(value)) return false;
  if (keyName.find('=') != npos || keyName.front() == ';' || keyName.front() == '[') return false;

  size_t header = FindSection(sectionName);
  if (header == npos) {
    // A new section goes at the end, after an empty line when the file
    // already holds something.
    if (!m_lines.empty() && !Trim(m_lines.back().text).empty()) m_lines.push_back(ParseLine(""));
    header = m_lines.size();
    m_lines.push_back(ParseLine("[" + std::string(sectionName) + "]"));
  }
  const size_t at = FindKey(header, keyName);
  if (at != npos) {
    m_lines[at] = ParseLine(m_lines[at].key + "=" + std::string(value));
    return true;
  }
  // Append after the section's last non-blank line, so the blank line that
  // separates it from the next section stays where it is.
  size_t insert = SectionEnd(header);
  while (insert > header + 1 && Trim(m_lines[insert - 1].text).empty()) --insert;
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insert),
                 ParseLine(std::string(keyName) + "=" + std::string(value)));
  return true;
}

bool IniFile::DeleteSection(std::string_view section) {
  const auto blank = [this](size_t i) {
    return i < m_lines.size() && Trim(m_lines[i].text).empty();
  };
  bool removed = false;
  for (size_t header = FindSection(section); header != npos; header = FindSection(section)) {
    // Remove the header and the lines up to the section's last non-blank
    // one; the blank lines after it still separate its neighbours, unless
    // that would leave two separators in a row or one at the start.
    size_t end = SectionEnd(header);
    while (end > header + 1 && blank(end - 1)) --end;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(header),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(end));
    while (blank(header) && (header == 0 || blank(header - 1))) {
      m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(header));
    }
    removed = true;
  }
  // Nor at the end.
  while (removed && !m_lines.empty() && blank(m_lines.size() - 1)) m_lines.pop_back();
  return removed;
}

bool IniFile::Save() {
  if (!m_loaded) return false;
  std::string out;
  for (const Line& line : m_lines) {
    out += line.text;
    out += "\r\n";
  }
  // Never a file Load would refuse: the sets in it would be lost to every
  // later run.
  if (out.size() > kMaxFileBytes) return false;
  return WriteFileBytesSafely(m_path, out.data(), out.size());
}

}  // namespace inkbrite
