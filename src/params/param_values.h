// SPDX-License-Identifier: GPL-3.0-or-later
// Values of the named parameters in the user's terms, read from text and written as text or
// JSON numbers: what q7ctl's get and set and the remote API share.
#pragma once

#include "params/param_names.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

// An id of the table; on failure error names it, with the ids it may have meant.
const ParamInfo* lookUpParam(std::string_view name, std::string& error);
// The stored bits of a value typed in the user's terms: a number (with or without the unit),
// or one of the words the table prints (on/off, PEQ, High Freq …). Values outside the page's
// range, or the field's, are refused with error naming the range.
std::optional<std::uint32_t> parseParamValue(const ParamInfo& p, std::string_view text,
                                             std::string& error);
// The value as get prints it: exact numbers with the unit, words for switches and types.
std::string paramValueText(const ParamInfo& p, std::uint32_t raw);
// One value as get --json and the dump carry it: a number in user units; a single's shortest
// text where the single is the value; null for NaN.
std::string paramJsonValue(const ParamInfo& p, std::uint32_t raw);

// Writes the stored bits into the image: the named value alone (a plan byte also sets the cell
// of cells 4..23 it is made from, which holds the same position). A value the field already
// holds keeps its bits.
void setParamValue(ModeImage& image, const ParamInfo& p, std::uint32_t raw);

// The raw values a word-valued parameter takes, in the order of their user values; empty for
// numbers.
std::vector<std::uint32_t> paramChoices(const ParamInfo& p);
// "-60..+12 dB", "on|off", "Off|2..5 Hz".
std::string paramRangeText(const ParamInfo& p);
// "number", "ratio", "switch", "choice" or "byte".
const char* paramKindWord(const ParamInfo& p);
// The number typed, without its unit; nullopt for a word.
std::optional<double> typedParamNumber(const ParamInfo& p, std::string_view value);

// The ids a name stands for: itself, or every id below it when it is a prefix at a dot
// ("main.eq.3" is the band's four fields); empty after setting error.
std::vector<const ParamInfo*> paramsMatching(std::string_view name, std::string& error);

// Shortest text that reads back to the same number; "null" for NaN and infinities.
std::string jsonFloat(float v);
std::string jsonDouble(double v);

} // namespace q7
