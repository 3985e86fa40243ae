// SPDX-License-Identifier: GPL-2.0-or-later
// Metafile text bytes to UTF-8 by the character set of the font that draws
// them.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/metafile/metafile_pvt.h"

namespace inkbrite::metafile {

namespace {

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F (the rest of the
// upper half equals Latin-1); unassigned bytes show as '?'.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x003F, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x003F, 0x017D, 0x003F, 0x003F, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x003F, 0x017E, 0x0178};

// The code page of a LOGFONT character set whose text is not Windows-1252;
// null for ANSI, DEFAULT, SYMBOL, MAC and any set not listed.
const char* CodePageOf(uint8_t charset) {
  switch (charset) {
    case 128: return "CP932";   // SHIFTJIS
    case 129: return "CP949";   // HANGUL
    case 134: return "GBK";     // GB2312: Windows writes code page 936
    case 136: return "CP950";   // CHINESEBIG5
    case 161: return "CP1253";  // GREEK
    case 162: return "CP1254";  // TURKISH
    case 163: return "CP1258";  // VIETNAMESE
    case 177: return "CP1255";  // HEBREW
    case 178: return "CP1256";  // ARABIC
    case 186: return "CP1257";  // BALTIC
    case 204: return "CP1251";  // RUSSIAN
    case 222: return "CP874";   // THAI
    case 238: return "CP1250";  // EASTEUROPE
    case 255: return "CP437";   // OEM
    default: return nullptr;
  }
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string FromCp1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
  }
  return out;
}

// iconv from `codePage`; a byte that starts no character of it becomes '?'.
bool FromCodePage(std::string_view bytes, const char* codePage, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", codePage);
  // iconv_open's failure is the handle (iconv_t)-1.
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;  // NOLINT(performance-no-int-to-ptr)
  out.clear();
  char buffer[256];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    const size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
    const int error = done == static_cast<size_t>(-1) ? errno : 0;
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (error == EILSEQ || error == EINVAL) {  // a bad or cut character
      out += '?';
      ++in;
      --inLeft;
    } else if (error != 0 && error != E2BIG) {
      break;
    }
  }
  iconv_close(cd);
  return true;
}

}  // namespace

std::string TextToUtf8(std::string_view bytes, uint8_t charset) {
  const char* codePage = CodePageOf(charset);
  std::string out;
  if (codePage != nullptr && FromCodePage(bytes, codePage, out)) return out;
  return FromCp1252(bytes);
}

}  // namespace inkbrite::metafile
