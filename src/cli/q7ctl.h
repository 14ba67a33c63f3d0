// q7ctl, the command line: its commands run from a library so tests can call them directly.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace q7 {

// args excludes the program name. Returns the exit code.
int runQ7ctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace q7
