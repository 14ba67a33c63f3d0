// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace q7 {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string hexReport(const Report& r) {
    std::string s;
    s.reserve(kReportSize * 3);
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (i)
            s.push_back(' ');
        s.push_back(kHex[r[i] >> 4]);
        s.push_back(kHex[r[i] & 0xF]);
    }
    return s;
}

std::string formatTraceLine(double ms, Direction direction, const Report& r) {
    // Times outside what a session can last are pinned so that the line stays parseable.
    const double t = ms >= 0 && ms < 1e11 ? ms : (ms >= 1e11 ? 1e11 : 0.0);
    char head[32];
    std::snprintf(head, sizeof head, "%.3f %c ", t, char(direction));
    return head + hexReport(r);
}

std::optional<TraceLine> parseTraceLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);

    // The time: up to 12 integer digits and an optional fraction, as formatTraceLine writes it.
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::string_view number = line.substr(0, space);
    const std::size_t dot = number.find('.');
    const std::string_view whole = number.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1);
    auto digits = [](std::string_view d) {
        return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > 12 || fraction.size() > 6 || !digits(whole) ||
        !digits(fraction) || (dot != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    const double ms = std::strtod(std::string(number).c_str(), nullptr);

    std::string_view rest = line.substr(space + 1);
    if (rest.size() < 2 || (rest[0] != '>' && rest[0] != '<') || rest[1] != ' ')
        return std::nullopt;
    TraceLine t;
    t.ms = ms;
    t.direction = Direction(rest[0]);
    rest.remove_prefix(2);

    // 61 pairs separated by single spaces.
    if (rest.size() != kReportSize * 3 - 1)
        return std::nullopt;
    for (std::size_t i = 0; i < kReportSize; ++i) {
        const int hi = hexValue(rest[3 * i]);
        const int lo = hexValue(rest[3 * i + 1]);
        if (hi < 0 || lo < 0 || (i + 1 < kReportSize && rest[3 * i + 2] != ' '))
            return std::nullopt;
        t.report[i] = std::uint8_t(hi << 4 | lo);
    }
    return t;
}

TraceWriter::~TraceWriter() {
    close();
}

bool TraceWriter::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_)
        std::fclose(file_);
    error_ = 0;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
        error_ = errno;
    return file_ != nullptr;
}

void TraceWriter::setListener(std::function<void(const TraceLine&)> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void TraceWriter::write(double ms, Direction direction, const Report& r) {
    std::lock_guard lock(mutex_);
    if (listener_)
        listener_(TraceLine{ms, direction, r});
    if (!file_)
        return;
    std::string line = formatTraceLine(ms, direction, r);
    line.push_back('\n');
    // Each line reaches the file as it happens: after a crash or a pulled cable the last reports
    // are the ones a bug report needs.
    if ((std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
         std::fflush(file_) != 0) &&
        error_ == 0)
        error_ = errno ? errno : EIO;
}

bool TraceWriter::close() {
    std::lock_guard lock(mutex_);
    if (file_) {
        if (std::fclose(file_) != 0 && error_ == 0)
            error_ = errno ? errno : EIO;
        file_ = nullptr;
    }
    return error_ == 0;
}

} // namespace q7
