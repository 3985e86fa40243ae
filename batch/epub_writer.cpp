// SPDX-License-Identifier: GPL-2.0-or-later
// EPUB 3, fixed layout (book_writer.h): a page per picture, each an XHTML
// page whose viewport is the picture's size; the pictures stored as they
// are; a navigation document; the metadata. The Kobo form (KEPUB) is the
// same book named .kepub.epub with every spine item given the side of the
// spread it stands on (page-spread-left or -right), by which Kobo's reader
// pairs the pages of its two-page (landscape) view: without them it pairs
// every two pages from the first, so the halves of a split spread can land
// in two views. The first page stands alone, as a printed book's does; the
// halves of a split spread always share a view (a page before them may
// stand alone). The identifier and the modification time come from the
// pages (their bytes' checksums and their latest time), so the same pages
// always make the same file.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "batch/book_writer.h"
#include "batch/ocf_zip.h"
#include "batch/work_list.h"
#include "batch/xml_out.h"
#include "formats/picture_size.h"

namespace inkbrite {

namespace {

constexpr int kPagesPerChapter = 10;

// The media type of an EPUB picture by the name's extension; empty: none
// EPUB takes.
std::string PictureMediaType(const std::string& name) {
  const size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "png") return "image/png";
  if (ext == "gif") return "image/gif";
  return {};
}

std::string Utc(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm = {};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string Hex(uint64_t v, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s(static_cast<size_t>(digits), '0');
  for (int i = 0; i < digits; ++i)
    s[static_cast<size_t>(i)] = kHex[(v >> (4 * (digits - 1 - i))) & 0xF];
  return s;
}

// A page's id from its place in the reading order: "0012", "0012-2" for
// the second page made of one.
std::string PageId(uint64_t order) {
  std::string id = std::to_string(order / kPageOrderStep + 1);
  if (id.size() < 4) id.insert(0, 4 - id.size(), '0');
  if (order % kPageOrderStep != 0) id += "-" + std::to_string(order % kPageOrderStep + 1);
  return id;
}

std::string ContainerXml() {
  XmlOut x;
  x.Open("container")
      .Attr("version", "1.0")
      .Attr("xmlns", "urn:oasis:names:tc:opendocument:xmlns:container")
      .Open("rootfiles")
      .Open("rootfile")
      .Attr("full-path", "OEBPS/content.opf")
      .Attr("media-type", "application/oebps-package+xml");
  return x.Finish();
}

// A page of the book being written.
struct EpubPage {
  uint64_t order = 0;
  std::string id;     // "0001": the XHTML page p…, the picture i…
  std::string image;  // below OEBPS/
  std::string media;
  std::string folder;  // of the page in the book ("" at its top)
  uint32_t crc = 0;
  size_t size = 0;
};

class EpubWriter final : public BookWriter {
 public:
  EpubWriter(SafeFileWriter& out, const BookMeta& meta, const BookLayout& layout, bool kobo)
      : m_zip(out), m_meta(meta), m_layout(layout), m_kobo(kobo) {}

  bool Open() override {
    return m_zip.Add("mimetype", "application/epub+zip", false) &&
           m_zip.Add("META-INF/container.xml", ContainerXml(), true);
  }
  bool AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
               int64_t mtime) override;
  bool AddOther(const std::string&, const uint8_t*, size_t, int64_t) override { return true; }
  bool Close() override;
  void SetTitle(const std::string& title) override { m_meta.title = title; }

 private:
  using Page = EpubPage;
  std::string PageXhtml(const Page& page, const std::string& title, PictureSize size) const;
  std::string NavXhtml(const std::vector<Page>& pages) const;
  std::string PackageOpf(const std::vector<Page>& pages) const;
  void WriteMetadata(XmlOut& x, const std::vector<Page>& pages) const;

  OcfZipWriter m_zip;
  BookMeta m_meta;
  BookLayout m_layout;
  bool m_kobo;
  std::vector<Page> m_pages;
  int64_t m_latest = 0;
};

bool EpubWriter::AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
                         int64_t mtime) {
  Page page;
  page.order = order;
  page.media = PictureMediaType(name);
  PictureSize picture;
  if (page.media.empty() || !ReadPictureSize(data, size, picture)) return false;
  page.id = PageId(order);
  const size_t dot = name.rfind('.');
  page.image = "Images/i" + page.id + name.substr(dot);
  const size_t slash = name.rfind('/');
  page.folder = slash == std::string::npos ? "" : name.substr(0, slash);
  page.crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
  page.size = size;
  const std::string stem = name.substr(slash == std::string::npos ? 0 : slash + 1,
                                       dot - (slash == std::string::npos ? 0 : slash + 1));
  const std::string xhtml = PageXhtml(page, XmlSafeText(stem), picture);
  if (xhtml.empty() || !m_zip.Add("OEBPS/" + page.image, data, size, false) ||
      !m_zip.Add("OEBPS/Text/p" + page.id + ".xhtml", xhtml, true)) {
    return false;
  }
  m_latest = std::max(m_latest, mtime);
  m_pages.push_back(std::move(page));
  return true;
}

std::string EpubWriter::PageXhtml(const Page& page, const std::string& title,
                                  PictureSize size) const {
  const std::string w = std::to_string(size.width);
  const std::string h = std::to_string(size.height);
  XmlOut x;
  x.Doctype("html")
      .Open("html")
      .Attr("xmlns", "http://www.w3.org/1999/xhtml")
      .Attr("xmlns:epub", "http://www.idpf.org/2007/ops")
      .Open("head")
      .Element("title", title)
      .Open("meta")
      .Attr("name", "viewport")
      .Attr("content", "width=" + w + ", height=" + h)
      .Close()
      .Element("style", "body{margin:0;padding:0}img{display:block;margin:0}")
      .Close()
      .Open("body")
      .Open("img")
      .Attr("src", "../" + page.image)
      .Attr("alt", title)
      .Attr("width", w)
      .Attr("height", h)
      .Close();
  return x.Finish();
}

// The table of contents: ComicInfo's chapters when it names any that fall
// on the pages written (each at the first page made of its source page),
// else a chapter for each folder of the book when its pages are in
// several, else one every ten pages.
std::vector<std::pair<size_t, std::string>> ChaptersOf(const std::vector<EpubPage>& pages,
                                                       const BookMeta& meta) {
  std::vector<std::pair<size_t, std::string>> chapters;
  size_t next = 0;  // the next of meta.chapters (sorted by page)
  for (size_t i = 0; i < pages.size(); ++i) {
    const uint64_t source = pages[i].order / kPageOrderStep;
    while (next < meta.chapters.size() && meta.chapters[next].first < source) ++next;
    if (next < meta.chapters.size() && meta.chapters[next].first == source &&
        (i == 0 || pages[i - 1].order / kPageOrderStep != source)) {
      chapters.emplace_back(i, meta.chapters[next].second);
    }
  }
  if (!chapters.empty()) {
    // The pages before the first chapter are reached from the start.
    if (chapters.front().first != 0) chapters.insert(chapters.begin(), {0, meta.title});
    return chapters;
  }
  bool folders = false;
  for (const EpubPage& p : pages) folders = folders || p.folder != pages.front().folder;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (folders && (i == 0 || pages[i].folder != pages[i - 1].folder)) {
      const std::string& f = pages[i].folder;
      const size_t slash = f.rfind('/');
      chapters.emplace_back(i, XmlSafeText(slash == std::string::npos ? f : f.substr(slash + 1)));
    } else if (!folders && i % kPagesPerChapter == 0) {
      const size_t last = std::min(pages.size(), i + kPagesPerChapter);
      chapters.emplace_back(i, std::to_string(i + 1) + "\u2013" + std::to_string(last));
    }
  }
  return chapters;
}

std::string EpubWriter::NavXhtml(const std::vector<Page>& pages) const {
  const std::vector<std::pair<size_t, std::string>> chapters = ChaptersOf(pages, m_meta);
  XmlOut x;
  x.Doctype("html")
      .Open("html")
      .Attr("xmlns", "http://www.w3.org/1999/xhtml")
      .Attr("xmlns:epub", "http://www.idpf.org/2007/ops")
      .Open("head")
      .Element("title", m_meta.title)
      .Close()
      .Open("body")
      .Open("nav")
      .Attr("epub:type", "toc")
      .Attr("id", "toc")
      .Element("h1", m_meta.title)
      .Open("ol");
  for (const auto& [index, label] : chapters) {
    x.Open("li")
        .Open("a")
        .Attr("href", "Text/p" + pages[index].id + ".xhtml")
        .Text(label.empty() ? std::to_string(index + 1) : label)
        .Close()
        .Close();
  }
  return x.Finish();
}

void EpubWriter::WriteMetadata(XmlOut& x, const std::vector<Page>& pages) const {
  // The identifier: a name-based UUID (version 5 layout) of the pages'
  // checksums and the metadata.
  std::string key = m_meta.title + '\n' + m_meta.series + '\n' + SeriesPosition(m_meta);
  for (const Page& p : pages) key += ',' + std::to_string(p.crc) + ':' + std::to_string(p.size);
  const uint64_t a = Fnv1a64(key);
  const uint64_t b = Fnv1a64(key + "#");
  const std::string hex = Hex(a, 16) + Hex(b, 16);
  const std::string uuid = hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-5" + hex.substr(13, 3) +
                           "-" + "89ab"[b >> 62] + hex.substr(17, 3) + "-" + hex.substr(20, 12);
  x.Open("dc:identifier").Attr("id", "bookid").Text("urn:uuid:" + uuid).Close();
  x.Element("dc:title", m_meta.title);
  x.Element("dc:language", m_meta.language.empty() ? "und" : m_meta.language);
  for (size_t i = 0; i < m_meta.authors.size(); ++i) {
    const std::string id = "creator" + std::to_string(i + 1);
    x.Open("dc:creator").Attr("id", id).Text(m_meta.authors[i]).Close();
  }
  if (!m_meta.publisher.empty()) x.Element("dc:publisher", m_meta.publisher);
  if (!m_meta.year.empty()) x.Element("dc:date", m_meta.year);
  if (!m_meta.summary.empty()) x.Element("dc:description", m_meta.summary);
  x.Open("meta").Attr("property", "dcterms:modified").Text(Utc(m_latest)).Close();
  if (!m_meta.series.empty()) {
    x.Open("meta").Attr("property", "belongs-to-collection").Attr("id", "series");
    x.Text(m_meta.series).Close();
    x.Open("meta").Attr("refines", "#series").Attr("property", "collection-type");
    x.Text("series").Close();
    const std::string position = SeriesPosition(m_meta);
    if (!position.empty()) {
      x.Open("meta").Attr("refines", "#series").Attr("property", "group-position");
      x.Text(position).Close();
    }
    x.Open("meta").Attr("name", "calibre:series").Attr("content", m_meta.series).Close();
    if (!position.empty()) {
      x.Open("meta").Attr("name", "calibre:series_index").Attr("content", position).Close();
    }
  }
  x.Open("meta").Attr("property", "rendition:layout").Text("pre-paginated").Close();
  x.Open("meta").Attr("property", "rendition:orientation").Text("auto").Close();
  x.Open("meta").Attr("property", "rendition:spread");
  x.Text(m_layout.spreads ? "landscape" : "none").Close();
  if (!pages.empty())
    x.Open("meta").Attr("name", "cover").Attr("content", "i" + pages[0].id).Close();
}

std::string EpubWriter::PackageOpf(const std::vector<Page>& pages) const {
  XmlOut x;
  x.Open("package")
      .Attr("xmlns", "http://www.idpf.org/2007/opf")
      .Attr("version", "3.0")
      .Attr("unique-identifier", "bookid")
      .Open("metadata")
      .Attr("xmlns:dc", "http://purl.org/dc/elements/1.1/");
  WriteMetadata(x, pages);
  x.Close().Open("manifest");
  x.Open("item").Attr("id", "nav").Attr("href", "nav.xhtml");
  x.Attr("media-type", "application/xhtml+xml").Attr("properties", "nav").Close();
  for (size_t i = 0; i < pages.size(); ++i) {
    x.Open("item").Attr("id", "p" + pages[i].id).Attr("href", "Text/p" + pages[i].id + ".xhtml");
    x.Attr("media-type", "application/xhtml+xml").Close();
    x.Open("item").Attr("id", "i" + pages[i].id).Attr("href", pages[i].image);
    x.Attr("media-type", pages[i].media);
    if (i == 0) x.Attr("properties", "cover-image");
    x.Close();
  }
  x.Close().Open("spine");
  if (m_meta.rightToLeft) x.Attr("page-progression-direction", "rtl");
  const bool sides = m_kobo || m_layout.spreads;
  // Slot 0 of a view is the side reading starts on (left, or right when
  // read right to left); the first page takes slot 1, alone.
  int slot = 1;
  for (size_t i = 0; i < pages.size(); ++i) {
    // The last two pages made of one page are a split spread's (a turned
    // spread before them stands alone).
    auto source = [&pages](size_t k) { return pages[k].order / kPageOrderStep; };
    const bool pairStart = i + 1 < pages.size() && source(i + 1) == source(i) &&
                           (i + 2 >= pages.size() || source(i + 2) != source(i));
    if (pairStart && slot == 1 && i > 0) slot = 0;
    x.Open("itemref").Attr("idref", "p" + pages[i].id);
    if (sides) {
      const bool left = (slot == 0) != m_meta.rightToLeft;
      x.Attr("properties", left ? "page-spread-left" : "page-spread-right");
    }
    x.Close();
    slot = 1 - slot;
  }
  return x.Finish();
}

bool EpubWriter::Close() {
  if (m_pages.empty()) return false;
  std::vector<Page> pages = m_pages;
  std::sort(pages.begin(), pages.end(),
            [](const Page& a, const Page& b) { return a.order < b.order; });
  const std::string nav = NavXhtml(pages);
  const std::string opf = PackageOpf(pages);
  return !nav.empty() && !opf.empty() && m_zip.Add("OEBPS/nav.xhtml", nav, true) &&
         m_zip.Add("OEBPS/content.opf", opf, true) && m_zip.Close();
}

}  // namespace

std::unique_ptr<BookWriter> MakeEpubWriter(SafeFileWriter& out, const BookMeta& meta,
                                           const BookLayout& layout, bool kobo) {
  return std::make_unique<EpubWriter>(out, meta, layout, kobo);
}

}  // namespace inkbrite
