// SPDX-License-Identifier: GPL-2.0-or-later
#include "batch/attached_settings.h"

#include <array>

#include "batch/named_settings.h"
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

}  // namespace inkbrite
