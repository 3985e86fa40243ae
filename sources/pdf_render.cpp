// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/pdf_render.h"

#include <cairo.h>
#include <poppler.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/limits.h"
#include "sources/book_limits.h"
#include "sources/pdf_protocol.h"
#include "sources/pdf_reader.h"
#include "sources/source_texts.h"

namespace inkbrite {

namespace {

using pdf_helper::kExitOutOfMemory;

bool WriteAt(int fd, const void* data, size_t size, off_t offset) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, p + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The document on `fd` (poppler takes a descriptor of its own and closes
// it); null with `error` set when it cannot be opened.
PopplerDocument* OpenDocument(int fd, SourceError& error) {
  const int own = dup(fd);
  if (own < 0) {
    error = SourceError::kOpenFailed;
    return nullptr;
  }
  GError* gerror = nullptr;
  PopplerDocument* doc = poppler_document_new_from_fd(own, nullptr, &gerror);
  if (doc == nullptr) {
    const bool encrypted = gerror != nullptr && gerror->domain == POPPLER_ERROR &&
                           gerror->code == POPPLER_ERROR_ENCRYPTED;
    error = encrypted ? SourceError::kEncrypted : SourceError::kDamaged;
  }
  g_clear_error(&gerror);
  return doc;
}

int AnswerInfo(PopplerDocument* doc, SourceError error, int outFd) {
  pdf_helper::InfoHeader header;
  std::vector<pdf_helper::PageSize> sizes;
  if (doc != nullptr) {
    const int pages = poppler_document_get_n_pages(doc);
    if (pages <= 0) {
      error = SourceError::kNoPages;
    } else if (static_cast<size_t>(pages) > kMaxBookEntries) {
      error = SourceError::kTooManyEntries;
    } else {
      sizes.resize(static_cast<size_t>(pages));
      for (int i = 0; i < pages; ++i) {
        PopplerPage* page = poppler_document_get_page(doc, i);
        if (page != nullptr) {
          poppler_page_get_size(page, &sizes[static_cast<size_t>(i)].width,
                                &sizes[static_cast<size_t>(i)].height);
          g_object_unref(page);
        }
      }
    }
  }
  header.error = static_cast<uint32_t>(error);
  header.pages = error == SourceError::kNone ? static_cast<uint32_t>(sizes.size()) : 0;
  if (error != SourceError::kNone) sizes.clear();
  const bool ok =
      WriteAt(outFd, &header, sizeof header, 0) &&
      WriteAt(outFd, sizes.data(), sizes.size() * sizeof(pdf_helper::PageSize), sizeof header);
  return ok ? 0 : 1;
}

int AnswerRefusal(SourceError error, int outFd) {
  pdf_helper::PageHeader header;
  header.error = static_cast<uint32_t>(error);
  return WriteAt(outFd, &header, sizeof header, 0) ? 0 : 1;
}

// A cairo ARGB32 or RGB24 surface as the answer's rows, over white where it
// is not opaque, a band of rows at a time; the header last (it says
// whether every pixel is neutral).
int AnswerSurface(cairo_surface_t* surface, int outFd) {
  if (cairo_surface_status(surface) == CAIRO_STATUS_NO_MEMORY) return kExitOutOfMemory;
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    return AnswerRefusal(SourceError::kPageUnreadable, outFd);
  }
  cairo_surface_flush(surface);
  const cairo_format_t format = cairo_image_surface_get_format(surface);
  const int w = cairo_image_surface_get_width(surface);
  const int h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  if ((format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) || data == nullptr) {
    return AnswerRefusal(SourceError::kPageUnreadable, outFd);
  }
  if (!ImageSizeWithinLimits(w, h)) return AnswerRefusal(SourceError::kTooLarge, outFd);
  const size_t rowBytes = static_cast<size_t>(w) * 3;
  const int band = std::max(1, static_cast<int>((size_t{4} << 20) / rowBytes));
  std::vector<uint8_t> rows(rowBytes * static_cast<size_t>(std::min(band, h)));
  bool neutral = true;
  const bool alpha = format == CAIRO_FORMAT_ARGB32;
  off_t at = sizeof(pdf_helper::PageHeader);
  for (int y0 = 0; y0 < h; y0 += band) {
    const int count = std::min(band, h - y0);
    for (int r = 0; r < count; ++r) {
      const unsigned char* in = data + static_cast<size_t>(y0 + r) * static_cast<size_t>(stride);
      uint8_t* out = rows.data() + static_cast<size_t>(r) * rowBytes;
      for (int x = 0; x < w; ++x) {
        uint32_t px;
        std::memcpy(&px, in + 4 * x, 4);
        // Premultiplied: over white adds what the alpha leaves uncovered.
        const uint32_t uncovered = alpha ? 255 - (px >> 24) : 0;
        const auto b = static_cast<uint8_t>(std::min<uint32_t>(255, (px & 0xFF) + uncovered));
        const auto g =
            static_cast<uint8_t>(std::min<uint32_t>(255, ((px >> 8) & 0xFF) + uncovered));
        const auto rd =
            static_cast<uint8_t>(std::min<uint32_t>(255, ((px >> 16) & 0xFF) + uncovered));
        out[3 * x] = b;
        out[3 * x + 1] = g;
        out[3 * x + 2] = rd;
        neutral = neutral && b == g && g == rd;
      }
    }
    if (!WriteAt(outFd, rows.data(), rowBytes * static_cast<size_t>(count), at)) return 1;
    at += static_cast<off_t>(rowBytes * static_cast<size_t>(count));
  }
  pdf_helper::PageHeader header;
  header.width = static_cast<uint32_t>(w);
  header.height = static_cast<uint32_t>(h);
  header.greySource = neutral ? 1 : 0;
  return WriteAt(outFd, &header, sizeof header, 0) ? 0 : 1;
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

// Page `index` drawn: its covering picture, else rendered at PdfRenderSize.
cairo_surface_t* DrawPage(PopplerPage* page, SourceError& error) {
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
  if (surface != nullptr) return surface;
  int width = 0, height = 0;
  double scale = 1;
  if (!PdfRenderSize(w, h, width, height, scale)) {
    error = SourceError::kTooLarge;
    return nullptr;
  }
  surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return surface;
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, scale, scale);
  poppler_page_render(page, cr);
  cairo_destroy(cr);
  return surface;
}

int AnswerPage(PopplerDocument* doc, SourceError error, std::string_view argument, int outFd) {
  if (doc == nullptr) return AnswerRefusal(error, outFd);
  size_t index = 0;
  const auto [end, ec] = std::from_chars(argument.data(), argument.data() + argument.size(), index);
  const int pages = poppler_document_get_n_pages(doc);
  if (ec != std::errc() || end != argument.data() + argument.size() || pages <= 0 ||
      index >= static_cast<size_t>(pages)) {
    return AnswerRefusal(SourceError::kPageUnreadable, outFd);
  }
  PopplerPage* page = poppler_document_get_page(doc, static_cast<int>(index));
  if (page == nullptr) return AnswerRefusal(SourceError::kPageUnreadable, outFd);
  SourceError why = SourceError::kPageUnreadable;
  cairo_surface_t* surface = DrawPage(page, why);
  g_object_unref(page);
  if (surface == nullptr) return AnswerRefusal(why, outFd);
  const int status = AnswerSurface(surface, outFd);
  cairo_surface_destroy(surface);
  return status;
}

}  // namespace

int ServePdfRequest(std::string_view operation, std::string_view argument, int pdfFd, int outFd) {
  const bool info = operation == pdf_helper::kInfo;
  if (!info && operation != pdf_helper::kRender) return 2;
  SourceError error = SourceError::kNone;
  PopplerDocument* doc = OpenDocument(pdfFd, error);
  const int status = info ? AnswerInfo(doc, error, outFd) : AnswerPage(doc, error, argument, outFd);
  if (doc != nullptr) g_object_unref(doc);
  return status;
}

}  // namespace inkbrite
