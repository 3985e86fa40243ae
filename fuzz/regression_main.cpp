// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds files to a fuzz target without libFuzzer:
//   fuzz_regressions TARGET PATH...
// Every PATH is a file or a folder whose files (not recursively) are fed in
// name order. A reader that crashes ends this program abnormally (under the
// sanitizers a fault or leak is reported and ends it too), so the test that
// runs it fails. Missing folders count as empty.
//
// libFuzzer also reports an input whose heap passes 2 GiB (-rss_limit_mb),
// which in a plain build goes unseen: zeroed memory from calloc is not
// touched, so the input merely runs slowly. Without the sanitizers this
// program therefore counts the heap itself (malloc and its kin are replaced
// below, also for the codec libraries) and fails when one file's peak
// passes the same limit.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_targets.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define INKBRITE_COUNT_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define INKBRITE_COUNT_HEAP 0
#endif
#endif
#ifndef INKBRITE_COUNT_HEAP
#define INKBRITE_COUNT_HEAP 1
#endif

namespace {

// The heap one input may take, as libFuzzer's default -rss_limit_mb.
constexpr int64_t kHeapLimitBytes = int64_t{2048} << 20;

std::atomic<int64_t> g_liveBytes{0};
std::atomic<int64_t> g_peakBytes{0};

}  // namespace

#if INKBRITE_COUNT_HEAP
namespace {

void* Counted(void* p) {
  if (p != nullptr) {
    const auto size = static_cast<int64_t>(malloc_usable_size(p));
    const int64_t live = g_liveBytes.fetch_add(size) + size;
    int64_t peak = g_peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !g_peakBytes.compare_exchange_weak(peak, live)) {
    }
  }
  return p;
}

void Uncounted(void* p) {
  if (p != nullptr) g_liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)));
}

}  // namespace

// glibc's own allocator under its internal names.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
void* realloc(void* p, size_t size) {
  if (p == nullptr) return malloc(size);
  const size_t old = malloc_usable_size(p);
  void* q = __libc_realloc(p, size);
  if (q == nullptr) {
    if (size == 0) g_liveBytes.fetch_sub(static_cast<int64_t>(old));  // p was freed
    return nullptr;
  }
  g_liveBytes.fetch_sub(static_cast<int64_t>(old));
  return Counted(q);
}
void free(void* p) {
  Uncounted(p);
  __libc_free(p);
}
void* memalign(size_t alignment, size_t size) { return Counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void* valloc(size_t size) { return memalign(4096, size); }
}
#endif

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
  const inkbrite::fuzz::Target* target = inkbrite::fuzz::FindTarget(argv[1]);
  if (target == nullptr) {
    // A folder of reproducers for a target the format table does not name.
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
      g_peakBytes.store(g_liveBytes.load());
      const int64_t before = g_liveBytes.load();
      inkbrite::fuzz::RunTarget(*target, bytes.data(), bytes.size());
      const int64_t peak = g_peakBytes.load() - before;
      if (peak > kHeapLimitBytes) {
        std::fprintf(stderr, "%s: the heap reached %lld MiB (limit %lld MiB)\n", file.c_str(),
                     static_cast<long long>(peak >> 20),
                     static_cast<long long>(kHeapLimitBytes >> 20));
        return 1;
      }
      ++count;
    }
  }
  std::printf("%s: %zu files read without fault%s\n", argv[1], count,
              INKBRITE_COUNT_HEAP ? " or a heap over the limit" : "");
  return 0;
}
