// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/report_sink.h"

namespace q7 {

int RecordingSink::write(const Report& r) {
    {
        std::lock_guard lock(mutex_);
        entries_.push_back({clock_ ? clock_->nowMs() : 0.0, r});
    }
    if (observer_)
        observer_(r);
    return int(kReportSize);
}

std::vector<RecordingSink::Entry> RecordingSink::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<Report> RecordingSink::reports() const {
    std::lock_guard lock(mutex_);
    std::vector<Report> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_)
        out.push_back(e.report);
    return out;
}

std::size_t RecordingSink::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void RecordingSink::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

} // namespace q7
