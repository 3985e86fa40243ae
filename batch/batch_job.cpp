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
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "core/enhance.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Units of a converted file besides the read: 9 pipeline stages, the
// reduction step and the save step.
constexpr int kUnitsAfterRead = 11;

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
  std::FILE* in = OpenRegularFile(source);
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

// Lists the matching files in walk order; the stop check (if any) is asked
// after each file.
class FileLister : public CSrchDir {
 public:
  explicit FileLister(const BatchStopCheck& stop) : m_stop(stop) {}
  std::vector<fs::path> files;

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& /*find*/) override {
    files.push_back(fullPath);
    if (m_stop && m_stop()) RequestStop();
  }

 private:
  const BatchStopCheck& m_stop;
};

// The folder a run takes its files from.
fs::path SourceFolder(const BatchSettings& settings, const BatchSelection* selection) {
  return selection ? selection->folder : settings.sourceDir;
}

// A path as the run's name sets hold it.
fs::path NameKey(const fs::path& path) { return path.lexically_normal(); }

// True when `target` is `source` itself: a page converted in place.
bool IsSameFile(const fs::path& source, const fs::path& target) {
  if (NameKey(source) == NameKey(target)) return true;
  std::error_code ec;
  return fs::equivalent(source, target, ec) && !ec;
}

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

std::vector<fs::path> ListBatchFiles(const BatchSettings& settings, const BatchSelection* selection,
                                     const BatchStopCheck& stop) {
  if (selection) return selection->files;
  const fs::path source = SourceFolder(settings, selection);
  if (source.empty()) return {};
  const bool same = IsSameBatchFolder(source, settings.targetDir);
  FileLister lister(stop);
  lister.Init(settings.patterns, settings.includeSubdirs, same ? fs::path() : settings.targetDir);
  lister.Search(source);
  return std::move(lister.files);
}

int RemoveStaleTemporaries(const fs::path& folder) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<int64_t> owner = TempFileOwner(it->path().filename().native());
    std::error_code typeError;
    if (!owner || ProcessIsRunning(*owner) || !it->is_regular_file(typeError) ||
        it->is_symlink(typeError)) {
      continue;
    }
    std::error_code removeError;
    removed += fs::remove(it->path(), removeError) ? 1 : 0;
  }
  return removed;
}

int CountExistingTargets(const BatchSettings& settings, const BatchSelection* selection,
                         const BatchStopCheck& stop) {
  const fs::path source = SourceFolder(settings, selection);
  std::set<fs::path> seen;
  int existing = 0;
  for (const fs::path& file : ListBatchFiles(settings, selection, stop)) {
    const fs::path target =
        NameKey(BatchTargetPath(file, source, settings.targetDir, settings.newExtension));
    if (!seen.insert(target).second) continue;
    if (settings.ownFiles && settings.ownFiles->count(target)) continue;
    std::error_code ec;
    if (fs::exists(target, ec) && !IsSameFile(file, target)) ++existing;
  }
  return existing;
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
// Shared between the workers and the host's thread of a run with workers.
struct CBatchJob::WorkerShared {
  std::atomic<int> units{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;  // guards the texts below and `finished`
  std::condition_variable changed;
  std::vector<std::string> files;  // files started since the host last looked
  std::string operation;
  bool operationChanged = false;
  size_t finished = 0;  // files done (any outcome)

  void FileDone() {
    {
      std::lock_guard lock(mutex);
      ++finished;
    }
    changed.notify_one();
  }
};

class CBatchJob::WorkerProgress : public FileProgress {
 public:
  explicit WorkerProgress(WorkerShared& shared) : m_shared(shared) {}
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
  WorkerShared& m_shared;
};

std::string BatchSummaryText(int total, int converted) {
  return std::to_string(total) + "个文件需要转换，\n" + std::to_string(converted) +
         "个文件转换成功。";
}

std::string BatchReplaceQuestion(int existing) {
  return "目标目录中已有" + std::to_string(existing) +
         "个同名文件，它们将被转换后的文件所覆盖。要继续吗？";
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

void CBatchJob::RecordLine(std::string_view prefix, const fs::path& path, const fs::path& target) {
  if (!m_record) return;
  // A line that cannot be written is lost; the run goes on.
  std::string line(prefix);
  line += path.native();
  if (!target.empty()) {
    line += " → ";
    line += target.native();
  }
  line += '\n';
  m_record->Write(line.data(), line.size());
}

bool CBatchJob::WrittenByThisRun(const fs::path& path) {
  std::lock_guard lock(m_namesMutex);
  return m_written.count(NameKey(path)) != 0;
}

void CBatchJob::MarkWritten(const fs::path& path) {
  std::lock_guard lock(m_namesMutex);
  m_written.insert(NameKey(path));
}

// ---- the run ----

void CBatchJob::Run(BatchHost& host, const BatchSettings& settings,
                    const BatchSelection* selection) {
  StartRun(host, settings);
  if (!CheckSettings(selection)) return;
  const fs::path excluded = m_sameFolder ? fs::path() : m_target;
  if (!CountFiles(selection, excluded) || !ConfirmReplacing(selection)) return;
  const fs::path recordPath = StartConversion();
  ConvertFiles(selection, excluded);
  Finish(recordPath);
}

void CBatchJob::StartRun(BatchHost& host, const BatchSettings& settings) {
  m_host = &host;
  m_settings = &settings;
  m_params = settings.params ? settings.params : &AppParams();
  m_success = 0;
  m_total = 0;
  m_found = 0;
  m_source.clear();
  m_target.clear();
  m_sameFolder = false;
  m_record.reset();
  m_written.clear();
  m_sweptFolders.clear();
}

// The refusals that end a run before anything is counted: no source or
// target folder, reduced colours into a format without a palette, and the
// same folder when the user does not want the sources overwritten.
bool CBatchJob::CheckSettings(const BatchSelection* selection) {
  m_source = SourceFolder(*m_settings, selection);
  if (m_source.empty()) {
    m_host->ShowMessage(kBatchNoSourceMessage, MessageKind::kOk);
    return false;
  }
  m_target = m_settings->targetDir;
  if (m_target.empty()) {
    m_host->ShowMessage(kBatchNoTargetMessage, MessageKind::kOk);
    return false;
  }
  if (!TakesReducedPages(m_settings->newExtension) && IsReducedMode(m_settings->colourMode)) {
    m_host->ShowMessage(kBatchReducedNeedsPngMessage, MessageKind::kOk);
    return false;
  }
  if (IsSameBatchFolder(m_source, m_target)) {
    m_sameFolder = true;
    return m_host->ShowMessage(kBatchSameFolderQuestion, MessageKind::kYesNo) ==
           MessageAnswer::kYes;
  }
  return true;
}

// The total: the picked files, or a count of the walk (stoppable). False,
// after saying so unless the count was stopped, when there is nothing to do.
bool CBatchJob::CountFiles(const BatchSelection* selection, const fs::path& excluded) {
  m_host->SetStatus(StatusLine::kOperation, kBatchCounting);
  bool countStopped = false;
  if (selection) {
    m_total = static_cast<int>(selection->files.size());
  } else {
    CSrchDirCounter counter;
    m_total =
        static_cast<int>(counter.Count(m_source, m_settings->patterns, m_settings->includeSubdirs,
                                       excluded, [this] { return m_host->PumpAndCheckStop(); }));
    countStopped = counter.Stopped();
  }
  if (m_total > 0) return true;
  m_host->SetStatus(StatusLine::kOperation, "");
  if (!countStopped) m_host->ShowMessage(kBatchNoFilesMessage, MessageKind::kOk);
  return false;
}

// The one question before replacing files the host did not write.
bool CBatchJob::ConfirmReplacing(const BatchSelection* selection) {
  if (!m_settings->askBeforeReplacing || m_sameFolder) return true;
  bool stopped = false;
  const int existing = CountExistingTargets(*m_settings, selection, [this, &stopped] {
    return stopped = stopped || m_host->PumpAndCheckStop();
  });
  if (!stopped && existing == 0) return true;
  if (!stopped && m_host->ShowMessage(BatchReplaceQuestion(existing), MessageKind::kYesNo) ==
                      MessageAnswer::kYes) {
    return true;
  }
  m_host->SetStatus(StatusLine::kOperation, "");
  return false;
}

// Folders with their separators, the progress range and the record (the
// target's and the record's folders cleared of what killed runs left);
// returns the record's path. Without a record the run goes on unrecorded.
fs::path CBatchJob::StartConversion() {
  m_source = WithTrailingSeparator(m_source);
  m_target = WithTrailingSeparator(m_target);
  m_steps = m_settings->resizePercent != 100 ? 13 : 12;
  m_host->SetProgressRange((m_total + 1) * m_steps);
  SweepOnce(m_target);
  const fs::path recordPath =
      m_settings->recordPath.empty() ? ProgramFilePath("_Rcd.txt") : m_settings->recordPath;
  if (!recordPath.empty()) {
    RemoveStaleTemporaries(recordPath.parent_path().empty() ? fs::path(".")
                                                            : recordPath.parent_path());
    m_record = std::make_unique<SafeFileWriter>(recordPath);
    if (!m_record->Open()) m_record.reset();
  }
  return recordPath;
}

// One file at a time in walk order, or the same list on workers.
void CBatchJob::ConvertFiles(const BatchSelection* selection, const fs::path& excluded) {
  Init(m_settings->patterns, m_settings->includeSubdirs, excluded);
  const int jobs = std::clamp(m_settings->jobs, 1, kMaxBatchJobs);
  if (jobs > 1) {
    const std::vector<fs::path> files = ListBatchFiles(*m_settings, selection);
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
}

// The record closed, the summary shown (with the record offered after
// failures) and the host's lines cleared.
void CBatchJob::Finish(const fs::path& recordPath) {
  const bool stopped = Stopped();
  // The total the summary and the record answer for is the files the
  // conversion was handed. A page removed between the count and the walk
  // would otherwise be reported as a failure that the record cannot name
  // ("8 to convert, 6 converted" with an empty record), and one added would
  // give more successes than files. A stopped run keeps the count: the files
  // it never reached are still to be converted.
  if (!stopped) {
    m_host->SetProgressPosition((m_total + 1) * m_steps);  // the end of the range set
    m_total = m_found;
  }
  if (m_record) {
    m_record->Commit();
    m_record.reset();
  }

  std::string summary = BatchSummaryText(m_total, m_success);
  if (stopped) {
    summary += kBatchStoppedSuffix;
    m_host->ShowMessage(summary, MessageKind::kOk);
  } else if (m_success == m_total) {
    m_host->ShowMessage(summary, MessageKind::kOk);
  } else {
    summary += kBatchShowRecordQuestion;
    if (m_host->ShowMessage(summary, MessageKind::kYesNo) == MessageAnswer::kYes) {
      m_host->OpenWithShell(recordPath);
    }
  }

  m_host->SetStatus(StatusLine::kCurrentFile, "");
  m_host->SetStatus(StatusLine::kOperation, "");
  m_host->SetProgressPosition(0);
}

// ---- one file ----

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
    case FileOutcome::kNameTaken: RecordLine(kBatchNameTaken, outcome.path, outcome.target); break;
    case FileOutcome::kStopped: break;
  }
}

CBatchJob::FileOutcome CBatchJob::ConvertOne(const fs::path& source, FileProgress& progress) {
  using Outcome = FileOutcome;
  if (progress.Stop()) return {Outcome::kStopped, {}};
  progress.Status(StatusLine::kCurrentFile, source.native());
  progress.Status(StatusLine::kOperation, kBatchReading);

  // A reader that throws (out of memory) fails the file alone.
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
  // "Keep as is" is judged for each file.
  const int effectiveMode = ResolveKeepAsIs(m_settings->colourMode, greySource != 0);
  progress.Advance(1);
  if (progress.Stop()) return {Outcome::kStopped, {}};

  const fs::path target = BatchTargetPath(source, m_source, m_target, m_settings->newExtension);
  if (!PathFits(target)) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kWriteFailed, target};
  }
  try {
    PrepareFolder(target.parent_path());
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
    return WriteEnhanced(image, effectiveMode, source, target, progress);
  } catch (const std::exception&) {
    // A writer's library error (or lack of memory) fails this file only; the
    // written-through-a-temporary rule has left any previous file whole.
    return {Outcome::kWriteFailed, target};
  }
}

// The pipeline, then the reduced or the plain save; a target this run has
// written already is left as it is.
CBatchJob::FileOutcome CBatchJob::WriteEnhanced(DibImage& image, int mode, const fs::path& source,
                                                const fs::path& target, FileProgress& progress) {
  using Outcome = FileOutcome;
  if (WrittenByThisRun(target) && !IsSameFile(source, target)) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kNameTaken, source, target};
  }
  // An existing read-only target is overwritten all the same.
  std::error_code ec;
  if (fs::exists(target, ec)) {
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
  }

  // The pipeline in batch mode: one unit and one stop check a stage.
  EnhanceHooks hooks;
  hooks.progress = [&progress] { progress.Advance(1); };
  hooks.abortCheck = [&progress] { return progress.Stop() ? 1 : 0; };
  hooks.status = [&progress](std::string_view stage) {
    progress.Status(StatusLine::kOperation, stage);
  };
  if (EnhanceImage(*m_params, image, hooks) != 0 || progress.Stop()) {
    return {Outcome::kStopped, {}};
  }

  bool saved = false;
  progress.Status(StatusLine::kOperation, kBatchReducing);
  // The viewer's Save writes a page through the same call.
  if (IsReducedMode(mode)) saved = SavePageInColourMode(target, image, mode, false, 0) != 0;
  progress.Advance(1);
  if (!IsReducedMode(mode)) {
    progress.Status(StatusLine::kOperation, kBatchSaving);
    saved = SavePageInColourMode(target, image, mode, false, m_settings->jpegQuality) != 0;
  }
  progress.Advance(1);
  if (!saved) return {Outcome::kWriteFailed, target};
  MarkWritten(target);
  return {Outcome::kConverted, {}};
}

CBatchJob::FileOutcome CBatchJob::CopyColourFile(const fs::path& source, const fs::path& wanted) {
  // The copy never replaces a file: a taken name gets " (2)", " (3)", ...
  const fs::path copyTarget = FreeName(wanted);
  // A failed copy is a failed file, not a success.
  if (!copyTarget.empty() && PathFits(copyTarget) && CopyFileSafely(source, copyTarget)) {
    MarkWritten(copyTarget);
    return {FileOutcome::kConverted, {}};
  }
  return {FileOutcome::kWriteFailed, copyTarget.empty() ? wanted : copyTarget};
}

// Creates a folder the run writes into (a failure shows when the file is
// written; in same-folder mode every folder exists already).
void CBatchJob::PrepareFolder(const fs::path& folder) {
  std::error_code ec;
  if (!m_sameFolder) fs::create_directories(folder, ec);
  SweepOnce(folder);
}

// Removes what killed runs left in a folder, the first time this run meets it.
void CBatchJob::SweepOnce(const fs::path& folder) {
  {
    std::lock_guard lock(m_namesMutex);
    if (!m_sweptFolders.insert((folder / "").lexically_normal()).second) return;
  }
  RemoveStaleTemporaries(folder);
}

// ---- several files at once ----

void CBatchJob::ConvertWithWorkers(const std::vector<fs::path>& files, int jobs) {
  std::vector<fs::path> targets;
  targets.reserve(files.size());
  for (const fs::path& f : files) {
    targets.push_back(BatchTargetPath(f, m_source, m_target, m_settings->newExtension));
  }
  const std::vector<std::vector<size_t>> chains = SplitIntoChains(files, targets);
  std::vector<FileOutcome> outcomes(files.size());

  WorkerShared shared;
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
        shared.FileDone();
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
  WatchWorkers(shared, files.size());
  for (std::thread& t : workers) t.join();

  // Successes and the record, in walk order.
  for (const FileOutcome& outcome : outcomes) ApplyOutcome(outcome);
}

// The host's thread while the workers run: pumps events, reads the stop
// request and passes the workers' progress on, until `files` are done.
void CBatchJob::WatchWorkers(WorkerShared& shared, size_t files) {
  int reported = 0;
  std::vector<std::string> started;
  std::string operation;
  for (;;) {
    bool done = false, operationChanged = false;
    {
      std::unique_lock lock(shared.mutex);
      shared.changed.wait_for(lock, std::chrono::milliseconds(50));
      done = shared.finished == files;
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
}

}  // namespace inkbrite
