// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting an SVG document into layers that can be drawn one after another.
//
// The converters write a flat list of drawing elements, at the top level
// (libwmf) or inside one transforming group (libemf2svg). Runs of
// consecutive elements of about a given size of text are wrapped in groups of
// their own, `<g id="inkbrite-layer-N">`, which librsvg can draw one at a
// time in their place (rsvg_handle_render_layer): the rasteriser looks at
// the clock between them. A plain group changes nothing in the drawing;
// groups with a group-wide effect (opacity, a filter, a mask) are never cut,
// since their children must be composited together.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/metafile/metafile_pvt.h"

namespace inkbrite::metafile {

namespace {

// Groups nested deeper than this are drawn whole.
constexpr size_t kMaxSplitDepth = 32;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// One open element while the document is walked.
struct Open {
  bool splittable;  // its children may be drawn apart
  size_t runBegin;  // the children gathered for the next layer, [begin, end)
  size_t runEnd;
};

// Walks the document once, without recursion, and records the layers:
// runs of consecutive children of the root and of plain groups.
class LayerCutter {
 public:
  LayerCutter(std::string_view text, size_t layerBytes) : m_text(text), m_layerBytes(layerBytes) {}

  bool Cut() {
    while (SkipMisc()) {
    }
    if (!m_text.substr(m_at).starts_with("<svg") || !StartTag()) return false;
    while (!m_open.empty()) {
      while (SkipMisc()) {
      }
      if (m_at >= m_text.size()) return false;
      if (!(m_text.substr(m_at).starts_with("</") ? EndTag() : StartTag())) return false;
    }
    return true;
  }

  // The document with the layers' groups put in; `ids` gets their
  // references ("#inkbrite-layer-N") in drawing order.
  std::string Wrapped(std::vector<std::string>& ids) const {
    std::string out;
    out.reserve(m_text.size() + m_cuts.size() * 40);
    size_t at = 0;
    for (size_t i = 0; i < m_cuts.size(); ++i) {
      const auto [begin, end] = m_cuts[i];
      const std::string id = "inkbrite-layer-" + std::to_string(i);
      out.append(m_text.substr(at, begin - at));
      out += "<g id=\"" + id + "\">";
      out.append(m_text.substr(begin, end - begin));
      out += "</g>";
      at = end;
      ids.push_back("#" + id);
    }
    out.append(m_text.substr(at));
    return out;
  }

 private:
  // Skips text, comments, processing instructions, CDATA sections and
  // declarations; false at a tag ('<' of an element or an end tag) or at
  // the end.
  bool SkipMisc() {
    while (m_at < m_text.size() && m_text[m_at] != '<') ++m_at;
    if (m_at >= m_text.size()) return false;
    const std::string_view rest = m_text.substr(m_at);
    if (rest.starts_with("<!--")) return SkipPast("-->");
    if (rest.starts_with("<![CDATA[")) return SkipPast("]]>");
    if (rest.starts_with("<?")) return SkipPast("?>");
    if (rest.starts_with("<!")) return SkipDeclaration();
    return false;
  }

  bool SkipPast(std::string_view close) {
    const size_t found = m_text.find(close, m_at);
    m_at = found == std::string_view::npos ? m_text.size() : found + close.size();
    return found != std::string_view::npos;
  }

  // <!DOCTYPE ...>, with an internal subset in brackets.
  bool SkipDeclaration() {
    int brackets = 0;
    for (; m_at < m_text.size(); ++m_at) {
      const char c = m_text[m_at];
      brackets += c == '[' ? 1 : c == ']' ? -1 : 0;
      if (c == '>' && brackets <= 0) {
        ++m_at;
        return true;
      }
    }
    return false;
  }

  // After the '>' of the tag at m_at, quoted values respected; 0 when the
  // tag does not end.
  size_t TagEnd(bool& empty) const {
    char quote = 0;
    for (size_t i = m_at + 1; i < m_text.size(); ++i) {
      const char c = m_text[i];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        empty = m_text[i - 1] == '/';
        return i + 1;
      }
    }
    return 0;
  }

  // A group whose children may be drawn apart: the root, or a plain group
  // (no effect on the group as a whole), not too deep.
  bool Splittable(std::string_view tag, std::string_view name) const {
    if (m_open.empty()) return true;
    if (name != "g" || !m_open.back().splittable || m_open.size() >= kMaxSplitDepth) return false;
    for (const char* effect : {"opacity", "filter", "mask"}) {
      if (tag.find(effect) != std::string_view::npos) return false;
    }
    return true;
  }

  bool StartTag() {
    const size_t begin = m_at;
    size_t nameEnd = begin + 1;
    while (nameEnd < m_text.size() && !IsSpace(m_text[nameEnd]) && m_text[nameEnd] != '>' &&
           m_text[nameEnd] != '/')
      ++nameEnd;
    bool empty = false;
    const size_t end = TagEnd(empty);
    if (end == 0 || nameEnd == begin + 1) return false;
    const std::string_view tag = m_text.substr(begin, end - begin);
    const bool splittable = Splittable(tag, m_text.substr(begin + 1, nameEnd - begin - 1));
    m_at = end;
    if (splittable && !m_open.empty()) Flush(m_open.back());  // the layers before it
    if (!empty) {
      m_open.push_back(Open{splittable, 0, 0});
      m_begins.push_back(begin);
    } else if (!splittable) {
      Closed(begin, end);
    }
    return true;
  }

  bool EndTag() {
    const size_t close = m_text.find('>', m_at);
    if (close == std::string_view::npos) return false;
    m_at = close + 1;
    Open& closing = m_open.back();
    const size_t begin = m_begins.back();
    if (closing.splittable) Flush(closing);  // its last layer
    const bool wasSplittable = closing.splittable;
    m_open.pop_back();
    m_begins.pop_back();
    if (!wasSplittable) Closed(begin, m_at);
    return true;
  }

  // An element drawn as a whole ends: it joins its parent's run.
  void Closed(size_t begin, size_t end) {
    if (m_open.empty() || !m_open.back().splittable) return;
    Open& parent = m_open.back();
    if (parent.runEnd == 0) parent.runBegin = begin;
    parent.runEnd = end;
    if (parent.runEnd - parent.runBegin >= m_layerBytes) Flush(parent);
  }

  void Flush(Open& open) {
    if (open.runEnd != 0) m_cuts.emplace_back(open.runBegin, open.runEnd);
    open.runBegin = open.runEnd = 0;
  }

  std::string_view m_text;
  size_t m_layerBytes;
  size_t m_at = 0;
  std::vector<Open> m_open;                       // the open elements, the root first
  std::vector<size_t> m_begins;                   // where each of them starts
  std::vector<std::pair<size_t, size_t>> m_cuts;  // in document order
};

}  // namespace

bool CutIntoLayers(std::string& svg, size_t layerBytes, std::vector<std::string>& ids) {
  ids.clear();
  if (svg.find("inkbrite-layer-") != std::string::npos) return false;
  LayerCutter cutter(svg, layerBytes == 0 ? 1 : layerBytes);
  if (!cutter.Cut()) return false;
  svg = cutter.Wrapped(ids);
  return true;
}

}  // namespace inkbrite::metafile
