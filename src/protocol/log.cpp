// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/log.h"

#include <mutex>

namespace q7 {

namespace {
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
std::function<void(std::string_view)>& logSink() {
    static std::function<void(std::string_view)> sink;
    return sink;
}
} // namespace

void setDebugLogSink(std::function<void(std::string_view)> sink) {
    std::lock_guard lock(logMutex());
    logSink() = std::move(sink);
}

void debugLog(std::string_view text) {
    std::lock_guard lock(logMutex());
    if (logSink())
        logSink()(text);
}

} // namespace q7
