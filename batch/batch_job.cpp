#include "batch/batch_job.h"

#include <climits>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>

#include "core/enhance.h"
#include "formats/detect.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Units of a converted file besides the read: 9 pipeline stages, the
// reduction step and the save step.
constexpr int kUnitsAfterRead = 11;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Colour-reduced pages can only be written as BMP, PNG or TIFF.
bool ExtensionTakesReducedPages(std::string_view ext) {
  return EqualsNoCase(ext, ".png") || EqualsNoCase(ext, ".bmp") || EqualsNoCase(ext, ".tif");
}

// Same folder on disk. Equal texts count as the same folder even when it is
// missing (the count then finds nothing); otherwise folders are compared by
// identity, so "dir", "dir/" and a link to it are one folder.
bool IsSameFolder(const fs::path& a, const fs::path& b) {
  if (a.native() == b.native()) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// A folder path with a trailing separator, as the relative paths below it
// are cut from it.
fs::path WithTrailingSeparator(fs::path dir) {
  if (!dir.native().empty() && dir.native().back() != '/') dir += "/";
  return dir;
}

// Longest path and name the file system takes.
bool PathFits(const fs::path& p) {
  return p.native().size() < PATH_MAX && p.filename().native().size() <= NAME_MAX;
}

// "name.ext", "name (2).ext", "name (3).ext", ...: the first name not taken
// in the folder; empty when every try is taken.
fs::path FreeName(const fs::path& wanted) {
  std::error_code ec;
  if (!fs::exists(wanted, ec) && !ec) return wanted;
  const std::string stem = wanted.stem().native();
  const std::string ext = wanted.extension().native();
  for (int n = 2; n < 10000; ++n) {
    fs::path candidate = wanted.parent_path() / (stem + " (" + std::to_string(n) + ")" + ext);
    if (!fs::exists(candidate, ec) && !ec) return candidate;
  }
  return {};
}

// Copies `source` byte for byte to `target` through a SafeFileWriter.
bool CopyFileSafely(const fs::path& source, const fs::path& target) {
  std::FILE* in = std::fopen(source.c_str(), "rb");
  if (in == nullptr) return false;
  SafeFileWriter writer(target);
  bool ok = writer.Open();
  char buffer[65536];
  while (ok) {
    size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got > 0) ok = writer.Write(buffer, got);
    if (got < sizeof buffer) {
      ok = ok && !std::ferror(in);
      break;
    }
  }
  std::fclose(in);
  if (!ok) {
    writer.Discard();
    return false;
  }
  return writer.Commit();
}

}  // namespace

std::string BatchSummaryText(int total, int converted) {
  return std::to_string(total) + "个文件需要转换，\n" + std::to_string(converted) +
         "个文件转换成功。";
}

CBatchJob::CBatchJob() = default;

CBatchJob::~CBatchJob() {
  // A run unwound by an exception keeps the failures recorded so far.
  if (m_record) m_record->Commit();
}

bool CBatchJob::StopCheck() {
  if (m_host->PumpAndCheckStop()) {
    RequestStop();
    return true;
  }
  return false;
}

void CBatchJob::RecordLine(std::string_view prefix, const fs::path& path) {
  if (!m_record) return;
  // A line that cannot be written is lost; the run goes on.
  std::string line(prefix);
  line += path.native();
  line += '\n';
  m_record->Write(line.data(), line.size());
}

void CBatchJob::Run(BatchHost& host, const BatchSettings& settings,
                    const BatchSelection* selection) {
  // 1. A fresh run.
  m_host = &host;
  m_settings = &settings;
  m_params = settings.params ? settings.params : &AppParams();
  m_success = 0;
  m_total = 0;
  m_source.clear();
  m_target.clear();
  m_sameFolder = false;
  m_record.reset();

  // 2 to 4. Folders and lists.
  m_source = selection ? selection->folder : settings.sourceDir;
  if (m_source.empty()) {
    host.ShowMessage(kBatchNoSourceMessage, MessageKind::kOk);
    return;
  }
  m_target = settings.targetDir;
  if (m_target.empty()) {
    host.ShowMessage(kBatchNoTargetMessage, MessageKind::kOk);
    return;
  }

  // 5. Reduced pages need a palette format.
  if (!ExtensionTakesReducedPages(settings.newExtension) && settings.colourMode > 2) {
    host.ShowMessage(kBatchReducedNeedsPngMessage, MessageKind::kOk);
    return;
  }

  // 6. Same folder, judged by identity (see the header).
  if (IsSameFolder(m_source, m_target)) {
    m_sameFolder = true;
    if (host.ShowMessage(kBatchSameFolderQuestion, MessageKind::kYesNo) != MessageAnswer::kYes) {
      return;
    }
  }
  const fs::path excluded = m_sameFolder ? fs::path() : m_target;

  // 7, 8. Count.
  host.SetStatus(StatusLine::kOperation, kBatchCounting);
  bool countStopped = false;
  if (selection) {
    m_total = static_cast<int>(selection->files.size());
  } else {
    CSrchDirCounter counter;
    m_total = static_cast<int>(counter.Count(m_source, settings.patterns, settings.includeSubdirs,
                                             excluded, [this] { return m_host->PumpAndCheckStop(); }));
    countStopped = counter.Stopped();
  }
  if (m_total == 0) {
    host.SetStatus(StatusLine::kOperation, "");
    if (!countStopped) host.ShowMessage(kBatchNoFilesMessage, MessageKind::kOk);
    return;
  }

  // 9, 10. Settings of the conversion.
  m_source = WithTrailingSeparator(m_source);
  m_target = WithTrailingSeparator(m_target);
  m_effectiveMode = settings.colourMode;
  m_steps = settings.resizePercent != 100 ? 13 : 12;

  // 11. Progress range.
  const int range = (m_total + 1) * m_steps;
  host.SetProgressRange(range);

  // 12. The record; without it the run goes on unrecorded.
  const fs::path recordPath =
      settings.recordPath.empty() ? ProgramFilePath("_Rcd.txt") : settings.recordPath;
  if (!recordPath.empty()) {
    m_record = std::make_unique<SafeFileWriter>(recordPath);
    if (!m_record->Open()) m_record.reset();
  }

  // 13, 14. Convert.
  Init(settings.patterns, settings.includeSubdirs, excluded);
  if (selection) {
    for (const fs::path& file : selection->files) {
      if (Stopped()) break;
      OnFileFound(file, FindData{});
    }
  } else {
    Search(m_source);
  }

  // 15, 16.
  const bool stopped = Stopped();
  if (!stopped) host.SetProgressPosition(range);
  if (m_record) {
    m_record->Commit();
    m_record.reset();
  }

  // 17. Summary.
  std::string summary = BatchSummaryText(m_total, m_success);
  if (stopped) {
    summary += kBatchStoppedSuffix;
    host.ShowMessage(summary, MessageKind::kOk);
  } else if (m_success == m_total) {
    host.ShowMessage(summary, MessageKind::kOk);
  } else {
    summary += kBatchShowRecordQuestion;
    if (host.ShowMessage(summary, MessageKind::kYesNo) == MessageAnswer::kYes) {
      host.OpenWithShell(recordPath);
    }
  }

  // 18.
  host.SetStatus(StatusLine::kCurrentFile, "");
  host.SetStatus(StatusLine::kOperation, "");
  host.SetProgressPosition(0);
}

void CBatchJob::OnFileFound(const fs::path& fullPath, const FindData& /*find*/) {
  ConvertFile(fullPath);
}

fs::path CBatchJob::TargetPathFor(const fs::path& source) const {
  // The part below the source folder is kept, subfolders included. A picked
  // file outside the selection's folder keeps only its name.
  fs::path relative = source.lexically_relative(m_source);
  if (relative.empty() || *relative.begin() == "..") relative = source.filename();
  fs::path target = m_target / relative;
  // The extension of the name only: a dot in a folder name is not cut.
  target.replace_extension(m_settings->newExtension);
  return target;
}

void CBatchJob::ConvertFile(const fs::path& source) {
  // 1, 2.
  if (StopCheck()) return;
  m_host->SetStatus(StatusLine::kCurrentFile, source.native());
  m_host->SetStatus(StatusLine::kOperation, kBatchReading);

  // 3. Read. A reader that throws (out of memory) fails the file alone.
  DibImage image;
  int greySource = 0;
  int loaded = 0;
  try {
    loaded = LoadImageFile(source, image, &greySource);
  } catch (const std::exception&) {
    loaded = 0;
  }
  if (!loaded) {
    m_host->AdvanceProgress(m_steps);
    RecordLine(kBatchReadFailed, source);
    return;
  }

  // 4. "Keep as is" is judged for each file.
  const int chosen = m_settings->colourMode;
  m_effectiveMode = chosen == 2 ? (greySource ? 1 : 0) : chosen;

  // 5.
  m_host->AdvanceProgress(1);
  if (StopCheck()) return;

  // 6. A target path the file system cannot take fails this file.
  const fs::path target = TargetPathFor(source);
  if (!PathFits(target)) {
    m_host->AdvanceProgress(kUnitsAfterRead);
    RecordLine(kBatchWriteFailed, target);
    return;
  }

  // 7. Missing folders; a failure shows when the file is written.
  std::error_code ec;
  if (!m_sameFolder) fs::create_directories(target.parent_path(), ec);

  // 8, 9. An existing read-only target is overwritten all the same.
  if (fs::exists(target, ec)) {
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
  }

  // 10. Colour pages under "skip colour" are copied unchanged.
  if (m_settings->skipColour && !image.IsGrey()) {
    image.Clear();
    if (m_sameFolder) {
      ++m_success;  // left untouched, as asked
    } else {
      m_host->SetStatus(StatusLine::kOperation, kBatchCopying);
      fs::path copyTarget = target;
      copyTarget.replace_extension(source.extension());
      CopyColourFile(source, copyTarget);
    }
    m_host->AdvanceProgress(kUnitsAfterRead);
    return;
  }

  try {
    // 11. The pipeline in batch mode: one unit and one stop check a stage.
    EnhanceHooks hooks;
    hooks.progress = [this] { m_host->AdvanceProgress(1); };
    hooks.abortCheck = [this] { return StopCheck() ? 1 : 0; };
    hooks.status = [this](std::string_view stage) {
      m_host->SetStatus(StatusLine::kOperation, stage);
    };
    if (EnhanceImage(*m_params, image, hooks) != 0 || StopCheck()) return;

    // 12, 13. Reduced modes.
    m_host->SetStatus(StatusLine::kOperation, kBatchReducing);
    if (m_effectiveMode > 2) {
      const ImageFormat format = DetectImageFormat(target, false);
      ColourReduction reduction{};
      if ((format == kFormatBmp || format == kFormatPng || format == kFormatTiff) &&
          ReductionForColourMode(m_effectiveMode, reduction) &&
          ReduceColoursAndSave(image, reduction.grey, reduction.bits, reduction.colours, target)) {
        ++m_success;
      } else {
        RecordLine(kBatchWriteFailed, target);
      }
    }
    m_host->AdvanceProgress(1);

    // 14, 15. Colour, black-and-white.
    if (m_effectiveMode <= 2) {
      m_host->SetStatus(StatusLine::kOperation, kBatchSaving);
      // Black-and-white pages are written grey in every format, not only in
      // those whose writer greys by itself.
      if (m_effectiveMode == 1) image.Greyscale();
      if (SaveImageFile(target, image, m_effectiveMode == 1 ? 1 : 0, m_settings->jpegQuality)) {
        ++m_success;
      } else {
        RecordLine(kBatchWriteFailed, target);
      }
    }
    m_host->AdvanceProgress(1);
  } catch (const std::exception&) {
    // A writer's library error (or lack of memory) fails this file only; the
    // written-through-a-temporary rule has left any previous file whole.
    RecordLine(kBatchWriteFailed, target);
  }
}

void CBatchJob::CopyColourFile(const fs::path& source, const fs::path& wanted) {
  // The copy never replaces a file: a taken name gets " (2)", " (3)", ...
  const fs::path copyTarget = FreeName(wanted);
  // A failed copy is a failed file, not a success.
  if (!copyTarget.empty() && PathFits(copyTarget) && CopyFileSafely(source, copyTarget)) {
    ++m_success;
  } else {
    RecordLine(kBatchWriteFailed, copyTarget.empty() ? wanted : copyTarget);
  }
}

}  // namespace inkbrite
