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
    return loadLines(lines);
}

bool ReplayBackend::loadLines(const std::vector<std::string>& lines) {
    std::lock_guard lock(mutex_);
    lines_.clear();
    skipped_ = 0;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#')
            continue;
        if (auto t = parseTraceLine(line))
            lines_.push_back(*t);
        else
            ++skipped_;
    }
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
    while (next_ < lines_.size() && lines_[next_].direction == Direction::FromAmplifier)
        replies_.push_back(lines_[next_++].report);
}

namespace {

// Our acknowledgement of an unsolicited tunnel message goes out from the read thread whenever
// the message happens to be read: near a close it may be in the recording and not in the replay,
// or the other way round. It is matched where it stands and never counted as a mismatch.
bool isTunnelAck(const Report& r) {
    return r == tunnelAcknowledgement();
}

} // namespace

int ReplayBackend::deviceWrite(const std::uint8_t* data, std::size_t size) {
    Report written{};
    std::copy_n(data, std::min(size, kReportSize), written.begin());
    std::string problem;
    {
        std::lock_guard lock(mutex_);
        const auto expectsAck = [this] {
            return next_ < lines_.size() && isTunnelAck(lines_[next_].report);
        };
        if (isTunnelAck(written)) {
            if (expectsAck()) {
                ++next_;
                queueRepliesLocked();
            } // else: not where the recording has one, let it pass
        } else {
            // The recording acknowledged a message this session has not read: skip that line.
            while (expectsAck()) {
                ++next_;
                queueRepliesLocked();
            }
            if (next_ >= lines_.size()) {
                ++mismatches_;
                problem =
                    "replay: write past the end of the trace\n  wrote    " + hexReport(written);
            } else {
                const TraceLine& expected = lines_[next_++];
                if (expected.report != written) {
                    ++mismatches_;
                    problem = "replay: mismatch at trace line " + std::to_string(next_) +
                              "\n  expected " + hexReport(expected.report) + "\n  wrote    " +
                              hexReport(written);
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
        return !replies_.empty();
    };
    if (!clock_.waitFor(ready, timeoutMs))
        return 0;
    std::lock_guard lock(mutex_);
    if (replies_.empty())
        return 0;
    const Report r = replies_.front();
    replies_.pop_front();
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
        if (lines_[i].direction == Direction::ToAmplifier && !isTunnelAck(lines_[i].report))
            return false;
    return true;
}

} // namespace q7
