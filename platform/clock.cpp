#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace orvalin {

std::uint32_t SystemClock::TickCount() {
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count();
    return static_cast<std::uint32_t>(ms);  // keeps the low 32 bits, like a tick counter
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

}  // namespace orvalin
