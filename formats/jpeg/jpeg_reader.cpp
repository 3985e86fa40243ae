// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG decoding: the error and source managers and the scanline loop.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "core/limits.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_pvt.h"
#include "platform/file_io.h"
#include "platform/read_status.h"

namespace inkbrite {

bool CJPEGException::GetErrorMessage(char* buffer, size_t length) const noexcept {
  if (buffer == nullptr || length == 0) return false;
  const size_t count = std::min(length - 1, m_strMessage.size());
  std::memcpy(buffer, m_strMessage.data(), count);
  buffer[count] = '\0';
  return true;
}

namespace jpeg_detail {
namespace {

// A progressive file may repeat scans without end, each one a pass over the
// whole picture: a few kilobytes could then keep the decoder busy for hours.
// Real files have about ten scans; the bound is kMaxJpegScans.
// Message code of that refusal (libjpeg's own codes are all positive).
constexpr int32_t kTooManyScansCode = -1;

[[noreturn]] void ThrowLibraryError(j_common_ptr cinfo) {
  // libjpeg's own allocations failed: no memory, not damage.
  if (cinfo->err->msg_code == JERR_OUT_OF_MEMORY) NoteReadFailure(ReadError::kOutOfMemory);
  // A coding process or feature this build of libjpeg does not decode.
  if (cinfo->err->msg_code == JERR_SOF_UNSUPPORTED || cinfo->err->msg_code == JERR_NOT_COMPILED) {
    NoteReadFailure(ReadError::kUnsupported);
  }
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  throw CJPEGException(cinfo->err->msg_code, text);
}

// Warnings ("Premature end of JPEG file", "Corrupt JPEG data") and trace
// messages are never shown.
void DropMessage(j_common_ptr) {}

struct SourceManager {
  jpeg_source_mgr pub;  // first, so the library's pointer is ours
  JpegInput* input;
  JOCTET* buffer;
  bool startOfFile;
};

SourceManager* Source(j_decompress_ptr cinfo) {
  return reinterpret_cast<SourceManager*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo) { Source(cinfo)->startOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  SourceManager* src = Source(cinfo);
  size_t count = src->input->Read(src->buffer, kSourceBufferSize);
  if (count == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    // An end-of-image marker lets the decoder finish the picture.
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    count = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = count;
  src->startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  SourceManager* src = Source(cinfo);
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// A probed file read through stdio from its start (the probe opened it
// with OpenRegularFile, which refuses a FIFO or a device).
class FileInput final : public JpegInput {
 public:
  explicit FileInput(FileProbe& file) : m_file(file.Rewound()), m_size(file.Size()) {
    file.NoteIfClosed();
  }
  bool IsOpen() const { return m_file != nullptr; }
  uint64_t Size() const override { return m_size; }

  // A read error counts as the end of the file.
  size_t Read(uint8_t* buffer, size_t size) override { return std::fread(buffer, 1, size, m_file); }

 private:
  std::FILE* m_file;
  uint64_t m_size = 0;
};

// Blue-green-red pixels from a row of `components` samples per pixel that the
// library could not deliver as blue-green-red itself.
void ConvertRow(const JSAMPLE* in, uint8_t* out, JDIMENSION width, int components) {
  if (components == 4) {
    // CMYK (or YCCK delivered as CMYK). Adobe applications store the samples
    // inverted, so c, m, y are already the red, green, blue coverage and k
    // scales them: k = 0 is black, all 255 is white.
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
      const int k = in[3];
      out[0] = static_cast<uint8_t>(in[2] * k / 255);
      out[1] = static_cast<uint8_t>(in[1] * k / 255);
      out[2] = static_cast<uint8_t>(in[0] * k / 255);
    }
  } else if (components == 3) {
    // Three components of no known colour space: taken as red, green, blue.
    for (JDIMENSION x = 0; x < width; ++x, in += 3, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  } else {
    // Two or more than four components: the first one shown as grey.
    for (JDIMENSION x = 0; x < width; ++x, in += components, out += 3) {
      out[0] = out[1] = out[2] = in[0];
    }
  }
}

// The header: refuses a picture above the limits, before the library sizes
// its buffers for it. Library errors leave as CJPEGException.
bool ReadHeader(jpeg_decompress_struct& cinfo, uint64_t inputBytes) {
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  // A progressive or multi-scan file keeps every DCT coefficient of the
  // picture (2 bytes per sample of each component); truncated data counts
  // as success, so only the pixels-per-byte bound stops a header that claims
  // a huge picture.
  const uint64_t pixels = uint64_t{cinfo.image_width} * cinfo.image_height;
  const uint64_t coefficients =
      cinfo.progressive_mode || jpeg_has_multiple_scans(&cinfo)
          ? 2 * pixels * static_cast<uint64_t>(std::max(cinfo.num_components, 1))
          : 0;
  if (!DecodeWithinLimits(cinfo.image_width, cinfo.image_height, inputBytes, coefficients)) {
    return false;
  }
  // The library's own allocations are held to the same bound.
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxDecoderBytes);
  return true;
}

// After the header: starts decompressing, colour pictures straight into
// blue-green-red rows. False when the output size is not the picture's.
bool StartDecompress(jpeg_decompress_struct& cinfo) {
  if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  return cinfo.output_width == cinfo.image_width && cinfo.output_height == cinfo.image_height;
}

// The rows of a started decompressor as 24-bit blue-green-red rows.
class RowDecoder {
 public:
  explicit RowDecoder(const jpeg_decompress_struct& cinfo)
      : m_width(cinfo.output_width),
        m_components(cinfo.output_components),
        m_grey(cinfo.out_color_space == JCS_GRAYSCALE),
        m_direct(m_grey || cinfo.out_color_space == JCS_EXT_BGR) {
    if (!m_direct)
      m_buffer.resize(static_cast<size_t>(m_width) * static_cast<size_t>(m_components));
  }
  bool Grey() const { return m_grey; }

  // A grey picture's next row as its levels (width bytes). False when the
  // library delivers no row.
  bool ReadLevels(jpeg_decompress_struct& cinfo, uint8_t* row) {
    JSAMPROW target = row;
    return m_grey && jpeg_read_scanlines(&cinfo, &target, 1) == 1;
  }

  // Decodes the next row into `row` (width * 3 bytes). False when the
  // library delivers no row.
  bool ReadRow(jpeg_decompress_struct& cinfo, uint8_t* row) {
    JSAMPROW target = m_direct ? row : m_buffer.data();
    // Only a suspending source returns 0 lines; ours never suspends.
    if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) return false;
    if (m_grey) {
      // Spread the grey samples in place, from the right so none is
      // overwritten before it is read.
      for (JDIMENSION x = m_width; x-- > 0;) {
        uint8_t* pixel = row + 3 * static_cast<size_t>(x);
        pixel[0] = pixel[1] = pixel[2] = row[x];
      }
    } else if (!m_direct) {
      ConvertRow(m_buffer.data(), row, m_width, m_components);
    }
    return true;
  }

 private:
  JDIMENSION m_width;
  int m_components;
  bool m_grey;
  bool m_direct;
  std::vector<JSAMPLE> m_buffer;
};

// The decoding steps; library errors leave as CJPEGException. False when the
// picture is too large for a DibImage.
bool Decode(jpeg_decompress_struct& cinfo, uint64_t inputBytes, DibImage& image, int* greySource) {
  if (!ReadHeader(cinfo, inputBytes)) return false;
  if (!image.Create(static_cast<int32_t>(cinfo.image_width),
                    static_cast<int32_t>(cinfo.image_height), 24)) {
    return false;
  }
  if (!StartDecompress(cinfo)) return false;
  RowDecoder rows(cinfo);
  if (greySource != nullptr) *greySource = rows.Grey() ? 1 : 0;
  while (cinfo.output_scanline < cinfo.output_height) {
    if (!rows.ReadRow(cinfo, image.Row(static_cast<int32_t>(cinfo.output_scanline)))) return false;
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

// The decoding at 1/denominator of the size, `choose` giving the
// denominator from the picture's own size (the library scales in its
// inverse DCT); `full` gets that size.
bool DecodeReduced(jpeg_decompress_struct& cinfo, uint64_t inputBytes,
                   const std::function<int(JpegSize)>& choose, DibImage& image, int* greySource,
                   JpegSize& full) {
  if (!ReadHeader(cinfo, inputBytes)) return false;
  full = {static_cast<int32_t>(cinfo.image_width), static_cast<int32_t>(cinfo.image_height)};
  const int denominator = choose(full);
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) return false;
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned int>(denominator);
  // The fast integer transform and plain upsampling: the picture is only
  // shown until the full one replaces it.
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = FALSE;
  if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  if (!image.Create(static_cast<int32_t>(cinfo.output_width),
                    static_cast<int32_t>(cinfo.output_height), 24)) {
    return false;
  }
  RowDecoder rows(cinfo);
  if (greySource != nullptr) *greySource = rows.Grey() ? 1 : 0;
  while (cinfo.output_scanline < cinfo.output_height) {
    if (!rows.ReadRow(cinfo, image.Row(static_cast<int32_t>(cinfo.output_scanline)))) return false;
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

// The same decoding a band of rows at a time.
class JpegRowReader final : public PageRowReader {
 public:
  explicit JpegRowReader(std::unique_ptr<JpegInput> input) : m_input(std::move(input)) {}
  ~JpegRowReader() override { jpeg_destroy_decompress(&m_cinfo); }
  JpegRowReader(const JpegRowReader&) = delete;
  JpegRowReader& operator=(const JpegRowReader&) = delete;

  // The header, up to the first row. False when the whole-page reader would
  // fail there already (or could not even start).
  bool Open() {
    m_progress.progress_monitor = LimitScans;
    m_cinfo.err = InitErrorManager(m_err);
    try {
      jpeg_create_decompress(&m_cinfo);
      m_cinfo.progress = &m_progress;
      AttachSource(&m_cinfo, *m_input);
      if (!ReadHeader(m_cinfo, m_input->Size()) || !StartDecompress(m_cinfo)) return false;
      m_rows.emplace(m_cinfo);
    } catch (const std::exception&) {
      return false;
    }
    m_width = static_cast<int32_t>(m_cinfo.output_width);
    m_height = static_cast<int32_t>(m_cinfo.output_height);
    m_greySource = m_rows->Grey();
    m_readsGrey = m_rows->Grey();
    return true;
  }

  bool ReadRows(uint8_t* rows, size_t stride, int32_t count) override {
    return Read(rows, stride, count, false);
  }
  bool ReadGreyRows(uint8_t* rows, size_t stride, int32_t count) override {
    return Read(rows, stride, count, true);
  }
  // The library passes over whole rows of blocks without their inverse
  // transforms.
  bool SkipRows(int32_t count) override {
    if (m_failed || count < 0) return false;
    try {
      const auto left = static_cast<int32_t>(m_cinfo.output_height - m_cinfo.output_scanline);
      const auto wanted = static_cast<JDIMENSION>(std::min(count, left));
      if (jpeg_skip_scanlines(&m_cinfo, wanted) != wanted) m_failed = true;
    } catch (const std::exception&) {
      m_failed = true;
    }
    return !m_failed;
  }

  bool Finish() override {
    if (m_failed || m_cinfo.output_scanline != m_cinfo.output_height) return false;
    try {
      jpeg_finish_decompress(&m_cinfo);
    } catch (const std::exception&) {
      m_failed = true;
    }
    return !m_failed;
  }

 private:
  std::unique_ptr<JpegInput> m_input;
  // Zeroed, so destroying it is safe even when creation itself failed.
  jpeg_decompress_struct m_cinfo{};
  jpeg_error_mgr m_err{};
  jpeg_progress_mgr m_progress{};
  // The next `count` rows, as blue-green-red rows or as grey levels.
  bool Read(uint8_t* rows, size_t stride, int32_t count, bool levels) {
    if (m_failed) return false;
    try {
      for (int32_t i = 0; i < count; ++i) {
        uint8_t* row = rows + stride * static_cast<size_t>(i);
        if (m_cinfo.output_scanline >= m_cinfo.output_height ||
            !(levels ? m_rows->ReadLevels(m_cinfo, row) : m_rows->ReadRow(m_cinfo, row))) {
          m_failed = true;
        }
        if (m_failed) return false;
      }
    } catch (const std::exception&) {
      m_failed = true;  // CJPEGException, or no memory
    }
    return !m_failed;
  }

  std::optional<RowDecoder> m_rows;
  bool m_failed = false;
};

}  // namespace

void LimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
    throw CJPEGException(kTooManyScansCode, "Too many scans in the JPEG file");
  }
}

jpeg_error_mgr* InitErrorManager(jpeg_error_mgr& err) {
  jpeg_std_error(&err);
  err.error_exit = ThrowLibraryError;
  err.output_message = DropMessage;
  return &err;
}

void AttachSource(j_decompress_ptr cinfo, JpegInput& input) {
  if (cinfo->src == nullptr) {
    auto* src = static_cast<SourceManager*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(SourceManager)));
    src->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kSourceBufferSize));
    cinfo->src = &src->pub;
  }
  SourceManager* src = Source(cinfo);
  src->pub.init_source = InitSource;
  src->pub.fill_input_buffer = FillInputBuffer;
  src->pub.skip_input_data = SkipInputData;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = TermSource;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  src->input = &input;
  src->startOfFile = true;
}

namespace {

// A decompressor reading `input`, with our error manager and scan limit,
// handed to `steps` (which returns true on success); the image is cleared
// on failure. 1 or 0; never throws.
int RunDecoder(JpegInput& input, DibImage& image,
               const std::function<bool(jpeg_decompress_struct&)>& steps) {
  // Zeroed, so destroying it is safe even when creation itself failed.
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  progress.progress_monitor = LimitScans;
  cinfo.err = InitErrorManager(err);
  bool ok = false;
  try {
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    AttachSource(&cinfo, input);
    ok = steps(cinfo);
  } catch (const std::exception&) {
    ok = false;  // CJPEGException, or no memory for the row buffer
  }
  jpeg_destroy_decompress(&cinfo);
  if (!ok) image.Clear();  // a half-decoded picture is of no use to anyone
  return ok ? 1 : 0;
}

}  // namespace

int ReadJpegStream(JpegInput& input, DibImage& image, int* greySource) {
  if (greySource != nullptr) *greySource = 0;
  return RunDecoder(input, image, [&](jpeg_decompress_struct& cinfo) {
    return Decode(cinfo, input.Size(), image, greySource);
  });
}

int ReadJpegStreamReduced(JpegInput& input, const std::function<int(JpegSize)>& choose,
                          DibImage& image, int* greySource, JpegSize* fullSize) {
  if (greySource != nullptr) *greySource = 0;
  JpegSize full;
  const int ok = RunDecoder(input, image, [&](jpeg_decompress_struct& cinfo) {
    return DecodeReduced(cinfo, input.Size(), choose, image, greySource, full);
  });
  if (fullSize != nullptr) *fullSize = ok ? full : JpegSize{};
  return ok;
}

}  // namespace jpeg_detail

int ReadJpegFile(FileProbe& file, DibImage& image, int* greySource) {
  jpeg_detail::FileInput input(file);
  if (!input.IsOpen()) return 0;
  return jpeg_detail::ReadJpegStream(input, image, greySource);
}

int ReadJpegFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadJpegFile(file, image, greySource);
}

bool ReadJpegSize(const std::filesystem::path& path, JpegSize& size) {
  FileProbe file(path);
  return ReadJpegSize(file, size);
}

bool ReadJpegSize(FileProbe& file, JpegSize& size) {
  size = {};
  jpeg_detail::FileInput input(file);
  if (!input.IsOpen()) return false;
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_detail::InitErrorManager(err);
  bool ok = false;
  try {
    jpeg_create_decompress(&cinfo);
    jpeg_detail::AttachSource(&cinfo, input);
    jpeg_read_header(&cinfo, TRUE);
    size = {static_cast<int32_t>(cinfo.image_width), static_cast<int32_t>(cinfo.image_height)};
    ok = size.width > 0 && size.height > 0;
  } catch (const std::exception&) {
    ok = false;
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

int ReadJpegFileReduced(const std::filesystem::path& path, int denominator, DibImage& image,
                        int* greySource, JpegSize* fullSize) {
  FileProbe file(path);
  return ReadJpegFileReduced(file, denominator, image, greySource, fullSize);
}

int ReadJpegFileReduced(FileProbe& file, int denominator, DibImage& image, int* greySource,
                        JpegSize* fullSize) {
  if (greySource != nullptr) *greySource = 0;
  if (fullSize != nullptr) *fullSize = {};
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) return 0;
  jpeg_detail::FileInput input(file);
  if (!input.IsOpen()) return 0;
  return jpeg_detail::ReadJpegStreamReduced(
      input, [denominator](JpegSize) { return denominator; }, image, greySource, fullSize);
}

int ReadJpegMemoryReduced(const uint8_t* data, size_t size, int denominator, DibImage& image,
                          int* greySource) {
  if (greySource != nullptr) *greySource = 0;
  if (data == nullptr || size < 10) return 0;
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) return 0;
  jpeg_detail::MemoryInput input(data, size);
  return jpeg_detail::ReadJpegStreamReduced(
      input, [denominator](JpegSize) { return denominator; }, image, greySource, nullptr);
}

std::unique_ptr<PageRowReader> OpenJpegRowReader(FileProbe& file) {
  auto input = std::make_unique<jpeg_detail::FileInput>(file);
  if (!input->IsOpen()) return nullptr;
  auto reader = std::make_unique<jpeg_detail::JpegRowReader>(std::move(input));
  if (!reader->Open()) return nullptr;
  return reader;
}

std::unique_ptr<PageRowReader> OpenJpegRowReaderMemory(const uint8_t* data, size_t size) {
  // What ReadJpegMemory refuses before it reads.
  if (data == nullptr || size < 10) return nullptr;
  auto reader = std::make_unique<jpeg_detail::JpegRowReader>(
      std::make_unique<jpeg_detail::MemoryInput>(data, size));
  if (!reader->Open()) return nullptr;
  return reader;
}

int ReadJpegMemory(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  if (data == nullptr || size < 10) return 0;
  jpeg_detail::MemoryInput input(data, size);
  return jpeg_detail::ReadJpegStream(input, image, greySource);
}

}  // namespace inkbrite
