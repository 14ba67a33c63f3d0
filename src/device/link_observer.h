// SPDX-License-Identifier: GPL-3.0-or-later
// What the link and its workers tell the user interface. Called from the read thread and the
// workers; implementations hand the news to their own thread.
#pragma once

#include <string>

namespace q7 {

enum class LinkState { Closed, Open, Broken };
enum class TransferKind { Synchronisation = 0, Download = 1 };

class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // A remote key was learned (queued; the read thread does not wait).
    virtual void keyLearned(int code) { (void)code; }
    // A transfer ended. The worker waits until this returns: the user interface runs the
    // connection check before it does. Must return promptly when the program is closing; while
    // it blocks waiting for another thread it holds a Clock::Idle.
    virtual void transferFinished(TransferKind kind) { (void)kind; }
    // The first DSP error of the run.
    virtual void dspError(const std::string& text) { (void)text; }
    virtual void linkStateChanged(LinkState state) { (void)state; }
};

} // namespace q7
