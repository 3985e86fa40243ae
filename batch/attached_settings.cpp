// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/attached_settings.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "batch/batch_job.h"
#include "batch/named_settings.h"
#include "batch/work_list.h"
#include "platform/ini_file.h"
#include "platform/messages.h"

namespace inkbrite {

namespace fs = std::filesystem;

AttachedSetting LoadAttachedSetting(const LibraryState& state, const fs::path& book,
                                    const fs::path& iniPath, CParaBlock& block) {
  AttachedSetting found;
  found.attachment = AttachmentInForce(state, book);
  if (found.attachment && !LoadNamedSetting(block, found.attachment->setName, iniPath)) {
    found.missing = true;
  }
  return found;
}

std::string PageSlotsText(const PageSlots& slots) {
  std::string text;
  for (const auto& [slot, value] : slots) {
    for (const NamedSettingKey& entry : kNamedSettingKeys) {
      if (entry.slot != slot) continue;
      text += entry.key;
      text += '=';
      text += std::to_string(value);
      text += '\n';
    }
  }
  return text;
}

PageSlots PageSlotsOf(std::string_view text) {
  PageSlots slots;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const int slot = NamedSettingSlot(line.substr(0, equals));
    const std::string_view number = line.substr(equals + 1);
    int value = 0;
    const auto [rest, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (slot < 0 || error != std::errc() || rest != number.data() + number.size()) continue;
    const SettingBounds bounds = BoundsOfSetting(slot);
    if (value < bounds.min || value > bounds.max) continue;
    bool again = false;
    for (auto& [known, old] : slots) {
      if (known == slot) {
        old = value;  // the last line of a key wins
        again = true;
      }
    }
    if (!again) slots.emplace_back(slot, value);
  }
  return slots;
}

PageSlots ChangedSlots(const std::array<int32_t, kParaSlotCount>& base,
                       const std::array<int32_t, kParaSlotCount>& shown) {
  PageSlots changed;
  for (const NamedSettingKey& entry : kNamedSettingKeys) {
    const auto slot = static_cast<size_t>(entry.slot);
    if (base[slot] != shown[slot]) changed.emplace_back(entry.slot, shown[slot]);
  }
  return changed;
}

std::string PageSlotsShortText(const PageSlots& slots) {
  std::string text = PageSlotsText(slots);
  if (!text.empty()) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string PageSettingsKey(const fs::path& book) {
  std::error_code ec;
  return fs::is_regular_file(book, ec) ? BookContentKey(book) : std::string();
}

const PageSlots* BookSettingsInForce::PageOwn(std::string_view page) const {
  for (const auto& [name, slots] : pages) {
    if (name == page) return &slots;
  }
  return nullptr;
}

BookSettingsInForce LoadBookSettings(const LibraryState& state, const fs::path& book,
                                     const fs::path& iniPath, CParaBlock& block) {
  BookSettingsInForce found;
  found.set = LoadAttachedSetting(state, book, iniPath, block);
  if (!state.Ok()) return found;
  const std::string key = PageSettingsKey(book);
  for (auto& [page, text] : state.PageSettings(key)) {
    PageSlots slots = PageSlotsOf(text);
    if (!slots.empty()) found.pages.emplace_back(std::move(page), std::move(slots));
  }
  return found;
}

std::string PageSettingText(const AttachedSetting& set, const PageSlots& own) {
  const std::string base = set.attachment && !set.missing
                               ? AttachedSettingText(*set.attachment)
                               : std::string(EngineText(INKBRITE_TEXT("batch", "本次设置")));
  return EngineTextArgs(INKBRITE_TEXT("batch", "%1＋此页：%2"), {base, PageSlotsShortText(own)});
}

std::string AttachedBookFingerprint(const LibraryState& state, const BatchSettings& settings,
                                    const CParaBlock& runBlock, const fs::path& book) {
  CParaBlock block;
  block.Assign(runBlock);
  const BookSettingsInForce found =
      LoadBookSettings(state, book, settings.attachedSettingsFile, block);
  if (found.set.missing) return "missing-" + found.set.attachment->setName;
  std::string fingerprint = BatchSettingsFingerprint(settings, EnhanceSettings(block));
  if (found.pages.empty()) return fingerprint;
  std::string text = fingerprint;
  for (const auto& [page, slots] : found.pages) {
    text += '\0';
    text += page;
    text += '\0';
    text += PageSlotsText(slots);
  }
  const uint64_t hash = Fnv1a64(text);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (int i = 0; i < 16; ++i) hex[static_cast<size_t>(i)] = kHex[(hash >> (60 - 4 * i)) & 0xF];
  return hex;
}

std::string AttachedSettingText(const Attachment& attachment) {
  return EngineTextArgs(INKBRITE_TEXT("batch", "%1（%2）"),
                        {attachment.setName, AttachScopeText(attachment.scope)});
}

std::string MissingAttachedSettingText(const Attachment& attachment) {
  return EngineTextArgs(INKBRITE_TEXT("batch", "附加的设置“%1”已不在设置文件中"),
                        {attachment.setName});
}

std::string AttachedListText(const LibraryState& state, const fs::path& folder,
                             const fs::path& iniPath) {
  std::string text;
  for (const Attachment& attachment : state.Attachments(folder)) {
    std::array<int, kParaSlotCount> slots{};
    const bool known = ReadNamedSetting(iniPath, attachment.setName, slots);
    text += attachment.scope == AttachScope::kSeries ? "series\t" : "book\t";
    text += attachment.setName;
    text += '\t';
    text += attachment.path.string();
    if (!known) {
      text += '\t';
      text += MissingAttachedSettingText(attachment);
    }
    text += '\n';
  }
  return text;
}

namespace {

std::string AttachedToValue(const Attachment& attachment) {
  return std::string(attachment.scope == AttachScope::kSeries ? "\"series|" : "\"book|") +
         attachment.path.native() + "\"";
}

// The attachment of an "AttachedToN" value, none when it is not one.
std::optional<Attachment> AttachmentOfValue(std::string_view value) {
  const size_t bar = value.find('|');
  if (bar == std::string_view::npos || bar + 1 == value.size()) return std::nullopt;
  const std::string_view scope = value.substr(0, bar);
  Attachment attachment;
  attachment.path = fs::path(std::string(value.substr(bar + 1)));
  if (scope == "series") {
    attachment.scope = AttachScope::kSeries;
  } else if (scope == "book") {
    attachment.scope = AttachScope::kBook;
  } else {
    return std::nullopt;
  }
  if (!attachment.path.is_absolute()) return std::nullopt;
  return attachment;
}

}  // namespace

AttachedTransfer ExportAttachedSettings(const LibraryState& state, const fs::path& folder,
                                        const fs::path& iniPath, const fs::path& file) {
  AttachedTransfer done;
  IniFile out(file);
  if (!out.Load()) {
    done.failed = true;
    done.error = EngineTextArgs(INKBRITE_TEXT("batch", "无法读取%1"), {file.string()});
    return done;
  }
  IniFile settings(iniPath);
  settings.Load();
  // The sets in the order of their first attachment (path order).
  std::vector<std::pair<std::string, std::vector<Attachment>>> sets;
  for (Attachment& attachment : state.Attachments(folder)) {
    auto at = std::find_if(sets.begin(), sets.end(),
                           [&](const auto& set) { return set.first == attachment.setName; });
    if (at == sets.end()) {
      sets.emplace_back(attachment.setName, std::vector<Attachment>{});
      at = sets.end() - 1;
    }
    at->second.push_back(std::move(attachment));
  }
  for (const auto& [name, attachments] : sets) {
    if (!settings.HasSection(name)) {
      done.leftOut.push_back(MissingAttachedSettingText(attachments.front()));
      continue;
    }
    out.DeleteSection(name);
    bool written = true;
    for (const NamedSettingKey& entry : kNamedSettingKeys) {
      if (const std::optional<std::string> value = settings.GetString(name, entry.key)) {
        written = out.SetString(name, entry.key, *value) && written;
      }
    }
    int n = 0;
    for (const Attachment& attachment : attachments) {
      const std::string key = std::string(kAttachedToKey) + std::to_string(n + 1);
      if (out.SetString(name, key, AttachedToValue(attachment))) {
        ++n;
      } else {
        done.leftOut.push_back(EngineTextArgs(INKBRITE_TEXT("batch", "路径含有换行，未导出：%1"),
                                              {attachment.path.string()}));
      }
    }
    if (!written) {
      done.leftOut.push_back(EngineTextArgs(INKBRITE_TEXT("batch", "设置“%1”未能导出"), {name}));
      out.DeleteSection(name);
      continue;
    }
    ++done.sets;
    done.attachments += n;
  }
  if (!out.Save()) {
    done = {};
    done.failed = true;
    done.error = EngineTextArgs(INKBRITE_TEXT("batch", "无法写入%1"), {file.string()});
  }
  return done;
}

AttachedTransfer ImportAttachedSettings(LibraryState& state, const fs::path& file,
                                        const fs::path& iniPath) {
  AttachedTransfer done;
  IniFile in(file);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec) || !in.Load()) {
    done.failed = true;
    done.error = EngineTextArgs(INKBRITE_TEXT("batch", "无法读取%1"), {file.string()});
    return done;
  }
  if (!state.Ok()) {
    done.failed = true;
    done.error = state.Error();
    return done;
  }
  for (const std::string& name : in.SectionNames()) {
    std::array<int, kParaSlotCount> theirs{};
    std::array<int, kParaSlotCount> ours{};
    ReadNamedSetting(file, name, theirs);
    if (ReadNamedSetting(iniPath, name, ours)) {
      if (theirs != ours) {
        done.leftOut.push_back(EngineTextArgs(
            INKBRITE_TEXT("batch", "已有另一个名为“%1”的设置，未导入它和它的附加"), {name}));
        continue;
      }
    } else {
      CParaBlock block;
      if (!LoadNamedSetting(block, name, file) || !SaveNamedSetting(block, name, iniPath)) {
        done.leftOut.push_back(
            EngineTextArgs(INKBRITE_TEXT("batch", "设置“%1”未能存入%2"), {name, iniPath.string()}));
        continue;
      }
    }
    ++done.sets;
    for (int n = 1;; ++n) {
      const std::optional<std::string> value =
          in.GetString(name, std::string(kAttachedToKey) + std::to_string(n));
      if (!value) break;
      const std::optional<Attachment> attachment = AttachmentOfValue(*value);
      if (!attachment) {
        done.leftOut.push_back(
            EngineTextArgs(INKBRITE_TEXT("batch", "“%1”的%2不是附加：%3"),
                           {name, std::string(kAttachedToKey) + std::to_string(n), *value}));
        continue;
      }
      if (!state.Attach(attachment->path, attachment->scope, name)) {
        done.leftOut.push_back(state.Error());
        continue;
      }
      ++done.attachments;
    }
  }
  return done;
}

}  // namespace inkbrite
