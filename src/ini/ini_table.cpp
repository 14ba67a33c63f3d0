// SPDX-License-Identifier: GPL-3.0-or-later
#include "ini/ini_table.h"

namespace q7 {

namespace {

constexpr std::size_t kMaxLine = 4096;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? char(a[i] + 32) : a[i];
        const char y = (b[i] >= 'A' && b[i] <= 'Z') ? char(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

bool IniTable::parse(std::string_view text, std::string_view section) {
    values_.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    bool inSection = false;
    bool sawSection = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() > kMaxLine)
            continue;
        line = trim(line);
        if (line.empty() || line[0] == ';' || line.substr(0, 2) == "//")
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        equalsIgnoringCase(trim(line.substr(1, close - 1)), section);
            sawSection |= inSection;
            continue;
        }
        if (!inSection)
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0)
            continue;
        const std::string_view key = trim(line.substr(0, eq));
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (!key.empty())
            values_[std::string(key)] = std::string(value);
    }
    return sawSection;
}

std::string IniTable::value(const std::string& key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

} // namespace q7
