// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/thumbnail_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_io.h"
#include "platform/md5.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

const char* FolderName(ThumbnailSize size) {
  return size == ThumbnailSize::kLarge ? "large" : "normal";
}

bool KeptInUri(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("-_.!~*'()/&=:@+$,", c) != nullptr && c != 0;
}

std::string Escape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (KeptInUri(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

uint32_t ReadBigEndian(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Makes `folder` and the folders above it that are missing, new ones 0700.
bool MakeFolders(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  if (!folder.has_parent_path() || folder.parent_path() == folder) return false;
  if (!MakeFolders(folder.parent_path())) return false;
  if (::mkdir(folder.c_str(), 0700) == 0) return true;
  return errno == EEXIST && fs::is_directory(folder, ec);
}

}  // namespace

int ThumbnailPixels(ThumbnailSize size) { return size == ThumbnailSize::kLarge ? 256 : 128; }

fs::path CacheHome() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return fs::path(cache);
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr && home[0] != '\0' ? home : "/") / ".cache";
}

std::string FileUri(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  return "file://" + Escape(absolute.lexically_normal().string());
}

std::optional<ThumbnailSource> DescribeFile(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  ThumbnailSource source;
  source.uri = FileUri(file);
  source.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  source.size = static_cast<uint64_t>(st.st_size);
  return source;
}

fs::path SharedThumbnailPath(std::string_view uri, ThumbnailSize size) {
  return CacheHome() / "thumbnails" / FolderName(size) / (Md5Hex(uri) + ".png");
}

fs::path FailedThumbnailPath(std::string_view uri) {
  return CacheHome() / "thumbnails" / "fail" / ("inkbrite-" INKBRITE_VERSION) /
         (Md5Hex(uri) + ".png");
}

std::string BookPageUri(const ThumbnailSource& book, std::string_view entry) {
  return book.uri + "#" + Escape(entry);
}

fs::path BookPageThumbnailPath(const ThumbnailSource& book, std::string_view entry,
                               ThumbnailSize size) {
  const std::string key = book.uri + "\n" + std::to_string(book.mtime) + "\n" + std::string(entry);
  return CacheHome() / "inkbrite" / "thumbnails" / FolderName(size) / (Md5Hex(key) + ".png");
}

std::map<std::string, std::string> ReadPngTextFields(const fs::path& png) {
  std::map<std::string, std::string> fields;
  // A regular file only: a FIFO put in the cache must not block the reader.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenRegularFile(png), &std::fclose);
  if (!in) return fields;
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  unsigned char head[8];
  if (std::fread(head, 1, 8, in.get()) != 8 || std::memcmp(head, kSignature, 8) != 0) {
    return fields;
  }
  // A thumbnail's fields are small; a chunk claiming more is damage.
  constexpr uint32_t kMaxTextChunk = 64 * 1024;
  std::vector<char> data;
  for (;;) {
    unsigned char chunk[8];
    if (std::fread(chunk, 1, 8, in.get()) != 8) break;
    const uint32_t length = ReadBigEndian(chunk);
    const std::string_view type(reinterpret_cast<const char*>(chunk + 4), 4);
    if (type == "IEND" || length > 0x7FFFFFFFu) break;
    if (type != "tEXt") {
      // The data and its CRC.
      if (std::fseek(in.get(), static_cast<long>(length) + 4, SEEK_CUR) != 0) break;
      continue;
    }
    if (length > kMaxTextChunk) break;
    data.resize(length);
    if (std::fread(data.data(), 1, length, in.get()) != length ||
        std::fseek(in.get(), 4, SEEK_CUR) != 0) {
      break;
    }
    const std::string_view text(data.data(), data.size());
    const size_t zero = text.find('\0');
    if (zero == std::string_view::npos || zero == 0) continue;
    fields[std::string(text.substr(0, zero))] = std::string(text.substr(zero + 1));
  }
  return fields;
}

bool IsThumbnailCurrent(const fs::path& thumbnail, const ThumbnailSource& source) {
  const std::map<std::string, std::string> fields = ReadPngTextFields(thumbnail);
  const auto uri = fields.find("Thumb::URI");
  const auto mtime = fields.find("Thumb::MTime");
  if (uri == fields.end() || mtime == fields.end() || uri->second != source.uri) return false;
  if (mtime->second != std::to_string(source.mtime)) return false;
  const auto size = fields.find("Thumb::Size");
  return size == fields.end() || size->second == std::to_string(source.size);
}

bool WriteCacheFile(const fs::path& target, std::string_view bytes) {
  if (!MakeFolders(target.parent_path())) return false;
  static std::atomic<unsigned> counter{0};
  const std::string suffix = "." + std::to_string(::getpid()) + "." +
                             std::to_string(counter.fetch_add(1)) + ".inkbrite-tmp";
  const fs::path temp = target.parent_path() / (target.filename().string() + suffix);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    if (ok) done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  // A cache file is not synced: losing one in a crash costs a remake, and
  // the rename still never shows a half-written file.
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool IsInThumbnailCache(const fs::path& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec).lexically_normal();
  for (const fs::path& root :
       {CacheHome() / "thumbnails", CacheHome() / "inkbrite" / "thumbnails"}) {
    const fs::path relative = absolute.lexically_relative(root.lexically_normal());
    if (!relative.empty() && *relative.begin() != "..") return true;
  }
  return false;
}

}  // namespace inkbrite
