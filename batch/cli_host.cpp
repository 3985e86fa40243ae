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

#include "batch/named_settings.h"
#include "batch/run_record.h"
#include "batch/work_list.h"
#include "core/auto_steps.h"
#include "formats/format_table.h"
#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "platform/program_paths.h"
#include "platform/shell_open.h"
#include "sources/srch_dir.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The first stop signal received; 0: none.
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
  if (g_stopSignal == 0) g_stopSignal = signal;
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

// The job's refusals that a run which only lists can tell before it starts;
// false after printing the refusal.
bool CheckBeforeListing(const CliOptions& options, std::FILE* err) {
  const BatchSettings& s = options.settings;
  if (IsReducedMode(s.colourMode) && !TakesReducedPages(s.newExtension)) {
    PrintText(err, EngineText(kBatchReducedNeedsPngMessage));
    return false;
  }
  const bool same = IsSameBatchFolder(s.sourceDir, s.targetDir);
  if (same && !options.overwriteSource) {
    PrintText(err, EngineText(kBatchSameFolderQuestion));
    PrintText(err, "(refused: add --overwrite-source to overwrite the sources)");
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
  for (const fs::path& source : sources) {
    const fs::path target = BatchOutputPath(source, s.sourceDir, s.targetDir, s);
    const fs::path key = target.lexically_normal();
    const bool clash = !targets.insert(key).second && key != source.lexically_normal();
    const bool book = IsBatchBook(source);
    std::fprintf(out, "%s -> %s%s%s\n", source.c_str(), target.c_str(),
                 book ? (s.books == BookOutput::kFolder ? "/ (book: its pages)" : " (book)") : "",
                 clash ? " (not converted: an earlier file has this target)" : "");
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
  if (skipDone) earlier.Read(s.recordPath);
  const std::string fingerprint = BatchSettingsFingerprint(s, *s.params);
  const char end = options.list == CliList::kNul ? '\0' : '\n';
  for (const BatchWorkItem& item : BatchWorkList(s, options.pickedFiles ? &selection : nullptr)) {
    if (skipDone &&
        !DoneByEarlierRun(earlier, item.source, s.sourceDir, s.targetDir, fingerprint).empty()) {
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
      std::fprintf(err, "inkbrite-batch: --files-from: cannot read %s\n",
                   options.filesFrom.c_str());
      return false;
    }
    text.assign(bytes.begin(), bytes.end());
  }
  std::vector<fs::path> relative;
  std::string error;
  if (!ParseFileList(text, relative, error)) {
    std::fprintf(err, "inkbrite-batch: --files-from %s: %s\n", options.filesFrom.c_str(),
                 error.c_str());
    return false;
  }
  if (relative.empty()) {
    std::fprintf(err, "inkbrite-batch: --files-from %s lists no file\n", options.filesFrom.c_str());
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
    std::fprintf(err, "inkbrite-batch: --merge-records: %s\n", error.c_str());
    return kCliRefused;
  }
  if (!gaps.empty()) {
    std::fprintf(err,
                 "inkbrite-batch: --merge-records: %zu walk indexes missing (first %lld): a part "
                 "did not finish or was not given\n",
                 gaps.size(), static_cast<long long>(gaps.front()));
  }
  const fs::path& to = options.settings.recordPath;
  if (to.empty()) {
    return std::fwrite(merged.data(), 1, merged.size(), out) == merged.size() &&
                   std::fflush(out) == 0
               ? kCliAllConverted
               : kCliRefused;
  }
  if (!WriteFileBytesSafely(to, merged.data(), merged.size())) {
    std::fprintf(err, "inkbrite-batch: --merge-records: cannot write %s\n", to.c_str());
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
    line += "shard " + std::to_string(settings.shard.index) + "/" +
            std::to_string(settings.shard.count) + ": ";
  }
  line += std::to_string(job.SuccessCount() - job.SkippedCount()) + " converted, " +
          std::to_string(job.FailedCount()) + " failed, " + std::to_string(job.SkippedCount()) +
          " skipped";
  const int left = job.Total() - job.SuccessCount() - job.FailedCount();
  if (stopped && left > 0) line += ", " + std::to_string(left) + " not converted (stopped)";
  return line;
}

MessageLanguage CliLanguage(const CliOptions& options, const EnvLookup& env) {
  return options.language ? *options.language : LanguageFromEnvironment(env);
}

int DefaultCliJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores == 0 ? 1 : static_cast<int>(cores), 1, kMaxBatchJobs);
}

bool CliValueInRange(int slot, int value) {
  auto within = [value](int lo, int hi) { return value >= lo && value <= hi; };
  switch (slot) {
    case kBrightness:
    case kContrast:
    case kGamma:
    case kResize: return within(0, 200);
    case kHighlight: return within(100, 200);
    case kJpegQuality: return within(0, 100);
    case kSharpen: return within(0, 9);
    case kBlur:
    case kResizeType: return within(0, 2);
    case kGreyScale: return within(0, 7);
    case kThreshold: return within(170, 255);
    // Positions in the lists the format table gives.
    case kSourceFiles: return within(0, static_cast<int>(SourcePatternLists().size()) - 1);
    case kTargetFiles: return within(0, static_cast<int>(SaveExtensions().size()) - 1);
    case kCroppingLeft:
    case kCroppingTop:
    case kCroppingRight:
    case kCroppingBottom: return within(0, 500);
    case kCurveX1:
    case kCurveY1:
    case kCurveX2:
    case kCurveY2: return true;
    default: {
      const SlotRange* range = AutoSlotRange(slot);  // the automatic clean-up steps
      return range != nullptr && within(range->min, range->max);
    }
  }
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
// (lines separated by "\n") and what it does with its value.
struct CliOption {
  std::string_view name;
  std::string_view argument;
  std::string help;
  bool (*apply)(CliParse& parse, std::string_view value, std::string& error);
};

bool SetPatterns(CliParse& p, std::string_view v, std::string& error) {
  if (v.empty()) {
    error = "--pattern needs at least one pattern";
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
    error = "--ext must be " + JoinedForText(SaveExtensions()) + ", not \"" + std::string(v) + "\"";
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
    error = "--set needs KEY=VALUE, not \"" + std::string(v) + "\"";
    return false;
  }
  const std::string_view key = v.substr(0, eq);
  CliParamChange change;
  change.slot = NamedSettingSlot(key);
  if (change.slot < 0) {
    error = "--set: unknown key \"" + std::string(key) + "\"";
    return false;
  }
  if (!ParseInt(v.substr(eq + 1), change.value) || !CliValueInRange(change.slot, change.value)) {
    error = "--set: value of " + std::string(key) + " out of range: \"" +
            std::string(v.substr(eq + 1)) + "\"";
    return false;
  }
  p.options.changes.push_back(std::move(change));
  return true;
}

bool SetBooks(CliParse& p, std::string_view v, std::string& error) {
  if (v == "cbz") {
    p.options.settings.books = BookOutput::kCbz;
  } else if (v == "folder") {
    p.options.settings.books = BookOutput::kFolder;
  } else if (v == "skip") {
    p.options.settings.books = BookOutput::kSkip;
  } else {
    error = "--books must be cbz, folder or skip, not \"" + std::string(v) + "\"";
    return false;
  }
  return true;
}

bool SetJobs(CliParse& p, std::string_view v, std::string& error) {
  int jobs = 0;
  if (!ParseInt(v, jobs) || jobs < 1 || jobs > kMaxBatchJobs) {
    error =
        "--jobs must be 1 to " + std::to_string(kMaxBatchJobs) + ", not \"" + std::string(v) + "\"";
    return false;
  }
  p.options.settings.jobs = jobs;
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
    error = "--record-format must be text or jsonl, not \"" + std::string(v) + "\"";
    return false;
  }
  return true;
}

bool SetLanguage(CliParse& p, std::string_view v, std::string& error) {
  MessageLanguage language{};
  if (!ParseMessageLanguage(v, language)) {
    error = "--lang must be zh or en, not \"" + std::string(v) + "\"";
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
      {"--pattern", "LIST",
       "source patterns, ';'-separated\n(default: " + DefaultSourcePatterns() + ")", SetPatterns},
      {"--ext", "EXT",
       "output format: " + JoinedForText(SaveExtensions()) + " (default " +
           SaveExtensions().front() + ")",
       SetExtension},
      {"--subdirs", "", "search subfolders too (default)",
       [](P& p, V, E&) {
         p.options.settings.includeSubdirs = true;
         return true;
       }},
      {"--no-subdirs", "", "the source folder only",
       [](P& p, V, E&) {
         p.options.settings.includeSubdirs = false;
         return true;
       }},
      {"--load", "NAME",
       "start from the named setting NAME (with no --ext, its\nformat too); the ready-made "
       "eink-6-1072x1448,\neink-7-1264x1680 and tablet-10-1600x2560 are added\nto the "
       "settings file when it lacks them",
       AddLoad},
      {"--settings", "FILE", "settings file for --load (default: Inkbrite.ini)",
       [](P& p, V v, E&) {
         p.options.settingsFile = fs::path(v);
         return true;
       }},
      {"--set", "KEY=VALUE",
       "one setting, e.g. Brightness=120 (repeatable;\n--load and --set apply in order, later "
       "ones win)",
       AddSet},
      {"--skip-colour", "", "copy colour pages instead of converting them",
       [](P& p, V, E&) {
         p.options.settings.skipColour = true;
         return true;
       }},
      {"--overwrite-source", "", "allow TARGET_DIR to be the source folder",
       [](P& p, V, E&) {
         p.options.overwriteSource = true;
         return true;
       }},
      {"--record", "FILE",
       "the result record (default: Inkbrite_Rcd.txt; of a part:\n"
       "Inkbrite_Rcd.shard-K-of-N.txt; .jsonl for JSON lines)",
       [](P& p, V v, E&) {
         p.options.settings.recordPath = fs::path(v);
         return true;
       }},
      {"--record-format", "FMT",
       "text (default: the failures) or jsonl (one JSON object\nper file: source, target, "
       "result, reason, sizes, ms)",
       SetRecordFormat},
      {"--report", "",
       "also record what the automatic steps found on each\nwritten page (deskew, split, "
       "crop, levels, fit)",
       [](P& p, V, E&) {
         p.options.settings.reportFindings = true;
         return true;
       }},
      {"--books", "MODE",
       "comic books (" + BookPatterns() +
           ") among the sources:\n"
           "cbz: each into a .cbz of its converted pages (default);\nfolder: into a folder named "
           "after the book; skip: left out",
       SetBooks},
      {"--jobs", "N",
       "files (and a book's pages) converted at once (default: the\nnumber of cores); the "
       "written files are the same for every N",
       SetJobs},
      {"--shard", "K/N",
       "convert only part K of N (K from 0), chosen by a hash of\neach path; auto or auto/N: "
       "the part from a Slurm job\narray or a Kubernetes Indexed Job",
       SetShard},
      {"--skip-existing", "",
       "skip files that the earlier run into the same record\nconverted (their target newer "
       "than the source);\nneeds --record-format jsonl",
       [](P& p, V, E&) {
         p.options.settings.skipExisting = true;
         return true;
       }},
      {"--files-from", "FILE",
       "convert the files FILE lists ('-': standard input),\nrelative to SOURCE_DIR, one a "
       "line or NUL-separated",
       [](P& p, V v, E& e) {
         p.options.filesFrom = fs::path(v);
         if (v.empty()) e = "--files-from needs a file";
         return e.empty();
       }},
      {"--list", "", "print the work list (SOURCE<TAB>TARGET lines); convert\nnothing",
       [](P& p, V, E&) {
         p.options.list = CliList::kLines;
         return true;
       }},
      {"--list0", "", "the same, each record ended by a NUL",
       [](P& p, V, E&) {
         p.options.list = CliList::kNul;
         return true;
       }},
      {"--merge-records", "",
       "merge the records named (of --shard runs) in walk order,\ninto --record FILE or "
       "standard output",
       [](P& p, V, E&) {
         p.options.mergeRecords = true;
         return true;
       }},
      {"--dry-run", "", "list what would be read and written; write nothing",
       [](P& p, V, E&) {
         p.options.dryRun = true;
         return true;
       }},
      {"--quiet", "", "no progress and no summary of a clean run",
       [](P& p, V, E&) {
         p.options.quiet = true;
         return true;
       }},
      {"--lang", "LANG",
       "language of the messages and of the record's lines:\nzh (Chinese) or en (English); "
       "default: INKBRITE_LANG,\nelse the locale (zh* Chinese, any other English)",
       SetLanguage},
      {"--target", "TARGET_DIR", "convert the FILEs named instead of a folder, into TARGET_DIR",
       [](P& p, V v, E&) {
         p.target = fs::path(v);
         p.haveTarget = true;
         return true;
       }},
      {"--help", "", "this text",
       [](P& p, V, E&) {
         p.options.help = true;
         return true;
       }},
      {"--version", "", "the program's version",
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
    error = "unknown option: " + std::string(name);
    return false;
  }
  std::string_view value;
  if (option->argument.empty()) {
    if (eq != std::string_view::npos) {
      error = "option " + std::string(name) + " takes no value";
      return false;
    }
  } else if (eq != std::string_view::npos) {
    value = arg.substr(eq + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    error = "option " + std::string(name) + " needs a value";
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
      error = "--merge-records needs at least one RECORD";
      return false;
    }
    for (std::string_view p : parse.paths) options.records.emplace_back(p);
    return true;
  }
  if (parse.haveTarget && !options.filesFrom.empty()) {
    error = "--files-from lists files below SOURCE_DIR; it does not go with --target";
    return false;
  }
  if (parse.haveTarget) {
    if (parse.target.empty() || parse.paths.empty()) {
      error = "--target needs a folder and at least one FILE";
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
    error = "expected SOURCE_DIR TARGET_DIR (or --target TARGET_DIR FILE...)";
    return false;
  }
  options.settings.sourceDir = fs::path(parse.paths[0]);
  options.settings.targetDir = fs::path(parse.paths[1]);
  return true;
}

}  // namespace

// Options that do not go together.
bool CheckCombination(const CliOptions& options, std::string& error) {
  if (options.settings.skipExisting && options.settings.recordFormat != RecordFormat::kJsonLines) {
    error = "--skip-existing needs --record-format jsonl (the record that says what was converted)";
  } else if (options.dryRun && options.list != CliList::kNone) {
    error = "--dry-run and --list do not go together";
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
      error = "unknown option: " + std::string(arg);
      return false;
    } else {
      parse.paths.push_back(arg);
    }
  }
  if (options.help || options.version) return true;
  return TakePaths(parse, error) && CheckCombination(options, error);
}

bool BuildParams(CliOptions& options, CParaBlock& block, std::string& error) {
  const fs::path ini =
      options.settingsFile.empty() ? ProgramFilePath(".ini") : options.settingsFile;
  bool loaded = false;
  for (const CliParamChange& change : options.changes) {
    if (change.load) {
      // First use of the settings file: the ready-made sets join it.
      if (!loaded && !ini.empty()) AddDeviceSettings(ini);
      loaded = true;
      if (ini.empty() || !LoadNamedSetting(block, change.name, ini)) {
        error = "no named setting \"" + change.name + "\" in " + ini.string();
        return false;
      }
    } else {
      block.SetValue(change.slot, change.value);
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
       {static_cast<int>(kGreyScale), static_cast<int>(kResize), static_cast<int>(kJpegQuality)}) {
    if (!CliValueInRange(slot, block.GetValue(slot))) {
      error = "setting value out of range in slot " + std::to_string(slot) + ": " +
              std::to_string(block.GetValue(slot));
      return false;
    }
  }
  return true;
}

std::string CliUsageText() {
  // Each option's name and value in a column of this width, its help after.
  constexpr size_t kColumn = 21;
  std::string text =
      "Usage: inkbrite-batch [options] SOURCE_DIR TARGET_DIR\n"
      "       inkbrite-batch [options] --target TARGET_DIR FILE...\n"
      "       inkbrite-batch [--record FILE] --merge-records RECORD...\n"
      "\n"
      "Converts a folder of pages (or the picked files) into enhanced copies.\n"
      "\n"
      "Options:\n";
  for (const CliOption& option : CliOptionTable()) {
    std::string head(option.name);
    if (!option.argument.empty()) head += " " + std::string(option.argument);
    head.resize(std::max(head.size() + 1, kColumn), ' ');
    text += "  " + head;
    for (size_t start = 0, end = 0; start <= option.help.size(); start = end + 1) {
      end = std::min(option.help.find('\n', start), option.help.size());
      if (start > 0) text += std::string(2 + kColumn, ' ');
      text += option.help.substr(start, end - start) + "\n";
    }
  }
  text +=
      "\n"
      "Exit status: 0 all converted, 1 some failed, 2 refused; stopped by a signal:\n"
      "130 (Ctrl-C, SIGINT), 143 (SIGTERM), 129 (SIGHUP). A part (--shard) exits\n"
      "for its own files.\n";
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
      print(m_err, "(refused: add --overwrite-source to overwrite the sources)");
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
    if (!m_recordPath.empty()) print(m_out, "record: " + m_recordPath.string());
    return MessageAnswer::kNo;
  }
  if (text == EngineText(kBatchNoSourceMessage) || text == EngineText(kBatchNoTargetMessage) ||
      text == EngineText(kBatchReducedNeedsPngMessage) ||
      text == EngineText(kBatchNoFilesMessage)) {
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
    std::fprintf(m_err, "file: %s\n", m_file.c_str());
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

int RunCli(CliOptions& options, std::FILE* out, std::FILE* err) {
  if (options.mergeRecords) return MergeRun(options, out, err);
  // The application-wide block, not a local one: the resamplers read their
  // filter (ResizeType) from it, so a local block would lose --set ResizeType.
  CParaBlock& block = AppParams();
  std::string error;
  if (!BuildParams(options, block, error)) {
    std::fprintf(err, "inkbrite-batch: %s\n", error.c_str());
    return kCliRefused;
  }
  options.settings.params = &block;
  if (!options.filesFrom.empty() && !ReadListedFiles(options, err)) return kCliRefused;
  if (options.settings.recordPath.empty()) {
    options.settings.recordPath = DefaultCliRecordPath(options.settings);
  }
  if (options.dryRun) return DryRun(options, out, err);
  if (options.list != CliList::kNone) return ListRun(options, out, err);
  if (options.settings.skipExisting &&
      IsSameBatchFolder(options.settings.sourceDir, options.settings.targetDir)) {
    std::fprintf(err,
                 "inkbrite-batch: --skip-existing cannot resume a conversion into the source "
                 "folder itself\n");
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
  if (CliInterrupted()) return CliStopExit();
  if (!ran) return kCliRefused;
  return job.SuccessCount() == job.Total() ? kCliAllConverted : kCliSomeFailed;
}

}  // namespace inkbrite
