#include "platform/clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace orvalin {

std::chrono::nanoseconds SystemClock::Monotonic() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

std::tm SystemClock::LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

void SystemClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

std::chrono::nanoseconds Read(clockid_t id) {
    timespec at{};
    ::clock_gettime(id, &at);
    return std::chrono::seconds(at.tv_sec) + std::chrono::nanoseconds(at.tv_nsec);
}

}  // namespace

std::chrono::nanoseconds SystemClock::BootTime() {
    return Read(CLOCK_BOOTTIME);
}

std::chrono::nanoseconds SystemClock::TimeAsleep() {
    // Monotonic first: a preemption between the two readings then counts as
    // a few microseconds of sleep, far below any gap the engine reports.
    const auto monotonic = Read(CLOCK_MONOTONIC);
    const auto boot = Read(CLOCK_BOOTTIME);
    return boot > monotonic ? boot - monotonic : std::chrono::nanoseconds::zero();
}

}  // namespace orvalin
