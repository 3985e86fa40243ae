// SPDX-License-Identifier: GPL-2.0-or-later
// IniFile: one private profile (.ini) file, read and written the way the
// Windows profile service does it.
//
// Layout: "[section]" lines open a section, "key=value" lines belong to the
// section above them. Section and key names are matched without regard to
// ASCII case (as on Windows; other letters compare exactly) and with white
// space trimmed at both ends; values are trimmed too, and one pair of
// enclosing double quotes is removed. When a name occurs twice, the first
// occurrence is the one read and written. Lines that are neither (comments,
// blank lines, text before the first section) are kept as they are.
//
// The file is read once by Load and changed in memory; Save writes it back
// through SafeFileWriter, so a failed write leaves the previous file whole.
// Any line end (CR LF, LF, CR) is accepted on reading; Save writes CR LF.
// Names and values are UTF-8 text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inkbrite {

class IniFile {
 public:
  // Largest file Load accepts.
  static constexpr uint64_t kMaxFileBytes = 16u << 20;

  explicit IniFile(std::filesystem::path path) : m_path(std::move(path)) {}

  // Reads the file. A missing file reads as empty and succeeds; a file that
  // exists but cannot be read (or is larger than kMaxFileBytes) fails, and
  // Save then refuses to write, so an unreadable file is never replaced by
  // an empty one.
  bool Load();

  // Section names in file order, each name once (its first spelling);
  // an empty name ("[ ]") is left out.
  std::vector<std::string> SectionNames() const;
  bool HasSection(std::string_view section) const;
  bool HasKey(std::string_view section, std::string_view key) const;

  // The value of `key`, or nothing when the key (or its section) is missing.
  std::optional<std::string> GetString(std::string_view section, std::string_view key) const;

  // The value of `key` as GetPrivateProfileInt reads it: `defaultValue` when
  // the key is missing or its value empty; otherwise an optional sign and
  // the leading decimal digits, anything after them ignored ("12px" is 12,
  // "px" is 0). Values beyond the int range are held at its ends.
  int GetInt(std::string_view section, std::string_view key, int defaultValue) const;

  // Sets `key` to `value`: an existing key's line is replaced in place
  // (keeping the key's spelling), a new key is appended after the last entry
  // of its section, a missing section is appended at the end of the file.
  // False, and nothing changed, when a name is empty, when a name or the
  // value holds a line break (it would break the file apart), or when a key
  // name holds "=" or starts with ";" or "[".
  bool SetString(std::string_view section, std::string_view key, std::string_view value);

  // Removes every section of that name with all its lines. False when there
  // was none.
  bool DeleteSection(std::string_view section);

  // Writes the file (CR LF lines) through SafeFileWriter. False when Load
  // has not succeeded (so a file never read is never overwritten), when the
  // file would be larger than kMaxFileBytes (Load would refuse it) or the
  // write failed; the previous file is then unchanged.
  bool Save();

  const std::filesystem::path& Path() const { return m_path; }

 private:
  struct Line {
    std::string text;     // the line as read or written, without its line end
    std::string section;  // section header: the section's name
    std::string key;      // key line: the key's name
    bool isSection = false;
    bool isKey = false;
  };

  // Index of the first header of `section`, or npos.
  size_t FindSection(std::string_view section) const;
  // One past the last line of the section opened at `header`.
  size_t SectionEnd(size_t header) const;
  // Index of the first line of `key` in the section opened at `header`, or npos.
  size_t FindKey(size_t header, std::string_view key) const;

  static Line ParseLine(std::string text);

  std::filesystem::path m_path;
  std::vector<Line> m_lines;
  bool m_loaded = false;
};

}  // namespace inkbrite
