// SPDX-License-Identifier: GPL-3.0-or-later
// The values of a mode file checked against their ranges before anything is sent. A file is
// untrusted input whose version word may be right while its body is not: every value the names
// table knows is checked. A value outside its range is either one a saved file may
// legitimately hold (the start settings' zeros, float rounding at an end, the older amplifiers'
// wider pitch, the plan and speaker level blocks the amplifier only keeps for the editor), which
// is clamped and listed for the user to see first, or one no writer makes, which refuses the
// whole file, naming the first such value.
#pragma once

#include "params/param_names.h"
#include "params/store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

struct ValueProblem {
    const ParamInfo* param = nullptr;
    std::uint32_t was = 0; // the stored bits the file held
    std::uint32_t now = 0; // clamped: the stored bits that load instead
};

struct ModeFileCheck {
    ModeImage image;                     // as it loads: clamped values replaced
    std::optional<ValueProblem> refusal; // the first value no saved file holds
    std::vector<ValueProblem> clamped;   // in paramTable() order
    bool refused() const { return refusal.has_value(); }
};

// Checks every named value of the image (what parseModeFile gave).
ModeFileCheck checkModeImage(const ModeImage& image);

// "Mic Vol (mic.volume) is -1793185536, outside 0..99" / "话筒音量 (mic.volume) 为 …，超出 0..99".
std::string describeRefusal(const ValueProblem& p, bool english);
// "Main Comp Ratio (main.comp.ratio): 0.0:1 → 1.0:1 (range 1.0..30.0:1)".
std::string describeClamp(const ValueProblem& p, bool english);
// The range a value of the parameter loads unchanged in, as the messages print it.
std::string fileRangeText(const ParamInfo& p);

// A device mode's name as the amplifier can show it: 16-bit characters that are printable.
// Control characters, halves of characters beyond 16 bits (emoji) and the replacement
// character of a file name that was not UTF-8 each become '_'.
std::u16string showableModeName(std::u16string_view name);

} // namespace q7
