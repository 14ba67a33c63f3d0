// SPDX-License-Identifier: GPL-3.0-or-later
// The language tables: INI text with one "[String]" section of key=value lines. The tables are
// input like any other: every line is bounded and anything malformed is skipped.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace q7 {

class IniTable {
public:
    // UTF-8 text (a byte-order mark is skipped), LF or CRLF line ends, "//" and ";" comments.
    // Only keys of the named section are kept.
    bool parse(std::string_view text, std::string_view section = "String");
    // Empty when the key is missing.
    std::string value(const std::string& key) const;
    bool contains(const std::string& key) const { return values_.count(key) != 0; }
    std::size_t size() const { return values_.size(); }
    const std::map<std::string, std::string>& values() const { return values_; }

private:
    std::map<std::string, std::string> values_;
};

} // namespace q7
