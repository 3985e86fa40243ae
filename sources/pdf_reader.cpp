// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/pdf_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/limits.h"
#include "platform/child_process.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"
#include "sources/book_limits.h"
#include "sources/pdf_protocol.h"

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

}  // namespace

bool PdfRenderSize(double w, double h, int& width, int& height, double& scale) {
  if (!(w > 0 && h > 0 && std::isfinite(w) && std::isfinite(h))) return false;
  scale = kPdfPageHeight / h;
  // Within cairo's sides and the picture limits, keeping the page's shape.
  const double longest = std::max(w, h) * scale;
  if (longest > kMaxCairoSide) scale *= kMaxCairoSide / longest;
  const double pixels = w * scale * h * scale;
  if (pixels > static_cast<double>(kMaxImagePixels)) {
    scale *= std::sqrt(static_cast<double>(kMaxImagePixels) / pixels);
  }
  // A side so small or so large against the other that the scale is lost
  // (infinite, zero or not a number) gives no size.
  if (!(std::isfinite(scale) && scale > 0 && std::isfinite(w * scale) &&
        std::isfinite(h * scale))) {
    return false;
  }
  width = std::max(1, static_cast<int>(std::floor(w * scale)));
  height = std::max(1, static_cast<int>(std::floor(h * scale)));
  return ImageSizeWithinLimits(width, height);
}

namespace {

// A memory file for the helper's answer; -1 when none can be made.
int AnswerFile() { return MemoryFileWith({}); }

// Why a run of the helper gave no answer.
SourceError WhyHelperFailed(const ChildOutcome& outcome) {
  switch (outcome.end) {
    case ChildEnd::kExited:
      return outcome.code == pdf_helper::kExitOutOfMemory ? SourceError::kOverMemory
                                                          : SourceError::kPageUnreadable;
    case ChildEnd::kSignalled:
      // Poppler's and GLib's allocators abort when memory runs out.
      return outcome.code == SIGABRT ? SourceError::kOverMemory : SourceError::kPageUnreadable;
    case ChildEnd::kOverCpu:
    case ChildEnd::kOverTime: return SourceError::kTimedOut;
    case ChildEnd::kStopped:
    case ChildEnd::kNotStarted: return SourceError::kPageUnreadable;
  }
  return SourceError::kPageUnreadable;
}

SourceError ErrorOfAnswer(uint32_t code) {
  const SourceError error = static_cast<SourceError>(code);
  return code <= static_cast<uint32_t>(SourceError::kOverMemory) && error != SourceError::kNone
             ? error
             : SourceError::kPageUnreadable;
}

// The bytes of an answer file from `offset` on.
PdfAnswer FileAnswer(int fd) {
  PdfAnswer answer;
  struct stat st {};
  answer.size = fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  answer.read = [fd](uint64_t offset, void* out, size_t size) {
    auto* p = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  };
  return answer;
}

// A file descriptor closed on every way out.
struct OwnedFd {
  int fd = -1;
  explicit OwnedFd(int f) : fd(f) {}
  ~OwnedFd() {
    if (fd >= 0) close(fd);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
};

}  // namespace

bool PdfImagesWithinLimits(const uint8_t* data, size_t size) {
  if (data == nullptr) return true;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  return ImagesWithinLimits(text, 0, size);
}

SourceError ReadPdfInfoAnswer(const PdfAnswer& answer, std::vector<PdfPageSize>& pages) {
  pages.clear();
  pdf_helper::InfoHeader header;
  if (answer.size < sizeof header || !answer.read(0, &header, sizeof header) ||
      header.magic != pdf_helper::kInfoMagic) {
    return SourceError::kDamaged;
  }
  if (header.error != 0) {
    const SourceError error = ErrorOfAnswer(header.error);
    return error == SourceError::kPageUnreadable ? SourceError::kDamaged : error;
  }
  if (header.pages == 0) return SourceError::kNoPages;
  if (header.pages > kMaxBookEntries) return SourceError::kTooManyEntries;
  if (answer.size != sizeof header + uint64_t{header.pages} * sizeof(pdf_helper::PageSize)) {
    return SourceError::kDamaged;
  }
  std::vector<pdf_helper::PageSize> sizes(header.pages);
  if (!answer.read(sizeof header, sizes.data(), sizes.size() * sizeof sizes[0])) {
    return SourceError::kDamaged;
  }
  // What the pages will need once drawn: each within the picture limits,
  // all of them within a book's bytes.
  uint64_t total = 0;
  for (const pdf_helper::PageSize& s : sizes) {
    int width = 0, height = 0;
    double scale = 1;
    if (!PdfRenderSize(s.width, s.height, width, height, scale)) {
      pages.clear();
      return SourceError::kTooLarge;
    }
    total += uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 3;
    pages.push_back({width, height});
  }
  if (total > kMaxBookBytes) {
    pages.clear();
    return SourceError::kTooLarge;
  }
  return SourceError::kNone;
}

SourceError ReadPdfPageAnswer(const PdfAnswer& answer, DibImage& image, int* greySource) {
  pdf_helper::PageHeader header;
  if (answer.size < sizeof header || !answer.read(0, &header, sizeof header) ||
      header.magic != pdf_helper::kPageMagic) {
    return SourceError::kPageUnreadable;
  }
  if (header.error != 0) return ErrorOfAnswer(header.error);
  if (!ImageSizeWithinLimits(header.width, header.height)) return SourceError::kPageUnreadable;
  const size_t rowBytes = size_t{header.width} * 3;
  if (answer.size != sizeof header + uint64_t{rowBytes} * header.height) {
    return SourceError::kPageUnreadable;
  }
  if (!image.Create(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), 24)) {
    return SourceError::kOverMemory;
  }
  for (uint32_t y = 0; y < header.height; ++y) {
    if (!answer.read(sizeof header + uint64_t{rowBytes} * y, image.Row(static_cast<int32_t>(y)),
                     rowBytes)) {
      image.Clear();
      return SourceError::kPageUnreadable;
    }
  }
  if (greySource != nullptr) *greySource = header.greySource != 0 ? 1 : 0;
  return SourceError::kNone;
}

std::filesystem::path PdfHelperPath() {
  return HelperProgramPath(pdf_helper::kHelperName, "INKBRITE_PDF_HELPER");
}

struct PdfReader::Document {
  int fd = -1;  // the PDF file, handed to every run of the helper
  ~Document() {
    if (fd >= 0) close(fd);
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
  const int fd = within ? fcntl(fileno(file), F_DUPFD_CLOEXEC, 0) : -1;
  std::fclose(file);
  if (!sized || fd < 0) return sized && !within ? SourceError::kTooLarge : SourceError::kOpenFailed;
  return Start(fd);
}

SourceError PdfReader::OpenMemory(const uint8_t* data, size_t size) {
  m_doc.reset();
  m_pages = 0;
  if (data == nullptr || size == 0) return SourceError::kDamaged;
  if (!PdfImagesWithinLimits(data, size)) return SourceError::kTooLarge;
  const int fd = MemoryFileWith({data, size});
  return fd < 0 ? SourceError::kOpenFailed : Start(fd);
}

void PdfReader::SetPageLimits(int cpuSeconds, std::chrono::milliseconds wallClock,
                              uint64_t addressSpaceBytes) {
  m_cpuSeconds = cpuSeconds;
  m_wallClock = wallClock;
  m_addressSpace = addressSpaceBytes;
}

SourceError PdfReader::Ask(const std::vector<std::string>& request, int answerFd) const {
  const fs::path helper = PdfHelperPath();
  if (helper.empty()) return SourceError::kPageUnreadable;
  ChildRun run;
  run.inputFd = m_doc->fd;
  run.outputFd = answerFd;
  run.cpuSeconds = m_cpuSeconds;
  run.wallClock = m_wallClock;
  run.addressSpaceBytes = m_addressSpace;
  const ChildOutcome outcome = RunChild(helper, request, run);
  if (outcome.end == ChildEnd::kExited && outcome.code == 0) return SourceError::kNone;
  return WhyHelperFailed(outcome);
}

SourceError PdfReader::Start(int fd) {
  m_doc = std::make_unique<Document>();
  m_doc->fd = fd;
  const OwnedFd answer(AnswerFile());
  if (answer.fd < 0) return SourceError::kOpenFailed;
  SourceError error = Ask({pdf_helper::kInfo}, answer.fd);
  if (error == SourceError::kPageUnreadable) error = SourceError::kDamaged;
  if (error == SourceError::kNone) error = ReadPdfInfoAnswer(FileAnswer(answer.fd), m_sizes);
  if (error != SourceError::kNone) {
    m_doc.reset();
    m_sizes.clear();
    return error;
  }
  m_pages = m_sizes.size();
  return SourceError::kNone;
}

SourceError PdfReader::LoadPage(size_t index, DibImage& image, int* greySource) {
  if (!m_doc || index >= m_pages) return SourceError::kPageUnreadable;
  const OwnedFd answer(AnswerFile());
  if (answer.fd < 0) return SourceError::kPageUnreadable;
  SourceError error = Ask({pdf_helper::kRender, std::to_string(index)}, answer.fd);
  if (error == SourceError::kNone) {
    try {
      error = ReadPdfPageAnswer(FileAnswer(answer.fd), image, greySource);
    } catch (const std::bad_alloc&) {
      error = SourceError::kOverMemory;
    }
  }
  if (error != SourceError::kNone) image.Clear();
  return error;
}

}  // namespace inkbrite
