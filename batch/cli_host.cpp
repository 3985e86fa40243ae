// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/cli_host.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "batch/attached_settings.h"
#include "batch/book_writer.h"
#include "batch/devices.h"
#include "batch/named_settings.h"
#include "batch/run_record.h"
#include "batch/work_list.h"
#include "core/auto_steps.h"
#include "formats/format_table.h"
#include "platform/ascii_case.h"
#include "platform/child_process.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"
#include "platform/shell_open.h"
#include "sources/library_state.h"
#include "sources/srch_dir.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Said after the same-folder question when --overwrite-source is missing.
constexpr std::string_view kOverwriteSourceNote =
    INKBRITE_TEXT("cli", "（已拒绝：如要覆盖源文件，请加上--overwrite-source）");

// The first stop signal received; 0: none.
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
  if (g_stopSignal == 0) g_stopSignal = signal;
  // A helper drawing a page is ended at once, whatever it is doing.
  StopChildPrograms();
}

bool ParseInt(std::string_view text, int& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

// One line of text.
void PrintText(std::FILE* f, std::string_view text) {
  std::fprintf(f, "%.*s\n", static_cast<int>(text.size()), text.data());
}

// "inkbrite-batch: " and the message.
void PrintError(std::FILE* f, std::string_view text) {
  std::fprintf(f, "inkbrite-batch: %.*s\n", static_cast<int>(text.size()), text.data());
}

// The job's refusals that a run which only lists can tell before it starts;
// false after printing the refusal.
bool CheckBeforeListing(const CliOptions& options, std::FILE* err) {
  const BatchSettings& s = options.settings;
  if (IsReducedMode(s.colourMode) && !TakesReducedPages(s.newExtension)) {
    PrintText(err, EngineText(kBatchReducedNeedsPngMessage));
    return false;
  }
  if (!BookTakesPageExtension(s.books, s.newExtension)) {
    PrintText(err, EngineText(kBatchBookPagesMessage));
    return false;
  }
  const bool same = IsSameBatchFolder(s.sourceDir, s.targetDir);
  if (same && !options.overwriteSource) {
    PrintText(err, EngineText(kBatchSameFolderQuestion));
    PrintText(err, EngineText(kOverwriteSourceNote));
    return false;
  }
  return true;
}

int DryRun(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const BatchSettings& s = options.settings;
  if (!CheckBeforeListing(options, err)) return kCliRefused;
  BatchSelection selection;
  if (options.pickedFiles) selection = {s.sourceDir, options.files};
  std::vector<fs::path> sources;
  size_t wholeJob = 0;
  for (BatchWorkItem& item :
       BatchWorkList(s, options.pickedFiles ? &selection : nullptr, {}, &wholeJob)) {
    sources.push_back(std::move(item.source));
  }
  if (wholeJob == 0) {
    PrintText(err, EngineText(kBatchNoFilesMessage));
    return kCliRefused;
  }
  // A second file for a target the run writes first is not converted.
  std::set<fs::path> targets;
  const bool split = s.params != nullptr && s.params->GetValue(kSplitSpreads) != 0;
  for (const fs::path& source : sources) {
    const fs::path target = BatchOutputPath(source, s.sourceDir, s.targetDir, s);
    const fs::path key = target.lexically_normal();
    const bool clash = !targets.insert(key).second && key != source.lexically_normal();
    const bool book = IsBatchBook(source);
    const std::string_view bookNote = !book ? std::string_view()
                                      : s.books == BookOutput::kFolder
                                          ? EngineText(INKBRITE_TEXT("cli", "/（书：其各页）"))
                                          : EngineText(INKBRITE_TEXT("cli", "（书）"));
    const std::string_view clashNote =
        clash ? EngineText(INKBRITE_TEXT("cli", "（不转换：前面的文件已有此目标）"))
              : std::string_view();
    // Whether a page is a spread is known only once it is read: with
    // splitting on, it may become name_1 and name_2 instead.
    const std::string_view splitNote =
        !book && split ? EngineText(INKBRITE_TEXT("cli", "（可能分成_1和_2两页）"))
                       : std::string_view();
    std::fprintf(out, "%s -> %s%.*s%.*s%.*s\n", source.c_str(), target.c_str(),
                 static_cast<int>(bookNote.size()), bookNote.data(),
                 static_cast<int>(splitNote.size()), splitNote.data(),
                 static_cast<int>(clashNote.size()), clashNote.data());
  }
  return kCliAllConverted;
}

// --list, --list0: the files a run with these options would convert (its
// part, without what --skip-existing would skip), "SOURCE<TAB>TARGET" each.
int ListRun(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const BatchSettings& s = options.settings;
  if (!CheckBeforeListing(options, err)) return kCliRefused;
  BatchSelection selection;
  if (options.pickedFiles) selection = {s.sourceDir, options.files};
  EarlierRecords earlier;
  const bool skipDone = s.skipExisting && !IsSameBatchFolder(s.sourceDir, s.targetDir);
  const bool json = s.recordFormat == RecordFormat::kJsonLines;
  if (skipDone && json) earlier.Read(s.recordPath);
  const bool split = s.params->GetValue(kSplitSpreads) != 0;
  const std::string fingerprint = BatchSettingsFingerprint(s, *s.params);
  // With attached settings a book has its own fingerprint, as in the run.
  std::optional<LibraryState> library;
  if (skipDone && json && s.useAttached) library.emplace(s.libraryStateFile);
  auto fingerprintOf = [&](const fs::path& source) {
    return library && IsBatchBook(source) ? AttachedBookFingerprint(*library, s, *s.params, source)
                                          : fingerprint;
  };
  const char end = options.list == CliList::kNul ? '\0' : '\n';
  for (const BatchWorkItem& item : BatchWorkList(s, options.pickedFiles ? &selection : nullptr)) {
    if (skipDone &&
        (json ? !DoneByEarlierRun(earlier, item.source, s.sourceDir, s.targetDir, s,
                                  fingerprintOf(item.source))
                     .empty()
              : !DoneByNewerTarget(item.source, s.sourceDir, s.targetDir, s, split).empty())) {
      continue;
    }
    const fs::path target = BatchOutputPath(item.source, s.sourceDir, s.targetDir, s);
    std::string record = QuoteListField(BatchRelativePath(item.source, s.sourceDir).native());
    record += '\t';
    record += QuoteListField(target.native());
    record += end;
    std::fwrite(record.data(), 1, record.size(), out);
  }
  return std::fflush(out) == 0 ? kCliAllConverted : kCliRefused;
}

// SOURCE_DIR is a folder that exists; else false after saying what it is.
bool SourceFolderUsable(const fs::path& source, std::FILE* err) {
  std::error_code ec;
  const fs::file_status st = fs::status(source, ec);
  if (fs::is_directory(st)) return true;
  PrintError(err,
             fs::exists(st)
                 ? EngineTextArgs(INKBRITE_TEXT("cli", "源目录不是目录：%1"), {source.native()})
                 : EngineTextArgs(INKBRITE_TEXT("cli", "源目录不存在：%1"), {source.native()}));
  return false;
}

// --files-from: the listed files below the source folder, as picked files.
bool ReadListedFiles(CliOptions& options, std::FILE* err) {
  std::string text;
  if (options.filesFrom == "-") {
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) text.append(buffer, got);
  } else {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(options.filesFrom, uint64_t{1} << 34, bytes)) {
      PrintError(err, EngineTextArgs(INKBRITE_TEXT("cli", "--files-from：无法读取%1"),
                                     {options.filesFrom.native()}));
      return false;
    }
    text.assign(bytes.begin(), bytes.end());
  }
  std::vector<fs::path> relative;
  std::string error;
  if (!ParseFileList(text, relative, error)) {
    PrintError(err, "--files-from " + options.filesFrom.string() + ": " + error);
    return false;
  }
  if (relative.empty()) {
    PrintError(err, EngineTextArgs(INKBRITE_TEXT("cli", "--files-from %1中没有列出文件"),
                                   {options.filesFrom.native()}));
    return false;
  }
  options.pickedFiles = true;
  for (const fs::path& r : relative) options.files.push_back(options.settings.sourceDir / r);
  return true;
}

// --merge-records: the records in walk order, to --record or standard output.
int MergeRun(const CliOptions& options, std::FILE* out, std::FILE* err) {
  std::string merged, error;
  std::vector<int64_t> gaps;
  if (!MergeRecords(options.records, merged, gaps, error)) {
    PrintError(err, "--merge-records: " + error);
    return kCliRefused;
  }
  if (!gaps.empty()) {
    PrintError(err, EngineTextArgs(INKBRITE_TEXT("cli",
                                                 "--merge-records：缺少%1个遍历序号"
                                                 "（第一个是%2）：有部分运行没有完成或没有给出"),
                                   {std::to_string(gaps.size()), std::to_string(gaps.front())}));
  }
  const fs::path& to = options.settings.recordPath;
  if (to.empty()) {
    return std::fwrite(merged.data(), 1, merged.size(), out) == merged.size() &&
                   std::fflush(out) == 0
               ? kCliAllConverted
               : kCliRefused;
  }
  if (!WriteFileBytesSafely(to, merged.data(), merged.size())) {
    PrintError(err,
               EngineTextArgs(INKBRITE_TEXT("cli", "--merge-records：无法写入%1"), {to.native()}));
    return kCliRefused;
  }
  return kCliAllConverted;
}

}  // namespace

fs::path DefaultCliRecordPath(const BatchSettings& settings) {
  std::string suffix = "_Rcd";
  if (settings.shard.Given()) {
    suffix += ".shard-" + std::to_string(settings.shard.index) + "-of-" +
              std::to_string(settings.shard.count);
  }
  suffix += settings.recordFormat == RecordFormat::kJsonLines ? ".jsonl" : ".txt";
  return ProgramFilePath(suffix);
}

std::string CliSummaryLine(const BatchSettings& settings, const CBatchJob& job, bool stopped) {
  std::string line = "inkbrite-batch: ";
  if (settings.shard.Given()) {
    line += EngineTextArgs(
        INKBRITE_TEXT("cli", "第%1/%2份："),
        {std::to_string(settings.shard.index), std::to_string(settings.shard.count)});
  }
  line += EngineTextArgs(INKBRITE_TEXT("cli", "%1个已转换，%2个失败，%3个跳过"),
                         {std::to_string(job.SuccessCount() - job.SkippedCount()),
                          std::to_string(job.FailedCount()), std::to_string(job.SkippedCount())});
  if (job.LeftOutCount() > 0) {
    line +=
        EngineTextArgs(INKBRITE_TEXT("cli", "，%1项已略去"), {std::to_string(job.LeftOutCount())});
  }
  if (settings.skipExisting) {
    line +=
        EngineText(settings.recordFormat == RecordFormat::kJsonLines
                       ? INKBRITE_TEXT("cli", "（跳过：记录中以相同设置转换、目标文件比源文件新）")
                       : INKBRITE_TEXT("cli", "（跳过：目标文件比源文件新）"));
  }
  const int left = job.Total() - job.SuccessCount() - job.FailedCount();
  if (stopped && left > 0) {
    line += EngineTextArgs(INKBRITE_TEXT("cli", "，%1个未转换（已停止）"), {std::to_string(left)});
  }
  return line;
}

MessageLanguage CliLanguage(const CliOptions& options, const EnvLookup& env) {
  return options.language ? *options.language : LanguageFromEnvironment(env);
}

MessageLanguage CliLanguage(std::span<const std::string_view> args, const EnvLookup& env) {
  std::optional<MessageLanguage> chosen;
  for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    std::string_view value;
    if (args[i] == "--lang" && i + 1 < args.size()) {
      value = args[++i];
    } else if (args[i].starts_with("--lang=")) {
      value = args[i].substr(7);
    } else {
      continue;
    }
    MessageLanguage language{};
    if (ParseMessageLanguage(value, language)) chosen = language;
  }
  return chosen ? *chosen : LanguageFromEnvironment(env);
}

std::string CliRefusalText(std::string_view error) {
  return "inkbrite-batch: " + std::string(error) + "\n" +
         std::string(EngineText(INKBRITE_TEXT("cli", "请用“inkbrite-batch --help”查看用法。"))) +
         "\n";
}

int DefaultCliJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores == 0 ? 1 : static_cast<int>(cores), 1, kMaxBatchJobs);
}

bool CliValueInRange(int slot, int value) {
  const SettingBounds bounds = BoundsOfSetting(slot);
  return value >= bounds.min && value <= bounds.max;
}

namespace {

// What the parser collects besides the options themselves.
struct CliParse {
  CliOptions& options;
  const EnvLookup& env;
  std::vector<std::string_view> paths;
  fs::path target;
  bool haveTarget = false;
};

// One option: its name, the name of its value (empty: a flag), its help text
// (a marked text, lines separated by "\n", with %1.. for what `helpArgs`
// gives when the help is shown, in the language of that moment) and what it
// does with its value.
struct CliOption {
  std::string_view name;
  std::string_view argument;
  std::string_view help;
  bool (*apply)(CliParse& parse, std::string_view value, std::string& error);
  std::vector<std::string> (*helpArgs)() = nullptr;
};

bool SetPatterns(CliParse& p, std::string_view v, std::string& error) {
  if (v.empty()) {
    error = EngineText(INKBRITE_TEXT("cli", "--pattern至少需要一个模式"));
    return false;
  }
  p.options.settings.patterns = std::string(v);
  return true;
}

bool SetExtension(CliParse& p, std::string_view v, std::string& error) {
  bool known = false;
  // Any case, as on Windows; the name is written as typed (".JPG").
  for (const std::string& ext : SaveExtensions()) known = known || EqualsIgnoringAsciiCase(v, ext);
  if (!known) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--ext必须是%1，而不是“%2”"),
                           {JoinedForText(SaveExtensions()), v});
    return false;
  }
  p.options.settings.newExtension = std::string(v);
  p.options.extensionGiven = true;
  return true;
}

bool AddLoad(CliParse& p, std::string_view v, std::string& /*error*/) {
  CliParamChange change;
  change.load = true;
  change.name = std::string(v);
  p.options.changes.push_back(std::move(change));
  return true;
}

bool AddSet(CliParse& p, std::string_view v, std::string& error) {
  const size_t eq = v.find('=');
  if (eq == std::string_view::npos) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--set需要KEY=VALUE，而不是“%1”"), {v});
    return false;
  }
  const std::string_view key = v.substr(0, eq);
  CliParamChange change;
  change.slot = NamedSettingSlot(key);
  if (change.slot < 0) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--set：未知的键“%1”"), {key});
    return false;
  }
  if (!ParseInt(v.substr(eq + 1), change.value)) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--set：%1的值不是整数：“%2”"),
                           {key, v.substr(eq + 1)});
    return false;
  }
  if (!CliValueInRange(change.slot, change.value)) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--set：%1的值超出范围：“%2”"),
                           {key, v.substr(eq + 1)});
    return false;
  }
  p.options.changes.push_back(std::move(change));
  return true;
}

bool SetBooks(CliParse& p, std::string_view v, std::string& error) {
  const BookKindRow* row = FindBookKindRow(v);
  if (row == nullptr) {
    error = EngineTextArgs(
        INKBRITE_TEXT("cli", "--books必须是epub、kepub、pdf、cbz、folder或skip，而不是“%1”"), {v});
    return false;
  }
  p.options.settings.books = row->output;
  p.options.booksGiven = true;
  return true;
}

// --strip-cut HEIGHT | screen.
bool SetStripCut(CliParse& p, std::string_view v, std::string& error) {
  if (v == "screen") {
    p.options.stripCutScreen = true;
    return true;
  }
  int height = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), height);
  if (ec != std::errc() || end != v.data() + v.size() || height < 16 || height > 65535) {
    error = EngineTextArgs(
        INKBRITE_TEXT("cli", "--strip-cut必须是16到65535的高度或screen，而不是“%1”"), {v});
    return false;
  }
  p.options.stripCutScreen = false;
  p.options.settings.stripCut = height;
  return true;
}

bool SetSpreads(CliParse& p, std::string_view v, std::string& error) {
  static constexpr std::pair<std::string_view, SpreadPages> kModes[] = {
      {"split", SpreadPages::kSplit},
      {"rotate", SpreadPages::kRotate},
      {"both", SpreadPages::kBoth}};
  for (const auto& [name, pages] : kModes) {
    if (v == name) {
      p.options.settings.spreadPages = pages;
      p.options.splitSpreads = 1;
      return true;
    }
  }
  if (v == "keep") {
    p.options.settings.spreadPages = SpreadPages::kSplit;
    p.options.splitSpreads = 0;
    return true;
  }
  error = EngineTextArgs(
      INKBRITE_TEXT("cli", "--spreads必须是split、rotate、both或keep，而不是“%1”"), {v});
  return false;
}

bool AddDevice(CliParse& p, std::string_view v, std::string& error) {
  if (FindDevice(v) == nullptr) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "没有名为“%1”的设备（见--list-devices）"), {v});
    return false;
  }
  CliParamChange change;
  change.device = true;
  change.name = std::string(v);
  p.options.changes.push_back(std::move(change));
  return true;
}

bool SetJobs(CliParse& p, std::string_view v, std::string& error) {
  int jobs = 0;
  if (!ParseInt(v, jobs) || jobs < 1 || jobs > kMaxBatchJobs) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--jobs必须是1到%1，而不是“%2”"),
                           {std::to_string(kMaxBatchJobs), v});
    return false;
  }
  p.options.settings.jobs = jobs;
  return true;
}

// Megabytes of 10^6 bytes, 1 to a million.
bool SetMaxSize(CliParse& p, std::string_view v, std::string& error) {
  int megabytes = 0;
  if (!ParseInt(v, megabytes) || megabytes < 1 || megabytes > 1000000) {
    error =
        EngineTextArgs(INKBRITE_TEXT("cli", "--max-size必须是1到1000000（MB），而不是“%1”"), {v});
    return false;
  }
  p.options.settings.bookMaxBytes = uint64_t{static_cast<unsigned>(megabytes)} * 1000000;
  return true;
}

bool SetShard(CliParse& p, std::string_view v, std::string& error) {
  return ParseShard(v, p.env, p.options.settings.shard, error);
}

bool SetRecordFormat(CliParse& p, std::string_view v, std::string& error) {
  if (v == "text") {
    p.options.settings.recordFormat = RecordFormat::kText;
  } else if (v == "jsonl") {
    p.options.settings.recordFormat = RecordFormat::kJsonLines;
  } else {
    error =
        EngineTextArgs(INKBRITE_TEXT("cli", "--record-format必须是text或jsonl，而不是“%1”"), {v});
    return false;
  }
  return true;
}

bool SetLanguage(CliParse& p, std::string_view v, std::string& error) {
  MessageLanguage language{};
  if (!ParseMessageLanguage(v, language)) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--lang必须是zh或en，而不是“%1”"), {v});
    return false;
  }
  p.options.language = language;
  return true;
}

// Every option, in the order --help lists them.
// NOLINTNEXTLINE(readability-function-size): one flat table, a row per option.
const std::vector<CliOption>& CliOptionTable() {
  using P = CliParse;
  using V = std::string_view;
  using E = std::string;
  static const std::vector<CliOption> table = {
      {"--pattern", "LIST", INKBRITE_TEXT("cli", "源文件模式，以“;”分隔\n（默认：%1）"),
       SetPatterns, [] { return std::vector<std::string>{DefaultSourcePatterns()}; }},
      {"--ext", "EXT", INKBRITE_TEXT("cli", "输出格式：%1（默认%2）"), SetExtension,
       [] {
         return std::vector<std::string>{JoinedForText(SaveExtensions()), SaveExtensions().front()};
       }},
      {"--subdirs", "", INKBRITE_TEXT("cli", "也搜索子目录（默认）"),
       [](P& p, V, E&) {
         p.options.settings.includeSubdirs = true;
         return true;
       }},
      {"--no-subdirs", "", INKBRITE_TEXT("cli", "只搜索源目录本身"),
       [](P& p, V, E&) {
         p.options.settings.includeSubdirs = false;
         return true;
       }},
      {"--load", "NAME",
       INKBRITE_TEXT("cli",
                     "从名为NAME的设置开始（未给--ext时也用它的\n格式）；设置文件中"
                     "没有现成的eink-6-1072x1448、\neink-7-1264x1680和"
                     "tablet-10-1600x2560时\n会加入它们"),
       AddLoad},
      {"--device", "NAME",
       INKBRITE_TEXT("cli",
                     "按设备设置（见--list-devices）：适配屏幕的\n大小、灰度或彩色、"
                     "书的种类（未给--books时）\n和PDF的分辨率；与--load、--set按顺序生效"),
       AddDevice},
      {"--list-devices", "", INKBRITE_TEXT("cli", "列出已知的设备及其屏幕和书的种类"),
       [](P& p, V, E&) {
         p.options.listDevices = true;
         return true;
       }},
      {"--use-attached", "",
       INKBRITE_TEXT("cli",
                     "每本书用附加在它或它的系列（所在目录）上的\n命名设置转换"
                     "（书的优先），页面另有的设置\n（只用于此页）加在上面；没有附加的书用本次的\n"
                     "设置；记录写明每本书和这些页面所用的设置"),
       [](P& p, V, E&) {
         p.options.settings.useAttached = true;
         return true;
       }},
      {"--list-attached", "",
       INKBRITE_TEXT("cli",
                     "列出附加在系列和书上的设置（给出FOLDER时\n只列它之下的）："
                     "series或book、设置名、路径"),
       [](P& p, V, E&) {
         p.options.listAttached = true;
         return true;
       }},
      {"--export-attached", "FILE",
       INKBRITE_TEXT("cli",
                     "把附加的设置（给出FOLDER时只导出它之下的）\n以命名设置文件的格式"
                     "写入FILE：每个设置\n一节，附加写作AttachedTo1=…等键"),
       [](P& p, V v, E&) {
         p.options.exportAttached = fs::path(v);
         return true;
       }},
      {"--import-attached", "FILE",
       INKBRITE_TEXT("cli",
                     "从FILE读入设置和它们的附加（--export-attached\n写的文件）；"
                     "已有的同名而值不同的设置\n保持不变，不导入"),
       [](P& p, V v, E&) {
         p.options.importAttached = fs::path(v);
         return true;
       }},
      {"--settings", "FILE", INKBRITE_TEXT("cli", "--load所用的设置文件（默认：Inkbrite.ini）"),
       [](P& p, V v, E&) {
         p.options.settingsFile = fs::path(v);
         return true;
       }},
      {"--set", "KEY=VALUE",
       INKBRITE_TEXT("cli",
                     "一项设置，例如Brightness=120（可重复；\n--load与--set按顺序生效，"
                     "后面的为准）"),
       AddSet},
      {"--skip-colour", "", INKBRITE_TEXT("cli", "彩色页面只复制，不转换"),
       [](P& p, V, E&) {
         p.options.settings.skipColour = true;
         return true;
       }},
      {"--overwrite-source", "", INKBRITE_TEXT("cli", "允许TARGET_DIR就是源目录"),
       [](P& p, V, E&) {
         p.options.overwriteSource = true;
         return true;
       }},
      {"--record", "FILE",
       INKBRITE_TEXT("cli",
                     "结果记录（默认：Inkbrite_Rcd.txt；部分运行的：\n"
                     "Inkbrite_Rcd.shard-K-of-N.txt；JSON行格式用.jsonl）"),
       [](P& p, V v, E&) {
         p.options.settings.recordPath = fs::path(v);
         return true;
       }},
      {"--record-format", "FMT",
       INKBRITE_TEXT("cli",
                     "text（默认：失败的文件）或jsonl（每个文件一个JSON\n"
                     "对象：source、target、result、reason、大小、毫秒）"),
       SetRecordFormat},
      {"--report", "",
       INKBRITE_TEXT("cli",
                     "同时记录自动处理在每个写出的页面上的发现\n"
                     "（纠斜、分页、裁边、色阶、适配）"),
       [](P& p, V, E&) {
         p.options.settings.reportFindings = true;
         return true;
       }},
      {"--books", "MODE",
       INKBRITE_TEXT("cli",
                     "源文件中的漫画书（%1）：\ncbz：每本转换为一个.cbz（默认）；\n"
                     "epub：固定版式的EPUB 3；kepub：Kobo的.kepub.epub；\n"
                     "pdf：每页一张图的PDF；\n"
                     "folder：转换到以书名命名的目录；skip：略过"),
       SetBooks, [] { return std::vector<std::string>{BookPatterns()}; }},
      {"--spreads", "MODE",
       INKBRITE_TEXT("cli",
                     "跨页（宽于高的页面）：split拆成两页（按阅读\n顺序）；"
                     "rotate转90度以占满竖屏；both先给\n转过的整页，再给拆开的两页；"
                     "keep保持原样\n（默认：按设置的SplitSpreads）"),
       SetSpreads},
      {"--renumber", "",
       INKBRITE_TEXT("cli",
                     "CBZ（或书的目录）中的页面按阅读顺序改名为\n"
                     "0001.jpg……（--device也会这样做）"),
       [](P& p, V, E&) {
         p.options.settings.renumber = true;
         return true;
       }},
      {"--strip-cut", "HEIGHT",
       INKBRITE_TEXT("cli",
                     "长条漫画：比HEIGHT（适配和缩放后的像素，\n"
                     "screen：设备屏幕的高度）高的页面切成多页，\n"
                     "name_001……，尽量切在画格间的空白处"),
       SetStripCut},
      {"--strip-join", "",
       INKBRITE_TEXT("cli",
                     "与--strip-cut一起：每个目录或书的页面先接成\n"
                     "一长条再切开，跨两张图的画格保持完整"),
       [](P& p, V, E&) {
         p.options.settings.stripJoin = true;
         return true;
       }},
      {"--folder-books", "",
       INKBRITE_TEXT("cli",
                     "每个含有页面的目录转换为一本以它命名的书\n"
                     "（--books为cbz、epub、kepub或pdf时）"),
       [](P& p, V, E&) {
         p.options.settings.folderBooks = true;
         return true;
       }},
      {"--max-size", "MB",
       INKBRITE_TEXT("cli",
                     "一本书（cbz、epub、kepub、pdf）超过MB兆字节\n（10^6字节）时"
                     "分为几卷，每卷都是完整的书\n（“书名 Vol. 2”）"),
       SetMaxSize},
      {"--title", "TEXT",
       INKBRITE_TEXT("cli", "电子书和PDF的书名（默认：ComicInfo.xml的，\n否则为书的文件名）"),
       [](P& p, V v, E&) {
         p.options.settings.bookTitle = std::string(v);
         return true;
       }},
      {"--series", "TEXT",
       INKBRITE_TEXT("cli",
                     "电子书和PDF的系列名（默认：ComicInfo.xml的，\n否则取自文件名，"
                     "如“Series v03 c012”）"),
       [](P& p, V v, E&) {
         p.options.settings.bookSeries = std::string(v);
         return true;
       }},
      {"--author", "TEXT",
       INKBRITE_TEXT("cli",
                     "电子书和PDF的作者（以逗号分隔多人；\n默认：ComicInfo.xml的作者和画师）"),
       [](P& p, V v, E&) {
         p.options.settings.bookAuthor = std::string(v);
         return true;
       }},
      {"--jobs", "N",
       INKBRITE_TEXT("cli",
                     "同时转换的文件（及书页）数（默认：处理器\n核心数）；"
                     "无论N为多少，写出的文件都相同"),
       SetJobs},
      {"--shard", "K/N",
       INKBRITE_TEXT("cli",
                     "只转换N份中的第K份（K从0起），按每个路径的\n散列值划分；"
                     "auto或auto/N：份号取自Slurm作业\n数组或Kubernetes Indexed Job"),
       SetShard},
      {"--skip-existing", "",
       INKBRITE_TEXT("cli",
                     "跳过已转换的文件：目标文件比源文件新；\n"
                     "用--record-format jsonl时还要求同一记录中\n"
                     "上次运行以相同设置转换了它"),
       [](P& p, V, E&) {
         p.options.settings.skipExisting = true;
         return true;
       }},
      {"--files-from", "FILE",
       INKBRITE_TEXT("cli",
                     "转换FILE中列出的文件（'-'：标准输入），\n相对于SOURCE_DIR，"
                     "每行一个或以NUL分隔"),
       [](P& p, V v, E& e) {
         p.options.filesFrom = fs::path(v);
         if (v.empty()) e = EngineText(INKBRITE_TEXT("cli", "--files-from需要一个文件"));
         return e.empty();
       }},
      {"--list", "", INKBRITE_TEXT("cli", "列出工作清单（SOURCE<TAB>TARGET行），\n不转换"),
       [](P& p, V, E&) {
         p.options.list = CliList::kLines;
         return true;
       }},
      {"--list0", "", INKBRITE_TEXT("cli", "同上，每条以NUL结尾"),
       [](P& p, V, E&) {
         p.options.list = CliList::kNul;
         return true;
       }},
      {"--merge-records", "",
       INKBRITE_TEXT("cli",
                     "按遍历顺序合并所列（--shard运行的）记录，\n"
                     "写入--record FILE或标准输出"),
       [](P& p, V, E&) {
         p.options.mergeRecords = true;
         return true;
       }},
      {"--dry-run", "", INKBRITE_TEXT("cli", "列出将要读取和写入的文件，不写任何文件"),
       [](P& p, V, E&) {
         p.options.dryRun = true;
         return true;
       }},
      {"--quiet", "", INKBRITE_TEXT("cli", "不显示进度，全部成功时也不显示总结"),
       [](P& p, V, E&) {
         p.options.quiet = true;
         return true;
       }},
      {"--lang", "LANG",
       INKBRITE_TEXT("cli",
                     "消息和结果记录各行的语言：\nzh（中文）或en（英文）；"
                     "默认：INKBRITE_LANG，\n否则按区域设置（zh*为中文，其他为英文）"),
       SetLanguage},
      {"--target", "TARGET_DIR",
       INKBRITE_TEXT("cli", "转换所列的FILE而不是一个目录，存入TARGET_DIR"),
       [](P& p, V v, E&) {
         p.target = fs::path(v);
         p.haveTarget = true;
         return true;
       }},
      {"--help", "", INKBRITE_TEXT("cli", "显示本说明"),
       [](P& p, V, E&) {
         p.options.help = true;
         return true;
       }},
      {"--version", "", INKBRITE_TEXT("cli", "显示程序的版本"),
       [](P& p, V, E&) {
         p.options.version = true;
         return true;
       }},
  };
  return table;
}

const CliOption* FindOption(std::string_view name) {
  for (const CliOption& option : CliOptionTable()) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

void SetCliDefaults(CliOptions& options) {
  options.settings.patterns = DefaultSourcePatterns();
  options.settings.newExtension = SaveExtensions().front();
  options.settings.includeSubdirs = true;
  options.settings.jobs = DefaultCliJobs();
}

// One "--name", "--name=VALUE" or "--name VALUE" at args[i]; `i` moves past
// a separate value.
bool ParseOption(std::span<const std::string_view> args, size_t& i, CliParse& parse,
                 std::string& error) {
  const std::string_view arg = args[i];
  const size_t eq = arg.find('=');
  const std::string_view name = arg.substr(0, eq);
  const CliOption* option = FindOption(name);
  if (option == nullptr) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "未知的选项：%1"), {name});
    return false;
  }
  std::string_view value;
  if (option->argument.empty()) {
    if (eq != std::string_view::npos) {
      error = EngineTextArgs(INKBRITE_TEXT("cli", "选项%1不带值"), {name});
      return false;
    }
  } else if (eq != std::string_view::npos) {
    value = arg.substr(eq + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "选项%1需要一个值"), {name});
    return false;
  }
  return option->apply(parse, value, error);
}

// The paths after the options: SOURCE_DIR TARGET_DIR, or the FILEs of
// --target, whose first file's folder is the source folder.
bool TakePaths(CliParse& parse, std::string& error) {
  CliOptions& options = parse.options;
  if (options.mergeRecords) {
    if (parse.paths.empty()) {
      error = EngineText(INKBRITE_TEXT("cli", "--merge-records至少需要一个RECORD"));
      return false;
    }
    for (std::string_view p : parse.paths) options.records.emplace_back(p);
    return true;
  }
  if (parse.haveTarget && !options.filesFrom.empty()) {
    error = EngineText(
        INKBRITE_TEXT("cli", "--files-from列出的是SOURCE_DIR下的文件，不能与--target同用"));
    return false;
  }
  if (parse.haveTarget) {
    if (parse.target.empty() || parse.paths.empty()) {
      error = EngineText(INKBRITE_TEXT("cli", "--target需要一个目录和至少一个FILE"));
      return false;
    }
    options.pickedFiles = true;
    options.settings.targetDir = parse.target;
    for (std::string_view p : parse.paths) options.files.emplace_back(p);
    // A bare name lies in ".".
    fs::path folder = options.files.front().parent_path();
    options.settings.sourceDir = folder.empty() ? fs::path(".") : folder;
    return true;
  }
  if (parse.paths.size() != 2 || parse.paths[0].empty() || parse.paths[1].empty()) {
    error = EngineText(
        INKBRITE_TEXT("cli", "需要SOURCE_DIR TARGET_DIR（或--target TARGET_DIR FILE...）"));
    return false;
  }
  options.settings.sourceDir = fs::path(parse.paths[0]);
  options.settings.targetDir = fs::path(parse.paths[1]);
  return true;
}

}  // namespace

// Options that do not go together.
bool CheckCombination(const CliOptions& options, std::string& error) {
  if (options.dryRun && options.list != CliList::kNone) {
    error = EngineText(INKBRITE_TEXT("cli", "--dry-run与--list不能同用"));
  }
  return error.empty();
}

bool ParseCliOptions(std::span<const std::string_view> args, CliOptions& options,
                     std::string& error, const EnvLookup& env) {
  SetCliDefaults(options);
  const EnvLookup lookup =
      env ? env : EnvLookup([](const char* name) { return std::getenv(name); });
  CliParse parse{options, lookup, {}, {}, false};
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.starts_with("--")) {
      if (!ParseOption(args, i, parse, error)) return false;
    } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
      // Single-dash words ("-q") are refused, not taken as paths; "-" alone
      // is a path.
      error = EngineTextArgs(INKBRITE_TEXT("cli", "未知的选项：%1"), {arg});
      return false;
    } else {
      parse.paths.push_back(arg);
    }
  }
  if (options.help || options.version || options.listDevices) return true;
  const int attachedCommands = (options.listAttached ? 1 : 0) +
                               (options.exportAttached.empty() ? 0 : 1) +
                               (options.importAttached.empty() ? 0 : 1);
  if (attachedCommands > 1) {
    error = EngineText(
        INKBRITE_TEXT("cli", "--list-attached、--export-attached和--import-attached只能选一个"));
    return false;
  }
  if (options.listAttached || !options.exportAttached.empty()) {
    // --list-attached [FOLDER], --export-attached FILE [FOLDER].
    if (parse.paths.size() > 1) {
      error = EngineText(options.listAttached
                             ? INKBRITE_TEXT("cli", "--list-attached最多只需要一个目录")
                             : INKBRITE_TEXT("cli", "--export-attached最多只需要一个目录"));
      return false;
    }
    if (!parse.paths.empty()) options.attachedFolder = fs::path(parse.paths.front());
    return true;
  }
  if (!options.importAttached.empty()) {
    if (!parse.paths.empty()) {
      error = EngineText(INKBRITE_TEXT("cli", "--import-attached不需要目录"));
      return false;
    }
    return true;
  }
  return TakePaths(parse, error) && CheckCombination(options, error);
}

namespace {

// A ready-made set of that name (any case), or none.
const DeviceSetting* FindDeviceSetting(std::string_view name) {
  for (const DeviceSetting& setting : kDeviceSettings) {
    if (EqualsIgnoringAsciiCase(setting.name, name)) return &setting;
  }
  return nullptr;
}

// Loads `name` from the file, or, for a ready-made set the file could not
// take, sets the keys a stored copy would hold.
bool LoadOrDeviceSetting(CParaBlock& block, const std::string& name, const fs::path& ini) {
  if (!ini.empty() && LoadNamedSetting(block, name, ini)) return true;
  const DeviceSetting* device = FindDeviceSetting(name);
  if (device == nullptr) return false;
  CParaBlock ready;
  ApplyDeviceSetting(*device, ready);
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    block.SetValue(entry.slot, ready.GetValue(entry.slot));
  }
  block.SetName(device->name);
  return true;
}

}  // namespace

bool BuildParams(CliOptions& options, CParaBlock& block, std::string& error, std::string* note) {
  const fs::path ini =
      options.settingsFile.empty() ? ProgramFilePath(".ini") : options.settingsFile;
  bool loaded = false;
  // What the options themselves chose for books wins over every setting.
  const BatchSettings given = options.settings;
  for (const CliParamChange& change : options.changes) {
    if (change.load) {
      // First use of the settings file: the ready-made sets join it.
      if (!loaded && !ini.empty() && !AddDeviceSettings(ini) && note != nullptr) {
        *note = EngineTextArgs(
            INKBRITE_TEXT("cli", "现成的设置无法写入%1（无法读写，或文件将超过其上限）"),
            {ini.native()});
      }
      loaded = true;
      if (!LoadOrDeviceSetting(block, change.name, ini)) {
        error = EngineTextArgs(INKBRITE_TEXT("cli", "%2中没有名为“%1”的设置"),
                               {change.name, ini.native()});
        return false;
      }
    } else if (change.device) {
      const DeviceRow* device = FindDevice(change.name);
      if (device == nullptr) return false;  // refused by the parser
      ApplyDevice(*device, block);
      ApplyDeviceToRun(*device, options.settings);
      loaded = true;
    } else {
      block.SetValue(change.slot, change.value);
      if (change.slot == kSplitRightToLeft) options.settings.readingOrderChosen = true;
    }
    // Each in turn: a setting that leaves the books to the run (stored
    // before it could say) keeps what an earlier one chose.
    TakeBookSettings(block, options.settings);
  }
  if (options.booksGiven) options.settings.books = given.books;
  options.settings.folderBooks = options.settings.folderBooks || given.folderBooks;
  options.settings.renumber = options.settings.renumber || given.renumber;
  // --spreads wins over every setting, wherever it stands.
  if (options.splitSpreads >= 0) {
    block.SetValue(kSplitSpreads, options.splitSpreads);
    options.settings.spreadPages = given.spreadPages;
  }
  if (options.settings.stripJoin && options.settings.stripCut <= 0 && !options.stripCutScreen) {
    error = std::string(EngineText(INKBRITE_TEXT("cli", "--strip-join需要--strip-cut")));
    return false;
  }
  if (options.stripCutScreen) {
    options.settings.stripCut = block.GetValue(kFitHeight);
    if (options.settings.stripCut <= 0) {
      error = std::string(EngineText(
          INKBRITE_TEXT("cli", "--strip-cut screen需要屏幕的高度（--device或FitHeight设置）")));
      return false;
    }
  }
  // A loaded setting brings its output format unless --ext named one.
  const int format = block.GetValue(kTargetFiles);
  if (loaded && !options.extensionGiven && format >= 0 &&
      format < static_cast<int>(SaveExtensions().size())) {
    options.settings.newExtension = SaveExtensions()[static_cast<size_t>(format)];
  }
  options.settings.colourMode = block.GetValue(kGreyScale);
  options.settings.resizePercent = block.GetValue(kResize);
  options.settings.jpegQuality = block.GetValue(kJpegQuality);
  // A stored setting may hold values the command line would refuse.
  for (int slot :
       {static_cast<int>(kGreyScale), static_cast<int>(kResize), static_cast<int>(kJpegQuality),
        static_cast<int>(kBookKind), static_cast<int>(kFolderBooks), static_cast<int>(kSpreadPages),
        static_cast<int>(kRenumber)}) {
    if (!CliValueInRange(slot, block.GetValue(slot))) {
      error = EngineTextArgs(INKBRITE_TEXT("cli", "设置值超出范围：第%1项为%2"),
                             {std::to_string(slot), std::to_string(block.GetValue(slot))});
      return false;
    }
  }
  return true;
}

namespace {

// The keys --set takes, one a line: key, range and unit, label.
std::string SetKeysHelp() {
  constexpr size_t kKeyColumn = 19, kRangeColumn = 14;
  std::string text(EngineText(INKBRITE_TEXT("cli", "\n--set的键（KEY）：\n")));
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    const SettingBounds bounds = BoundsOfSetting(entry.slot);
    const ParaSlotRow& row = *ParaSlotInfo(entry.slot);
    std::string key(entry.key);
    key.resize(std::max(key.size() + 1, kKeyColumn), ' ');
    std::string range = bounds.min == kAnyValueMin && bounds.max == kAnyValueMax
                            ? std::string("-")
                            : std::to_string(bounds.min) + ".." + std::to_string(bounds.max);
    if (!row.unit.empty()) range += " " + std::string(row.unit);
    // The unit's own characters (° is two bytes) count as one column each.
    const size_t shown = range.size() - (row.unit.find("°") != std::string_view::npos ? 1 : 0);
    range += std::string(std::max(kRangeColumn, shown + 1) - shown, ' ');
    text.append("  ").append(key).append(range).append(EngineText(row.label)).append("\n");
  }
  return text;
}

}  // namespace

std::string CliDeviceListText() {
  std::string text;
  for (const DeviceRow& d : DeviceRows()) {
    char line[256];
    const char* colour = d.colour == DeviceRow::Colour::kGrey      ? "grey"
                         : d.colour == DeviceRow::Colour::kKaleido ? "colour e-ink"
                                                                   : "colour";
    std::snprintf(line, sizeof line, "%-26s %4dx%-4d %5.2f\" %4d ppi  %-12s %-6s %s\n",
                  d.name.c_str(), d.width, d.height, d.inches, d.ppi, colour,
                  std::string(BookKindRowOf(d.kind).name).c_str(), d.label.c_str());
    text += line;
  }
  return text;
}

std::string CliUsageText() {
  // Each option's name and value in a column of this width, its help after.
  constexpr size_t kColumn = 21;
  std::string text(
      EngineText(INKBRITE_TEXT("cli",
                               "用法：inkbrite-batch [选项] SOURCE_DIR TARGET_DIR\n"
                               "      inkbrite-batch [选项] --target TARGET_DIR FILE...\n"
                               "      inkbrite-batch [--record FILE] --merge-records "
                               "RECORD...\n\n"
                               "把一个目录中的页面（或选定的文件）转换为增强后的副本。\n"
                               "\n"
                               "选项：\n")));
  for (const CliOption& option : CliOptionTable()) {
    std::string head(option.name);
    if (!option.argument.empty()) head += " " + std::string(option.argument);
    head.resize(std::max(head.size() + 1, kColumn), ' ');
    text += "  " + head;
    const std::vector<std::string> a =
        option.helpArgs != nullptr ? option.helpArgs() : std::vector<std::string>();
    auto arg = [&a](size_t i) {
      return i < a.size() ? std::string_view(a[i]) : std::string_view();
    };
    const std::string help = EngineTextArgs(option.help, {arg(0), arg(1)});
    for (size_t start = 0, end = 0; start <= help.size(); start = end + 1) {
      end = std::min(help.find('\n', start), help.size());
      if (start > 0) text += std::string(2 + kColumn, ' ');
      text += help.substr(start, end - start) + "\n";
    }
  }
  text += SetKeysHelp();
  text +=
      EngineText(INKBRITE_TEXT("cli",
                               "\n退出状态：0 全部转换成功，1 有文件失败，2 拒绝运行，"
                               "3 结果记录\n无法写入或完成；被信号停止时：130（Ctrl-C，SIGINT），"
                               "\n143（SIGTERM），129（SIGHUP）。部分运行（--shard）"
                               "按它自己的\n文件退出。\n"));
  return text;
}

void InstallCliInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: a signal never fails a file. Every
  // signal after the first asks for the same stop again.
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool CliInterrupted() { return g_stopSignal != 0; }
int CliStopExit() { return 128 + g_stopSignal; }

CliHost::CliHost(std::FILE* out, std::FILE* err, bool quiet, bool overwriteSource,
                 fs::path recordPath)
    : m_out(out),
      m_err(err),
      m_quiet(quiet),
      m_overwriteSource(overwriteSource),
      m_terminal(isatty(fileno(err)) != 0),
      m_recordPath(std::move(recordPath)) {}

MessageAnswer CliHost::ShowMessage(std::string_view text, MessageKind kind) {
  ClearBar();
  auto print = [](std::FILE* f, std::string_view t) {
    std::fprintf(f, "%.*s\n", static_cast<int>(t.size()), t.data());
    std::fflush(f);
  };
  if (kind == MessageKind::kYesNo) {
    if (text == EngineText(kBatchSameFolderQuestion)) {
      if (m_overwriteSource) return MessageAnswer::kYes;
      print(m_err, text);
      print(m_err, EngineText(kOverwriteSourceNote));
      m_refused = true;
      return MessageAnswer::kNo;
    }
    // The summary of a run with failures: nobody can answer the question on
    // a terminal, so it is left off and the record's path printed instead.
    std::string_view summary = text;
    if (summary.ends_with(EngineText(kBatchShowRecordQuestion))) {
      summary.remove_suffix(EngineText(kBatchShowRecordQuestion).size());
    }
    print(m_out, summary);
    if (!m_recordPath.empty()) {
      print(m_out, EngineTextArgs(INKBRITE_TEXT("cli", "结果记录：%1"), {m_recordPath.native()}));
    }
    return MessageAnswer::kNo;
  }
  if (text == EngineText(kBatchNoSourceMessage) || text == EngineText(kBatchNoTargetMessage) ||
      text == EngineText(kBatchReducedNeedsPngMessage) ||
      text == EngineText(kBatchBookPagesMessage) || text == EngineText(kBatchNoFilesMessage)) {
    print(m_err, text);
    m_refused = true;
  } else if (!m_quiet || text.ends_with(EngineText(kBatchStoppedSuffix))) {
    print(m_out, text);
  }
  return MessageAnswer::kOk;
}

void CliHost::SetStatus(StatusLine line, std::string_view text) {
  if (line != StatusLine::kCurrentFile || text.empty() || m_quiet) return;
  m_file = std::string(text);
  if (m_terminal) {
    DrawBar();
  } else {
    PrintText(m_err, EngineTextArgs(INKBRITE_TEXT("cli", "文件：%1"), {m_file}));
  }
}

void CliHost::SetProgressRange(int upper) {
  m_upper = upper;
  m_position = 0;
  m_drawnPercent = -1;
}

void CliHost::SetProgressPosition(int position) {
  m_position = position;
  if (m_terminal && !m_quiet && m_barShown) DrawBar();
}

void CliHost::AdvanceProgress(int units) {
  m_position += units;
  if (!m_terminal || m_quiet) return;
  const int percent = m_upper > 0 ? static_cast<int>(100LL * m_position / m_upper) : 0;
  if (percent != m_drawnPercent) DrawBar();
}

bool CliHost::PumpAndCheckStop() { return CliInterrupted(); }

bool CliHost::OpenWithShell(const fs::path& path) { return inkbrite::OpenWithShell(path); }

void CliHost::DrawBar() {
  constexpr int kWidth = 30;
  int percent = m_upper > 0 ? static_cast<int>(100LL * m_position / m_upper) : 0;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  m_drawnPercent = percent;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '-');
  // The file name's tail, so the line does not wrap on a narrow terminal.
  std::string name = m_file;
  if (name.size() > 60) name = "..." + name.substr(name.size() - 57);
  std::fprintf(m_err, "\r\x1b[K[%s] %3d%% %s", bar.c_str(), percent, name.c_str());
  std::fflush(m_err);
  m_barShown = true;
}

void CliHost::ClearBar() {
  if (!m_barShown) return;
  std::fprintf(m_err, "\r\x1b[K");
  std::fflush(m_err);
  m_barShown = false;
}

namespace {

fs::path CliSettingsFile(const CliOptions& options) {
  return options.settingsFile.empty() ? ProgramFilePath(".ini") : options.settingsFile;
}

// --use-attached: the settings file the sets come from, and the library's
// state, which must open (a damaged one set aside is said, and the run goes on).
bool CheckLibraryState(CliOptions& options, std::FILE* err) {
  options.settings.attachedSettingsFile = CliSettingsFile(options);
  const LibraryState state(options.settings.libraryStateFile);
  if (!state.Error().empty()) PrintError(err, state.Error());
  return state.Ok();
}

}  // namespace

int ListAttachedRun(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const LibraryState state(options.settings.libraryStateFile);
  if (!state.Error().empty()) PrintError(err, state.Error());
  if (!state.Ok()) return kCliRefused;
  std::fputs(AttachedListText(state, options.attachedFolder, CliSettingsFile(options)).c_str(),
             out);
  return 0;
}

int TransferAttachedRun(const CliOptions& options, std::FILE* out, std::FILE* err) {
  LibraryState state(options.settings.libraryStateFile);
  if (!state.Error().empty()) PrintError(err, state.Error());
  if (!state.Ok()) return kCliRefused;
  const bool exporting = !options.exportAttached.empty();
  const AttachedTransfer done =
      exporting ? ExportAttachedSettings(state, options.attachedFolder, CliSettingsFile(options),
                                         options.exportAttached)
                : ImportAttachedSettings(state, options.importAttached, CliSettingsFile(options));
  if (done.failed) {
    PrintError(err, done.error);
    return kCliRefused;
  }
  for (const std::string& line : done.leftOut) PrintError(err, line);
  const std::string summary =
      EngineTextArgs(exporting ? INKBRITE_TEXT("cli", "已导出%1个设置、%2个附加")
                               : INKBRITE_TEXT("cli", "已导入%1个设置、%2个附加"),
                     {std::to_string(done.sets), std::to_string(done.attachments)});
  if (!options.quiet || !done.leftOut.empty()) std::fprintf(out, "%s\n", summary.c_str());
  return done.leftOut.empty() ? kCliAllConverted : kCliSomeFailed;
}

int RunCli(CliOptions& options, std::FILE* out, std::FILE* err) {
  if (options.mergeRecords) return MergeRun(options, out, err);
  CParaBlock block;
  std::string error, note;
  if (!BuildParams(options, block, error, &note)) {
    PrintError(err, error);
    return kCliRefused;
  }
  if (!note.empty()) PrintError(err, note);
  options.settings.params = &block;
  if (options.settings.useAttached && !CheckLibraryState(options, err)) return kCliRefused;
  if (!options.filesFrom.empty() && !ReadListedFiles(options, err)) return kCliRefused;
  if (options.settings.recordPath.empty()) {
    options.settings.recordPath = DefaultCliRecordPath(options.settings);
  }
  if (!options.pickedFiles && !SourceFolderUsable(options.settings.sourceDir, err)) {
    return kCliRefused;
  }
  if (options.dryRun) return DryRun(options, out, err);
  if (options.list != CliList::kNone) return ListRun(options, out, err);
  if (options.settings.skipExisting &&
      IsSameBatchFolder(options.settings.sourceDir, options.settings.targetDir)) {
    PrintError(err,
               EngineText(INKBRITE_TEXT("cli", "--skip-existing不能接续以源目录本身为目标的转换")));
    return kCliRefused;
  }

  const fs::path record = options.settings.recordPath;
  CliHost host(out, err, options.quiet, options.overwriteSource, record);
  CBatchJob job;
  BatchSelection selection;
  if (options.pickedFiles) {
    selection.folder = options.settings.sourceDir;
    selection.files = options.files;
  }
  job.Run(host, options.settings, options.pickedFiles ? &selection : nullptr);

  // A part with no files of a job that has some ran (and counts nothing).
  const bool ran = !host.Refused() && (job.Total() > 0 || options.settings.shard.Given());
  const bool clean = !CliInterrupted() && job.SuccessCount() == job.Total();
  if (ran && !(options.quiet && clean)) {
    std::fprintf(out, "%s\n", CliSummaryLine(options.settings, job, CliInterrupted()).c_str());
    std::fflush(out);
  }
  if (ran && !job.RecordError().empty()) {
    PrintError(err, EngineTextArgs(INKBRITE_TEXT("cli", "结果记录无法写入：%1：%2"),
                                   {job.RecordPath().native(), job.RecordError()}));
  }
  if (CliInterrupted()) return CliStopExit();
  if (!ran) return kCliRefused;
  if (!job.RecordError().empty()) return kCliRecordFailed;
  return job.SuccessCount() == job.Total() ? kCliAllConverted : kCliSomeFailed;
}

}  // namespace inkbrite
