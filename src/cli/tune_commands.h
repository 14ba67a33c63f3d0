// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl tune: measures every speaker from the listening positions, computes levels, delays, the
// Sub's crossover and polarity and each output's EQ, applies them as one step and checks them.
#pragma once

#include "cli/q7ctl.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace q7 {

class CommandLine;

struct TuneArgs {
    std::optional<std::string> simulator, trace, replay;
    bool verbose = false, json = false, dryRun = false;
    std::optional<std::string> speakers, target, play, record, cal, report;
    std::optional<double> maxBoost, sweepSeconds;
    int positions = 1;
};

// `tune`.
void addTuneCommands(CommandLine& cli);

// What is wrong with the options, or empty.
std::string tuneUsageError(const TuneArgs& args);

// Exit 0 when applied and verified within the limits (or, with --dry-run, computed), 1 when the
// check falls short (what was sent stays) or the amplifier, a device or a file failed, 2 for bad
// usage.
int runTuneCommand(const TuneArgs& args, std::ostream& out, std::ostream& err,
                   const Q7ctlEnvironment& env);

} // namespace q7
