// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl params, get and set: the parameters of a mode file by name (param_names' ids), read and
// changed in a file or on the amplifier.
#pragma once

#include "cli/command_line.h"
#include "params/param_names.h"
#include "params/param_values.h"
#include "params/store.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

struct ParamAssignment {
    const ParamInfo* param = nullptr;
    std::uint32_t raw = 0; // the stored bits the value becomes
    std::string value;     // as typed
};

// "NAME=VALUE".
std::optional<ParamAssignment> parseAssignment(std::string_view text, std::string& error);

// Writes the value into the image: the named value alone (a plan byte also sets the cell of
// cells 4..23 it is made from, which holds the same position).
void applyAssignment(ModeImage& image, const ParamAssignment& a);

// get's output: a line "NAME VALUE" each, or a JSON array.
std::string paramValues(const std::vector<const ParamInfo*>& params, const ModeImage& image,
                        bool json);
// The parameters get and params take (all when none is named: ids or prefixes of ids), or
// nullopt after a line on err.
std::optional<std::vector<const ParamInfo*>> paramsNamed(const std::vector<std::string>& names,
                                                         std::ostream& err);
// The assignments set takes, or nullopt after a line on err. onAmplifier refuses what no
// sender carries (the extra bytes).
std::optional<std::vector<ParamAssignment>> assignmentsGiven(const std::vector<std::string>& texts,
                                                             bool onAmplifier, std::ostream& err);

// The start settings with every value brought within the range set accepts (the pages'
// ranges), as `mode new` writes them: set takes back every value such a file holds.
ModeImage newModeImage();

// Rounding and adjustment notes for what set wrote: one per value that did not land as typed.
std::vector<std::string> adjustedValueNotes(const std::vector<ParamAssignment>& assignments,
                                            const ModeImage& result, bool sent);
// set --json: {"set": [{"name", "typed", "value", "text"}, ...], "notes": [...]}.
std::string setResultJson(const std::vector<ParamAssignment>& assignments, const ModeImage& result,
                          const std::vector<std::string>& notes);

// A moved listener or speaker takes the speaker levels the location page gives for the new
// distances, unless a level was named. before: the image the move started from.
void applyLocationLevels(ModeImage& image, const ModeImage& before,
                         const std::vector<ParamAssignment>& assignments);

void addParamCommands(CommandLine& cli);

} // namespace q7
