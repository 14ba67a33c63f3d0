// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 <-> UTF-16 for names that travel as 16-bit units (mode names) but live in std::string.
#pragma once

#include <string>
#include <string_view>

namespace q7 {

// Invalid input becomes U+FFFD; never reads past the input.
std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);
// At most n units, without splitting a surrogate pair.
std::u16string truncateUnits(std::u16string_view s, std::size_t n);

} // namespace q7
