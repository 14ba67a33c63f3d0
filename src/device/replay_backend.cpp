// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/replay_backend.h"

#include <fstream>

namespace q7 {

namespace {

class ReplayDevice final : public HidDevice {
public:
    explicit ReplayDevice(ReplayBackend& b) : b_(b) {}
    int read(std::uint8_t* buf, std::size_t size, int timeoutMs) override {
        return b_.deviceRead(buf, size, timeoutMs);
    }
    int write(const std::uint8_t* data, std::size_t size) override {
        return b_.deviceWrite(data, size);
    }

private:
    ReplayBackend& b_;
};

} // namespace

ReplayBackend::ReplayBackend(Clock& clock, std::function<void(const std::string&)> report)
    : clock_(clock), report_(std::move(report)) {}

bool ReplayBackend::load(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return loadLines(lines, &error);
}

bool ReplayBackend::loadLines(const std::vector<std::string>& lines, std::string* error) {
    std::lock_guard lock(mutex_);
    lines_.clear();
    lineNumbers_.clear();
    skipped_ = 0;
    ended_ = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line[0] == '#' || line == "\r")
            continue;
        const auto t = parseTraceLine(line);
        if (!t) {
            ++skipped_;
            if (error)
                *error = "replay: line " + std::to_string(i + 1) +
                         " is not a trace line (cut short or damaged): " + line.substr(0, 40);
            lines_.clear();
            lineNumbers_.clear();
            return false;
        }
        lines_.push_back(*t);
        lineNumbers_.push_back(i + 1);
    }
    lastLine_ = lines.size();
    used_.assign(lines_.size(), false);
    next_ = 0;
    replies_.clear();
    return true;
}

std::vector<HidInterface> ReplayBackend::enumerate() {
    return {{kReplayPath, kVendorId, kProductId}};
}

std::unique_ptr<HidDevice> ReplayBackend::open(const std::string& path, OpenError& error) {
    if (path != kReplayPath) {
        error = OpenError::NotFound;
        return nullptr;
    }
    error = OpenError::None;
    {
        // Replies recorded before the first write arrive as soon as the link opens.
        std::lock_guard lock(mutex_);
        queueRepliesLocked();
    }
    return std::make_unique<ReplayDevice>(*this);
}

void ReplayBackend::queueRepliesLocked() {
    while (next_ < lines_.size() &&
           (used_[next_] || lines_[next_].direction == Direction::FromAmplifier)) {
        if (!used_[next_])
            replies_.push_back(lines_[next_].report);
        ++next_;
    }
}

namespace {

bool isTunnelAck(const Report& r) {
    return r == tunnelAcknowledgement();
}

// Sent by a timer or by the read thread, not in the order of the editor's other reports.
bool floats(const Report& r) {
    return isTunnelAck(r) || r[1] == CMD_GET_LEVELS;
}

} // namespace

int ReplayBackend::deviceWrite(const std::uint8_t* data, std::size_t size) {
    Report written{};
    std::copy_n(data, std::min(size, kReportSize), written.begin());
    std::string problem;
    {
        std::lock_guard lock(mutex_);
        while (next_ < lines_.size() && used_[next_])
            ++next_;
        const bool expected = next_ < lines_.size() && lines_[next_].report == written;
        if (floats(written) && !expected) {
            // Not where the recording has it. A level request takes the next recorded one
            // and its replies; an acknowledgement simply passes.
            if (written[1] == CMD_GET_LEVELS) {
                bool found = false;
                for (std::size_t k = next_; k < lines_.size() && !found; ++k) {
                    if (used_[k] || lines_[k].direction != Direction::ToAmplifier ||
                        lines_[k].report != written)
                        continue;
                    used_[k] = true;
                    found = true;
                    for (std::size_t j = k + 1; j < lines_.size() && !used_[j] &&
                                                lines_[j].direction == Direction::FromAmplifier;
                         ++j) {
                        used_[j] = true;
                        replies_.push_back(lines_[j].report);
                    }
                }
                // None left to take: the meters stand still, as the last reply had them.
                if (!found && lastLevels_)
                    replies_.push_back(*lastLevels_);
            }
        } else {
            // Floating reports the recording has here and this session sends elsewhere (or not
            // at all): pass over them, delivering what followed them.
            while (!expected && next_ < lines_.size() &&
                   lines_[next_].direction == Direction::ToAmplifier &&
                   floats(lines_[next_].report)) {
                ++next_;
                queueRepliesLocked();
            }
            if (next_ >= lines_.size()) {
                // Nothing more will ever answer: the device fails, as an unplugged one would,
                // rather than let every request wait out its reply.
                ++mismatches_;
                ended_ = true;
                problem = "replay: the trace ended at line " + std::to_string(lastLine_) +
                          ", and this session wrote more\n  wrote    " + hexReport(written);
            } else {
                const TraceLine& line = lines_[next_++];
                if (line.report != written) {
                    ++mismatches_;
                    problem = "replay: mismatch at trace line " +
                              std::to_string(lineNumbers_[next_ - 1]) + "\n  expected " +
                              hexReport(line.report) + "\n  wrote    " + hexReport(written);
                }
                queueRepliesLocked();
            }
        }
    }
    if (!problem.empty() && report_)
        report_(problem);
    clock_.notify();
    return int(size);
}

int ReplayBackend::deviceRead(std::uint8_t* buf, std::size_t size, int timeoutMs) {
    auto ready = [this](double) {
        std::lock_guard lock(mutex_);
        return !replies_.empty() || ended_;
    };
    if (!clock_.waitFor(ready, timeoutMs))
        return 0;
    std::lock_guard lock(mutex_);
    if (replies_.empty())
        return ended_ ? -1 : 0;
    const Report r = replies_.front();
    replies_.pop_front();
    if (r[1] == RPL_LEVELS)
        lastLevels_ = r;
    const std::size_t n = std::min(size, kReportSize);
    std::copy_n(r.begin(), n, buf);
    return int(n);
}

int ReplayBackend::mismatches() const {
    std::lock_guard lock(mutex_);
    return mismatches_;
}

bool ReplayBackend::finished() const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = next_; i < lines_.size(); ++i)
        if (!used_[i] && lines_[i].direction == Direction::ToAmplifier && !floats(lines_[i].report))
            return false;
    return true;
}

} // namespace q7
