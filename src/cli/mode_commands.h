// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl's offline commands on mode files and filters: mode dump, mode new, mode diff, biquad.
#pragma once

namespace q7 {

class CommandLine;

void addModeFileCommands(CommandLine& cli);

} // namespace q7
