// SPDX-License-Identifier: GPL-2.0-or-later
// The codec helper program's side of apart_protocol.h: one request served
// with the AVIF and JPEG XL codecs in this process.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace inkbrite {

// Serves `operation` on `input`; the answer in `output`. False for an
// unknown operation, a malformed request or a failed decode or encode.
bool ServeCodecRequest(std::string_view operation, std::span<const uint8_t> input,
                       std::vector<uint8_t>& output);

}  // namespace inkbrite
