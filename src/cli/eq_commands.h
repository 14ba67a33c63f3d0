// q7ctl eq: filter text in and out, the response of a bank, and fitting a bank to a measurement.
// All offline; they read and write mode files.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace q7 {

// Handles the command when the first word that is not a global option is "eq"; nullopt
// otherwise. Returns the exit code: 0 success, 1 an unreadable file, 2 bad arguments.
std::optional<int> runEqCommand(const std::vector<std::string>& args, std::ostream& out,
                                std::ostream& err);

} // namespace q7
