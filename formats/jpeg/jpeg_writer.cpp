// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG encoding of a 24-bit image, colour or one-component grey: the whole
// page, or a band of rows at a time, through the same encoder.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "core/colour.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_pvt.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

// The encoder's destination in memory: a vector that grows as the library
// fills it (a failure to grow leaves through the library as bad_alloc),
// starting from the capacity it has (a caller that knows about how large
// the file becomes reserves that, and no copy is made).
struct VectorDestination {
  jpeg_destination_mgr pub{};
  std::vector<uint8_t>* out = nullptr;

  static VectorDestination& Of(j_compress_ptr cinfo) {
    return *reinterpret_cast<VectorDestination*>(cinfo->dest);
  }
  static void Init(j_compress_ptr cinfo) {
    VectorDestination& d = Of(cinfo);
    d.out->resize(std::max(d.out->capacity(), size_t{1} << 16));
    d.pub.next_output_byte = d.out->data();
    d.pub.free_in_buffer = d.out->size();
  }
  static boolean Grow(j_compress_ptr cinfo) {
    // Called with the whole buffer full.
    VectorDestination& d = Of(cinfo);
    const size_t used = d.out->size();
    d.out->resize(used + used / 2);
    d.pub.next_output_byte = d.out->data() + used;
    d.pub.free_in_buffer = d.out->size() - used;
    return TRUE;
  }
  static void Term(j_compress_ptr cinfo) {
    VectorDestination& d = Of(cinfo);
    d.out->resize(d.out->size() - d.pub.free_in_buffer);
  }
};
static_assert(offsetof(VectorDestination, pub) == 0);

// One file being encoded (or its bytes, into memory). Library errors leave as CJPEGException; the
// owner then calls Abandon.
class JpegEncoder {
 public:
  explicit JpegEncoder(const std::filesystem::path& path) : m_writer(std::in_place, path) {}
  explicit JpegEncoder(std::vector<uint8_t>& out) : m_out(&out) {}
  ~JpegEncoder() { jpeg_destroy_compress(&m_cinfo); }
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  bool OpenFile() { return !m_writer || m_writer->Open(); }

  void Start(int32_t width, int32_t height, int quality, bool grey) {
    // A grey file is one component of the levels Greyscale gives, made a
    // row at a time.
    if (grey) m_greyRow.resize(static_cast<size_t>(width));
    m_width = width;
    m_cinfo.err = jpeg_detail::InitErrorManager(m_err);
    jpeg_create_compress(&m_cinfo);
    if (m_writer) {
      jpeg_stdio_dest(&m_cinfo, m_writer->Stream());
    } else {
      m_out->clear();
      m_memory.out = m_out;
      m_memory.pub.init_destination = VectorDestination::Init;
      m_memory.pub.empty_output_buffer = VectorDestination::Grow;
      m_memory.pub.term_destination = VectorDestination::Term;
      m_cinfo.dest = &m_memory.pub;
    }
    m_cinfo.image_width = static_cast<JDIMENSION>(width);
    m_cinfo.image_height = static_cast<JDIMENSION>(height);
    // Colour rows go to the library as they are stored: blue-green-red.
    m_cinfo.input_components = grey ? 1 : 3;
    m_cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    // Defaults: JFIF 1.01 header with density 1 x 1 and no unit, YCbCr,
    // 4:2:0 chroma, no restart interval, sequential.
    jpeg_set_defaults(&m_cinfo);
    m_cinfo.optimize_coding = TRUE;
    m_cinfo.dct_method = JDCT_FLOAT;
    // Quality 0 acts as 1, above 100 as 100. Baseline is not forced: below
    // quality 25 some quantisers exceed 255 and the file is extended
    // sequential.
    jpeg_set_quality(&m_cinfo, quality, FALSE);
    jpeg_start_compress(&m_cinfo, TRUE);
  }

  // The next row, width * 3 bytes of blue-green-red.
  void WriteRow(const uint8_t* pixels) {
    if (!m_greyRow.empty()) {
      GreyLevelsRow(pixels, m_greyRow.data(), m_width);
      pixels = m_greyRow.data();
    }
    // The library only reads the row.
    JSAMPROW row = const_cast<JSAMPROW>(pixels);
    jpeg_write_scanlines(&m_cinfo, &row, 1);
  }

  // The next row of a grey file as its levels (width bytes).
  void WriteLevels(const uint8_t* levels) {
    // The library only reads the row.
    JSAMPROW row = const_cast<JSAMPROW>(levels);
    jpeg_write_scanlines(&m_cinfo, &row, 1);
  }
  bool Grey() const { return !m_greyRow.empty(); }

  bool AllRowsWritten() const { return m_cinfo.next_scanline >= m_cinfo.image_height; }

  bool Finish() {
    jpeg_finish_compress(&m_cinfo);
    if (m_writer) return m_writer->Commit();
    return true;
  }

  // After an error: the half-written file goes, any previous file stays.
  void Abandon() {
    jpeg_abort_compress(&m_cinfo);
    if (m_writer) m_writer->Discard();
    if (m_out != nullptr) m_out->clear();
  }

 private:
  std::optional<SafeFileWriter> m_writer;  // none: into memory
  std::vector<uint8_t>* m_out = nullptr;   // the bytes (complete once finished)
  VectorDestination m_memory;
  // Zeroed, so destroying it is safe even when creation never happened.
  jpeg_compress_struct m_cinfo{};
  jpeg_error_mgr m_err{};
  std::vector<uint8_t> m_greyRow;
  int32_t m_width = 0;
};

class JpegRowWriter final : public PageRowWriter {
 public:
  explicit JpegRowWriter(const std::filesystem::path& path) : m_encoder(path) {}
  explicit JpegRowWriter(std::vector<uint8_t>& out) : m_encoder(out) {}
  ~JpegRowWriter() override {
    if (!m_done) m_encoder.Abandon();
  }
  JpegRowWriter(const JpegRowWriter&) = delete;
  JpegRowWriter& operator=(const JpegRowWriter&) = delete;

  bool Open(int32_t width, int32_t height, int colourMode, int quality) {
    if (!m_encoder.OpenFile()) return false;
    return Guarded([&] { m_encoder.Start(width, height, quality, colourMode != 0); });
  }

  bool WriteRows(const uint8_t* rows, size_t stride, int32_t count) override {
    return Guarded([&] {
      for (int32_t i = 0; i < count && !m_encoder.AllRowsWritten(); ++i) {
        m_encoder.WriteRow(rows + stride * static_cast<size_t>(i));
      }
    });
  }

  // A grey file's levels go to the library as they are: the levels of a
  // pixel (v, v, v) are v.
  bool TakesGreyRows() const override { return m_encoder.Grey(); }
  bool WriteGreyRows(const uint8_t* rows, size_t stride, int32_t count) override {
    if (!m_encoder.Grey()) return false;
    return Guarded([&] {
      for (int32_t i = 0; i < count && !m_encoder.AllRowsWritten(); ++i) {
        m_encoder.WriteLevels(rows + stride * static_cast<size_t>(i));
      }
    });
  }

  bool Commit() override {
    bool committed = false;
    if (!m_failed && m_encoder.AllRowsWritten() &&
        Guarded([&] { committed = m_encoder.Finish(); })) {
      m_done = true;
    }
    return committed;
  }

 private:
  // Runs `step`; a library error (or no memory) fails the file for good.
  template <typename Step>
  bool Guarded(Step step) {
    if (m_failed) return false;
    try {
      step();
    } catch (const std::exception&) {
      m_failed = true;
    }
    return !m_failed;
  }

  JpegEncoder m_encoder;
  bool m_failed = false;
  bool m_done = false;
};

}  // namespace

int WriteJpegFile(const std::filesystem::path& path, const DibImage& image, int quality, int grey) {
  if (!image.Is24Bit()) return 0;
  JpegEncoder encoder(path);
  if (!encoder.OpenFile()) return 0;
  bool committed = false;
  try {
    encoder.Start(image.Width(), image.Height(), quality, grey != 0);
    for (int32_t y = 0; y < image.Height(); ++y) encoder.WriteRow(image.Row(y));
    committed = encoder.Finish();
  } catch (...) {
    // The caller gets the library's error; the half-written file goes and
    // any previous file stays as it was.
    encoder.Abandon();
    throw;
  }
  return committed ? 1 : 0;
}

int WriteJpegPage(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality) {
  try {
    return WriteJpegFile(path, image, quality, colourMode);
  } catch (const CJPEGException&) {
    return 0;
  }
}

std::unique_ptr<PageRowWriter> OpenJpegRowWriter(const std::filesystem::path& path, int32_t width,
                                                 int32_t height, int colourMode, int quality) {
  auto writer = std::make_unique<JpegRowWriter>(path);
  if (!writer->Open(width, height, colourMode, quality)) return nullptr;
  return writer;
}

std::unique_ptr<PageRowWriter> OpenJpegRowWriterMemory(std::vector<uint8_t>& out, int32_t width,
                                                       int32_t height, int colourMode,
                                                       int quality) {
  auto writer = std::make_unique<JpegRowWriter>(out);
  if (!writer->Open(width, height, colourMode, quality)) return nullptr;
  return writer;
}

}  // namespace inkbrite
