// SPDX-License-Identifier: GPL-3.0-or-later
// A text in both languages, for previews and reports.
#pragma once

#include <string>

namespace q7 {

struct Note {
    std::string zh, en;
    const std::string& text(bool english) const { return english ? en : zh; }
};

} // namespace q7
