// SPDX-License-Identifier: GPL-2.0-or-later
// The one BatchHost of the engine tests: it records everything the job shows
// and reports, answers every question with `answer`, asks the run to stop
// once `stopAtFile` files have been started or from the `stopAtPump`-th stop
// check on (0: never), and calls `hook` after every status line, progress
// range and stop check, where a test injects its fault.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_job.h"

namespace inkbrite::test {

class RecordingHost : public BatchHost {
 public:
  MessageAnswer ShowMessage(std::string_view text, MessageKind kind) override {
    messages.emplace_back(text);
    kinds.push_back(kind);
    return kind == MessageKind::kOk ? MessageAnswer::kOk : answer;
  }
  void SetStatus(StatusLine line, std::string_view text) override {
    if (line == StatusLine::kOperation) {
      operations.emplace_back(text);
    } else if (!text.empty()) {
      ++filesStarted;
    }
    Hook();
  }
  void SetProgressRange(int upper) override {
    range = upper;
    Hook();
  }
  void SetProgressPosition(int position) override { positions.push_back(position); }
  void AdvanceProgress(int units) override { advanced += units; }
  bool PumpAndCheckStop() override {
    ++pumps;
    Hook();
    return StopRequested();
  }
  bool OpenWithShell(const std::filesystem::path& path) override {
    opened.push_back(path);
    return true;
  }

  bool StopRequested() const {
    return (stopAtFile > 0 && filesStarted >= stopAtFile) ||
           (stopAtPump > 0 && pumps >= stopAtPump);
  }
  // True once the progress range is set: counting is over.
  bool Counted() const { return range >= 0; }
  // The messages shown, without those equal to `question`.
  std::vector<std::string> MessagesOtherThan(std::string_view question) const {
    std::vector<std::string> shown;
    for (const std::string& m : messages) {
      if (m != question) shown.push_back(m);
    }
    return shown;
  }

  MessageAnswer answer = MessageAnswer::kYes;
  int stopAtFile = 0;
  int stopAtPump = 0;
  std::function<void(RecordingHost&)> hook;

  int filesStarted = 0;
  int pumps = 0;
  int range = -1;
  int advanced = 0;
  std::vector<int> positions;
  std::vector<std::string> messages;
  std::vector<MessageKind> kinds;
  std::vector<std::string> operations;
  std::vector<std::filesystem::path> opened;

 private:
  void Hook() {
    if (hook) hook(*this);
  }
};

}  // namespace inkbrite::test
