// q7ctl's commands that talk to an amplifier (real, simulated or replayed).
#pragma once

#include "cli/q7ctl.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace q7 {

struct CliArgs {
    std::vector<std::string> positional;
    bool dryRun = false;
    bool byMode = false;
    bool json = false;
    bool verbose = false;
    bool help = false;
    int count = 10;
    std::optional<std::string> simulator; // options text, possibly empty
    std::optional<std::string> replay;
    std::optional<std::string> trace;
    std::optional<std::string> output;
    std::optional<std::string> file; // get and set: a mode file instead of the amplifier
    std::string error;
};

bool isDeviceCommand(const std::vector<std::string>& positional);
int runDeviceCommand(const CliArgs& a, std::ostream& out, std::ostream& err,
                     const Q7ctlEnvironment& env);

} // namespace q7
