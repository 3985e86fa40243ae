// Feeds files to a fuzz target without libFuzzer:
//   fuzz_regressions TARGET PATH...
// Every PATH is a file or a folder whose files (not recursively) are fed in
// name order. A reader that crashes ends this program abnormally (under the
// sanitizers a fault or leak is reported and ends it too), so the test that
// runs it fails. Missing folders count as empty.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_targets.h"

namespace {

std::vector<std::filesystem::path> FilesOf(const std::filesystem::path& p) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  if (std::filesystem::is_regular_file(p, ec)) {
    files.push_back(p);
  } else if (std::filesystem::is_directory(p, ec)) {
    for (const auto& e : std::filesystem::directory_iterator(p, ec)) {
      if (e.is_regular_file(ec)) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TARGET PATH...\n", argv[0]);
    return 2;
  }
  const inkbrite::fuzz::TargetFunction run = inkbrite::fuzz::FindTarget(argv[1]);
  if (run == nullptr) {
    std::fprintf(stderr, "unknown target %s\n", argv[1]);
    return 2;
  }
  size_t count = 0;
  for (int i = 2; i < argc; ++i) {
    for (const auto& file : FilesOf(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      std::fprintf(stderr, "%s\n", file.c_str());
      run(bytes.data(), bytes.size());
      ++count;
    }
  }
  std::printf("%s: %zu files read without fault\n", argv[1], count);
  return 0;
}
