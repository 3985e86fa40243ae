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

#include "batch/batch_job_pvt.h"
#include "batch/work_list.h"
#include "core/auto_steps.h"
#include "core/enhance.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"

namespace inkbrite {

namespace fs = std::filesystem;
using batch_detail::IsSameFile;
using batch_detail::NameKey;
using batch_detail::PathFits;

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

// True when the two files hold the same bytes.
bool SameBytes(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(a, ec);
  if (ec || fs::file_size(b, ec) != size || ec) return false;
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = fa ? std::fopen(b.c_str(), "rb") : nullptr;
  bool same = fa != nullptr && fb != nullptr;
  char bufferA[65536], bufferB[65536];
  while (same) {
    const size_t got = std::fread(bufferA, 1, sizeof bufferA, fa);
    same = std::fread(bufferB, 1, sizeof bufferB, fb) == got &&
           std::equal(bufferA, bufferA + got, bufferB) && !std::ferror(fa) && !std::ferror(fb);
    if (got < sizeof bufferA) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

// The failure words of a record line, without the colon.
std::string Reason(std::string_view prefix) {
  constexpr std::string_view kColon = "：";
  if (prefix.ends_with(kColon)) prefix.remove_suffix(kColon.size());
  return std::string(prefix);
}

// The modification time, or nothing.
std::optional<fs::file_time_type> WriteTime(const fs::path& path) {
  std::error_code ec;
  const fs::file_time_type time = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return time;
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
  return (path.parent_path() / StemWithoutCopyNumber(path.stem().native()))
      .lexically_normal()
      .native();
}

// Splits the files into chains of files sharing a key (union-find over the
// keys of the names each file touches: its source, its target and, when
// spreads are split, the target's two page names). Each chain lists its
// files in walk order; chains are ordered by their first file.
std::vector<std::vector<size_t>> SplitIntoChains(const std::vector<std::vector<fs::path>>& names) {
  const size_t n = names.size();
  std::vector<size_t> parent(n);
  std::iota(parent.begin(), parent.end(), size_t{0});
  auto find = [&parent](size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  std::unordered_map<std::string, size_t> owner;
  for (size_t i = 0; i < n; ++i) {
    for (const fs::path& name : names[i]) {
      auto [it, fresh] = owner.try_emplace(ChainKey(name), i);
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

}  // namespace

fs::path BatchPageTargetPath(const fs::path& target, int page) {
  fs::path name = target.stem();
  name += "_" + std::to_string(page);
  name += target.extension();
  return target.parent_path() / name;
}

fs::path BatchRelativePath(const fs::path& source, const fs::path& sourceDir) {
  fs::path relative = source.lexically_relative(sourceDir);
  if (relative.empty() || *relative.begin() == "..") relative = source.filename();
  return relative;
}

fs::path BatchTargetPath(const fs::path& source, const fs::path& sourceDir,
                         const fs::path& targetDir, std::string_view newExtension) {
  fs::path target = targetDir / BatchRelativePath(source, sourceDir);
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

std::vector<BatchWorkItem> BatchWorkList(const BatchSettings& settings,
                                         const BatchSelection* selection,
                                         const BatchStopCheck& stop, size_t* wholeJob) {
  const fs::path source = SourceFolder(settings, selection);
  const std::vector<fs::path> files = ListBatchFiles(settings, selection, stop);
  if (wholeJob) *wholeJob = files.size();
  std::vector<BatchWorkItem> items;
  items.reserve(settings.shard.Given() ? files.size() / settings.shard.count + 1 : files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!settings.shard.Given() || ShardOfFile(BatchRelativePath(files[i], source),
                                               settings.shard.count) == settings.shard.index) {
      items.push_back({i, files[i]});
    }
  }
  return items;
}

std::string BatchSettingsFingerprint(const BatchSettings& settings, const CParaBlock& params) {
  std::string text;
  for (int slot = 0; slot < kParaSlotCount; ++slot)
    text += std::to_string(params.GetValue(slot)) + ",";
  text += settings.newExtension + "," + std::to_string(settings.colourMode) + "," +
          std::to_string(settings.resizePercent) + "," + std::to_string(settings.jpegQuality) +
          "," + (settings.skipColour ? "1" : "0");
  static constexpr char kHex[] = "0123456789abcdef";
  const uint64_t hash = Fnv1a64(text);
  std::string hex(16, '0');
  for (int i = 0; i < 16; ++i) hex[static_cast<size_t>(i)] = kHex[(hash >> (60 - 4 * i)) & 0xF];
  return hex;
}

fs::path DoneByEarlierRun(const EarlierRecords& earlier, const fs::path& source,
                          const fs::path& sourceDir, const fs::path& targetDir,
                          const std::string& fingerprint) {
  const RecordEntry* entry = earlier.Find(BatchRelativePath(source, sourceDir).native());
  if (entry == nullptr || entry->settings != fingerprint || entry->target.empty() ||
      (entry->result != kResultConverted && entry->result != kResultCopied &&
       entry->result != kResultSkipped)) {
    return {};
  }
  const fs::path relative(entry->target);
  if (relative.is_absolute() ||
      std::any_of(relative.begin(), relative.end(), [](const fs::path& p) { return p == ".."; })) {
    return {};
  }
  const fs::path written = targetDir / relative;
  std::error_code ec;
  const std::optional<fs::file_time_type> writtenTime = WriteTime(written);
  const std::optional<fs::file_time_type> sourceTime = WriteTime(source);
  if (!fs::is_regular_file(written, ec) || !writtenTime || !sourceTime ||
      *writtenTime <= *sourceTime) {
    return {};
  }
  return written;
}

int RemoveStaleTemporaries(const fs::path& folder) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!IsStaleTempFile(it->path())) continue;
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
struct CBatchJob::WorkerShared {
  std::atomic<int> units{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;  // guards the texts below, `done` and `finished`
  std::condition_variable changed;
  std::vector<std::string> files;  // files started since the host last looked
  std::string operation;
  bool operationChanged = false;
  std::vector<char> done;  // per file: its outcome is there
  size_t finished = 0;     // files done (any outcome)

  void FileDone(size_t i) {
    {
      std::lock_guard lock(mutex);
      done[i] = 1;
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

void CBatchJob::RecordLine(size_t index, std::string_view prefix, const fs::path& path,
                           const fs::path& target) {
  if (!m_record || m_settings->recordFormat != RecordFormat::kText) return;
  // A line that cannot be written is lost; the run goes on.
  std::string line;
  if (m_settings->shard.Given()) line = std::to_string(index) + "\t";
  line += prefix;
  line += path.native();
  if (!target.empty()) {
    line += " → ";
    line += target.native();
  }
  line += '\n';
  m_record->Write(line.data(), line.size());
  // On disk at once: a killed run's temporary record tells what it did.
  std::fflush(m_record->Stream());
}

void CBatchJob::RecordJson(size_t index, const fs::path& source, const FileOutcome& outcome) {
  if (!m_record || m_settings->recordFormat != RecordFormat::kJsonLines) return;
  using Outcome = FileOutcome;
  auto belowTarget = [this](const fs::path& p) {
    const fs::path relative = p.lexically_relative(m_target);
    return (relative.empty() || *relative.begin() == "..") ? p.native() : relative.native();
  };
  RecordEntry entry;
  entry.index = static_cast<int64_t>(index);
  entry.source = BatchRelativePath(source, m_source).native();
  entry.bytesRead = outcome.bytesRead;
  entry.bytesWritten = outcome.bytesWritten;
  entry.ms = outcome.ms;
  entry.settings = m_fingerprint;
  switch (outcome.kind) {
    case Outcome::kConverted: entry.result = kResultConverted; break;
    case Outcome::kCopied: entry.result = kResultCopied; break;
    case Outcome::kSkipped: entry.result = kResultSkipped; break;
    case Outcome::kReadFailed:
      entry.result = kResultReadFailed;
      entry.reason = Reason(kBatchReadFailed);
      break;
    case Outcome::kWriteFailed:
      entry.result = kResultWriteFailed;
      entry.reason = Reason(kBatchWriteFailed);
      break;
    case Outcome::kNameTaken:
      entry.result = kResultNameTaken;
      entry.reason = Reason(kBatchNameTaken);
      break;
    case Outcome::kStopped: return;
  }
  if (outcome.kind == Outcome::kReadFailed) {
    entry.target =
        belowTarget(BatchTargetPath(source, m_source, m_target, m_settings->newExtension));
  } else {
    entry.target = belowTarget(outcome.kind == Outcome::kNameTaken ? outcome.target : outcome.path);
  }
  for (const auto& [page, fields] : outcome.report) {
    if (!entry.findings.empty()) entry.findings += '\n';
    entry.findings += belowTarget(page) + "\t" + fields;
  }
  const std::string line = JsonRecordLine(entry);
  m_record->Write(line.data(), line.size());
  std::fflush(m_record->Stream());
}

// With --report, a text record's "自动处理：" lines for the pages a file wrote
// (a JSON record carries them in its "findings" member).
void CBatchJob::RecordFindings(size_t index, const FileOutcome& outcome) {
  if (!m_record || m_settings->recordFormat != RecordFormat::kText) return;
  for (const auto& [page, fields] : outcome.report) {
    std::string line;
    if (m_settings->shard.Given()) line = std::to_string(index) + "\t";
    line += kBatchFindings;
    line += page.native();
    line += '\t';
    line += fields;
    line += '\n';
    m_record->Write(line.data(), line.size());
  }
  std::fflush(m_record->Stream());
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
  m_skipped = 0;
  m_failed = 0;
  m_work.reset();
  m_skipExisting = false;
  m_earlier = EarlierRecords();
  m_fingerprint.clear();
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
  if (m_settings->shard.Given()) {
    // A part: the whole job is listed, and the part's files are the total.
    size_t wholeJob = 0;
    m_work = BatchWorkList(
        *m_settings, selection,
        [this, &countStopped] { return countStopped = countStopped || m_host->PumpAndCheckStop(); },
        &wholeJob);
    if (countStopped) m_work.reset();
    m_total = m_work ? static_cast<int>(m_work->size()) : 0;
    if (m_work && wholeJob > 0) return true;
  } else if (selection) {
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
  m_fingerprint = BatchSettingsFingerprint(*m_settings, *m_params);
  // What earlier runs did, read before their temporary records are swept.
  m_skipExisting = m_settings->skipExisting && !m_sameFolder && !recordPath.empty();
  if (m_skipExisting) m_earlier.Read(recordPath);
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
  if (m_work) {
    m_found = static_cast<int>(m_work->size());
    if (jobs > 1) {
      ConvertWithWorkers(*m_work, jobs);
    } else {
      for (const BatchWorkItem& item : *m_work) {
        if (Stopped()) break;
        ConvertFile(item.index, item.source);
      }
    }
  } else if (jobs > 1) {
    std::vector<BatchWorkItem> items;
    for (fs::path& file : ListBatchFiles(*m_settings, selection)) {
      items.push_back({items.size(), std::move(file)});
    }
    m_found = static_cast<int>(items.size());
    ConvertWithWorkers(items, jobs);
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
  ConvertFile(static_cast<size_t>(m_found - 1), fullPath);
}

void CBatchJob::ConvertFile(size_t index, const fs::path& source) {
  HostProgress progress(*this);
  ApplyOutcome(index, source, ConvertMeasured(source, progress));
}

void CBatchJob::ApplyOutcome(size_t index, const fs::path& source, const FileOutcome& outcome) {
  RecordFindings(index, outcome);
  switch (outcome.kind) {
    case FileOutcome::kSkipped: ++m_skipped; [[fallthrough]];
    case FileOutcome::kConverted:
    case FileOutcome::kCopied: ++m_success; break;
    case FileOutcome::kReadFailed:
      ++m_failed;
      RecordLine(index, kBatchReadFailed, outcome.path);
      break;
    case FileOutcome::kWriteFailed:
      ++m_failed;
      RecordLine(index, kBatchWriteFailed, outcome.path);
      break;
    case FileOutcome::kNameTaken:
      ++m_failed;
      RecordLine(index, kBatchNameTaken, outcome.path, outcome.target);
      break;
    case FileOutcome::kStopped: break;
  }
  RecordJson(index, source, outcome);
}

// One file with what the record tells about it: skipped when an earlier run
// did it (--skip-existing), else converted; its sizes and time.
CBatchJob::FileOutcome CBatchJob::ConvertMeasured(const fs::path& source, FileProgress& progress) {
  const auto start = std::chrono::steady_clock::now();
  FileOutcome outcome;
  fs::path done;
  if (m_skipExisting) {
    if (progress.Stop()) return {FileOutcome::kStopped, {}};
    done = DoneByEarlierRun(m_earlier, source, m_source, m_target, m_fingerprint);
  }
  if (!done.empty()) {
    // Written for this run: a later file with the same target is refused as
    // it would be in one uninterrupted run.
    MarkWritten(done);
    SweepOnce(done.parent_path());
    progress.Advance(m_steps);
    return {FileOutcome::kSkipped, done};
  }
  outcome = ConvertOne(source, progress);
  if (outcome.kind == FileOutcome::kStopped) return outcome;
  std::error_code ec;
  const uintmax_t read = fs::file_size(source, ec);
  outcome.bytesRead = ec ? 0 : read;
  if (outcome.kind == FileOutcome::kConverted || outcome.kind == FileOutcome::kCopied) {
    const uintmax_t written = fs::file_size(outcome.path, ec);
    outcome.bytesWritten = ec ? 0 : written;
  }
  outcome.ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
  return outcome;
}

CBatchJob::FileOutcome CBatchJob::ConvertOne(const fs::path& source, FileProgress& progress) {
  using Outcome = FileOutcome;
  if (progress.Stop()) return {Outcome::kStopped, {}};
  progress.Status(StatusLine::kCurrentFile, source.native());
  progress.Status(StatusLine::kOperation, kBatchReading);
  // Converted a band of rows at a time when nothing needs the whole page.
  if (std::optional<FileOutcome> outcome = ConvertByRows(source, progress)) return *outcome;

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
      Outcome outcome{Outcome::kCopied, source};  // same folder: left untouched, as asked
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
// written already is left as it is. The automatic source steps come first
// (all off by default): a spread they split is written as two pages,
// name_1 and name_2 in reading order, from one file's units of progress.
CBatchJob::FileOutcome CBatchJob::WriteEnhanced(DibImage& image, int mode, const fs::path& source,
                                                const fs::path& target, FileProgress& progress) {
  using Outcome = FileOutcome;
  if (WrittenByThisRun(target) && !IsSameFile(source, target)) {
    progress.Advance(kUnitsAfterRead);
    return {Outcome::kNameTaken, source, target};
  }

  // The pipeline in batch mode: one unit and one stop check a stage.
  EnhanceHooks hooks;
  hooks.progress = [&progress] { progress.Advance(1); };
  hooks.abortCheck = [&progress] { return progress.Stop() ? 1 : 0; };
  hooks.status = [&progress](std::string_view stage) {
    progress.Status(StatusLine::kOperation, stage);
  };
  DibImage second;
  PageFindings findings[2];
  const SourceStage stage =
      PrepareSourcePages(*m_params, image, second, findings, hooks.status, hooks.abortCheck);
  if (stage.stopped != 0 || progress.Stop()) return {Outcome::kStopped, {}};
  const int pages = stage.pages;
  const fs::path targets[2] = {pages == 2 ? BatchPageTargetPath(target, 1) : target,
                               BatchPageTargetPath(target, 2)};
  for (int i = 0; i < pages; ++i) {
    if (pages == 2 && !PathFits(targets[i])) {
      progress.Advance(kUnitsAfterRead);
      return {Outcome::kWriteFailed, targets[i]};
    }
    if (pages == 2 && WrittenByThisRun(targets[i]) && !IsSameFile(source, targets[i])) {
      progress.Advance(kUnitsAfterRead);
      return {Outcome::kNameTaken, source, targets[i]};
    }
  }

  Outcome outcome{Outcome::kConverted, targets[0]};
  DibImage* page[2] = {&image, &second};
  for (int i = 0; i < pages; ++i) {
    const bool last = i + 1 == pages;
    // An existing read-only target is overwritten all the same.
    std::error_code ec;
    if (fs::exists(targets[i], ec)) {
      fs::permissions(targets[i], fs::perms::owner_write, fs::perm_options::add, ec);
    }
    EnhanceHooks pageHooks = hooks;
    if (i > 0) pageHooks.progress = nullptr;  // the first page's units stand for both
    pageHooks.findings = &findings[i];
    if (EnhanceImage(*m_params, *page[i], pageHooks) != 0 || progress.Stop()) {
      return {Outcome::kStopped, {}};
    }
    bool saved = false;
    progress.Status(StatusLine::kOperation, kBatchReducing);
    // The viewer's Save writes a page through the same call.
    if (IsReducedMode(mode))
      saved = SavePageInColourMode(targets[i], *page[i], mode, false, 0) != 0;
    if (last) progress.Advance(1);
    if (!IsReducedMode(mode)) {
      progress.Status(StatusLine::kOperation, kBatchSaving);
      saved = SavePageInColourMode(targets[i], *page[i], mode, false, m_settings->jpegQuality) != 0;
    }
    if (last) progress.Advance(1);
    page[i]->Clear();
    if (!saved) {
      if (outcome.kind == Outcome::kConverted) outcome = {Outcome::kWriteFailed, targets[i]};
      continue;
    }
    MarkWritten(targets[i]);
    if (m_settings->reportFindings)
      outcome.report.emplace_back(targets[i], FindingsFields(findings[i]));
  }
  return outcome;
}

CBatchJob::FileOutcome CBatchJob::CopyColourFile(const fs::path& source, const fs::path& wanted) {
  // A resumed run finds the copy an earlier run made (and could not record
  // before it was killed) under one of the names it would have taken.
  if (m_skipExisting) {
    fs::path candidate = wanted;
    std::error_code ec;
    for (int n = 2; n < 10000 && fs::exists(candidate, ec); ++n) {
      if (SameBytes(source, candidate)) {
        MarkWritten(candidate);
        return {FileOutcome::kSkipped, candidate};
      }
      candidate = wanted.parent_path() / (wanted.stem().native() + " (" + std::to_string(n) + ")" +
                                          wanted.extension().native());
    }
  }
  // The copy never replaces a file: a taken name gets " (2)", " (3)", ...
  const fs::path copyTarget = FreeName(wanted);
  // A failed copy is a failed file, not a success.
  if (!copyTarget.empty() && PathFits(copyTarget) && CopyFileSafely(source, copyTarget)) {
    MarkWritten(copyTarget);
    return {FileOutcome::kCopied, copyTarget};
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

void CBatchJob::ConvertWithWorkers(const std::vector<BatchWorkItem>& files, int jobs) {
  std::vector<fs::path> sources, targets;
  sources.reserve(files.size());
  targets.reserve(files.size());
  std::vector<std::vector<fs::path>> names;
  names.reserve(files.size());
  const bool split = m_params->GetValue(kSplitSpreads) != 0;
  for (const BatchWorkItem& f : files) {
    sources.push_back(f.source);
    targets.push_back(BatchTargetPath(f.source, m_source, m_target, m_settings->newExtension));
    names.push_back({f.source, targets.back()});
    if (split) {
      names.back().push_back(BatchPageTargetPath(targets.back(), 1));
      names.back().push_back(BatchPageTargetPath(targets.back(), 2));
    }
  }
  const std::vector<std::vector<size_t>> chains = SplitIntoChains(names);
  std::vector<FileOutcome> outcomes(files.size());

  WorkerShared shared;
  shared.done.assign(files.size(), 0);
  std::atomic<size_t> nextChain{0};
  auto work = [&] {
    WorkerProgress progress(shared);
    for (size_t c = nextChain.fetch_add(1); c < chains.size(); c = nextChain.fetch_add(1)) {
      for (size_t i : chains[c]) {
        FileOutcome outcome;
        try {
          outcome = ConvertMeasured(sources[i], progress);
        } catch (const std::exception&) {
          outcome = {FileOutcome::kWriteFailed, targets[i]};
        }
        outcomes[i] = std::move(outcome);
        shared.FileDone(i);
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
  WatchWorkers(shared, files, outcomes);
  for (std::thread& t : workers) t.join();
}

// The host's thread while the workers run: pumps events, reads the stop
// request, passes the workers' progress on and applies the outcomes (counts
// and record lines) in walk order as soon as every earlier file is done,
// until all files are done.
void CBatchJob::WatchWorkers(WorkerShared& shared, const std::vector<BatchWorkItem>& files,
                             const std::vector<FileOutcome>& outcomes) {
  int reported = 0;
  size_t applied = 0;
  std::vector<std::string> started;
  std::string operation;
  for (;;) {
    bool done = false, operationChanged = false;
    size_t ready = applied;
    {
      std::unique_lock lock(shared.mutex);
      shared.changed.wait_for(lock, std::chrono::milliseconds(50));
      done = shared.finished == files.size();
      while (ready < files.size() && shared.done[ready]) ++ready;
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
    for (; applied < ready; ++applied) {
      ApplyOutcome(files[applied].index, files[applied].source, outcomes[applied]);
    }
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
