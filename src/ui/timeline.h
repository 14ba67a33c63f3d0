// SPDX-License-Identifier: GPL-3.0-or-later
// The user interface's timers and its fixed waits, on the same clock as the device link.
//
// On wall time the timers are QTimers. On virtual time (tests) they are kept here and fired by
// runFor(), which lets the link's threads, the simulated amplifier and the timers advance
// together; work that other threads hand to the GUI thread goes through post(), so runFor()
// knows to stop and run it.
#pragma once

#include "protocol/clock.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <map>

class QTimer;

namespace q7 {

class Timeline : public QObject {
    Q_OBJECT
public:
    Timeline(Clock& clock, bool virtualTime, QObject* parent = nullptr);
    ~Timeline() override;

    Clock& clock() { return clock_; }
    bool isVirtual() const { return virtual_; }

    // Starts a timer; returns its id (never 0). A repeating timer fires every interval.
    int start(double intervalMs, bool repeat, std::function<void()> fire);
    void stop(int id);
    bool isActive(int id) const;

    // Runs fn on the GUI thread soon; callable from any thread.
    void post(std::function<void()> fn);

    // A fixed wait on the GUI thread (the short pauses of the device flows).
    void sleep(double ms) { clock_.sleepMs(ms); }

    // Virtual time only: lets everything run for ms of virtual time.
    void runFor(double ms);
    // Virtual time only: runs until ready() holds or ms have passed; returns ready().
    bool runUntil(const std::function<bool()>& ready, double ms);

private:
    struct VirtualTimer {
        double due;
        double interval;
        bool repeat;
        std::function<void()> fire;
    };

    Clock& clock_;
    const bool virtual_;
    int nextId_ = 1;
    std::map<int, QTimer*> real_;
    std::map<int, VirtualTimer> timers_;
    std::atomic<int> posted_{0};

    bool fireDue();
    void processEvents();
};

} // namespace q7
