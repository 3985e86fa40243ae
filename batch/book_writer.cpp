// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/book_writer.h"

#include <algorithm>

#include "batch/cbz_writer.h"
#include "formats/format_table.h"
#include "formats/image_file.h"

namespace inkbrite {

namespace {

const std::vector<BookKindRow> kRows = {
    {BookOutput::kCbz, "cbz", ".cbz", true},
    {BookOutput::kFolder, "folder", "", true},
    {BookOutput::kSkip, "skip", "", true},
    {BookOutput::kEpub, "epub", ".epub", true},
    {BookOutput::kKepub, "kepub", ".kepub.epub", true},
    {BookOutput::kPdf, "pdf", ".pdf", false},
};

// Whether a page of this name is stored in the CBZ rather than deflated:
// formats that deflate cannot shrink.
bool StoredInBook(const std::string& name) {
  const std::filesystem::path path(name);
  const FileFormat* f = FindFileFormat(DetectImageFormat(path, false));
  return f != nullptr && f->storedInBooks;
}

class CbzBookWriter final : public BookWriter {
 public:
  explicit CbzBookWriter(SafeFileWriter& out) : m_cbz(out) {}
  bool Open() override { return m_cbz.Open(); }
  bool AddPage(const std::string& name, uint64_t, const uint8_t* data, size_t size,
               int64_t mtime) override {
    return m_cbz.AddFile(name, data, size, mtime, StoredInBook(name));
  }
  bool AddOther(const std::string& name, const uint8_t* data, size_t size, int64_t mtime) override {
    return data == nullptr ? m_cbz.AddFolder(name, mtime)
                           : m_cbz.AddFile(name, data, size, mtime, false);
  }
  bool Close() override { return m_cbz.Close(); }

 private:
  CbzWriter m_cbz;
};

}  // namespace

const std::vector<BookKindRow>& BookKindRows() { return kRows; }

const BookKindRow& BookKindRowOf(BookOutput output) {
  for (const BookKindRow& row : kRows) {
    if (row.output == output) return row;
  }
  return kRows.front();
}

const BookKindRow* FindBookKindRow(std::string_view name) {
  for (const BookKindRow& row : kRows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

bool BookTakesPageExtension(BookOutput output, std::string_view extension) {
  if (output != BookOutput::kEpub && output != BookOutput::kKepub) return true;
  std::string lower(extension);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower == ".jpg" || lower == ".jpeg" || lower == ".png" || lower == ".gif";
}

std::unique_ptr<BookWriter> MakeBookWriter(BookOutput output, SafeFileWriter& out,
                                           const BookMeta& meta, const BookLayout& layout) {
  switch (output) {
    case BookOutput::kCbz: return std::make_unique<CbzBookWriter>(out);
    case BookOutput::kEpub:
    case BookOutput::kKepub: return MakeEpubWriter(out, meta, layout, output == BookOutput::kKepub);
    case BookOutput::kPdf: return MakePdfWriter(out, meta, layout);
    case BookOutput::kFolder:
    case BookOutput::kSkip: break;
  }
  return nullptr;
}

}  // namespace inkbrite
