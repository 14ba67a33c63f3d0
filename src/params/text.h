// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 <-> UTF-16 for names that travel as 16-bit units (mode names) but live in std::string,
// and the word and number readers of the text files the editor reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

// Invalid input becomes U+FFFD; never reads past the input.
std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);
// At most n units, without splitting a surrogate pair.
std::u16string truncateUnits(std::u16string_view s, std::size_t n);

// The words of s between runs of white space.
std::vector<std::string> splitWords(std::string_view s);
// The whole of s as a finite number ("1e3", "-2.5"); nothing for anything else.
std::optional<double> parseFinite(std::string_view s);

} // namespace q7
