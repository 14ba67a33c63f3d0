// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text as a trace line: parse, and a parsed line must format back to itself.
#include "protocol/trace.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto t = q7::parseTraceLine(line);
    if (t) {
        const auto again = q7::parseTraceLine(q7::formatTraceLine(t->ms, t->direction, t->report));
        if (!again || again->report != t->report || again->direction != t->direction)
            std::abort();
    }
    return 0;
}
