#include "cli/eq_commands.h"

namespace q7 {

std::optional<int> runEqCommand(const std::vector<std::string>&, std::ostream&, std::ostream&) {
    return std::nullopt;
}

} // namespace q7
