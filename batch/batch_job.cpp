// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/batch_job.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "core/enhance.h"
#include "formats/detect.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Units of a converted file besides the read: 9 pipeline stages, the
// reduction step and the save step.
constexpr int kUnitsAfterRead = 11;

// Colour-reduced pages can only be written as BMP, PNG or TIFF.
bool ExtensionTakesReducedPages(std::string_view ext) {
  return EqualsIgnoringAsciiCase(ext, ".png") || EqualsIgnoringAsciiCase(ext, ".bmp") ||
         EqualsIgnoringAsciiCase(ext, ".tif");
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

// The name a file shares with every file it may touch: its folder and its
// name without the extension and without a trailing " (N)". A source, its
// target, the colour copy's free names "name (2).ext", ... and any source
// one of those would overwrite all map to one key.
std::string ChainKey(const fs::path& path) {
  std::string stem = path.stem().native();
  if (stem.size() > 3 && stem.back() == ')') {
    const size_t open = stem.rfind(" (");
    if (open != std::string::npos && open + 3 < stem.size() &&
        std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(open) + 2, stem.end() - 1,
                    [](char c) { return c >= '0' && c <= '9'; })) {
      stem.resize(open);
    }
  }
  return (path.parent_path() / stem).lexically_normal().native();
}

// Splits the files into chains of files sharing a key (union-find over the
// keys of each file's source and target). Each chain lists its files in walk
// order; chains are ordered by their first file.
std::vector<std::vector<size_t>> SplitIntoChains(const std::vector<fs::path>& sources,
                                                 const std::vector<fs::path>& targets) {
  const size_t n = sources.size();
  std::vector<size_t> parent(n);
  std::iota(parent.begin(), parent.end(), size_t{0});
  auto find = [&parent](size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  std::unordered_map<std::string, size_t> owner;
  for (size_t i = 0; i < n; ++i) {
    for (const fs::path* p : {&sources[i], &targets[i]}) {
      auto [it, fresh] = owner.try_emplace(ChainKey(*p), i);
      if (!fresh) {
        const size_t a = find(it->second), b = find(i);
        parent[std::max(a, b)] = std::min(a, b);  // the root is the earliest file
      }
    }
  }
  std::vector<std::vector<size_t>> chains;
  std::vector<size_t> chainOf(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t root = find(i);
    if (root == i) {
      chainOf[i] = chains.size();
      chains.emplace_back();
    }
    chains[chainOf[root]].push_back(i);
  }
  return chains;
}

// Lists the matching files in walk order.
class FileLister : public CSrchDir {
 public:
  std::vector<fs::path> files;

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& /*find*/) override {
    files.push_back(fullPath);
  }
};

}  // namespace

fs::path BatchTargetPath(const fs::path& source, const fs::path& sourceDir,
                         const fs::path& targetDir, std::string_view newExtension) {
  fs::path relative = source.lexically_relative(sourceDir);
  if (relative.empty() || *relative.begin() == "..") relative = source.filename();
  fs::path target = targetDir / relative;
  target.replace_extension(newExtension);
  return target;
}

bool IsSameBatchFolder(const fs::path& a, const fs::path& b) {
  // Equal texts count as the same folder even when it is missing.
  if (a.native() == b.native()) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// ---- progress of one file ----

class CBatchJob::FileProgress {
 public:
  virtual ~FileProgress() = default;
  virtual void Advance(int units) = 0;
  virtual void Status(StatusLine line, std::string_view text) = 0;
  // True when the run is to stop.
  virtual bool Stop() = 0;
};

class CBatchJob::HostProgress : public FileProgress {
 public:
  explicit HostProgress(CBatchJob& job) : m_job(job) {}
  void Advance(int units) override { m_job.m_host->AdvanceProgress(units); }
  void Status(StatusLine line, std::string_view text) override {
    m_job.m_host->SetStatus(line, text);
  }
  bool Stop() override { return m_job.StopCheck(); }

 private:
  CBatchJob& m_job;
};

// Shared between the workers and the host's thread of a run with workers.
class CBatchJob::WorkerProgress : public FileProgress {
 public:
  struct Shared {
    std::atomic<int> units{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;  // guards the texts below and `finished`
    std::condition_variable changed;
    std::vector<std::string> files;  // files started since the host last looked
    std::string operation;
    bool operationChanged = false;
    size_t finished = 0;  // files done (any outcome)
  };
  explicit WorkerProgress(Shared& shared) : m_shared(shared) {}
  void Advance(int units) override { m_shared.units.fetch_add(units, std::memory_order_relaxed); }
  void Status(StatusLine line, std::string_view text) override {
    std::lock_guard lock(m_shared.mutex);
    if (line == StatusLine::kCurrentFile) {
      m_shared.files.emplace_back(text);
    } else {
      m_shared.operation = text;
      m_shared.operationChanged = true;
    }
  }
  bool Stop() override { return m_shared.stop.load(std::memory_order_relaxed); }

 private:
  Shared& m_shared;
};

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
  if (!ExtensionTakesReducedPages(settings.newExtension) && IsReducedMode(settings.colourMode)) {
    host.ShowMessage(kBatchReducedNeedsPngMessage, MessageKind::kOk);
    return;
  }

  // 6. Same folder, judged by identity (see the header).
  if (IsSameBatchFolder(m_source, m_target)) {
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
    m_total =
        static_cast<int>(counter.Count(m_source, settings.patterns, settings.includeSubdirs,
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
  m_found = 0;
  Init(settings.patterns, settings.includeSubdirs, excluded);
  const int jobs = std::clamp(settings.jobs, 1, kMaxBatchJobs);
  if (jobs > 1) {
    // The same walk, taken as a list first (see the header).
    std::vector<fs::path> files;
    if (selection) {
      files = selection->files;
    } else {
      FileLister lister;
      lister.Init(settings.patterns, settings.includeSubdirs, excluded);
      lister.Search(m_source);
      files = std::move(lister.files);
    }
    m_found = static_cast<int>(files.size());
    ConvertWithWorkers(files, jobs);
  } else if (selection) {
    for (const fs::path& file : selection->files) {
      if (Stopped()) break;
      OnFileFound(file, FindData{});
    }
  } else {
    Search(m_source);
  }

  // 15, 16.
  const bool stopped = Stopped();
  // The total the summary and the record answer for is the files the
  // conversion was handed. A page removed between the count and the walk
  // would otherwise be reported as a failure that the record cannot name
  // ("8 to convert, 6 converted" with an empty record), and one added would
  // give more successes than files. A stopped run keeps the count: the files
  // it never reached are still to be converted.
  if (!stopped) m_total = m_found;
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
  ++m_found;
  ConvertFile(fullPath);
}

void CBatchJob::ConvertFile(const fs::path& source) {
  HostProgress progress(*this);
  ApplyOutcome(ConvertOne(source, progress));
}

void CBatchJob::ApplyOutcome(const FileOutcome& outcome) {
  switch (outcome.kind) {
    case FileOutcome::kConverted: ++m_success; break;
    case FileOutcome::kReadFailed: RecordLine(kBatchReadFailed, outcome.path); break;
    case FileOutcome::kWriteFailed: RecordLine(kBatchWriteFailed, outcome.path); break;
    case FileOutcome::kStopped: break;
  }
}

CBatchJob::FileOutcome CBatchJob::ConvertOne(const fs::path& source, FileProgress& progress) const {
  using Outcome = FileOutcome;
  // 1, 2.
  if (progress.Stop()) return {Outcome::kStopped, {}};
  progress.Status(StatusLine::kCurrentFile, source.native());
  progress.Status(StatusLine::kOperation, kBatchReading);

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
    progress.Advance(m_steps);
    return {Outcome::kReadFailed, source};
  }

  // 4. "Keep as is" is judged for each file.
  const int effectiveMode = ResolveKeepAsIs(m_settings->colourMode, greySource != 0);

  // 5.
  progress.Advance(1);
  if (progress.Stop()) return {Outcome::kStopped, {}};

  // 6. A target path the file system cannot take fails this file.
  const fs::path target = BatchTargetPath(source, m_source, m_target, m_settings->newExtension);
  if (!PathFits(target)) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kWriteFailed, target};
  }

  try {
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
      Outcome outcome{Outcome::kConverted, {}};  // same folder: left untouched, as asked
      if (!m_sameFolder) {
        progress.Status(StatusLine::kOperation, kBatchCopying);
        fs::path copyTarget = target;
        copyTarget.replace_extension(source.extension());
        outcome = CopyColourFile(source, copyTarget);
      }
      progress.Advance(kUnitsAfterRead);
      return outcome;
    }

    // 11. The pipeline in batch mode: one unit and one stop check a stage.
    EnhanceHooks hooks;
    hooks.progress = [&progress] { progress.Advance(1); };
    hooks.abortCheck = [&progress] { return progress.Stop() ? 1 : 0; };
    hooks.status = [&progress](std::string_view stage) {
      progress.Status(StatusLine::kOperation, stage);
    };
    if (EnhanceImage(*m_params, image, hooks) != 0 || progress.Stop()) {
      return {Outcome::kStopped, {}};
    }

    // 12, 13. Reduced modes.
    Outcome outcome{Outcome::kWriteFailed, target};
    progress.Status(StatusLine::kOperation, kBatchReducing);
    if (IsReducedMode(effectiveMode)) {
      const ImageFormat format = DetectImageFormat(target, false);
      ColourReduction reduction{};
      if ((format == kFormatBmp || format == kFormatPng || format == kFormatTiff) &&
          ReductionForColourMode(effectiveMode, reduction) &&
          ReduceColoursAndSave(image, reduction.grey, reduction.bits, reduction.colours, target)) {
        outcome = {Outcome::kConverted, {}};
      }
    }
    progress.Advance(1);

    // 14, 15. Colour, black-and-white.
    if (!IsReducedMode(effectiveMode)) {
      progress.Status(StatusLine::kOperation, kBatchSaving);
      // Black-and-white pages are written grey in every format, not only in
      // those whose writer greys by itself.
      if (effectiveMode == kGreyComic) image.Greyscale();
      if (SaveImageFile(target, image, effectiveMode == kGreyComic ? 1 : 0,
                        m_settings->jpegQuality)) {
        outcome = {Outcome::kConverted, {}};
      }
    }
    progress.Advance(1);
    return outcome;
  } catch (const std::exception&) {
    // A writer's library error (or lack of memory) fails this file only; the
    // written-through-a-temporary rule has left any previous file whole.
    return {Outcome::kWriteFailed, target};
  }
}

CBatchJob::FileOutcome CBatchJob::CopyColourFile(const fs::path& source,
                                                 const fs::path& wanted) const {
  // The copy never replaces a file: a taken name gets " (2)", " (3)", ...
  const fs::path copyTarget = FreeName(wanted);
  // A failed copy is a failed file, not a success.
  if (!copyTarget.empty() && PathFits(copyTarget) && CopyFileSafely(source, copyTarget)) {
    return {FileOutcome::kConverted, {}};
  }
  return {FileOutcome::kWriteFailed, copyTarget.empty() ? wanted : copyTarget};
}

void CBatchJob::ConvertWithWorkers(const std::vector<fs::path>& files, int jobs) {
  std::vector<fs::path> targets;
  targets.reserve(files.size());
  for (const fs::path& f : files) {
    targets.push_back(BatchTargetPath(f, m_source, m_target, m_settings->newExtension));
  }
  const std::vector<std::vector<size_t>> chains = SplitIntoChains(files, targets);
  std::vector<FileOutcome> outcomes(files.size());

  WorkerProgress::Shared shared;
  std::atomic<size_t> nextChain{0};
  auto work = [&] {
    WorkerProgress progress(shared);
    for (size_t c = nextChain.fetch_add(1); c < chains.size(); c = nextChain.fetch_add(1)) {
      for (size_t i : chains[c]) {
        FileOutcome outcome;
        try {
          outcome = ConvertOne(files[i], progress);
        } catch (const std::exception&) {
          outcome = {FileOutcome::kWriteFailed, targets[i]};
        }
        outcomes[i] = std::move(outcome);
        {
          std::lock_guard lock(shared.mutex);
          ++shared.finished;
        }
        shared.changed.notify_one();
      }
    }
  };

  const size_t workerCount = std::min(static_cast<size_t>(jobs), chains.size());
  std::vector<std::thread> workers;
  workers.reserve(workerCount);
  try {
    for (size_t w = 0; w < workerCount; ++w) workers.emplace_back(work);
  } catch (const std::system_error&) {
    // No more threads: the ones started share the work; with none, this
    // thread does it all.
    if (workers.empty()) work();
  }

  // The host's thread: pump events, read the stop request, pass progress on.
  int reported = 0;
  std::vector<std::string> started;
  std::string operation;
  for (;;) {
    bool done = false, operationChanged = false;
    {
      std::unique_lock lock(shared.mutex);
      shared.changed.wait_for(lock, std::chrono::milliseconds(50));
      done = shared.finished == files.size();
      started.swap(shared.files);
      if (shared.operationChanged) {
        operation = shared.operation;
        shared.operationChanged = false;
        operationChanged = true;
      }
    }
    for (const std::string& file : started) m_host->SetStatus(StatusLine::kCurrentFile, file);
    started.clear();
    if (operationChanged) m_host->SetStatus(StatusLine::kOperation, operation);
    const int units = shared.units.load(std::memory_order_relaxed);
    if (units != reported) {
      m_host->AdvanceProgress(units - reported);
      reported = units;
    }
    if (done) break;
    if (!shared.stop.load() && m_host->PumpAndCheckStop()) {
      RequestStop();
      shared.stop.store(true);
    }
  }
  for (std::thread& t : workers) t.join();

  // Successes and the record, in walk order.
  for (const FileOutcome& outcome : outcomes) ApplyOutcome(outcome);
}

}  // namespace inkbrite
