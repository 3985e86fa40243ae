// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/para_block.h"

namespace inkbrite {

namespace {

bool IsValidSlot(int index) { return index >= 0 && index < kParaSlotCount; }

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Bytes announced by a UTF-8 lead byte; 1 for ASCII and for malformed bytes
// (a stray continuation byte or 0xF8 to 0xFF), which then count on their own.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  return 1;
}

}  // namespace

std::string_view Utf8Prefix(std::string_view text, size_t maxChars) {
  size_t pos = 0;
  for (size_t chars = 0; chars < maxChars && pos < text.size(); ++chars) {
    const size_t length = SequenceLength(static_cast<unsigned char>(text[pos]));
    ++pos;
    // A sequence cut short by a non-continuation byte ends where it stops.
    for (size_t i = 1;
         i < length && pos < text.size() && IsContinuation(static_cast<unsigned char>(text[pos]));
         ++i) {
      ++pos;
    }
  }
  return text.substr(0, pos);
}

int CParaBlock::GetValue(int index) const {
  if (!IsValidSlot(index)) return 0;
  std::lock_guard lock(m_cs);
  return m_aValue[static_cast<size_t>(index)];
}

void CParaBlock::SetValue(int index, int value) {
  if (!IsValidSlot(index)) return;
  std::lock_guard lock(m_cs);
  m_aValue[static_cast<size_t>(index)] = value;
}

std::array<int32_t, kParaSlotCount> CParaBlock::Values() const {
  std::lock_guard lock(m_cs);
  return m_aValue;
}

void CParaBlock::ResetDefaults() {
  std::lock_guard lock(m_cs);
  m_szName.clear();
  m_aValue = kParaDefaults;
}

void CParaBlock::SetName(std::string_view name) {
  const std::string_view kept = Utf8Prefix(name, kParaNameMaxChars);
  std::lock_guard lock(m_cs);
  m_szName.assign(kept);
}

std::string CParaBlock::GetName() const {
  std::lock_guard lock(m_cs);
  return m_szName;
}

bool CParaBlock::Assign(const CParaBlock& other) {
  if (&other == this) return true;
  // Destination first, then source: the one lock order used everywhere.
  std::lock_guard lockThis(m_cs);
  std::lock_guard lockOther(other.m_cs);
  bool equal = true;
  if (m_szName != other.m_szName) {
    m_szName = other.m_szName;
    equal = false;
  }
  for (size_t i = 0; i < m_aValue.size(); ++i) {
    if (m_aValue[i] != other.m_aValue[i]) {
      m_aValue[i] = other.m_aValue[i];
      equal = false;
    }
  }
  return equal;
}

CParaBlock& AppParams() {
  static CParaBlock block;
  return block;
}

}  // namespace inkbrite
