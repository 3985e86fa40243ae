// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/run_record.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <system_error>
#include <utility>

#include "platform/file_io.h"
#include "platform/messages.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Records are read whole; a record of millions of files is a few hundred
// megabytes.
constexpr uint64_t kMaxRecordBytes = uint64_t{1} << 34;

// The length of the well-formed UTF-8 sequence at the start of `s` (no
// overlong forms, no surrogates, nothing above U+10FFFF); 0 when it is not
// one.
size_t Utf8SequenceLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

void AppendHex4(std::string& out, unsigned value) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A small JSON reader: enough to read any one object and pick out the
// record's keys. Values it does not keep are checked and skipped.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : m_text(text) {}

  bool ReadEntry(RecordEntry& entry) {
    SkipSpace();
    if (!Expect('{')) return false;
    SkipSpace();
    if (Peek() == '}') {
      ++m_pos;
    } else {
      for (;;) {
        std::string key;
        SkipSpace();
        if (!ReadString(key)) return false;
        SkipSpace();
        if (!Expect(':')) return false;
        SkipSpace();
        if (!ReadMember(key, entry)) return false;
        SkipSpace();
        if (Peek() == ',') {
          ++m_pos;
          continue;
        }
        if (!Expect('}')) return false;
        break;
      }
    }
    SkipSpace();
    if (m_pos != m_text.size()) return Fail("text after the object");
    return true;
  }

  const std::string& Error() const { return m_error; }

 private:
  static constexpr int kMaxDepth = 64;

  char Peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }
  bool AtEnd() const { return m_pos >= m_text.size(); }
  bool Fail(std::string why) {
    if (m_error.empty()) m_error = std::move(why) + " at byte " + std::to_string(m_pos);
    return false;
  }
  bool Expect(char c) {
    if (AtEnd() || m_text[m_pos] != c) return Fail(std::string("expected '") + c + "'");
    ++m_pos;
    return true;
  }
  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++m_pos;
    }
  }

  bool ReadMember(const std::string& key, RecordEntry& entry) {
    if (key == "index") {
      uint64_t v = 0;
      if (!ReadCount(v)) return false;
      if (v > static_cast<uint64_t>(INT64_MAX)) return Fail("index too large");
      entry.index = static_cast<int64_t>(v);
      return true;
    }
    if (key == "bytes_read") return ReadCount(entry.bytesRead);
    if (key == "bytes_written") return ReadCount(entry.bytesWritten);
    if (key == "ms") return ReadCount(entry.ms);
    std::string* text = key == "source"          ? &entry.source
                        : key == "target"        ? &entry.target
                        : key == "result"        ? &entry.result
                        : key == "reason"        ? &entry.reason
                        : key == "reason_code"   ? &entry.reasonCode
                        : key == "settings"      ? &entry.settings
                        : key == "findings"      ? &entry.findings
                        : key == "attached"      ? &entry.attached
                        : key == "page_settings" ? &entry.pageSettings
                                                 : nullptr;
    if (text != nullptr) {
      if (Peek() != '"') return Fail("\"" + key + "\" is not a string");
      return ReadString(*text);
    }
    return SkipValue(0);
  }

  bool ReadCount(uint64_t& value) {
    const size_t start = m_pos;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++m_pos;
    const std::string_view digits = m_text.substr(start, m_pos - start);
    if (digits.empty() || (digits.size() > 1 && digits[0] == '0') || Peek() == '.' ||
        Peek() == 'e' || Peek() == 'E') {
      return Fail("expected a whole number");
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc()) return Fail("number too large");
    return true;
  }

  bool ReadHex4(uint32_t& value) {
    if (m_text.size() - m_pos < 4) return Fail("short \\u escape");
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = m_text[m_pos++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    return true;
  }

  bool ReadString(std::string& out) {
    if (!Expect('"')) return false;
    out.clear();
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      const char c = m_text[m_pos++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (AtEnd()) return Fail("unterminated string");
      const char e = m_text[m_pos++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t cp = 0;
          if (!ReadHex4(cp)) return false;
          if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out += static_cast<char>(cp - 0xDC00);  // a byte of a name that is not UTF-8
          } else if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            if (m_text.substr(m_pos, 2) != "\\u") return Fail("lone surrogate");
            m_pos += 2;
            if (!ReadHex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("lone surrogate");
            AppendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return Fail("lone surrogate");
          } else {
            AppendUtf8(out, cp);
          }
          break;
        }
        default: return Fail("bad escape");
      }
    }
  }

  bool SkipValue(int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    SkipSpace();
    const char c = Peek();
    if (c == '"') {
      std::string ignored;
      return ReadString(ignored);
    }
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++m_pos;
      SkipSpace();
      if (Peek() == close) {
        ++m_pos;
        return true;
      }
      for (;;) {
        SkipSpace();
        if (c == '{') {
          std::string key;
          if (!ReadString(key)) return false;
          SkipSpace();
          if (!Expect(':')) return false;
        }
        if (!SkipValue(depth + 1)) return false;
        SkipSpace();
        if (Peek() == ',') {
          ++m_pos;
          continue;
        }
        return Expect(close);
      }
    }
    for (std::string_view word : {"true", "false", "null"}) {
      if (m_text.substr(m_pos, word.size()) == word) {
        m_pos += word.size();
        return true;
      }
    }
    return SkipNumber();
  }

  bool SkipNumber() {
    const size_t start = m_pos;
    auto digits = [this] {
      const size_t from = m_pos;
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++m_pos;
      return m_pos - from;
    };
    if (Peek() == '-') ++m_pos;
    const size_t intStart = m_pos;
    const size_t whole = digits();
    if (whole == 0 || (whole > 1 && m_text[intStart] == '0')) {
      m_pos = start;
      return Fail("expected a value");
    }
    if (Peek() == '.') {
      ++m_pos;
      if (digits() == 0) return Fail("bad number");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++m_pos;
      if (Peek() == '+' || Peek() == '-') ++m_pos;
      if (digits() == 0) return Fail("bad number");
    }
    return true;
  }

  std::string_view m_text;
  size_t m_pos = 0;
  std::string m_error;
};

bool ReadWholeFile(const fs::path& path, std::string& text) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, kMaxRecordBytes, bytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  return true;
}

// The lines of `text` without their "\n" (a last line without one too).
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// "12\t..." : the walk index of a shard's text record line.
bool TextLineIndex(std::string_view line, int64_t& index, std::string_view& rest) {
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos || tab == 0) return false;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + tab, index);
  if (ec != std::errc() || end != line.data() + tab || index < 0) return false;
  rest = line.substr(tab + 1);
  return true;
}

struct MergeLine {
  int64_t index;
  size_t record;     // which input
  std::string text;  // without the index, "\n" included
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes) {
  out += '"';
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      switch (c) {
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: AppendHex4(out, c);
      }
      ++i;
      continue;
    }
    const size_t n = Utf8SequenceLength(bytes.substr(i));
    if (n == 0) {
      AppendHex4(out, 0xDC00u + c);
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  out += '"';
}

std::string JsonRecordLine(const RecordEntry& e) {
  std::string line = "{\"index\":" + std::to_string(e.index) + ",\"source\":";
  AppendJsonString(line, e.source);
  line += ",\"target\":";
  AppendJsonString(line, e.target);
  line += ",\"result\":";
  AppendJsonString(line, e.result);
  line += ",\"reason\":";
  AppendJsonString(line, e.reason);
  line += ",\"reason_code\":";
  AppendJsonString(line, e.reasonCode);
  line += ",\"bytes_read\":" + std::to_string(e.bytesRead) +
          ",\"bytes_written\":" + std::to_string(e.bytesWritten) +
          ",\"ms\":" + std::to_string(e.ms) + ",\"settings\":";
  AppendJsonString(line, e.settings);
  if (!e.findings.empty()) {
    line += ",\"findings\":";
    AppendJsonString(line, e.findings);
  }
  if (!e.attached.empty()) {
    line += ",\"attached\":";
    AppendJsonString(line, e.attached);
  }
  if (!e.pageSettings.empty()) {
    line += ",\"page_settings\":";
    AppendJsonString(line, e.pageSettings);
  }
  line += "}\n";
  return line;
}

bool ParseJsonRecordLine(std::string_view line, RecordEntry& entry, std::string& error) {
  JsonReader reader(line);
  RecordEntry read;
  if (!reader.ReadEntry(read)) {
    error = reader.Error();
    return false;
  }
  entry = std::move(read);
  return true;
}

void EarlierRecords::Read(const fs::path& recordPath) {
  const fs::path folder =
      recordPath.parent_path().empty() ? fs::path(".") : recordPath.parent_path();
  const std::string name = recordPath.filename().native();
  // Oldest first, so that what a later run said wins.
  std::vector<std::pair<fs::file_time_type, fs::path>> files;
  std::error_code ec;
  auto add = [&files](const fs::path& path) {
    std::error_code timeError;
    const fs::file_time_type time = fs::last_write_time(path, timeError);
    if (!timeError) files.emplace_back(time, path);
  };
  if (fs::is_regular_file(recordPath, ec)) add(recordPath);
  constexpr std::string_view kMarker = ".inkbrite-tmp";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entryName = it->path().filename().native();
    const std::optional<TempFileOrigin> origin = TempFileOriginOf(entryName);
    if (!origin || entryName.size() < kMarker.size() + 8) continue;
    const std::string random = entryName.substr(entryName.size() - kMarker.size() - 8, 8);
    if (TempFileName(name, origin->pid, random, origin->machine) != entryName) continue;
    if (IsStaleTempFile(it->path())) add(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) ReadFile(file.second);
}

void EarlierRecords::ReadFile(const fs::path& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) return;
  const std::vector<std::string_view> lines = Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    // A last line without its "\n" was cut by a kill.
    if (i + 1 == lines.size() && !text.ends_with('\n')) break;
    RecordEntry entry;
    std::string error;
    if (ParseJsonRecordLine(lines[i], entry, error) && !entry.source.empty()) {
      m_entries[entry.source] = std::move(entry);
    }
  }
}

const RecordEntry* EarlierRecords::Find(const std::string& source) const {
  const auto it = m_entries.find(source);
  return it == m_entries.end() ? nullptr : &it->second;
}

bool MergeRecords(const std::vector<fs::path>& records, std::string& merged,
                  std::vector<int64_t>& gaps, std::string& error) {
  std::vector<MergeLine> lines;
  int kind = -1;  // 0 text, 1 JSON lines
  for (size_t r = 0; r < records.size(); ++r) {
    const std::string name = records[r].string();
    std::string text;
    if (!ReadWholeFile(records[r], text)) {
      error = EngineTextArgs(INKBRITE_TEXT("cli", "%1：无法读取"), {name});
      return false;
    }
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) continue;  // a shard with nothing to record
    const int thisKind = text[first] == '{' ? 1 : 0;
    if (kind >= 0 && thisKind != kind) {
      error = EngineTextArgs(thisKind ? INKBRITE_TEXT("cli", "%1：JSON行格式的记录混在文本记录中")
                                      : INKBRITE_TEXT("cli", "%1：文本记录混在JSON行格式的记录中"),
                             {name});
      return false;
    }
    kind = thisKind;
    const std::vector<std::string_view> textLines = Lines(text);
    for (size_t i = 0; i < textLines.size(); ++i) {
      const std::string_view line = textLines[i];
      const std::string where = name + ":" + std::to_string(i + 1);
      if (kind == 1) {
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        RecordEntry entry;
        std::string why;
        if (!ParseJsonRecordLine(line, entry, why)) {
          error = where;
          error.append(": ").append(why);
          return false;
        }
        if (entry.index < 0) {
          error = EngineTextArgs(INKBRITE_TEXT("cli", "%1：没有“index”"), {where});
          return false;
        }
        lines.push_back({entry.index, r, std::string(line) + "\n"});
        continue;
      }
      int64_t index = 0;
      std::string_view rest;
      if (TextLineIndex(line, index, rest)) {
        lines.push_back({index, r, std::string(rest) + "\n"});
      } else if (!lines.empty() && lines.back().record == r) {
        lines.back().text += std::string(line) + "\n";  // a name holding a newline
      } else {
        error = EngineTextArgs(
            INKBRITE_TEXT("cli", "%1：没有遍历序号（只能合并--shard运行的记录）"), {where});
        return false;
      }
    }
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const MergeLine& a, const MergeLine& b) { return a.index < b.index; });
  merged.clear();
  gaps.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 && lines[i].index == lines[i - 1].index && lines[i].record != lines[i - 1].record) {
      error = EngineTextArgs(INKBRITE_TEXT("cli", "遍历序号%1既在%2中，也在%3中：各部分重叠"),
                             {std::to_string(lines[i].index), records[lines[i - 1].record].native(),
                              records[lines[i].record].native()});
      return false;
    }
    if (kind == 1) {
      const int64_t expected = i == 0 ? 0 : lines[i - 1].index + 1;
      for (int64_t missing = expected; missing < lines[i].index; ++missing) {
        gaps.push_back(missing);
      }
    }
    merged += lines[i].text;
  }
  return true;
}

}  // namespace inkbrite
