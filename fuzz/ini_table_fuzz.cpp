// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a language table.
#include "ini/ini_table.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    q7::IniTable t;
    t.parse(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& [key, value] : t.values())
        if (key.empty() || key.size() > 4096 || value.size() > 4096)
            std::abort();
    return 0;
}
