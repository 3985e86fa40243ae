// SPDX-License-Identifier: GPL-2.0-or-later
// MD5 (RFC 1321) of a byte string, as lower-case hex: the names of the shared
// thumbnail cache are the MD5 of a file's URI. Not for anything secret.
#pragma once

#include <string>
#include <string_view>

namespace inkbrite {

std::string Md5Hex(std::string_view bytes);

}  // namespace inkbrite
