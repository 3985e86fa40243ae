// SPDX-License-Identifier: GPL-2.0-or-later
// SHA-256 for the tests (the archive layer's entries against their listed
// digests); the program itself has no use for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace inkbrite::test {

// The lower-case hexadecimal SHA-256 digest of the bytes.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace inkbrite::test
