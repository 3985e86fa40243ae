// SPDX-License-Identifier: GPL-2.0-or-later
// The PDF helper program's side of sources/pdf_protocol.h: one request
// served with poppler's GLib binding and cairo in this process.
//
// A page that is one embedded picture covering the page (and nothing else
// poppler can tell of: no text) is answered at that picture's own
// resolution (poppler_page_get_image: a scanned comic page comes back with
// its own pixels, no re-rendering); any other page is rendered at the size
// PdfRenderSize gives, over white. The GLib binding is used rather than the
// C++ one because only it hands out an embedded picture; cairo and GLib are
// already linked for the metafile reader.
#pragma once

#include <string_view>

namespace inkbrite {

// Serves `operation` (with its `argument`, the page number of a render) on
// the PDF file open as `pdfFd`, writing the answer to `outFd`. The exit
// status of the helper: 0 when it answered (a refusal included), else why
// not.
int ServePdfRequest(std::string_view operation, std::string_view argument, int pdfFd, int outFd);

}  // namespace inkbrite
