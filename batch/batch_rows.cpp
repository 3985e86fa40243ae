// SPDX-License-Identifier: GPL-2.0-or-later
// The batch job's row-by-row conversion: a page whose steps all work on a
// window of rows (core/enhance_rows.h), read and written by formats that
// stream (formats/page_rows.h), goes from the decoder to the encoder a band
// of rows at a time and never waits whole in memory.
//
// The file written is the one the whole-page conversion writes, byte for
// byte, and the host sees the same status lines, progress units and stop
// checks in the same order: they are those of EnhanceImage's own run on an
// empty page (every operation leaves an empty page alone), with the page's
// rows converted in as many parts as that run makes stop checks, one part
// before each. Where the outcome could differ, the file goes the whole-page
// way instead, before anything is written:
// - a format without a row reader or writer, a file whose header does not
//   read, a colour-reducing mode (the quantiser needs the whole page), the
//   skip-colour option (it looks at every pixel first), a run that reports
//   what the automatic steps found;
// - a target folder still to be made (an unreadable page must leave no new
//   folder behind) or a target name this run has written (the whole-page way
//   tells a read failure from a name clash);
// - a target file that cannot be started.
// Once rows flow, a decoding error fails the file as unreadable, whatever the
// encoder did: a failed encoder only stops writing, the decoding goes on to
// the end so that a file that is also damaged is still reported unreadable.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "batch/batch_job.h"
#include "batch/batch_job_pvt.h"
#include "core/auto_steps.h"
#include "core/enhance.h"
#include "core/enhance_rows.h"
#include "formats/file_probe.h"
#include "formats/page_rows.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Rows decoded at a time: a band of the JPEG decoder's largest unit.
constexpr int32_t kBandRows = 16;

// The page's rows from the reader, through the pipeline, to the writer. A
// grey page written grey goes as grey levels, one byte a pixel, from the
// decoder to the encoder: the same bytes at a third of the work.
class RowStream {
 public:
  RowStream(PageRowReader& reader, PageRowWriter& writer, const EnhanceSettings& params, bool grey)
      : m_reader(reader),
        m_writer(writer),
        m_grey(grey && reader.ReadsGrey() && writer.TakesGreyRows()),
        m_rowBytes(static_cast<size_t>(reader.Width()) * (m_grey ? 1 : 3)),
        m_band(m_rowBytes * kBandRows),
        m_pipeline(
            params, reader.Width(), reader.Height(), [this](const uint8_t* row) { Write(row); },
            m_grey ? RowPixels::kGrey : RowPixels::kColour) {}

  // Decodes and converts the rows up to `rows` (not included). False on a
  // decoding error.
  bool ReadUntil(int64_t rows) {
    while (m_read < rows) {
      const auto count = static_cast<int32_t>(std::min<int64_t>(kBandRows, rows - m_read));
      if (!(m_grey ? m_reader.ReadGreyRows(m_band.data(), m_rowBytes, count)
                   : m_reader.ReadRows(m_band.data(), m_rowBytes, count))) {
        return false;
      }
      for (int32_t i = 0; i < count; ++i) m_pipeline.Push(m_band.data() + m_rowBytes * i);
      m_read += count;
    }
    if (m_read == m_reader.Height() && !m_flushed) {
      m_pipeline.Finish();
      m_flushed = true;
    }
    return true;
  }

  // Every row decoded and the end of the file read without an error.
  bool ReadWhole() { return m_flushed && m_reader.Finish(); }
  // Every row encoded.
  bool Written() const { return m_writing; }

 private:
  void Write(const uint8_t* row) {
    if (m_writing && !(m_grey ? m_writer.WriteGreyRows(row, m_rowBytes, 1)
                              : m_writer.WriteRows(row, m_rowBytes, 1))) {
      m_writing = false;
    }
  }

  PageRowReader& m_reader;
  PageRowWriter& m_writer;
  bool m_grey;
  size_t m_rowBytes;
  std::vector<uint8_t> m_band;
  RowEnhancer m_pipeline;
  int64_t m_read = 0;
  bool m_flushed = false;
  bool m_writing = true;
};

// The stop checks of EnhanceImage's batch-mode run with these parameters.
int CountStopChecks(const EnhanceSettings& params) {
  int checks = 0;
  EnhanceHooks hooks;
  hooks.mode = EnhanceMode::kBatch;
  hooks.abortCheck = [&checks] {
    ++checks;
    return 0;
  };
  DibImage none;
  EnhanceImage(params, none, hooks);
  return checks;
}

// How running the pipeline over the rows ended.
enum class RowsRun { kDone, kUnreadable, kStopped };

// Runs the pipeline's steps over the rows, the page never whole: `hooks`
// show the stages and count the units, and each abort check first reads the
// next part of the page through the stream, then asks `stop`.
RowsRun RunOverRows(RowStream& stream, const EnhanceSettings& params, int64_t height,
                    EnhanceHooks hooks, const std::function<bool()>& stop) {
  const int parts = std::max(1, CountStopChecks(params));
  int part = 0;
  bool unreadable = false;
  hooks.abortCheck = [&]() -> int {
    part = std::min(part + 1, parts);
    if (!stream.ReadUntil(height * part / parts)) {
      unreadable = true;
      return 1;
    }
    return stop() ? 1 : 0;
  };
  DibImage none;
  const int stopped = EnhanceImage(params, none, hooks);
  if (unreadable || (stopped == 0 && (!stream.ReadUntil(height) || !stream.ReadWhole()))) {
    return RowsRun::kUnreadable;
  }
  if (stopped != 0 || stop()) return RowsRun::kStopped;
  return RowsRun::kDone;
}

// An existing target is made writable for its owner, as the whole-page
// conversion does before it saves; Restore puts the permissions back when
// the file then turns out unreadable, or the run stops, and nothing was
// written.
class TargetPermissions {
 public:
  explicit TargetPermissions(const fs::path& target) : m_target(target) {
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (ec || !fs::is_regular_file(status)) return;
    m_old = status.permissions();
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
  }
  void Restore() {
    if (!m_old) return;
    std::error_code ec;
    fs::permissions(m_target, *m_old, fs::perm_options::replace, ec);
  }

 private:
  fs::path m_target;
  std::optional<fs::perms> m_old;
};

}  // namespace

bool batch_detail::KeepsGreyPages(const fs::path& target, const BatchSettings& settings,
                                  const EnhanceSettings& params) {
  const AutoSteps automatic = ReadAutoSteps(params);
  return settings.greyLevels && !settings.reportFindings && settings.stripCut == 0 &&
         !automatic.AnySourceStep() && !automatic.levels &&
         SavesGreyLevels(target, ResolveKeepAsIs(settings.colourMode, true));
}

bool batch_detail::LoadGreyPage(FileProbe& source, const fs::path& target,
                                const BatchSettings& settings, const EnhanceSettings& params,
                                DibImage& image) {
  if (!KeepsGreyPages(target, settings, params)) return false;
  std::unique_ptr<PageRowReader> reader = OpenPageRowReader(source);
  return reader != nullptr && LoadGreyLevels(*reader, image);
}

bool batch_detail::LoadGreyPageMemory(const std::vector<uint8_t>& bytes, std::string_view name,
                                      const fs::path& target, const BatchSettings& settings,
                                      const EnhanceSettings& params, DibImage& image) {
  if (!KeepsGreyPages(target, settings, params)) return false;
  std::unique_ptr<PageRowReader> reader = OpenPageRowReaderMemory(bytes.data(), bytes.size(), name);
  return reader != nullptr && LoadGreyLevels(*reader, image);
}

bool CBatchJob::ConvertsByRows() const {
  return m_settings->rowByRow && !m_settings->skipColour && !m_settings->reportFindings &&
         m_settings->stripCut == 0 && EnhancesRowByRow(m_enhance);
}

std::optional<CBatchJob::FileOutcome> CBatchJob::ConvertByRows(FileProbe& file,
                                                               FileProgress& progress) {
  using Outcome = FileOutcome;
  if (!ConvertsByRows()) return std::nullopt;
  const fs::path& source = file.Path();
  const fs::path target = BatchTargetPath(source, m_source, m_target, m_settings->newExtension);
  std::error_code ec;
  if (!batch_detail::PathFits(target) || !fs::is_directory(target.parent_path(), ec) ||
      (WrittenByThisRun(target) && !batch_detail::IsSameFile(source, target))) {
    return std::nullopt;
  }
  ReadNotes notes;
  std::unique_ptr<PageRowReader> reader = OpenPageRowReader(file);
  if (reader == nullptr) return std::nullopt;
  // "Keep as is" is judged for each file.
  const int mode = ResolveKeepAsIs(m_settings->colourMode, reader->GreySource());
  if (IsReducedMode(mode)) return std::nullopt;

  PrepareFolder(target.parent_path());
  TargetPermissions permissions(target);
  std::unique_ptr<PageRowWriter> writer =
      OpenPageRowWriter(target, reader->Width(), reader->Height(), mode == kGreyComic ? 1 : 0,
                        m_settings->jpegQuality);
  if (writer == nullptr) {
    permissions.Restore();
    return std::nullopt;
  }

  switch (StreamRows(*reader, *writer, progress)) {
    case RowsEnd::kWritten: break;
    case RowsEnd::kUnreadable:
    case RowsEnd::kOutOfMemory: {
      permissions.Restore();
      // Rows flowed: what stopped them is damage unless the decoder said.
      notes.NoteIfNone(ReadError::kDamaged);
      Outcome failed{Outcome::kReadFailed, source};
      failed.status = notes.Status();
      if (failed.status.error == ReadError::kOutOfMemory) failed.kind = Outcome::kOutOfMemory;
      return failed;
    }
    case RowsEnd::kStopped: permissions.Restore(); return Outcome{Outcome::kStopped, {}};
    case RowsEnd::kNotWritten: return Outcome{Outcome::kWriteFailed, target};
  }
  MarkWritten(target);
  return Outcome{Outcome::kConverted, target};
}

}  // namespace inkbrite

namespace inkbrite {

// The page's rows from the reader through the pipeline to the writer, with
// the units, status lines and stop checks of the whole-page conversion.
CBatchJob::RowsEnd CBatchJob::StreamRows(PageRowReader& reader, PageRowWriter& writer,
                                         FileProgress& progress) {
  // Units as the whole-page conversion counts them: the read, the
  // pipeline's, reduction and save.
  int units = 0;
  auto advance = [&](int count) {
    units += count;
    progress.Advance(count);
  };
  advance(1);
  // The whole-page way checks after the read and after its source stage
  // (which does nothing here: every automatic step is off).
  if (progress.Stop() || progress.Stop()) return RowsEnd::kStopped;
  try {
    RowStream stream(reader, writer, m_enhance, m_settings->greyLevels);
    EnhanceHooks hooks;
    hooks.mode = EnhanceMode::kBatch;
    hooks.status = [&progress](std::string_view stage) {
      progress.Status(StatusLine::kOperation, stage);
    };
    hooks.progress = [&advance] { advance(1); };
    const RowsRun run = RunOverRows(stream, m_enhance, reader.Height(), std::move(hooks),
                                    [&progress] { return progress.Stop(); });
    if (run == RowsRun::kUnreadable) {
      progress.Advance(m_steps - units);
      return RowsEnd::kUnreadable;
    }
    if (run == RowsRun::kStopped) return RowsEnd::kStopped;
    progress.Status(StatusLine::kOperation, EngineText(kBatchReducing));
    advance(1);
    progress.Status(StatusLine::kOperation, EngineText(kBatchSaving));
    const bool saved = stream.Written() && writer.Commit();
    advance(1);
    return saved ? RowsEnd::kWritten : RowsEnd::kNotWritten;
  } catch (const std::bad_alloc&) {
    // No memory for the rows: this file fails, the run goes on.
    NoteReadFailure(ReadError::kOutOfMemory);
    progress.Advance(m_steps - units);
    return RowsEnd::kOutOfMemory;
  } catch (const std::exception&) {
    return RowsEnd::kNotWritten;
  }
}

}  // namespace inkbrite
