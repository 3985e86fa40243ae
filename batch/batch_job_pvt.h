// SPDX-License-Identifier: GPL-2.0-or-later
// What the batch job's source files share (batch_job.cpp: loose pages;
// batch_rows.cpp: pages a band of rows at a time; book_job.cpp: books) and
// no one else needs.
#pragma once

#include <atomic>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/batch_job.h"

namespace inkbrite::batch_detail {

// Units of a converted file besides the read: 9 pipeline stages, the
// reduction step and the save step.
inline constexpr int kUnitsAfterRead = 11;

// Longest path and name the file system takes.
inline bool PathFits(const std::filesystem::path& p) {
  return p.native().size() < PATH_MAX && p.filename().native().size() <= NAME_MAX;
}

// Makes `folder` and every missing folder above it, one component at a
// time, as deep as the system allows (std::filesystem::create_directories
// gives up at a thousand missing levels). False when one cannot be made.
inline bool CreateFolders(const std::filesystem::path& folder) {
  std::filesystem::path at;
  bool ok = true;
  for (const std::filesystem::path& part : folder) {
    at /= part;
    std::error_code ec;
    if (part == at.root_path() || part.empty()) continue;
    if (std::filesystem::create_directory(at, ec) || !ec) continue;
    ok = std::filesystem::is_directory(at, ec);
  }
  return ok;
}

// A path as the run's name sets hold it.
inline std::filesystem::path NameKey(const std::filesystem::path& path) {
  return path.lexically_normal();
}

// True when `target` is `source` itself: a page converted in place.
inline bool IsSameFile(const std::filesystem::path& source, const std::filesystem::path& target) {
  if (NameKey(source) == NameKey(target)) return true;
  std::error_code ec;
  return std::filesystem::equivalent(source, target, ec) && !ec;
}

// True when a grey page (a one-component file) to be written into `target`
// may be read as a page of grey levels (DibImage::CreateGreyLevels): it is
// written grey from them, and nothing before the save needs its 24-bit
// pixels (every automatic step off).
bool KeepsGreyPages(const std::filesystem::path& target, const BatchSettings& settings,
                    const EnhanceSettings& params);
// Reads a file (or a book page's bytes, `name` its entry's name) that is
// grey as a page of grey levels, when KeepsGreyPages. False, `image`
// untouched, otherwise: the page is read the usual way.
bool LoadGreyPage(FileProbe& source, const std::filesystem::path& target,
                  const BatchSettings& settings, const EnhanceSettings& params, DibImage& image);
bool LoadGreyPageMemory(const std::vector<uint8_t>& bytes, std::string_view name,
                        const std::filesystem::path& target, const BatchSettings& settings,
                        const EnhanceSettings& params, DibImage& image);

}  // namespace inkbrite::batch_detail

namespace inkbrite {

// What converting one file reports as it goes: the host itself in a
// one-at-a-time run, shared counters in a run with workers.
class CBatchJob::FileProgress {
 public:
  virtual ~FileProgress() = default;
  virtual void Advance(int units) = 0;
  // Widens the range by `units` (a book's pages beyond the one file it was
  // counted as); only a run's own thread can.
  virtual void Grow(int /*units*/) {}
  virtual void Status(StatusLine line, std::string_view text) = 0;
  // True when the run is to stop.
  virtual bool Stop() = 0;
};

class CBatchJob::HostProgress : public FileProgress {
 public:
  explicit HostProgress(CBatchJob& job) : m_job(job) {}
  void Advance(int units) override { m_job.HostAdvance(units); }
  void Grow(int units) override {
    m_job.m_progressUpper += units;
    m_job.m_host->SetProgressRange(m_job.m_progressUpper);
    m_job.m_host->SetProgressPosition(m_job.m_progressDone);
  }
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

}  // namespace inkbrite
