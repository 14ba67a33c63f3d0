#include "device/clock.h"

#include <thread>

namespace q7 {

double SystemClock::nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now() - origin_).count();
}

void SystemClock::sleepMs(double ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

double VirtualClock::nowMs() {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::sleepMs(double ms) {
    std::lock_guard lock(mutex_);
    if (ms > 0) now_ += ms;
}

} // namespace q7
