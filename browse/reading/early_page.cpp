// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/early_page.h"

#include <future>
#include <mutex>
#include <system_error>
#include <utility>

#include "formats/picture_size.h"
#include "sources/page_source.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

struct Started {
  std::mutex mutex;
  fs::path file;  // absolute, normal
  std::future<std::optional<DecodedPage>> page;
};

Started& TheStarted() {
  static Started started;
  return started;
}

fs::path Normal(const fs::path& file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(file, ec);
  return (ec ? file : absolute).lexically_normal();
}

std::optional<DecodedPage> DecodeIfSmall(const fs::path& file, uint64_t maxPixels) {
  PictureSize size;
  if (!ReadPictureFileSize(file, size) || size.Pixels() >= maxPixels) return std::nullopt;
  DecodedPage page = DecodePageFile(file);
  if (!page.image) return std::nullopt;
  return page;
}

}  // namespace

void EarlyPage::Start(const fs::path& file, uint64_t maxPixels) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec) || IsBookFile(file)) return;
  Started& started = TheStarted();
  std::lock_guard lock(started.mutex);
  if (started.page.valid()) return;
  started.file = Normal(file);
  started.page = std::async(std::launch::async, DecodeIfSmall, file, maxPixels);
}

std::optional<DecodedPage> EarlyPage::Take(const fs::path& file) {
  Started& started = TheStarted();
  std::future<std::optional<DecodedPage>> page;
  {
    std::lock_guard lock(started.mutex);
    if (!started.page.valid()) return std::nullopt;
    page = std::move(started.page);
    if (Normal(file) != started.file) return std::nullopt;  // dropped once done
  }
  return page.get();
}

}  // namespace inkbrite
