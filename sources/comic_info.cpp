// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/comic_info.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "sources/book_limits.h"

namespace inkbrite {

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsCharacter(uint32_t c) { return c != 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// UTF-16 text (after its byte-order mark) as UTF-8; unpaired surrogates
// become U+FFFD.
std::string FromUtf16(const uint8_t* p, size_t size, bool bigEndian) {
  std::string out;
  auto unit = [&](size_t i) {
    return bigEndian ? static_cast<uint32_t>(p[i] << 8 | p[i + 1])
                     : static_cast<uint32_t>(p[i + 1] << 8 | p[i]);
  };
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < size) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, IsCharacter(c) ? c : 0xFFFD);
  }
  return out;
}

// Valid UTF-8 kept, every byte of a bad sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    uint32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms and surrogates are bad sequences too.
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && c >= kLeast[n] && IsCharacter(c);
    if (ok) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      AppendUtf8(out, 0xFFFD);
      ++i;
    }
  }
  return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
  return !IsSpace(c) && c != '>' && c != '/' && c != '=' && c != '<' && c != '"' && c != '\'';
}

// A small pull parser over the document: elements, text and the rest.
class XmlScanner {
 public:
  explicit XmlScanner(std::string_view doc) : m_doc(doc) {}

  enum class Token { kEnd, kError, kOpen, kClose, kEmpty, kText };

  // The next token; kOpen/kClose/kEmpty set Name(), kText appends the
  // decoded text to Text() (cleared by the caller).
  Token Next() {
    while (m_at < m_doc.size()) {
      if (m_doc[m_at] != '<') return ReadText();
      if (Skip("<?", "?>") || Skip("<!--", "-->")) continue;
      if (StartsWith("<![CDATA[")) {
        const size_t end = m_doc.find("]]>", m_at + 9);
        if (end == std::string_view::npos) return Token::kError;
        m_text.append(m_doc.substr(m_at + 9, end - m_at - 9));
        m_at = end + 3;
        return Token::kText;
      }
      if (StartsWith("<!")) {
        // A DOCTYPE: without an internal subset it ends at the first '>'.
        const size_t end = m_doc.find('>', m_at);
        if (end == std::string_view::npos ||
            m_doc.substr(m_at, end - m_at).find('[') != std::string_view::npos) {
          return Token::kError;
        }
        m_at = end + 1;
        continue;
      }
      return ReadTag();
    }
    return Token::kEnd;
  }

  std::string_view Name() const { return m_name; }
  std::string& Text() { return m_text; }
  // Where the last tag began ('<') and where the scan stands (after it).
  size_t TagStart() const { return m_tagStart; }
  size_t At() const { return m_at; }

 private:
  bool StartsWith(std::string_view s) const { return m_doc.substr(m_at, s.size()) == s; }

  bool Skip(std::string_view open, std::string_view close) {
    if (!StartsWith(open)) return false;
    const size_t end = m_doc.find(close, m_at + open.size());
    m_at = end == std::string_view::npos ? m_doc.size() : end + close.size();
    return true;
  }

  Token ReadTag() {
    const size_t end = FindTagEnd();
    if (end == std::string_view::npos) return Token::kError;
    std::string_view tag = m_doc.substr(m_at + 1, end - m_at - 1);
    m_tagStart = m_at;
    m_at = end + 1;
    Token kind = Token::kOpen;
    if (!tag.empty() && tag.front() == '/') {
      kind = Token::kClose;
      tag.remove_prefix(1);
    } else if (!tag.empty() && tag.back() == '/') {
      kind = Token::kEmpty;
      tag.remove_suffix(1);
    }
    size_t n = 0;
    while (n < tag.size() && IsNameChar(tag[n])) ++n;
    if (n == 0) return Token::kError;
    m_name = tag.substr(0, n);
    return kind;
  }

  // The '>' ending the tag at m_at, outside quoted attribute values.
  size_t FindTagEnd() const {
    char quote = 0;
    for (size_t i = m_at + 1; i < m_doc.size(); ++i) {
      const char c = m_doc[i];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return i;
      } else if (c == '<') {
        return std::string_view::npos;
      }
    }
    return std::string_view::npos;
  }

  Token ReadText() {
    const size_t end = std::min(m_doc.find('<', m_at), m_doc.size());
    const std::string_view raw = m_doc.substr(m_at, end - m_at);
    m_at = end;
    for (size_t i = 0; i < raw.size();) {
      if (raw[i] != '&') {
        m_text += raw[i++];
        continue;
      }
      const size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos || semi - i > 12) {
        m_text += raw[i++];  // a bare '&' is kept as it stands
        continue;
      }
      const std::string_view ref = raw.substr(i + 1, semi - i - 1);
      i = semi + 1;
      if (ref == "amp")
        m_text += '&';
      else if (ref == "lt")
        m_text += '<';
      else if (ref == "gt")
        m_text += '>';
      else if (ref == "quot")
        m_text += '"';
      else if (ref == "apos")
        m_text += '\'';
      else if (!ref.empty() && ref.front() == '#')
        AppendReference(ref.substr(1));
    }
    return Token::kText;
  }

  void AppendReference(std::string_view digits) {
    int base = 10;
    if (!digits.empty() && (digits.front() == 'x' || digits.front() == 'X')) {
      base = 16;
      digits.remove_prefix(1);
    }
    uint32_t c = 0;
    for (char d : digits) {
      int v = d >= '0' && d <= '9'                 ? d - '0'
              : base == 16 && d >= 'a' && d <= 'f' ? d - 'a' + 10
              : base == 16 && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                   : -1;
      if (v < 0 || c > 0x10FFFF) return;
      c = c * static_cast<uint32_t>(base) + static_cast<uint32_t>(v);
    }
    if (!digits.empty()) AppendUtf8(m_text, IsCharacter(c) ? c : 0xFFFD);
  }

  std::string_view m_doc;
  size_t m_at = 0;
  size_t m_tagStart = 0;
  std::string_view m_name;
  std::string m_text;
};

std::string Trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsSpace(s[a])) ++a;
  while (b > a && IsSpace(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// The field's text: trimmed, valid UTF-8, at most kMaxComicInfoText bytes
// (cut before a character, not inside it).
std::string FieldText(const std::string& raw) {
  std::string text = ValidUtf8(Trimmed(raw));
  if (text.size() > kMaxComicInfoText) {
    size_t cut = kMaxComicInfoText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

int PageCountOf(const std::string& text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 1000000) return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

void Store(ComicInfo& info, std::string_view field, const std::string& raw) {
  if (field == "Title")
    info.title = FieldText(raw);
  else if (field == "Series")
    info.series = FieldText(raw);
  else if (field == "Number")
    info.number = FieldText(raw);
  else if (field == "Writer")
    info.writer = FieldText(raw);
  else if (field == "Volume")
    info.volume = FieldText(raw);
  else if (field == "Penciller")
    info.penciller = FieldText(raw);
  else if (field == "Inker")
    info.inker = FieldText(raw);
  else if (field == "Colorist")
    info.colorist = FieldText(raw);
  else if (field == "Letterer")
    info.letterer = FieldText(raw);
  else if (field == "CoverArtist")
    info.coverArtist = FieldText(raw);
  else if (field == "Publisher")
    info.publisher = FieldText(raw);
  else if (field == "Year")
    info.year = FieldText(raw);
  else if (field == "LanguageISO")
    info.language = FieldText(raw);
  else if (field == "Summary")
    info.summary = FieldText(raw);
  else if (field == "Format")
    info.format = FieldText(raw);
  else if (field == "PageCount")
    info.pageCount = PageCountOf(Trimmed(raw));
  else if (field == "Manga")
    info.rightToLeft = Trimmed(raw) == "YesAndRightToLeft";
}

// The document as UTF-8 text: UTF-16 with its byte-order mark converted
// (into `converted`), a UTF-8 byte-order mark passed over.
std::string_view DocumentText(const uint8_t* data, size_t size, std::string& converted) {
  std::string_view doc(reinterpret_cast<const char*>(data), size);
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    converted = FromUtf16(data + 2, size - 2, false);
    doc = converted;
  } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
    converted = FromUtf16(data + 2, size - 2, true);
    doc = converted;
  } else if (doc.starts_with("\xEF\xBB\xBF")) {
    doc.remove_prefix(3);
  }
  return doc;
}

// One attribute of a tag's text ("<Page Image=\"3\" .../>"): where its
// name starts and where its quoted value ends; none when absent.
struct AttributeSpan {
  size_t start = std::string_view::npos;
  size_t end = 0;
  std::string_view value;
};

AttributeSpan FindAttribute(std::string_view tag, std::string_view name) {
  size_t i = 1;
  while (i < tag.size() && IsNameChar(tag[i])) ++i;  // the element's name
  while (i < tag.size()) {
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    const size_t start = i;
    while (i < tag.size() && IsNameChar(tag[i])) ++i;
    const std::string_view attribute = tag.substr(start, i - start);
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (attribute.empty() || i >= tag.size() || tag[i] != '=') return {};
    ++i;
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return {};
    const size_t close = tag.find(tag[i], i + 1);
    if (close == std::string_view::npos) return {};
    if (attribute == name) return {start, close + 1, tag.substr(i + 1, close - i - 1)};
    i = close + 1;
  }
  return {};
}

// The tag without the attribute `name` (and the blanks before it).
std::string WithoutAttribute(std::string tag, std::string_view name) {
  const AttributeSpan a = FindAttribute(tag, name);
  if (a.start == std::string_view::npos) return tag;
  size_t from = a.start;
  while (from > 0 && IsSpace(tag[from - 1])) --from;
  tag.erase(from, a.end - from);
  return tag;
}

// The tag with the attribute `name` set to `value` (added when absent).
std::string WithAttribute(std::string tag, std::string_view name, const std::string& value) {
  const AttributeSpan a = FindAttribute(tag, name);
  const std::string text = std::string(name) + "=\"" + value + "\"";
  if (a.start != std::string_view::npos) return tag.replace(a.start, a.end - a.start, text);
  size_t at = 1;
  while (at < tag.size() && IsNameChar(tag[at])) ++at;
  return tag.insert(at, " " + text);
}

// A <Page> element of the <Pages> list, rewritten for the pages its image
// became: none (dropped), one (renumbered) or two (a split spread: two
// single pages, the first keeping its type, without the source image's
// size, dimensions and key). `gap` is the text before the element.
std::string PagesFor(std::string_view element, std::string_view gap,
                     std::span<const uint8_t> outputs, std::span<const size_t> firstOutput) {
  const AttributeSpan image = FindAttribute(element, "Image");
  size_t index = 0;
  for (char c : image.value) {
    if (c < '0' || c > '9' || index > outputs.size()) return std::string(element);
    index = index * 10 + static_cast<size_t>(c - '0');
  }
  if (image.start == std::string_view::npos || image.value.empty() || index >= outputs.size()) {
    return std::string(element);  // not one of the book's pages: kept as it is
  }
  std::string out;
  std::string tag(element);
  if (outputs[index] > 1) {
    for (std::string_view stale : {"DoublePage", "ImageSize", "ImageWidth", "ImageHeight", "Key"}) {
      tag = WithoutAttribute(tag, stale);
    }
  }
  for (size_t k = 0; k < outputs[index]; ++k) {
    std::string page = WithAttribute(tag, "Image", std::to_string(firstOutput[index] + k));
    if (k > 0) page = WithoutAttribute(page, "Type");
    if (k > 0) out.append(gap);
    out += page;
  }
  return out;
}

// `text` as XML character data.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

// The document with the root's <Title> holding `title`, added as the
// root's first child when it has none.
std::string WithTitle(const std::string& doc, std::string_view title) {
  using Token = XmlScanner::Token;
  const std::string element = "<Title>" + Escaped(title) + "</Title>";
  XmlScanner xml(doc);
  int depth = 0;
  size_t rootEnd = std::string::npos, start = std::string::npos;
  for (;;) {
    xml.Text().clear();
    const Token t = xml.Next();
    if (t == Token::kEnd || t == Token::kError) break;
    if (t == Token::kText) continue;
    const bool isTitle = xml.Name() == "Title";
    if (depth == 0 && t == Token::kOpen) rootEnd = xml.At();
    if (depth == 1 && isTitle && t == Token::kEmpty) {
      return doc.substr(0, xml.TagStart()) + element + doc.substr(xml.At());
    }
    if (depth == 1 && isTitle && t == Token::kOpen) start = xml.TagStart();
    if (depth == 2 && isTitle && t == Token::kClose && start != std::string::npos) {
      return doc.substr(0, start) + element + doc.substr(xml.At());
    }
    depth += t == Token::kOpen ? 1 : t == Token::kClose ? -1 : 0;
    if (depth <= 0) break;
  }
  if (rootEnd == std::string::npos) return doc;
  return doc.substr(0, rootEnd) + element + doc.substr(rootEnd);
}

}  // namespace

std::optional<std::string> ComicInfoForPages(const uint8_t* data, size_t size,
                                             std::span<const uint8_t> outputs,
                                             std::string_view title) {
  if (data == nullptr || size > kMaxComicInfoBytes) return std::nullopt;
  std::vector<size_t> firstOutput(outputs.size());
  size_t total = 0;
  bool renumbered = false;
  for (size_t i = 0; i < outputs.size(); ++i) {
    firstOutput[i] = total;
    total += outputs[i];
    renumbered = renumbered || outputs[i] != 1;
  }
  std::string converted;
  const std::string_view doc = DocumentText(data, size, converted);
  XmlScanner xml(doc);
  using Token = XmlScanner::Token;
  std::string out;
  size_t copied = 0;  // what of `doc` is in `out`
  int depth = 0;
  bool inPages = false, changed = false;
  size_t countStart = std::string_view::npos, pageStart = 0, gapStart = 0;
  for (;;) {
    xml.Text().clear();
    const Token t = xml.Next();
    if (t == Token::kEnd || t == Token::kError) break;
    if (t == Token::kText) continue;
    const std::string_view name = xml.Name();
    if (depth == 0 && name != "ComicInfo") return std::nullopt;
    if (depth == 1 && t == Token::kOpen && name == "PageCount") countStart = xml.At();
    if (depth == 2 && t == Token::kClose && countStart != std::string_view::npos) {
      const std::string now = std::to_string(total);
      if (Trimmed(std::string(doc.substr(countStart, xml.TagStart() - countStart))) != now) {
        out.append(doc.substr(copied, countStart - copied)).append(now);
        copied = xml.TagStart();
        changed = true;
      }
      countStart = std::string_view::npos;
    }
    if (depth == 1 && t == Token::kOpen && name == "Pages") {
      inPages = true;
      gapStart = xml.At();
    }
    if (depth == 2 && inPages && name == "Page" && t != Token::kClose) pageStart = xml.TagStart();
    const bool pageEnds =
        depth == (t == Token::kEmpty ? 2 : 3) && inPages && name == "Page" && t != Token::kOpen;
    if (pageEnds && renumbered) {
      const std::string_view gap = doc.substr(gapStart, pageStart - gapStart);
      out.append(doc.substr(copied, pageStart - copied));
      out += PagesFor(doc.substr(pageStart, xml.At() - pageStart), gap, outputs, firstOutput);
      copied = xml.At();
      changed = true;
    }
    if (pageEnds) gapStart = xml.At();
    if (depth == 2 && t == Token::kClose && name == "Pages") inPages = false;
    depth += t == Token::kOpen ? 1 : t == Token::kClose ? -1 : 0;
    if (depth <= 0) break;
  }
  if (!changed && title.empty()) return std::nullopt;
  out.append(doc.substr(copied));
  if (!title.empty()) out = WithTitle(out, title);
  if (!converted.empty() && out.starts_with("<?xml")) {
    // Written as UTF-8 now: a declaration naming UTF-16 would be false.
    const size_t end = out.find("?>");
    const AttributeSpan encoding = FindAttribute(out.substr(0, end), "encoding");
    if (end != std::string::npos && encoding.start != std::string_view::npos) {
      out.replace(encoding.start, encoding.end - encoding.start, "encoding=\"UTF-8\"");
    }
  }
  return out;
}

namespace {

// A <Page> tag's bookmark: its Image index and its Bookmark text (the
// entities decoded, made a field's text); none without either.
void TakeBookmark(std::string_view tag, ComicInfo& info) {
  const AttributeSpan image = FindAttribute(tag, "Image");
  const AttributeSpan mark = FindAttribute(tag, "Bookmark");
  if (image.start == std::string_view::npos || mark.start == std::string_view::npos ||
      image.value.empty() || info.bookmarks.size() >= kMaxComicInfoBookmarks) {
    return;
  }
  const int index = PageCountOf(std::string(image.value));
  if (index == 0 && image.value != "0") return;
  XmlScanner value(mark.value);
  value.Next();
  const std::string text = FieldText(value.Text());
  if (!text.empty()) info.bookmarks.emplace_back(index, text);
}

}  // namespace

bool ParseComicInfo(const uint8_t* data, size_t size, ComicInfo& info) {
  info = ComicInfo{};
  if (data == nullptr) return false;
  size = std::min<size_t>(size, kMaxComicInfoBytes);
  std::string converted;
  const std::string_view doc = DocumentText(data, size, converted);

  XmlScanner xml(doc);
  using Token = XmlScanner::Token;
  int depth = 0;             // 1 inside the root element, 2 inside a field
  std::string field;         // the field being read (its element's name)
  std::string text;          // its text so far
  bool fieldNested = false;  // the field holds elements: not a plain field
  for (;;) {
    xml.Text().clear();
    const Token t = xml.Next();
    if (t == Token::kEnd || t == Token::kError) break;
    if (depth == 0) {
      // The root element decides: anything but ComicInfo is not ours.
      if (t == Token::kText) continue;
      if (xml.Name() != "ComicInfo" || t == Token::kClose) break;
      info.present = true;
      if (t == Token::kEmpty) break;
      depth = 1;
    } else if (depth == 1) {
      if (t == Token::kClose) break;  // the root ends
      if (t == Token::kOpen) {
        field = xml.Name();
        text.clear();
        fieldNested = false;
        depth = 2;
      }
    } else if (depth == 2) {
      if (t == Token::kText) {
        if (!fieldNested && text.size() < 4 * kMaxComicInfoText) text += xml.Text();
      } else if (t == Token::kClose) {
        if (!fieldNested) Store(info, field, text);
        depth = 1;
      } else {
        fieldNested = true;
        if (field == "Pages" && xml.Name() == "Page") {
          TakeBookmark(doc.substr(xml.TagStart(), xml.At() - xml.TagStart()), info);
        }
        if (t == Token::kOpen) depth = 3;
      }
    } else if (t == Token::kOpen) {
      ++depth;
    } else if (t == Token::kClose) {
      --depth;
    }
  }
  return info.present;
}

}  // namespace inkbrite
