// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/pdf_reader.h"

#include <cairo.h>
#include <poppler.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/limits.h"
#include "platform/file_io.h"
#include "sources/book_limits.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Cairo's image surfaces hold at most this many pixels per side.
constexpr int kMaxCairoSide = 32767;
// How far an image's /Width and /Height may lie from its /Subtype /Image.
constexpr size_t kDictionaryReach = 4096;

bool IsPdfSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

// The integer after `key` in `dict` (the first occurrence), or -1.
int64_t IntegerAfter(std::string_view dict, std::string_view key) {
  for (size_t at = dict.find(key); at != std::string_view::npos; at = dict.find(key, at + 1)) {
    size_t i = at + key.size();
    // "/Width" and not "/WidthX".
    if (i < dict.size() && !IsPdfSpace(dict[i]) && dict[i] != '/' &&
        (dict[i] < '0' || dict[i] > '9'))
      continue;
    while (i < dict.size() && IsPdfSpace(dict[i])) ++i;
    int64_t value = 0;
    size_t digits = 0;
    while (i < dict.size() && dict[i] >= '0' && dict[i] <= '9' && digits < 12) {
      value = value * 10 + (dict[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0) return -1;
    // "12 0 R": a reference to an object, not the number itself.
    size_t j = i;
    while (j < dict.size() && IsPdfSpace(dict[j])) ++j;
    size_t k = j;
    while (k < dict.size() && dict[k] >= '0' && dict[k] <= '9') ++k;
    if (k > j) {
      while (k < dict.size() && IsPdfSpace(dict[k])) ++k;
      if (k < dict.size() && dict[k] == 'R') return -1;
    }
    return value;
  }
  return -1;
}

// The image dictionary around a "/Image" at `at` of `text`: from the object
// that holds it ("obj") to its stream ("stream"), within kDictionaryReach.
bool ImageAtWithinLimits(std::string_view text, size_t at) {
  const size_t from = at > kDictionaryReach ? at - kDictionaryReach : 0;
  std::string_view before = text.substr(from, at - from);
  const size_t obj = before.rfind("obj");
  if (obj != std::string_view::npos) before.remove_prefix(obj);
  std::string_view after = text.substr(at, kDictionaryReach);
  const size_t stream = after.find("stream");
  if (stream != std::string_view::npos) after = after.substr(0, stream);
  const std::string dict = std::string(before) + std::string(after);
  const int64_t width = IntegerAfter(dict, "/Width");
  const int64_t height = IntegerAfter(dict, "/Height");
  if (width < 0 || height < 0) return true;  // nothing readable to hold it to
  return ImageSizeWithinLimits(width, height);
}

// "/Subtype /Image" (any white space between) ending at `at` + 6.
bool IsImageSubtype(std::string_view text, size_t at) {
  if (at + 6 < text.size()) {
    const char next = text[at + 6];
    if (!IsPdfSpace(next) && next != '/' && next != '>') return false;  // "/ImageB"...
  }
  size_t i = at;
  while (i > 0 && IsPdfSpace(text[i - 1])) --i;
  return i >= 8 && text.substr(i - 8, 8) == "/Subtype";
}

// Every image of `text` whose "/Image" lies in [begin, end).
bool ImagesWithinLimits(std::string_view text, size_t begin, size_t end) {
  for (size_t at = text.find("/Image", begin); at != std::string_view::npos && at < end;
       at = text.find("/Image", at + 1)) {
    if (IsImageSubtype(text, at) && !ImageAtWithinLimits(text, at)) return false;
  }
  return true;
}

// The same over a file, a piece at a time with room around each piece.
bool FileImagesWithinLimits(std::FILE* file, uint64_t size) {
  constexpr uint64_t kStep = uint64_t{4} << 20;
  constexpr uint64_t kMargin = kDictionaryReach + 16;
  std::string buffer;
  for (uint64_t offset = 0; offset < size; offset += kStep) {
    const uint64_t start = offset > kMargin ? offset - kMargin : 0;
    const uint64_t stop = std::min(size, offset + kStep + kMargin);
    buffer.resize(static_cast<size_t>(stop - start));
    if (fseeko(file, static_cast<off_t>(start), SEEK_SET) != 0 ||
        std::fread(buffer.data(), 1, buffer.size(), file) != buffer.size()) {
      return false;
    }
    const size_t begin = static_cast<size_t>(offset - start);
    const size_t end = static_cast<size_t>(std::min(size, offset + kStep) - start);
    if (!ImagesWithinLimits(buffer, begin, end)) return false;
  }
  return true;
}

// A cairo ARGB32 or RGB24 surface as a 24-bit picture, over white where it
// is not opaque; *grey is 1 when every pixel is neutral.
bool SurfaceToImage(cairo_surface_t* surface, DibImage& image, int* grey) {
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
  cairo_surface_flush(surface);
  const cairo_format_t format = cairo_image_surface_get_format(surface);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return false;
  const int w = cairo_image_surface_get_width(surface);
  const int h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  if (data == nullptr || !ImageSizeWithinLimits(w, h) || !image.Create(w, h)) return false;
  bool neutral = true;
  const bool alpha = format == CAIRO_FORMAT_ARGB32;
  for (int y = 0; y < h; ++y) {
    const unsigned char* in = data + static_cast<size_t>(y) * static_cast<size_t>(stride);
    uint8_t* out = image.Row(y);
    for (int x = 0; x < w; ++x) {
      uint32_t px;
      std::memcpy(&px, in + 4 * x, 4);
      // Premultiplied: over white adds what the alpha leaves uncovered.
      const uint32_t uncovered = alpha ? 255 - (px >> 24) : 0;
      const auto b = static_cast<uint8_t>(std::min<uint32_t>(255, (px & 0xFF) + uncovered));
      const auto g = static_cast<uint8_t>(std::min<uint32_t>(255, ((px >> 8) & 0xFF) + uncovered));
      const auto r = static_cast<uint8_t>(std::min<uint32_t>(255, ((px >> 16) & 0xFF) + uncovered));
      out[3 * x] = b;
      out[3 * x + 1] = g;
      out[3 * x + 2] = r;
      neutral = neutral && b == g && g == r;
    }
  }
  if (grey != nullptr) *grey = neutral ? 1 : 0;
  return true;
}

// The size a page of w x h points is rendered at.
bool RenderSize(double w, double h, int& width, int& height, double& scale) {
  if (!(w > 0 && h > 0 && std::isfinite(w) && std::isfinite(h))) return false;
  scale = kPdfPageHeight / h;
  // Within cairo's sides and the picture limits, keeping the page's shape.
  const double longest = std::max(w, h) * scale;
  if (longest > kMaxCairoSide) scale *= kMaxCairoSide / longest;
  const double pixels = w * scale * h * scale;
  if (pixels > static_cast<double>(kMaxImagePixels)) {
    scale *= std::sqrt(static_cast<double>(kMaxImagePixels) / pixels);
  }
  width = std::max(1, static_cast<int>(std::floor(w * scale)));
  height = std::max(1, static_cast<int>(std::floor(h * scale)));
  return ImageSizeWithinLimits(width, height);
}

// The one image of a page that covers it, or -1.
int CoveringImage(PopplerPage* page, double w, double h) {
  GList* mapping = poppler_page_get_image_mapping(page);
  int id = -1;
  if (mapping != nullptr && mapping->next == nullptr) {
    const auto* m = static_cast<const PopplerImageMapping*>(mapping->data);
    constexpr double kSlack = 2.0;  // points: poppler rounds the area
    if (m->area.x1 <= kSlack && m->area.y1 <= kSlack && m->area.x2 >= w - kSlack &&
        m->area.y2 >= h - kSlack) {
      id = m->image_id;
    }
  }
  poppler_page_free_image_mapping(mapping);
  if (id < 0) return -1;
  // Text over the picture would be lost: such a page is rendered.
  gchar* text = poppler_page_get_text(page);
  const bool hasText = text != nullptr && text[0] != '\0';
  g_free(text);
  return hasText ? -1 : id;
}

// True when the picture has the page's proportions (within 2 %).
bool SameShape(cairo_surface_t* surface, double w, double h) {
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
  const double iw = cairo_image_surface_get_width(surface);
  const double ih = cairo_image_surface_get_height(surface);
  if (!(iw > 0 && ih > 0 && w > 0 && h > 0)) return false;
  return std::abs((iw / ih) / (w / h) - 1.0) <= 0.02;
}

}  // namespace

bool PdfImagesWithinLimits(const uint8_t* data, size_t size) {
  if (data == nullptr) return true;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  return ImagesWithinLimits(text, 0, size);
}

struct PdfReader::Document {
  PopplerDocument* doc = nullptr;
  GBytes* bytes = nullptr;
  ~Document() {
    if (doc != nullptr) g_object_unref(doc);
    if (bytes != nullptr) g_bytes_unref(bytes);
  }
};

PdfReader::PdfReader() = default;
PdfReader::~PdfReader() = default;

SourceError PdfReader::Open(const fs::path& path) {
  m_doc.reset();
  m_pages = 0;
  // Only a regular file: opening a FIFO could wait forever.
  std::FILE* file = OpenRegularFile(path);
  if (file == nullptr) return SourceError::kOpenFailed;
  struct stat st = {};
  const bool sized = fstat(fileno(file), &st) == 0;
  const bool within = sized && FileImagesWithinLimits(file, static_cast<uint64_t>(st.st_size));
  // Poppler takes the descriptor it is given (and closes it, also on
  // failure).
  const int fd = within ? dup(fileno(file)) : -1;
  std::fclose(file);
  if (!sized || fd < 0) return sized && !within ? SourceError::kTooLarge : SourceError::kOpenFailed;
  m_doc = std::make_unique<Document>();
  GError* error = nullptr;
  m_doc->doc = poppler_document_new_from_fd(fd, nullptr, &error);
  return Finish(m_doc->doc, error);
}

SourceError PdfReader::OpenMemory(const uint8_t* data, size_t size) {
  m_doc.reset();
  m_pages = 0;
  if (data == nullptr || size == 0) return SourceError::kDamaged;
  if (!PdfImagesWithinLimits(data, size)) return SourceError::kTooLarge;
  m_doc = std::make_unique<Document>();
  m_doc->bytes = g_bytes_new_static(data, size);
  GError* error = nullptr;
  m_doc->doc = poppler_document_new_from_bytes(m_doc->bytes, nullptr, &error);
  return Finish(m_doc->doc, error);
}

SourceError PdfReader::Finish(void* document, void* gerror) {
  auto* error = static_cast<GError*>(gerror);
  if (document == nullptr) {
    const bool encrypted = error != nullptr && error->domain == POPPLER_ERROR &&
                           error->code == POPPLER_ERROR_ENCRYPTED;
    g_clear_error(&error);
    m_doc.reset();
    return encrypted ? SourceError::kEncrypted : SourceError::kDamaged;
  }
  g_clear_error(&error);
  const int pages = poppler_document_get_n_pages(m_doc->doc);
  if (pages <= 0) return SourceError::kNoPages;
  if (static_cast<size_t>(pages) > kMaxBookEntries) return SourceError::kTooManyEntries;
  m_pages = static_cast<size_t>(pages);
  return SourceError::kNone;
}

SourceError PdfReader::LoadPage(size_t index, DibImage& image, int* greySource) {
  if (!m_doc || index >= m_pages) return SourceError::kPageUnreadable;
  PopplerPage* page = poppler_document_get_page(m_doc->doc, static_cast<int>(index));
  if (page == nullptr) return SourceError::kPageUnreadable;
  double w = 0, h = 0;
  poppler_page_get_size(page, &w, &h);
  cairo_surface_t* surface = nullptr;
  const int id = CoveringImage(page, w, h);
  if (id >= 0) surface = poppler_page_get_image(page, id);
  if (surface != nullptr && !SameShape(surface, w, h)) {
    // Turned (the page's /Rotate) or stretched: the page shows something
    // else than the picture as stored.
    cairo_surface_destroy(surface);
    surface = nullptr;
  }
  if (surface == nullptr) {
    int width = 0, height = 0;
    double scale = 1;
    if (RenderSize(w, h, width, height, scale)) {
      surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
      cairo_t* cr = cairo_create(surface);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_scale(cr, scale, scale);
      poppler_page_render(page, cr);
      cairo_destroy(cr);
    }
  }
  g_object_unref(page);
  if (surface == nullptr) return SourceError::kPageUnreadable;
  int grey = 0;
  bool ok = false;
  try {
    ok = SurfaceToImage(surface, image, &grey);
  } catch (...) {
    ok = false;
  }
  cairo_surface_destroy(surface);
  if (!ok) {
    image.Clear();
    return SourceError::kPageUnreadable;
  }
  if (greySource != nullptr) *greySource = grey;
  return SourceError::kNone;
}

}  // namespace inkbrite
