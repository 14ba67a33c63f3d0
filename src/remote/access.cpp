// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/access.h"

namespace q7 {

std::vector<RemoteGuestParam> defaultGuestParams() {
    return {};
}

std::optional<RemoteConfig> RemoteConfig::load(const std::string&, std::string& error) {
    error = "not yet";
    return std::nullopt;
}
bool RemoteConfig::save(const std::string&, std::string& error) const {
    error = "not yet";
    return false;
}

} // namespace q7
