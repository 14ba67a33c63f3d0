// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/clock.h"

#include <algorithm>
#include <cmath>

namespace q7 {

void Clock::sleepMs(double ms) {
    if (ms > 0)
        waitFor([](double) { return false; }, ms);
}

bool Clock::waitFor(const Ready& ready, double timeoutMs, const WakeAt& wakeAt) {
    return waitUntil(ready, timeoutMs < 0 || std::isinf(timeoutMs) ? kForever : nowMs() + timeoutMs,
                     wakeAt);
}

// ---- system time ----

double SystemClock::nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now() - origin_).count();
}

bool SystemClock::waitUntil(const Ready& ready, double deadlineMs, const WakeAt& wakeAt) {
    std::unique_lock lock(mutex_);
    Waiter self{&ready, wakeAt ? &wakeAt : nullptr, {}};
    waiters_.push_back(&self);
    bool result = false;
    for (;;) {
        const double now = nowMs();
        if (ready(now)) {
            result = true;
            break;
        }
        if (now >= deadlineMs)
            break;
        double next = deadlineMs;
        if (wakeAt)
            next = std::min(next, wakeAt());
        if (std::isinf(next)) {
            self.cv.wait(lock);
        } else {
            const auto at =
                origin_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double, std::milli>(next));
            self.cv.wait_until(lock, at);
        }
    }
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &self));
    return result;
}

void SystemClock::notify() {
    std::lock_guard lock(mutex_);
    const double now = nowMs();
    for (Waiter* w : waiters_)
        if ((*w->ready)(now) || w->wakeAt)
            w->cv.notify_one();
}

// ---- virtual time ----

namespace {
thread_local const void* participantOf = nullptr;
// How deeply the current participant is idle (a wait inside an idle scope counts once).
thread_local int idleDepth = 0;
} // namespace

double VirtualClock::nowMs() {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::advanceMs(double ms) {
    std::lock_guard lock(mutex_);
    if (ms > 0)
        now_ += ms;
    wakeDueLocked();
}

void VirtualClock::notify() {
    std::lock_guard lock(mutex_);
    wakeDueLocked();
    advanceIfIdleLocked();
}

void VirtualClock::wakeDueLocked() {
    for (Waiter* w : waiters_)
        if (w->deadline <= now_ || (w->wakeAt && (*w->wakeAt)() <= now_) || (*w->ready)(now_))
            w->cv.notify_one();
}

void VirtualClock::reserveParticipant() {
    std::lock_guard lock(mutex_);
    ++participants_;
}

void VirtualClock::attach(bool reserved) {
    std::lock_guard lock(mutex_);
    if (!reserved)
        ++participants_;
    participantOf = this;
}

void VirtualClock::detach() {
    std::lock_guard lock(mutex_);
    --participants_;
    participantOf = nullptr;
    advanceIfIdleLocked();
    wakeDueLocked();
}

void VirtualClock::beginIdle() {
    if (participantOf != this)
        return;
    std::lock_guard lock(mutex_);
    if (idleDepth++ == 0)
        ++idle_;
    advanceIfIdleLocked();
}

void VirtualClock::endIdle() {
    if (participantOf != this)
        return;
    std::lock_guard lock(mutex_);
    if (--idleDepth == 0)
        --idle_;
}

void VirtualClock::advanceIfIdleLocked() {
    if (idle_ < participants_ || waiters_.empty())
        return;
    // A waiter whose test already holds is about to run: time must wait for it.
    bool someoneReady = false;
    for (Waiter* w : waiters_)
        if ((*w->ready)(now_)) {
            w->cv.notify_one();
            someoneReady = true;
        }
    if (someoneReady)
        return;
    double next = kForever;
    for (const Waiter* w : waiters_) {
        next = std::min(next, w->deadline);
        if (w->wakeAt)
            next = std::min(next, (*w->wakeAt)());
    }
    if (std::isinf(next))
        return;
    if (next > now_)
        now_ = next;
    wakeDueLocked();
}

bool VirtualClock::waitUntil(const Ready& ready, double deadlineMs, const WakeAt& wakeAt) {
    std::unique_lock lock(mutex_);
    if (ready(now_))
        return true;
    const bool participant = participantOf == this;
    Waiter self{deadlineMs, &ready, wakeAt ? &wakeAt : nullptr, participant, {}};
    waiters_.push_back(&self);
    if (participant && idleDepth++ == 0)
        ++idle_;
    bool result = false;
    for (;;) {
        if (ready(now_)) {
            result = true;
            break;
        }
        if (now_ >= deadlineMs)
            break;
        const double before = now_;
        advanceIfIdleLocked();
        if (now_ != before)
            continue; // time moved: look again before sleeping
        self.cv.wait(lock);
    }
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &self));
    if (participant && --idleDepth == 0)
        --idle_;
    return result;
}

// ---- events ----

void Event::set() {
    set_.store(true);
    clock_.notify();
}

bool Event::wait(double timeoutMs) {
    const double deadline =
        timeoutMs < 0 || std::isinf(timeoutMs) ? kForever : clock_.nowMs() + timeoutMs;
    for (;;) {
        if (!clock_.waitUntil([this](double) { return set_.load(); }, deadline))
            return false;
        // Of several waiters woken together only one takes an auto-reset event.
        if (!autoReset_ || set_.exchange(false))
            return true;
    }
}

} // namespace q7
