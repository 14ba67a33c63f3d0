// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 <-> UTF-16 for names that travel as 16-bit units (mode names) but live in std::string,
// and the word and number readers of the text files the editor reads.
#pragma once

#include <algorithm>
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

// The candidate nearest to a mistyped word: one the word begins (of two letters or more), else
// the closest by edit distance within about a third of the word; empty when none is near, and
// never the word itself. Letters are the string's own units.
template <class String>
String nearestWord(const String& word, const std::vector<String>& candidates) {
    const auto distance = [](const String& a, const String& b) {
        std::vector<std::size_t> row(b.size() + 1);
        for (std::size_t j = 0; j <= b.size(); ++j)
            row[j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= b.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
                diagonal = above;
            }
        }
        return row[b.size()];
    };
    String best;
    std::size_t bestDistance = std::max<std::size_t>(2, word.size() / 3) + 1;
    for (const String& c : candidates) {
        if (c == word)
            continue;
        if (word.size() >= 2 && c.starts_with(word))
            return c;
        const std::size_t d = distance(word, c);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    return best;
}

} // namespace q7
