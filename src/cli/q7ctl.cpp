// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/q7ctl.h"

#include "cli/command_line.h"
#include "cli/device_commands.h"
#include "cli/eq_commands.h"
#include "cli/measure_commands.h"
#include "cli/mode_commands.h"
#include "cli/param_commands.h"
#include "cli/serve_command.h"
#include "cli/tune_commands.h"

namespace q7 {

namespace {

// Every set of commands, in the order `q7ctl help` lists them. A new set adds its function here.
constexpr void (*kCommandSets[])(CommandLine&) = {
    addDeviceCommands,  addParamCommands, addModeFileCommands, addEqCommands,
    addMeasureCommands, addTuneCommands,  addServeCommands,
};

} // namespace

void addQ7ctlCommands(CommandLine& cli) {
    for (auto add : kCommandSets)
        add(cli);
    cli.addHelpCommand();
}

int runQ7ctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const Q7ctlEnvironment& env) {
    CommandLine cli;
    addQ7ctlCommands(cli);
    return cli.run(args, out, err, env);
}

} // namespace q7
