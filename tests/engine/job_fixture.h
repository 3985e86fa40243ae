// SPDX-License-Identifier: GPL-2.0-or-later
// The engine tests' job: dir/src converted into dir/tgt as PNG, with the
// parameters `params`, its record in dir/rec.txt, reporting to `host`.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "batch/batch_job.h"
#include "core/para_block.h"
#include "formats/format_table.h"
#include "tests/engine/recording_host.h"
#include "tests/test_support.h"

namespace inkbrite::test {

class JobTest : public ::testing::Test {
 protected:
  JobTest() {
    settings.sourceDir = dir / "src";
    settings.targetDir = dir / "tgt";
    settings.patterns = DefaultSourcePatterns();
    settings.newExtension = ".png";
    settings.colourMode = 0;
    settings.params = &params;
    settings.recordPath = dir / "rec.txt";
    std::filesystem::create_directories(dir / "src");
  }
  void Run() {
    host = RecordingHost{};
    job.Run(host, settings);
  }

  TempDir dir;
  CParaBlock params;
  BatchSettings settings;
  RecordingHost host;
  CBatchJob job;
};

}  // namespace inkbrite::test
