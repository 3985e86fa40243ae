// SPDX-License-Identifier: GPL-2.0-or-later
// WMF to SVG with libwmf's SVG device.
//
// libwmf needs outline fonts for text records and by default looks for the
// URW Type 1 fonts of Ghostscript; the 13 standard PostScript names are
// mapped here onto the DejaVu TrueType fonts instead. Each name needs its own
// file: libwmf caches a loaded face by path, and a second name on the same
// path would never be found in the cache ("failed to load any font").
//
// Guards around the library:
// - its error and debug output is switched off;
// - a status callback, which libwmf calls as it advances through the file
//   (about once per byte read while scanning), stops a pass that runs past a
//   budget of calls (twice the file size plus some slack: a sound file reads
//   each byte once per pass) or past a time limit;
// - the header's largest record size, which sizes a buffer before anything
//   is read, is held to the file's size, and embedded bitmaps are held to
//   the readers' limits (PrepareForLibwmf);
// - its SVG device writes the metafile's text bytes as they are: bytes of
//   the font's code page (Windows-1252, GBK, ...) that are not UTF-8, and
//   '&' or '<' unescaped, which make the document unreadable for any XML
//   parser. Each text is turned into UTF-8 by its font's character set
//   before the device writes it (DrawTextAsUtf8), text content is escaped,
//   and any other byte above 0x7F becomes a character reference;
// - all its memory lives in the API object and goes with wmf_api_destroy,
//   so the SVG text is copied out before that.
#include <libwmf/api.h>
#include <libwmf/ipa.h>
#include <libwmf/svg.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_io.h"
#include "formats/metafile/metafile_pvt.h"

namespace inkbrite::metafile {

namespace {

constexpr double kScreenDpi = 96.0;
// libwmf's device coordinates are points.
constexpr double kPointsPerInch = 72.0;

char kDejaVuDir[] = "/usr/share/fonts/truetype/dejavu";
char* kFontDirs[] = {kDejaVuDir, nullptr};

// PostScript name -> font file in kFontDirs.
struct FontPair {
  char name[24];
  char file[36];
};
FontPair kFontPairs[] = {
    {"Times-Roman", "DejaVuSerif.ttf"},
    {"Times-Italic", "DejaVuSerif-Italic.ttf"},
    {"Times-Bold", "DejaVuSerif-Bold.ttf"},
    {"Times-BoldItalic", "DejaVuSerif-BoldItalic.ttf"},
    {"Helvetica", "DejaVuSans.ttf"},
    {"Helvetica-Oblique", "DejaVuSans-Oblique.ttf"},
    {"Helvetica-Bold", "DejaVuSans-Bold.ttf"},
    {"Helvetica-BoldOblique", "DejaVuSans-BoldOblique.ttf"},
    {"Courier", "DejaVuSansMono.ttf"},
    {"Courier-Oblique", "DejaVuSansMono-Oblique.ttf"},
    {"Courier-Bold", "DejaVuSansMono-Bold.ttf"},
    {"Courier-BoldOblique", "DejaVuSansMono-BoldOblique.ttf"},
    {"Symbol", "DejaVuSansCondensed.ttf"},
};

struct PlayBudget {
  uint64_t calls = 0;
  uint64_t maxCalls = 0;
  std::chrono::steady_clock::time_point deadline;
};

// Returns nonzero to make libwmf stop (wmf_E_UserExit).
int StatusCallback(void* context, float /*fraction*/) {
  auto* budget = static_cast<PlayBudget*>(context);
  if (++budget->calls > budget->maxCalls) return 1;
  if ((budget->calls & 0xFF) == 0 && std::chrono::steady_clock::now() > budget->deadline) return 1;
  return 0;
}

// Owns the API object; libwmf frees everything it allocated on destroy.
class WmfApi {
 public:
  WmfApi() = default;
  ~WmfApi() {
    if (m_api != nullptr) wmf_api_destroy(m_api);
  }
  WmfApi(const WmfApi&) = delete;
  WmfApi& operator=(const WmfApi&) = delete;
  wmfAPI** Out() { return &m_api; }
  wmfAPI* Get() const { return m_api; }

 private:
  wmfAPI* m_api = nullptr;
};

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F (the rest of the
// upper half equals Latin-1); unassigned bytes show as '?'.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x003F, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x003F, 0x017D, 0x003F, 0x003F, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x003F, 0x017E, 0x0178};

// The length of the well-formed UTF-8 sequence at the start of `s`, 0 when
// there is none.
size_t Utf8SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  const size_t n = lead < 0x80                   ? 1
                   : lead >= 0xC2 && lead < 0xE0 ? 2
                   : lead >= 0xE0 && lead < 0xF0 ? 3
                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                 : 0;
  if (n == 0 || n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

// Appends the character at the start of `s` escaped for the document;
// returns the bytes used. Text content arrives as UTF-8 (DrawTextAsUtf8);
// any other byte above 0x7F is read as Windows-1252.
size_t AppendEscaped(std::string& out, std::string_view s, bool inText) {
  const auto c = static_cast<unsigned char>(s[0]);
  if (c >= 0x80) {
    const size_t n = inText ? Utf8SequenceLength(s) : 0;
    if (n > 1) {
      out.append(s.substr(0, n));
      return n;
    }
    const unsigned code = c < 0xA0 ? kCp1252High[c - 0x80] : c;
    out += "&#" + std::to_string(code) + ';';
  } else if (inText && c == '&') {
    out += "&amp;";
  } else if (inText && c == '<') {
    out += "&lt;";
  } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
    out += ' ';  // not allowed in XML at all
  } else {
    out += static_cast<char>(c);
  }
  return 1;
}

// The SVG device's own text drawing, while DrawTextAsUtf8 stands in for it.
thread_local void (*t_deviceDrawText)(wmfAPI*, wmfDrawText_t*) = nullptr;

// Hands the device the text in UTF-8, read in the code page of the font's
// character set, instead of the metafile's bytes.
void DrawTextAsUtf8(wmfAPI* API, wmfDrawText_t* text) {
  if (text->str == nullptr || text->dc == nullptr || text->dc->font == nullptr) {
    t_deviceDrawText(API, text);
    return;
  }
  std::string utf8 = TextToUtf8(text->str, text->dc->font->lfCharSet);
  char* const bytes = text->str;
  text->str = utf8.data();
  t_deviceDrawText(API, text);
  text->str = bytes;
}

// Makes the device's output well-formed XML. Its text elements are written
// as `<text ...\n\t>CONTENT</text>\n`.
std::string CleanSvg(const char* text, size_t length) {
  static constexpr std::string_view kOpen = "\n\t>";
  static constexpr std::string_view kClose = "</text>\n";
  const std::string_view svg(text, length);
  std::string out;
  out.reserve(length + length / 8);
  size_t at = 0;
  size_t from = 0;
  while (at < svg.size()) {
    size_t open = svg.find(kOpen, from);
    // Only the content of a text element is escaped.
    if (open != std::string_view::npos) {
      const size_t tag = svg.rfind('<', open);
      if (tag == std::string_view::npos || svg.compare(tag, 5, "<text") != 0) {
        from = open + kOpen.size();
        continue;
      }
    }
    const size_t close = open == std::string_view::npos ? open : svg.find(kClose, open);
    const size_t markupEnd = close == std::string_view::npos ? svg.size() : open + kOpen.size();
    while (at < markupEnd) at += AppendEscaped(out, svg.substr(at, markupEnd - at), false);
    if (close == std::string_view::npos) break;
    while (at < close) at += AppendEscaped(out, svg.substr(at, close - at), true);
    from = at;
  }
  return out;
}

// Where the device-independent bitmap starts in a record that carries one
// (bytes after the 6-byte record header), 0 for other records.
size_t BitmapOffset(uint32_t function, uint32_t recordWords) {
  switch (function) {
    case 0x0940: return recordWords > 12 ? 16 : 0;  // DIBBITBLT with a bitmap
    case 0x0B41: return recordWords > 13 ? 20 : 0;  // DIBSTRETCHBLT with a bitmap
    case 0x0F43: return 22;                         // STRETCHDIB
    case 0x0142: return 4;                          // DIBCREATEPATTERNBRUSH
    case 0x0D33: return 18;                         // SETDIBTODEV
    default: return 0;
  }
}

// Makes a WMF safe for libwmf, in the copy handed to it:
// - the header's largest record size (in 16-bit words) sizes libwmf's
//   parameter buffer before any record is read, so a header of 40 bytes
//   could make it ask for gigabytes; no record is larger than the file, so
//   it is held to the file's word count;
// - libwmf allocates the pixels and the colour table of every embedded
//   bitmap at the sizes its header claims before reading them; a bitmap
//   beyond the readers' limits, or one claiming more pixels (8 per byte uncompressed) or
//   colours than its record's bytes can stand for, refuses the whole file.
// False when there is no complete WMF header or a bitmap is refused.
bool PrepareForLibwmf(std::vector<uint8_t>& wmf) {
  constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
  constexpr size_t kPlaceableBytes = 22;
  constexpr size_t kHeaderBytes = 18;
  constexpr size_t kMaxRecordAt = 12;
  const size_t size = wmf.size();
  const size_t header = size >= 4 && ReadLE32(wmf.data()) == kPlaceableKey ? kPlaceableBytes : 0;
  if (size < header + kHeaderBytes) return false;
  uint8_t* maxRecord = wmf.data() + header + kMaxRecordAt;
  const uint32_t words = static_cast<uint32_t>(std::min<size_t>((size - header) / 2, UINT32_MAX));
  if (ReadLE32(maxRecord) > words) {
    for (int i = 0; i < 4; ++i) maxRecord[i] = static_cast<uint8_t>(words >> (8 * i));
  }

  size_t at = header + 2 * static_cast<size_t>(ReadLE16(wmf.data() + header + 2));
  while (at <= size && size - at >= 6) {
    const uint8_t* record = wmf.data() + at;
    const uint64_t bytes = 2 * uint64_t{ReadLE32(record)};
    const uint32_t function = ReadLE16(record + 4);
    // libwmf stops at a record that does not fit the file, and at the
    // end-of-file record only when it is exactly 3 words: a function 0 of
    // another size is played past.
    if (bytes < 6 || bytes > size - at || (bytes == 6 && function == 0)) break;
    const size_t offset = BitmapOffset(function, static_cast<uint32_t>(bytes / 2));
    if (offset != 0 && 6 + offset + 16 <= bytes) {
      const uint8_t* dib = record + 6 + offset;
      const uint32_t infoSize = ReadLE32(dib);
      int64_t width = 0;
      int64_t height = 0;
      bool compressed = false;
      if (infoSize == 12) {
        width = ReadLE16(dib + 4);
        height = ReadLE16(dib + 6);
      } else {
        width = static_cast<int32_t>(ReadLE32(dib + 4));
        height = static_cast<int32_t>(ReadLE32(dib + 8));
        compressed = 6 + offset + 20 <= bytes && ReadLE32(dib + 16) != 0;
        // libwmf allocates the colour table the header claims: it must be
        // in the record.
        if (6 + offset + 36 <= bytes && uint64_t{ReadLE32(dib + 32)} * 4 > bytes) return false;
      }
      // Uncompressed rows must all be in the record: at least one bit per
      // pixel.
      if (!WithinLimits(width, height < 0 ? -height : height, bytes,
                        compressed ? kMaxPixelsPerInputByte : 8)) {
        return false;
      }
    }
    at += static_cast<size_t>(bytes);
  }
  return true;
}

// libwmf's SVG device with our font directories and font names.
bool CreateApi(WmfApi& api) {
  wmfMapping mappings[sizeof(kFontPairs) / sizeof(kFontPairs[0]) + 1] = {};
  for (size_t i = 0; i < sizeof(kFontPairs) / sizeof(kFontPairs[0]); ++i) {
    mappings[i].name = kFontPairs[i].name;
    mappings[i].mapping = kFontPairs[i].file;
    mappings[i].encoding = FT_ENCODING_NONE;
  }
  wmfAPI_Options options = {};
  options.function = wmf_svg_function;
  options.fontdirs = kFontDirs;
  options.font.ps = mappings;
  const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_FONTDIRS | WMF_OPT_FONTMAP |
                              WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  return wmf_api_create(api.Out(), flags, &options) == wmf_E_None && api.Get() != nullptr;
}

// The extent of what the file draws, in points; false when it is not
// finite. It may be empty (a drawing of text in a code page whose bytes have
// no glyph in the fonts is measured as zero wide): FitPicture decides.
bool ScanBox(wmfAPI* API, wmfD_Rect& box) {
  box = {};
  if (wmf_scan(API, 0, &box) != wmf_E_None) return false;
  return std::isfinite(box.TL.x) && std::isfinite(box.TL.y) && std::isfinite(box.BR.x) &&
         std::isfinite(box.BR.y) && box.BR.x >= box.TL.x && box.BR.y >= box.TL.y;
}

bool IsEmpty(const wmfD_Rect& box) { return !(box.BR.x > box.TL.x) || !(box.BR.y > box.TL.y); }

// The picture's size and the box drawn into it.
bool FitPicture(wmfAPI* API, size_t fileSize, PictureSize& pictureSize, wmfD_Rect& box) {
  if (pictureSize.width == 0) {
    // No physical size in the file: libwmf's display size at 96 dpi, which
    // needs a drawing of some extent.
    if (IsEmpty(box)) return false;
    unsigned int width = 0;
    unsigned int height = 0;
    if (wmf_display_size(API, &width, &height, kScreenDpi, kScreenDpi) != wmf_E_None) return false;
    if (!SizeFits(width, height) ||
        !WithinLimits(width, height, fileSize, kMaxMetafilePixelsPerByte)) {
      return false;
    }
    pictureSize.width = static_cast<int32_t>(width);
    pictureSize.height = static_cast<int32_t>(height);
    return true;
  }
  // Placeable file: libwmf puts the top-left corner of the header's box at
  // the origin, in points. When the drawing lies on that page, the page is
  // what is shown (with its margins); files whose own window mapping libwmf
  // reads differently draw elsewhere, and then their drawn extent is
  // stretched over the picture instead of showing a blank page.
  const double pageWidth = pictureSize.width * kPointsPerInch / kScreenDpi;
  const double pageHeight = pictureSize.height * kPointsPerInch / kScreenDpi;
  const double slackX = pageWidth * 0.05 + 1.0;
  const double slackY = pageHeight * 0.05 + 1.0;
  if (box.TL.x >= -slackX && box.TL.y >= -slackY && box.BR.x <= pageWidth + slackX &&
      box.BR.y <= pageHeight + slackY) {
    box.TL.x = 0;
    box.TL.y = 0;
    box.BR.x = static_cast<float>(pageWidth);
    box.BR.y = static_cast<float>(pageHeight);
  }
  return !IsEmpty(box);
}

// Plays the file into the SVG device; the document in `svg`.
bool PlayToSvg(wmfAPI* API, const PictureSize& pictureSize, wmfD_Rect& box, PlayBudget& budget,
               std::string& svg) {
  wmf_svg_t* device = WMF_SVG_GetData(API);
  device->out = wmf_stream_create(API, nullptr);
  if (device->out == nullptr) return false;
  device->bbox = box;
  device->width = static_cast<unsigned int>(pictureSize.width);
  device->height = static_cast<unsigned int>(pictureSize.height);
  device->flags |= WMF_SVG_INLINE_IMAGES;

  // Text goes to the device as UTF-8.
  auto* functions = static_cast<wmfFunctionReference*>(API->function_reference);
  t_deviceDrawText = functions->draw_text;
  functions->draw_text = DrawTextAsUtf8;
  budget.calls = 0;
  const wmf_error_t played = wmf_play(API, 0, &box);
  functions->draw_text = t_deviceDrawText;
  char* text = nullptr;
  unsigned long length = 0;
  wmf_stream_destroy(API, device->out, &text, &length);
  device->out = nullptr;
  if (played != wmf_E_None || text == nullptr || length == 0) return false;
  svg = CleanSvg(text, length);
  return true;
}

}  // namespace

bool WmfToSvg(const uint8_t* bytes, size_t size, PictureSize& pictureSize, std::string& svg,
              Deadline deadline) {
  if (bytes == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) return false;
  std::vector<uint8_t> wmf(bytes, bytes + size);
  if (!PrepareForLibwmf(wmf)) return false;

  WmfApi api;
  if (!CreateApi(api)) return false;
  wmfAPI* const API = api.Get();

  PlayBudget budget;
  budget.maxCalls = 2 * static_cast<uint64_t>(size) + 1024;
  budget.deadline = deadline;
  wmf_status_function(API, &budget, StatusCallback);

  if (wmf_mem_open(API, wmf.data(), static_cast<long>(size)) != wmf_E_None) return false;
  wmfD_Rect box = {};
  return ScanBox(API, box) && FitPicture(API, size, pictureSize, box) &&
         PlayToSvg(API, pictureSize, box, budget, svg);
}

}  // namespace inkbrite::metafile
