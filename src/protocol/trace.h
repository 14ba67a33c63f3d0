// SPDX-License-Identifier: GPL-3.0-or-later
// The report trace: one line per report, "<ms since open, 3 decimals> <'>'|'<'> <61 hex pairs>".
#pragma once

#include "protocol/report.h"

#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace q7 {

enum class Direction : char { ToAmplifier = '>', FromAmplifier = '<' };

struct TraceLine {
    double ms = 0.0;
    Direction direction = Direction::ToAmplifier;
    Report report{};
};

std::string formatTraceLine(double ms, Direction direction, const Report& r);
std::string hexReport(const Report& r);
// Accepts exactly the format above (surrounding blanks and a trailing CR are tolerated).
std::optional<TraceLine> parseTraceLine(std::string_view line);

// Appends trace lines to a file; safe to call from several threads.
class TraceWriter {
public:
    TraceWriter() = default;
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    bool open(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    // Also hands every line to a listener (tests, a wire log window).
    void setListener(std::function<void(const TraceLine&)> listener);
    void write(double ms, Direction direction, const Report& r);
    // False when a line could not be written or the file could not be closed whole; error()
    // then holds the system's errno.
    bool close();
    int error() const { return error_; }

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    int error_ = 0;
    std::function<void(const TraceLine&)> listener_;
};

} // namespace q7
