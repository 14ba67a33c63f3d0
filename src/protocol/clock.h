// SPDX-License-Identifier: GPL-3.0-or-later
// Every fixed wait of the editor goes through one Clock so that tests can run on virtual time.
//
// Threads wait through waitUntil() with a readiness test that the clock evaluates under its own
// lock. Whoever changes what a readiness test looks at calls notify() afterwards.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <vector>

namespace q7 {

inline constexpr double kForever = std::numeric_limits<double>::infinity();

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale; only differences are meaningful.
    virtual double nowMs() = 0;
    void sleepMs(double ms);

    // A readiness test must not change anything: the virtual clock also asks it on behalf of
    // other threads to learn whether anyone is about to run.
    using Ready = std::function<bool(double nowMs)>;
    using WakeAt = std::function<double()>;
    // Waits until ready(now) holds or the absolute deadline passes; returns ready's last answer.
    // wakeAt, when given, names an instant at which ready may become true without a notify
    // (a delivery scheduled for later): the wait looks again then.
    virtual bool waitUntil(const Ready& ready, double deadlineMs, const WakeAt& wakeAt = {}) = 0;
    bool waitFor(const Ready& ready, double timeoutMs, const WakeAt& wakeAt = {});
    virtual void notify() = 0;

    // A thread that takes part in virtual time (read thread, workers, simulator) holds one of
    // these; virtual time moves only while every such thread is waiting on the clock.
    class Participant {
    public:
        explicit Participant(Clock& c) : clock_(c) { clock_.attach(false); }
        // For a thread whose place was reserved by its creator before it started, so that time
        // cannot run ahead while the new thread is still getting up.
        struct Reserved {};
        Participant(Clock& c, Reserved) : clock_(c) { clock_.attach(true); }
        ~Participant() { clock_.detach(); }
        Participant(const Participant&) = delete;
        Participant& operator=(const Participant&) = delete;

    private:
        Clock& clock_;
    };
    // A participant blocked on something other than the clock (waiting for the user interface to
    // handle a message) declares itself idle for the duration.
    class Idle {
    public:
        explicit Idle(Clock& c) : clock_(c) { clock_.beginIdle(); }
        ~Idle() { clock_.endIdle(); }
        Idle(const Idle&) = delete;
        Idle& operator=(const Idle&) = delete;

    private:
        Clock& clock_;
    };

    // Called by the creator of a thread that will hold Participant(clock, Reserved{}).
    virtual void reserveParticipant() {}

protected:
    virtual void attach(bool reserved) { (void)reserved; }
    virtual void detach() {}
    virtual void beginIdle() {}
    virtual void endIdle() {}
};

class SystemClock final : public Clock {
public:
    double nowMs() override;
    bool waitUntil(const Ready& ready, double deadlineMs, const WakeAt& wakeAt = {}) override;
    void notify() override;

private:
    struct Waiter {
        const Ready* ready;
        const WakeAt* wakeAt; // a notify may have brought its wake time forward
        std::condition_variable cv; // a notify wakes only the waiters it concerns
    };
    std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    std::vector<Waiter*> waiters_;
};

// Simulated time. It stands still while any participant runs; when every participant is waiting
// (and at least one wait has a deadline or a wake-up instant), it jumps to the earliest of them.
// Threads that are not participants (a test's main thread) may wait too: their deadlines count,
// but their running does not hold time back.
class VirtualClock final : public Clock {
public:
    double nowMs() override;
    bool waitUntil(const Ready& ready, double deadlineMs, const WakeAt& wakeAt = {}) override;
    void notify() override;
    // Moves time forward by hand (tests driving single-threaded code).
    void advanceMs(double ms);

    void reserveParticipant() override;

protected:
    void attach(bool reserved) override;
    void detach() override;
    void beginIdle() override;
    void endIdle() override;

private:
    struct Waiter {
        double deadline;
        const Ready* ready;
        const WakeAt* wakeAt;
        bool participant;
        // Each waiter sleeps on its own: a notify wakes only those it concerns.
        std::condition_variable cv;
    };
    std::mutex mutex_;
    double now_ = 0.0;
    int participants_ = 0;
    int idle_ = 0; // participants waiting or declared idle
    std::vector<Waiter*> waiters_;

    void advanceIfIdleLocked();
    // Wakes the waiters whose test holds or whose deadline or wake-up instant has come.
    void wakeDueLocked();
};

// A Windows-style event on a clock: auto-reset events release one waiter per set().
class Event {
public:
    Event(Clock& clock, bool autoReset, bool initiallySet)
        : clock_(clock), autoReset_(autoReset), set_(initiallySet) {}
    void set();
    void reset() { set_.store(false); }
    bool isSet() const { return set_.load(); }
    // True when the event was set within the timeout (and, if auto-reset, consumed).
    bool wait(double timeoutMs);

private:
    Clock& clock_;
    const bool autoReset_;
    std::atomic<bool> set_;
};

} // namespace q7
