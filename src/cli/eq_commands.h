// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl eq: filter text in and out, the response of a bank, and fitting a bank to a measurement.
// All offline; they read and write mode files.
#pragma once

namespace q7 {

class CommandLine;

void addEqCommands(CommandLine& cli);

} // namespace q7
