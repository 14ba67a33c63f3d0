// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl's audio commands: `audio devices` lists the playback and recording devices, `measure`
// measures a speaker through the amplifier (or deconvolves a recording made elsewhere).
#pragma once

#include "cli/q7ctl.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace q7 {

class CommandLine;

struct MeasureArgs {
    std::string command; // "measure" or "audio devices"
    std::optional<std::string> simulator, trace, replay;
    bool verbose = false, json = false;
    std::optional<std::string> speaker, play, record, input, cal, output, ir, recording;
    std::optional<std::string> smooth, average, reference;
    std::optional<double> sweepSeconds, level, spl94;
    int positions = 1;
};

// `audio devices` and `measure`.
void addMeasureCommands(CommandLine& cli);

// Runs an audio command. Exit 0, 1 for a failed measurement (no signal, clipped, a device
// gone), 2 for bad usage.
int runMeasureCommand(const MeasureArgs& args, std::ostream& out, std::ostream& err,
                      const Q7ctlEnvironment& env);

} // namespace q7
