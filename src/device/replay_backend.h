// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a recorded trace back as the amplifier: every report the editor writes is matched with
// the next '>' line, and the '<' lines after it are delivered as the replies. Two kinds of
// report go out whenever a timer or the read thread happens to send them, so they may stand
// elsewhere in a recording than in its replay: level requests (the 300 ms poll) and our
// acknowledgements of tunnel messages. They are matched wherever they fall.
#pragma once

#include "device/hid_backend.h"
#include "protocol/clock.h"
#include "protocol/trace.h"

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

inline constexpr const char* kReplayPath = "replay:trace";

class ReplayBackend final : public HidBackend {
public:
    // Mismatches go to report(); lines that are not trace lines are skipped and counted.
    ReplayBackend(Clock& clock, std::function<void(const std::string&)> report);
    bool load(const std::string& path, std::string& error);
    // False, with the line named in `error`, at the first line that is neither a trace line, a
    // comment nor empty: a damaged trace is refused before anything is replayed.
    bool loadLines(const std::vector<std::string>& lines, std::string* error = nullptr);

    std::vector<HidInterface> enumerate() override;
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override;

    int mismatches() const;
    int skippedLines() const { return skipped_; }
    bool finished() const; // every '>' line was matched

    int deviceWrite(const std::uint8_t* data, std::size_t size);
    int deviceRead(std::uint8_t* buf, std::size_t size, int timeoutMs);

private:
    Clock& clock_;
    std::function<void(const std::string&)> report_;
    mutable std::mutex mutex_;
    std::vector<TraceLine> lines_;
    std::vector<std::size_t> lineNumbers_; // of each trace line in its file, from 1
    std::size_t lastLine_ = 0;             // the file's last line number
    bool ended_ = false;     // a write went past the trace's end: the device fails its next read
    std::vector<bool> used_; // lines consumed out of order (a level request matched later on)
    std::size_t next_ = 0;   // next line to consume
    std::deque<Report> replies_;
    std::optional<Report> lastLevels_;
    int mismatches_ = 0;
    int skipped_ = 0;

    void queueRepliesLocked();
};

} // namespace q7
