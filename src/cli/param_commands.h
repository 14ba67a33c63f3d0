// q7ctl params, get and set: the parameters of a mode file by name (param_names' ids), read and
// changed in a file or on the amplifier.
#pragma once

#include "cli/device_commands.h"
#include "params/param_names.h"
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

// An id of the table; on failure error names it, with the ids it may have meant.
const ParamInfo* lookUpParam(std::string_view name, std::string& error);
// The stored bits of a value typed in the user's terms: a number (with or without the unit),
// or one of the words the table prints (on/off, PEQ, High Freq …). Values outside the page's
// range, or the field's, are refused with error naming the range.
std::optional<std::uint32_t> parseParamValue(const ParamInfo& p, std::string_view text,
                                             std::string& error);
// "NAME=VALUE".
std::optional<ParamAssignment> parseAssignment(std::string_view text, std::string& error);

// Writes the value into the image as the pages would leave it: a plan byte also sets the cell
// of cells 4..23 it is made from, and a visible Sub band takes its three sections along (they
// follow its frequency and Q at 0 dB).
void applyAssignment(ModeImage& image, const ParamAssignment& a);

// The value as get prints it: exact numbers with the unit, words for switches and types.
std::string paramValueText(const ParamInfo& p, std::uint32_t raw);
// get's output: a line "NAME VALUE" each, or a JSON array.
std::string paramValues(const std::vector<const ParamInfo*>& params, const ModeImage& image,
                        bool json);
// One line on err for each value that did not land as typed: stored with less resolution, or
// changed by the amplifier's senders (the predelay halves go out equal, for one).
void noteAdjustedValues(const std::vector<ParamAssignment>& assignments, const ModeImage& result,
                        bool sent, std::ostream& err);

// The names get takes (all parameters when none), or nullopt after a line on err.
std::optional<std::vector<const ParamInfo*>> paramsNamed(const std::vector<std::string>& names,
                                                         std::ostream& err);
// The assignments set takes, or nullopt after a line on err. onAmplifier refuses what no
// sender carries (the extra bytes).
std::optional<std::vector<ParamAssignment>> assignmentsGiven(const std::vector<std::string>& texts,
                                                             bool onAmplifier, std::ostream& err);

// The offline commands: params, and get and set with --file. Exit codes as runQ7ctl's.
int paramsCommand(bool json, std::ostream& out);
int getFromFile(const CliArgs& a, std::ostream& out, std::ostream& err);
int setInFile(const CliArgs& a, std::ostream& err);

} // namespace q7
