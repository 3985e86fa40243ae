// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/work_list.h"

#include <algorithm>
#include <charconv>

#include "platform/messages.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

bool ParseCount(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// An environment variable holding a whole number; false when unset, with
// `error` set when it is set but not a number.
bool EnvNumber(const EnvLookup& env, const char* name, int64_t& value, std::string& error) {
  const char* text = env ? env(name) : nullptr;
  if (text == nullptr) return false;
  if (!ParseCount(text, value)) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "%1不是数字：“%2”"), {name, text});
  }
  return error.empty();
}

bool FromScheduler(const EnvLookup& env, int explicitCount, ShardSpec& shard, std::string& error) {
  int64_t id = 0, count = 0;
  if (EnvNumber(env, "SLURM_ARRAY_TASK_ID", id, error)) {
    int64_t min = 0, step = 1;
    EnvNumber(env, "SLURM_ARRAY_TASK_MIN", min, error);
    EnvNumber(env, "SLURM_ARRAY_TASK_STEP", step, error);
    const bool haveCount = EnvNumber(env, "SLURM_ARRAY_TASK_COUNT", count, error);
    if (!error.empty()) return false;
    if (step <= 0 || id < min || (id - min) % step != 0) {
      error =
          EngineTextArgs(INKBRITE_TEXT("cli",
                                       "--shard auto：SLURM_ARRAY_TASK_ID %1不在作业数组的范围内"
                                       "（最小%2，步长%3）"),
                         {std::to_string(id), std::to_string(min), std::to_string(step)});
      return false;
    }
    if (explicitCount > 0 && haveCount && count != explicitCount) {
      error = EngineTextArgs(
          INKBRITE_TEXT("cli", "--shard auto/%1：作业数组有%2个任务（SLURM_ARRAY_TASK_COUNT）"),
          {std::to_string(explicitCount), std::to_string(count)});
      return false;
    }
    if (explicitCount == 0 && !haveCount) {
      error = EngineText(INKBRITE_TEXT(
          "cli", "--shard auto：没有设置SLURM_ARRAY_TASK_COUNT；请给出份数：--shard auto/N"));
      return false;
    }
    id = (id - min) / step;
    count = explicitCount > 0 ? explicitCount : count;
  } else if (!error.empty()) {
    return false;
  } else if (EnvNumber(env, "JOB_COMPLETION_INDEX", id, error)) {
    if (explicitCount == 0) {
      error = EngineText(INKBRITE_TEXT(
          "cli", "--shard auto：JOB_COMPLETION_INDEX不含份数；请给出份数：--shard auto/N"));
      return false;
    }
    count = explicitCount;
  } else {
    if (error.empty()) {
      error = EngineText(INKBRITE_TEXT(
          "cli", "--shard auto：SLURM_ARRAY_TASK_ID和JOB_COMPLETION_INDEX都没有设置"));
    }
    return false;
  }
  if (count < 1 || count > kMaxShards || id < 0 || id >= count) {
    error = EngineTextArgs(INKBRITE_TEXT("cli", "--shard auto：%2个任务中的第%1个不是作业的一部分"),
                           {std::to_string(id), std::to_string(count)});
    return false;
  }
  shard.index = static_cast<int>(id);
  shard.count = static_cast<int>(count);
  return true;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

bool ParseShard(std::string_view text, const EnvLookup& env, ShardSpec& shard, std::string& error) {
  const size_t slash = text.find('/');
  const std::string_view first = text.substr(0, slash);
  int64_t count = 0;
  if (slash != std::string_view::npos &&
      (!ParseCount(text.substr(slash + 1), count) || count < 1 || count > kMaxShards)) {
    error = EngineTextArgs(
        INKBRITE_TEXT("cli", "--shard需要K/N、auto或auto/N，其中1 <= N <= %1，而不是“%2”"),
        {std::to_string(kMaxShards), text});
    return false;
  }
  if (first == "auto") return FromScheduler(env, static_cast<int>(count), shard, error);
  int64_t index = 0;
  if (slash == std::string_view::npos || !ParseCount(first, index) || index < 0 || index >= count) {
    error = EngineTextArgs(
        INKBRITE_TEXT("cli", "--shard需要K/N，其中0 <= K < N（或auto、auto/N），而不是“%1”"),
        {text});
    return false;
  }
  shard.index = static_cast<int>(index);
  shard.count = static_cast<int>(count);
  return true;
}

std::string StemWithoutCopyNumber(std::string stem) {
  if (stem.size() > 3 && stem.back() == ')') {
    const size_t open = stem.rfind(" (");
    if (open != std::string::npos && open + 3 < stem.size() &&
        std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(open) + 2, stem.end() - 1,
                    [](char c) { return c >= '0' && c <= '9'; })) {
      stem.resize(open);
    }
  }
  return stem;
}

std::string WorkUnitKey(const fs::path& relative) {
  const fs::path normal = relative.lexically_normal();
  return (normal.parent_path() / StemWithoutCopyNumber(normal.stem().native())).native();
}

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

uint64_t MixBits(uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdull;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ull;
  k ^= k >> 33;
  return k;
}

int ShardOfFile(const fs::path& relative, int count) {
  if (count <= 1) return 0;
  return static_cast<int>(MixBits(Fnv1a64(WorkUnitKey(relative))) % static_cast<uint64_t>(count));
}

std::string QuoteListField(std::string_view field) {
  const bool plain = (field.empty() || field.front() != '"') &&
                     std::none_of(field.begin(), field.end(),
                                  [](char c) { return IsControl(static_cast<unsigned char>(c)); });
  if (plain) return std::string(field);
  std::string out = "\"";
  for (const char c : field) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (IsControl(u)) {
          out += '\\';
          out += static_cast<char>('0' + (u >> 6));
          out += static_cast<char>('0' + ((u >> 3) & 7));
          out += static_cast<char>('0' + (u & 7));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

namespace {

// The path at the start of one record; false with `error` for a bad quote.
bool RecordPath(std::string_view record, std::string& path, std::string& error) {
  if (record.empty() || record.front() != '"') {
    path = std::string(record.substr(0, record.find('\t')));
    return true;
  }
  path.clear();
  size_t i = 1;
  for (; i < record.size() && record[i] != '"'; ++i) {
    if (record[i] != '\\') {
      path += record[i];
      continue;
    }
    if (++i == record.size()) break;
    switch (record[i]) {
      case '\\': path += '\\'; break;
      case '"': path += '"'; break;
      case 't': path += '\t'; break;
      case 'n': path += '\n'; break;
      case 'r': path += '\r'; break;
      default: {
        const std::string_view digits = record.substr(i, 3);
        if (digits.size() != 3 || digits[0] < '0' || digits[0] > '3' ||
            std::any_of(digits.begin(), digits.end(), [](char d) { return d < '0' || d > '7'; })) {
          error = EngineTextArgs(INKBRITE_TEXT("cli", "未知的转义“\\%1”"), {record.substr(i, 1)});
          return false;
        }
        path += static_cast<char>(((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) |
                                  (digits[2] - '0'));
        i += 2;
      }
    }
  }
  if (i >= record.size()) {
    error = EngineText(INKBRITE_TEXT("cli", "缺少结尾的引号"));
    return false;
  }
  if (i + 1 < record.size() && record[i + 1] != '\t') {
    error = EngineText(INKBRITE_TEXT("cli", "结尾的引号后还有文字"));
    return false;
  }
  return true;
}

}  // namespace

bool ParseFileList(std::string_view text, std::vector<fs::path>& paths, std::string& error) {
  const char end = text.find('\0') != std::string_view::npos ? '\0' : '\n';
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t stop = text.find(end, start);
    if (stop == std::string_view::npos) stop = text.size();
    std::string_view record = text.substr(start, stop - start);
    start = stop + 1;
    ++number;
    if (end == '\n' && !record.empty() && record.back() == '\r') record.remove_suffix(1);
    if (record.empty()) continue;
    std::string path;
    std::string why;
    if (!RecordPath(record, path, why)) {
      error = EngineTextArgs(INKBRITE_TEXT("cli", "第%1条：%2"), {std::to_string(number), why});
      return false;
    }
    const fs::path relative(path);
    const bool leaves = std::any_of(relative.begin(), relative.end(),
                                    [](const fs::path& part) { return part == ".."; });
    if (path.empty() || relative.is_absolute() || leaves) {
      error = EngineTextArgs(INKBRITE_TEXT("cli", "第%1条：“%2”不是源目录下的路径"),
                             {std::to_string(number), path});
      return false;
    }
    paths.push_back(relative.lexically_normal());
  }
  return true;
}

}  // namespace inkbrite
