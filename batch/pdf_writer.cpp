// SPDX-License-Identifier: GPL-2.0-or-later
// A PDF of the pages (book_writer.h), through qpdf: a page per picture, the
// page the picture's size at the layout's density; a JPEG page is embedded
// as it is (DCTDecode), a PNG page of grey, RGB or palette samples (not
// interlaced, nothing transparent, 8 bits a sample or, grey or palette,
// fewer) by its compressed rows as they are (FlateDecode with PNG's
// predictors, a palette as an Indexed colour space), any other page
// decoded and embedded losslessly (8-bit grey or RGB samples,
// FlateDecode). The document information
// dictionary and an XMP packet carry the metadata; a right-to-left book
// asks viewers to lay it out so (/ViewerPreferences /Direction /R2L). The
// file's identifier is derived from its content and its dates from the
// pages' latest time, so the same pages always make the same file.
//
// The pages' streams are held in memory until the book is closed (what
// qpdf writes from, pdf_document.h); a PDF page costs its encoded size.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "batch/book_writer.h"
#include "batch/pdf_document.h"
#include "batch/xml_out.h"
#include "core/dib_image.h"
#include "formats/image_file.h"
#include "formats/picture_size.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

// The colour components of a baseline or progressive JPEG (its frame
// header's count); 0 when the bytes are no JPEG or the frame is not found.
int JpegComponents(const uint8_t* data, size_t size) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return 0;
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    const size_t length = (size_t{data[at + 2]} << 8) | data[at + 3];
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) return at + 9 < size ? data[at + 9] : 0;
    if (marker == 0xDA || length < 2) return 0;
    at += 2 + length;
  }
  return 0;
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A PNG whose compressed rows a PDF takes as they are: not interlaced,
// nothing transparent, of 8-bit RGB, 1-, 2-, 4- or 8-bit grey, or 1-, 2-,
// 4- or 8-bit palette samples (a gamma or colour profile is passed over,
// as reading the picture does). Its IDAT chunks' bytes joined (one zlib
// stream whose rows start with PNG's filter bytes: PDF's FlateDecode with
// the PNG predictors), its size, its colour and its palette: every index
// the samples can hold has an entry, those past the PLTE's black, as
// reading gives them. False for any other file, or a chunk that does not
// fit the file, `out` then unchanged.
bool PngRowsAsTheyAre(const uint8_t* data, size_t size, PdfPicturePage& out) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 + 25 || std::memcmp(data, kSignature, 8) != 0) return false;
  PdfPicturePage page;
  size_t at = 8;
  std::string rows, palette;
  bool header = false, ended = false, indexed = false;
  while (at + 12 <= size && !ended) {
    const uint32_t length = BigEndian32(data + at);
    const std::string_view type(reinterpret_cast<const char*>(data + at + 4), 4);
    if (length > size - at - 12) return false;
    const uint8_t* body = data + at + 8;
    if (!header) {
      // IHDR: width, height, depth and colour (0 grey, 2 RGB, 3 palette),
      // the standard compression and filters, no interlace.
      if (type != "IHDR" || length != 13) return false;
      const int depth = body[8], colour = body[9];
      const bool lowDepth = depth == 1 || depth == 2 || depth == 4;
      const bool taken = (colour == 0 && (lowDepth || depth == 8)) || (colour == 2 && depth == 8) ||
                         (colour == 3 && (lowDepth || depth == 8));
      if (!taken || body[10] != 0 || body[11] != 0 || body[12] != 0) return false;
      const uint32_t width = BigEndian32(body), height = BigEndian32(body + 4);
      if (width == 0 || height == 0 || width > 65535 || height > 65535) return false;
      page.width = static_cast<int>(width);
      page.height = static_cast<int>(height);
      page.bits = depth;
      page.grey = colour == 0;
      indexed = colour == 3;
      header = true;
    } else if (type == "PLTE") {
      if (!indexed || !rows.empty() || !palette.empty() || length == 0 || length % 3 != 0 ||
          length > 3 * 256) {
        return false;
      }
      palette.assign(reinterpret_cast<const char*>(body), length);
    } else if (type == "IDAT") {
      if (indexed && palette.empty()) return false;
      rows.append(reinterpret_cast<const char*>(body), length);
    } else if (type == "tRNS") {
      return false;  // a transparent colour
    } else if (type == "IEND") {
      ended = true;
    }
    at += 12 + size_t{length};
  }
  if (!ended || rows.empty()) return false;
  if (indexed) {
    // As many entries as the samples can index, past the PLTE's black;
    // grey entries (all of them) as one byte each.
    palette.resize(size_t{3} << page.bits, '\0');
    bool grey = true;
    for (size_t i = 0; i < palette.size() && grey; i += 3) {
      grey = palette[i] == palette[i + 1] && palette[i] == palette[i + 2];
    }
    if (grey) {
      for (size_t i = 0; i < palette.size() / 3; ++i) palette[i] = palette[i * 3];
      palette.resize(palette.size() / 3);
    }
    page.grey = grey;
    page.palette = std::move(palette);
  }
  page.bytes = std::move(rows);
  page.pngRows = true;
  out = std::move(page);
  return true;
}

// A picture's samples, top row first: grey (1 byte) or RGB (3 bytes).
bool DecodedSamples(const uint8_t* data, size_t size, const std::string& name, std::string& out,
                    int& width, int& height, bool& grey) {
  DibImage image;
  int greySource = 0;
  if (LoadImageMemory(data, size, name, image, &greySource) == 0 || !image.ConvertTo24Bit()) {
    return false;
  }
  width = image.Width();
  height = image.Height();
  grey = image.IsGrey();
  const size_t channels = grey ? 1 : 3;
  std::string samples(static_cast<size_t>(width) * static_cast<size_t>(height) * channels, '\0');
  char* at = samples.data();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < width; ++x, row += 3) {
      if (grey) {
        *at++ = static_cast<char>(row[0]);
      } else {
        *at++ = static_cast<char>(row[2]);
        *at++ = static_cast<char>(row[1]);
        *at++ = static_cast<char>(row[0]);
      }
    }
  }
  image.Clear();
  uLongf packed = compressBound(static_cast<uLong>(samples.size()));
  out.resize(packed);
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &packed,
                reinterpret_cast<const Bytef*>(samples.data()), static_cast<uLong>(samples.size()),
                6) != Z_OK) {
    return false;
  }
  out.resize(packed);
  return true;
}

std::string PdfDate(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm = {};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "D:%Y%m%d%H%M%SZ", &tm);
  return text;
}

std::string XmpDate(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm = {};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// A side in points at `ppi`, to 1/10000 of a point.
double Points(int pixels, int ppi) { return std::round(pixels * 72.0 / ppi * 10000.0) / 10000.0; }

class PdfWriter final : public BookWriter {
 public:
  PdfWriter(SafeFileWriter& out, const BookMeta& meta, const BookLayout& layout)
      : m_out(out), m_meta(meta), m_layout(layout) {}

  bool Open() override { return true; }
  bool AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
               int64_t mtime) override;
  bool AddOther(const std::string&, const uint8_t*, size_t, int64_t) override { return true; }
  bool Close() override;
  void SetTitle(const std::string& title) override { m_meta.title = title; }

 private:
  std::string Xmp() const;

  SafeFileWriter& m_out;
  BookMeta m_meta;
  BookLayout m_layout;
  std::vector<std::pair<uint64_t, PdfPicturePage>> m_pages;
  int64_t m_latest = 0;
  bool m_failed = false;
};

bool PdfWriter::AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
                        int64_t mtime) {
  if (m_failed) return false;
  PdfPicturePage page;
  const int components = JpegComponents(data, size);
  PictureSize picture;
  if ((components == 1 || components == 3) && ReadPictureSize(data, size, picture)) {
    page.width = picture.width;
    page.height = picture.height;
    page.grey = components == 1;
    page.jpeg = true;
    page.bytes.assign(reinterpret_cast<const char*>(data), size);
  } else if (!PngRowsAsTheyAre(data, size, page) &&
             !DecodedSamples(data, size, name, page.bytes, page.width, page.height, page.grey)) {
    m_failed = true;
    return false;
  }
  const int ppi = std::clamp(m_layout.pixelsPerInch, 72, 1200);
  page.widthPoints = Points(page.width, ppi);
  page.heightPoints = Points(page.height, ppi);
  m_latest = std::max(m_latest, mtime);
  m_pages.emplace_back(order, std::move(page));
  return true;
}

std::string PdfWriter::Xmp() const {
  XmlOut x;
  x.Pi("xpacket", "begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"")
      .Open("x:xmpmeta")
      .Attr("xmlns:x", "adobe:ns:meta/")
      .Open("rdf:RDF")
      .Attr("xmlns:rdf", "http://www.w3.org/1999/02/22-rdf-syntax-ns#")
      .Open("rdf:Description")
      .Attr("rdf:about", "")
      .Attr("xmlns:dc", "http://purl.org/dc/elements/1.1/")
      .Attr("xmlns:xmp", "http://ns.adobe.com/xap/1.0/")
      .Attr("xmlns:pdf", "http://ns.adobe.com/pdf/1.3/")
      .Element("xmp:CreateDate", XmpDate(m_latest))
      .Element("xmp:ModifyDate", XmpDate(m_latest))
      .Element("xmp:CreatorTool", "Inkbrite")
      .Element("pdf:Producer", "Inkbrite")
      .Open("dc:title")
      .Open("rdf:Alt")
      .Open("rdf:li")
      .Attr("xml:lang", "x-default")
      .Text(m_meta.title)
      .Close()
      .Close()
      .Close();
  if (!m_meta.authors.empty()) {
    x.Open("dc:creator").Open("rdf:Seq");
    for (const std::string& author : m_meta.authors) x.Element("rdf:li", author);
    x.Close().Close();
  }
  if (!m_meta.summary.empty()) {
    x.Open("dc:description").Open("rdf:Alt").Open("rdf:li").Attr("xml:lang", "x-default");
    x.Text(m_meta.summary).Close().Close().Close();
  }
  if (!m_meta.publisher.empty()) {
    x.Open("dc:publisher").Open("rdf:Bag").Element("rdf:li", m_meta.publisher).Close().Close();
  }
  if (!m_meta.language.empty()) {
    x.Open("dc:language").Open("rdf:Bag").Element("rdf:li", m_meta.language).Close().Close();
  }
  x.Close().Close().Close().Pi("xpacket", "end=\"w\"");
  return x.Finish();
}

bool PdfWriter::Close() {
  if (m_failed || m_pages.empty()) return false;
  std::sort(m_pages.begin(), m_pages.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PdfPicturePage> pages;
  pages.reserve(m_pages.size());
  for (auto& [order, page] : m_pages) pages.push_back(std::move(page));
  m_pages.clear();
  PdfDocumentInfo info;
  info.title = m_meta.title;
  for (const std::string& a : m_meta.authors) {
    if (!info.author.empty()) info.author += ", ";
    info.author += a;
  }
  info.subject = m_meta.summary;
  if (!m_meta.series.empty()) info.keywords = m_meta.series + " " + SeriesPosition(m_meta);
  info.language = m_meta.language;
  info.date = PdfDate(m_latest);
  info.xmp = Xmp();
  info.rightToLeft = m_meta.rightToLeft;
  return !info.xmp.empty() &&
         WritePdfDocument(pages, info, m_out.Target().string(), m_out.Stream());
}

}  // namespace

std::unique_ptr<BookWriter> MakePdfWriter(SafeFileWriter& out, const BookMeta& meta,
                                          const BookLayout& layout) {
  return std::make_unique<PdfWriter>(out, meta, layout);
}

}  // namespace inkbrite
