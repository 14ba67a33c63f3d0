// SPDX-License-Identifier: GPL-3.0-or-later
// The link's debug traces: silent unless a sink is installed (q7ctl and q7edit --verbose).
#pragma once

#include <functional>
#include <string_view>

namespace q7 {

void setDebugLogSink(std::function<void(std::string_view)> sink);
void debugLog(std::string_view text);

} // namespace q7
