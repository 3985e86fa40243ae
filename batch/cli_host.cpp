// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/cli_host.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

#include "batch/named_settings.h"
#include "batch/srch_dir.h"
#include "platform/ascii_case.h"
#include "platform/program_paths.h"
#include "platform/shell_open.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) { g_interrupted = 1; }

bool ParseInt(std::string_view text, int& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool ReducedPagesFit(std::string_view ext) {
  return EqualsIgnoringAsciiCase(ext, ".png") || EqualsIgnoringAsciiCase(ext, ".bmp") ||
         EqualsIgnoringAsciiCase(ext, ".tif");
}

// Lists the files a folder run would convert, in the job's walk order.
class DryRunLister : public CSrchDir {
 public:
  std::vector<fs::path> found;

 protected:
  void OnFileFound(const fs::path& fullPath, const FindData& /*find*/) override {
    found.push_back(fullPath);
  }
};

int DryRun(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const BatchSettings& s = options.settings;
  if (IsReducedMode(s.colourMode) && !ReducedPagesFit(s.newExtension)) {
    std::fprintf(err, "%.*s\n", static_cast<int>(kBatchReducedNeedsPngMessage.size()),
                 kBatchReducedNeedsPngMessage.data());
    return kCliRefused;
  }
  const bool same = IsSameBatchFolder(s.sourceDir, s.targetDir);
  if (same && !options.overwriteSource) {
    std::fprintf(err, "%.*s\n(refused: add --overwrite-source to overwrite the sources)\n",
                 static_cast<int>(kBatchSameFolderQuestion.size()),
                 kBatchSameFolderQuestion.data());
    return kCliRefused;
  }
  std::vector<fs::path> sources;
  if (options.pickedFiles) {
    sources = options.files;
  } else {
    DryRunLister lister;
    lister.Init(s.patterns, s.includeSubdirs, same ? fs::path() : s.targetDir);
    lister.Search(s.sourceDir);
    sources = std::move(lister.found);
  }
  if (sources.empty()) {
    std::fprintf(err, "%.*s\n", static_cast<int>(kBatchNoFilesMessage.size()),
                 kBatchNoFilesMessage.data());
    return kCliRefused;
  }
  for (const fs::path& source : sources) {
    const fs::path target = BatchTargetPath(source, s.sourceDir, s.targetDir, s.newExtension);
    std::fprintf(out, "%s -> %s\n", source.c_str(), target.c_str());
  }
  return kCliAllConverted;
}

}  // namespace

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
    case kSourceFiles: return within(0, 8);
    case kTargetFiles: return within(0, 4);
    case kCroppingLeft:
    case kCroppingTop:
    case kCroppingRight:
    case kCroppingBottom: return within(0, 500);
    case kCurveX1:
    case kCurveY1:
    case kCurveX2:
    case kCurveY2: return true;
    default: return false;
  }
}

bool ParseCliOptions(std::span<const std::string_view> args, CliOptions& options,
                     std::string& error) {
  options.settings.patterns = std::string(kCliDefaultPatterns);
  options.settings.newExtension = ".jpg";
  options.settings.includeSubdirs = true;
  options.settings.jobs = DefaultCliJobs();
  std::vector<std::string_view> paths;
  fs::path target;
  bool haveTarget = false;
  bool optionsEnded = false;

  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
      // "-" alone and other single-dash words are refused, not taken as paths.
      if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
        error = "unknown option: " + std::string(arg);
        return false;
      }
      paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name VALUE" or "--name=VALUE".
    std::string_view name = arg;
    std::string_view inlineValue;
    bool hasInline = false;
    if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
      hasInline = true;
    }
    auto flag = [&](bool& field, bool value) {
      if (hasInline) {
        error = "option " + std::string(name) + " takes no value";
        return false;
      }
      field = value;
      return true;
    };
    auto value = [&](std::string_view& out) {
      if (hasInline) {
        out = inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + std::string(name) + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };

    std::string_view v;
    if (name == "--help") {
      if (!flag(options.help, true)) return false;
    } else if (name == "--version") {
      if (!flag(options.version, true)) return false;
    } else if (name == "--subdirs") {
      if (!flag(options.settings.includeSubdirs, true)) return false;
    } else if (name == "--no-subdirs") {
      if (!flag(options.settings.includeSubdirs, false)) return false;
    } else if (name == "--skip-colour") {
      if (!flag(options.settings.skipColour, true)) return false;
    } else if (name == "--overwrite-source") {
      if (!flag(options.overwriteSource, true)) return false;
    } else if (name == "--dry-run") {
      if (!flag(options.dryRun, true)) return false;
    } else if (name == "--quiet") {
      if (!flag(options.quiet, true)) return false;
    } else if (name == "--pattern") {
      if (!value(v)) return false;
      if (v.empty()) {
        error = "--pattern needs at least one pattern";
        return false;
      }
      options.settings.patterns = std::string(v);
    } else if (name == "--ext") {
      if (!value(v)) return false;
      bool known = false;
      // Any case, as on Windows; the name is written as typed (".JPG").
      for (std::string_view ext : kCliExtensions) known = known || EqualsIgnoringAsciiCase(v, ext);
      if (!known) {
        error = "--ext must be .jpg, .bmp, .png, .tif or .jp2, not \"" + std::string(v) + "\"";
        return false;
      }
      options.settings.newExtension = std::string(v);
    } else if (name == "--load") {
      if (!value(v)) return false;
      CliParamChange change;
      change.load = true;
      change.name = std::string(v);
      options.changes.push_back(std::move(change));
    } else if (name == "--settings") {
      if (!value(v)) return false;
      options.settingsFile = fs::path(v);
    } else if (name == "--set") {
      if (!value(v)) return false;
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
      if (!ParseInt(v.substr(eq + 1), change.value) ||
          !CliValueInRange(change.slot, change.value)) {
        error = "--set: value of " + std::string(key) + " out of range: \"" +
                std::string(v.substr(eq + 1)) + "\"";
        return false;
      }
      options.changes.push_back(std::move(change));
    } else if (name == "--jobs") {
      if (!value(v)) return false;
      int jobs = 0;
      if (!ParseInt(v, jobs) || jobs < 1 || jobs > kMaxBatchJobs) {
        error = "--jobs must be 1 to " + std::to_string(kMaxBatchJobs) + ", not \"" +
                std::string(v) + "\"";
        return false;
      }
      options.settings.jobs = jobs;
    } else if (name == "--record") {
      if (!value(v)) return false;
      options.settings.recordPath = fs::path(v);
    } else if (name == "--target") {
      if (!value(v)) return false;
      target = fs::path(v);
      haveTarget = true;
    } else {
      error = "unknown option: " + std::string(name);
      return false;
    }
  }

  if (options.help || options.version) return true;
  if (haveTarget) {
    if (target.empty() || paths.empty()) {
      error = "--target needs a folder and at least one FILE";
      return false;
    }
    options.pickedFiles = true;
    options.settings.targetDir = target;
    for (std::string_view p : paths) options.files.emplace_back(p);
    // The picked files' folder is the source folder; a bare name lies in ".".
    fs::path folder = options.files.front().parent_path();
    options.settings.sourceDir = folder.empty() ? fs::path(".") : folder;
    return true;
  }
  if (paths.size() != 2 || paths[0].empty() || paths[1].empty()) {
    error = "expected SOURCE_DIR TARGET_DIR (or --target TARGET_DIR FILE...)";
    return false;
  }
  options.settings.sourceDir = fs::path(paths[0]);
  options.settings.targetDir = fs::path(paths[1]);
  return true;
}

bool BuildParams(CliOptions& options, CParaBlock& block, std::string& error) {
  const fs::path ini =
      options.settingsFile.empty() ? ProgramFilePath(".ini") : options.settingsFile;
  for (const CliParamChange& change : options.changes) {
    if (change.load) {
      if (ini.empty() || !LoadNamedSetting(block, change.name, ini)) {
        error = "no named setting \"" + change.name + "\" in " + ini.string();
        return false;
      }
    } else {
      block.SetValue(change.slot, change.value);
    }
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
  return "Usage: inkbrite-batch [options] SOURCE_DIR TARGET_DIR\n"
         "       inkbrite-batch [options] --target TARGET_DIR FILE...\n"
         "\n"
         "Converts a folder of pages (or the picked files) into enhanced copies.\n"
         "\n"
         "Options:\n"
         "  --pattern LIST       source patterns, ';'-separated\n"
         "                       (default: " +
         std::string(kCliDefaultPatterns) +
         ")\n"
         "  --ext EXT            output format: .jpg (default), .bmp, .png, .tif, .jp2\n"
         "  --subdirs            search subfolders too (default)\n"
         "  --no-subdirs         the source folder only\n"
         "  --load NAME          start from the named setting NAME\n"
         "  --settings FILE      settings file for --load (default: Inkbrite.ini)\n"
         "  --set KEY=VALUE      one setting, e.g. Brightness=120 (repeatable;\n"
         "                       --load and --set apply in order, later ones win)\n"
         "  --skip-colour        copy colour pages instead of converting them\n"
         "  --overwrite-source   allow TARGET_DIR to be the source folder\n"
         "  --record FILE        record of failed files (default: Inkbrite_Rcd.txt)\n"
         "  --jobs N             files converted at once (default: the number of cores);\n"
         "                       the written files are the same for every N\n"
         "  --dry-run            list what would be read and written; write nothing\n"
         "  --quiet              no progress and no summary of a clean run\n"
         "  --help               this text\n"
         "  --version            the program's version\n"
         "\n"
         "Exit status: 0 all converted, 1 some failed, 2 refused, 130 stopped.\n";
}

void InstallCliInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program
  sigaction(SIGINT, &action, nullptr);
}

bool CliInterrupted() { return g_interrupted != 0; }
void ResetCliInterrupt() { g_interrupted = 0; }

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
    if (text == kBatchSameFolderQuestion) {
      if (m_overwriteSource) return MessageAnswer::kYes;
      print(m_err, text);
      print(m_err, "(refused: add --overwrite-source to overwrite the sources)");
      m_refused = true;
      return MessageAnswer::kNo;
    }
    // The summary of a run with failures: nobody can answer the question on
    // a terminal, so it is left off and the record's path printed instead.
    std::string_view summary = text;
    if (summary.ends_with(kBatchShowRecordQuestion)) {
      summary.remove_suffix(kBatchShowRecordQuestion.size());
    }
    print(m_out, summary);
    if (!m_recordPath.empty()) print(m_out, "record: " + m_recordPath.string());
    return MessageAnswer::kNo;
  }
  if (text == kBatchNoSourceMessage || text == kBatchNoTargetMessage ||
      text == kBatchReducedNeedsPngMessage || text == kBatchNoFilesMessage) {
    print(m_err, text);
    m_refused = true;
  } else if (!m_quiet || text.ends_with(kBatchStoppedSuffix)) {
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
  // The application-wide block, not a local one: the resamplers read their
  // filter (ResizeType) from it, so a local block would lose --set ResizeType.
  CParaBlock& block = AppParams();
  std::string error;
  if (!BuildParams(options, block, error)) {
    std::fprintf(err, "inkbrite-batch: %s\n", error.c_str());
    return kCliRefused;
  }
  options.settings.params = &block;
  if (options.dryRun) return DryRun(options, out, err);

  const fs::path record = options.settings.recordPath.empty() ? ProgramFilePath("_Rcd.txt")
                                                              : options.settings.recordPath;
  CliHost host(out, err, options.quiet, options.overwriteSource, record);
  CBatchJob job;
  BatchSelection selection;
  if (options.pickedFiles) {
    selection.folder = options.settings.sourceDir;
    selection.files = options.files;
  }
  job.Run(host, options.settings, options.pickedFiles ? &selection : nullptr);

  if (CliInterrupted()) return kCliStopped;
  if (host.Refused() || job.Total() == 0) return kCliRefused;
  return job.SuccessCount() == job.Total() ? kCliAllConverted : kCliSomeFailed;
}

}  // namespace inkbrite
