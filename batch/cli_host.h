// SPDX-License-Identifier: GPL-2.0-or-later
// The command-line converter's side of the batch job: the option parser and
// a terminal BatchHost. main() in app/batch_main.cpp only parses and runs.
//
//   inkbrite-batch [options] SOURCE_DIR TARGET_DIR
//   inkbrite-batch [options] --target TARGET_DIR FILE...
//   inkbrite-batch [--record FILE] --merge-records RECORD...
//
// Exit status (CliExit): 0 every file converted (or skipped as done), 1 some
// failed (the record lists them), 2 refused (bad option, value outside its
// range, unknown named setting, nothing to convert, or one of the job's own
// refusals), 3 the record could not be written or completed (said on
// standard error with the system's reason, whatever the files did); stopped
// by a signal, 128 + its number: 130 Ctrl-C (SIGINT), 143
// SIGTERM, 129 SIGHUP. A run of a part (--shard) exits the same way for its
// own files. After the job's summary a run prints one line for logs:
// "inkbrite-batch: shard 2/4: 120 converted, 0 failed, 3 skipped" (without
// "shard K/N: " when the run is the whole job; ", N not converted (stopped)"
// added after a stop), in the language of the run like every text it prints.
// A stop, by any of the three and however often sent, ends the files in
// progress cleanly (a file is finished or abandoned, never left
// half-written), writes the record and prints the summary.
//
// Threads: everything runs on the caller's thread (and the job's workers);
// the only shared state is the stop flag, set from the signal handler.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_job.h"
#include "core/para_block.h"
#include "platform/messages.h"

namespace inkbrite {

enum CliExit : int {
  kCliAllConverted = 0,
  kCliSomeFailed = 1,
  kCliRefused = 2,
  kCliRecordFailed = 3,  // the run ran, but its record could not be written or completed
  kCliStopped = 130,     // SIGINT; SIGTERM and SIGHUP give 143 and 129
};

// One change of the parameter block, applied in command-line order so that
// later options win: a named setting (--load) or one slot (--set).
struct CliParamChange {
  bool load = false;
  std::string name;  // --load, --device
  int slot = -1;     // --set
  int value = 0;
  bool device = false;  // --device
};

// --list and --list0: print the work list instead of converting.
enum class CliList { kNone, kLines, kNul };

struct CliOptions {
  // Folders, patterns, extension, subfolders, skip colour and record; the
  // colour mode, resize and quality are filled from the block by
  // BuildParams, and `params` is set by RunCli.
  BatchSettings settings;
  bool pickedFiles = false;                  // --target with FILE...
  std::vector<std::filesystem::path> files;  // the picked files
  std::filesystem::path settingsFile;        // --settings; empty: ProgramFilePath(".ini")
  std::vector<CliParamChange> changes;
  bool extensionGiven = false;  // --ext; else a loaded setting's TargetFiles picks the format
  bool overwriteSource = false;
  bool dryRun = false;
  CliList list = CliList::kNone;
  std::filesystem::path filesFrom;  // --files-from ("-": standard input)
  bool mergeRecords = false;        // --merge-records: the paths are records
  std::vector<std::filesystem::path> records;
  bool quiet = false;
  std::optional<MessageLanguage> language;  // --lang
  bool help = false;
  bool version = false;
  bool listDevices = false;              // --list-devices
  bool listAttached = false;             // --list-attached [FOLDER]
  std::filesystem::path attachedFolder;  // its FOLDER; empty: every attachment
  std::filesystem::path exportAttached;  // --export-attached FILE [FOLDER]
  std::filesystem::path importAttached;  // --import-attached FILE
  bool booksGiven = false;               // --books named a kind (no setting or --device changes it)
  bool stripCutScreen = false;           // --strip-cut screen: the fit screen's height
  int splitSpreads = -1;  // --spreads: 1 split (turned or not), 0 keep; -1 as the settings say
};

// --jobs when not given: the number of cores.
int DefaultCliJobs();

// The range a slot's value may take on the command line (BoundsOfSetting,
// batch/named_settings.h).
bool CliValueInRange(int slot, int value);

// Parses the arguments after the program name. False with a one-line
// `error` for an unknown option, a missing or malformed value, a value out
// of range, options that do not go together or the wrong number of paths.
// --help and --version need no paths. `env` answers --shard auto (default:
// the process's environment).
bool ParseCliOptions(std::span<const std::string_view> args, CliOptions& options,
                     std::string& error, const EnvLookup& env = {});

// The language of the run: --lang, else the environment's
// (LanguageFromEnvironment: INKBRITE_LANG, then the locale). main() passes it
// to SetMessageLanguage before it runs the job.
MessageLanguage CliLanguage(const CliOptions& options, const EnvLookup& env = {});
// The same from the arguments before they are parsed (the last valid --lang
// before "--", else the environment's), so that the parser's own errors and
// --help come in the language of the run too.
MessageLanguage CliLanguage(std::span<const std::string_view> args, const EnvLookup& env = {});

// What a refused command line prints on standard error: "inkbrite-batch: "
// and `error`, then where to find the options.
std::string CliRefusalText(std::string_view error);

// The record's default path: Inkbrite_Rcd.txt (.jsonl for JSON lines) in the
// data folder; a part's record is Inkbrite_Rcd.shard-K-of-N.txt, so parts
// sharing the data folder do not overwrite each other's.
std::filesystem::path DefaultCliRecordPath(const BatchSettings& settings);

// "inkbrite-batch: shard 2/4: 120 converted, 0 failed, 3 skipped".
std::string CliSummaryLine(const BatchSettings& settings, const CBatchJob& job, bool stopped);

// Applies the changes to `block` in order and copies the colour mode, resize
// and JPEG quality into options.settings. False with `error` when a named
// setting does not exist (the block is then partly changed). The ready-made
// sets join the settings file at the first --load (its folder made when
// missing); when the file cannot take them (unwritable, or it would grow
// past what it reads back) `note` says so and a ready-made set named by
// --load is used as built in.
bool BuildParams(CliOptions& options, CParaBlock& block, std::string& error,
                 std::string* note = nullptr);

// The usage line and every option with its help text.
std::string CliUsageText();
// --list-devices: a line per device of the table (name, screen, density,
// colour, book kind, label).
std::string CliDeviceListText();
// --list-attached [FOLDER]: AttachedListText (batch/attached_settings.h)
// on standard output; kCliRefused, with the reason on standard error, when
// the library's state cannot be opened.
int ListAttachedRun(const CliOptions& options, std::FILE* out, std::FILE* err);
// --export-attached FILE [FOLDER], --import-attached FILE
// (batch/attached_settings.h): the counts on standard output, each set or
// attachment left out on standard error; kCliSomeFailed when any was,
// kCliRefused when the file or the library's state cannot be used.
int TransferAttachedRun(const CliOptions& options, std::FILE* out, std::FILE* err);

// SIGINT, SIGTERM and SIGHUP set the flag PumpAndCheckStop answers.
void InstallCliInterruptHandler();
bool CliInterrupted();
// 128 + the first stop signal's number.
int CliStopExit();

// The terminal host: a progress bar with the current file on a terminal,
// plain lines ("file: PATH") otherwise, nothing of either with `quiet`.
// The job's texts are printed as they stand: refusals on `err`, the summary
// on `out`.
class CliHost : public BatchHost {
 public:
  CliHost(std::FILE* out, std::FILE* err, bool quiet, bool overwriteSource,
          std::filesystem::path recordPath);

  MessageAnswer ShowMessage(std::string_view text, MessageKind kind) override;
  void SetStatus(StatusLine line, std::string_view text) override;
  void SetProgressRange(int upper) override;
  void SetProgressPosition(int position) override;
  void AdvanceProgress(int units) override;
  bool PumpAndCheckStop() override;
  bool OpenWithShell(const std::filesystem::path& path) override;

  // True once the job refused to run (one of its refusal messages, or the
  // same-folder question answered No).
  bool Refused() const { return m_refused; }

 private:
  void DrawBar();
  void ClearBar();

  std::FILE* m_out;
  std::FILE* m_err;
  bool m_quiet;
  bool m_overwriteSource;
  bool m_terminal;
  bool m_barShown = false;
  bool m_refused = false;
  std::filesystem::path m_recordPath;
  std::string m_file;
  int m_upper = 0;
  int m_position = 0;
  int m_drawnPercent = -1;
};

// Builds a block from the options, runs the job with it (or lists it with
// --dry-run) and returns the exit status.
int RunCli(CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace inkbrite
