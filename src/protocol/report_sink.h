// SPDX-License-Identifier: GPL-3.0-or-later
// Where senders put their reports: the device link, or a recorder in tests and dry runs.
#pragma once

#include "protocol/clock.h"
#include "protocol/report.h"

#include <functional>
#include <mutex>
#include <vector>

namespace q7 {

class ReportSink {
public:
    virtual ~ReportSink() = default;
    // Returns the number of bytes written: 61 on success, 0 when refused or failed.
    virtual int write(const Report& r) = 0;
};

// Accepts and forgets every report.
class NullSink final : public ReportSink {
public:
    int write(const Report&) override { return int(kReportSize); }
};

// Keeps every report with the clock's time at which it was written.
class RecordingSink final : public ReportSink {
public:
    struct Entry {
        double ms;
        Report report;
    };

    explicit RecordingSink(Clock* clock = nullptr) : clock_(clock) {}
    int write(const Report& r) override;

    std::vector<Entry> entries() const;
    std::vector<Report> reports() const;
    std::size_t size() const;
    void clear();
    // Called after each report is recorded (a simulated amplifier can answer here).
    void setObserver(std::function<void(const Report&)> observer) {
        observer_ = std::move(observer);
    }

private:
    Clock* clock_;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::function<void(const Report&)> observer_;
};

} // namespace q7
