// Every fixed wait of the editor goes through one Clock so that tests can run on virtual time.
#pragma once

#include <chrono>
#include <mutex>

namespace q7 {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale; only differences are meaningful.
    virtual double nowMs() = 0;
    virtual void sleepMs(double ms) = 0;
};

class SystemClock final : public Clock {
public:
    double nowMs() override;
    void sleepMs(double ms) override;

private:
    std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};

// Time moves only when somebody sleeps: a sleep returns at once, having advanced the clock.
class VirtualClock final : public Clock {
public:
    double nowMs() override;
    void sleepMs(double ms) override;
    void advanceMs(double ms) { sleepMs(ms); }

private:
    std::mutex mutex_;
    double now_ = 0.0;
};

} // namespace q7
