// Time as the core sees it. Front ends and tests provide the implementation;
// SystemClock is the real one.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace orvalin {

class IClock {
  public:
    virtual ~IClock() = default;
    // A monotonic reading in nanoseconds since an arbitrary start: callers
    // subtract two readings. Never goes back, whatever happens to the
    // calendar clock, and is fine enough to time an answer of a fraction of a
    // millisecond.
    virtual std::chrono::nanoseconds Monotonic() = 0;
    // The current local calendar time.
    virtual std::tm LocalNow() = 0;
    // Blocks the calling thread for about ms milliseconds.
    virtual void SleepMs(std::uint32_t ms) = 0;
    // How long the machine has been suspended since it booted: the boot-time
    // clock less the monotonic one, which stands still while the machine
    // sleeps. Grows by the length of each sleep, and only then. A clock that
    // cannot tell says 0.
    virtual std::chrono::nanoseconds TimeAsleep() { return {}; }
    // A reading that goes on while the machine sleeps (the boot-time clock),
    // for when something falls due in the time a user lives in; callers
    // subtract two readings. A clock that cannot tell gives 0 every time.
    virtual std::chrono::nanoseconds BootTime() { return {}; }
};

class SystemClock final : public IClock {
  public:
    std::chrono::nanoseconds Monotonic() override;
    std::tm LocalNow() override;
    void SleepMs(std::uint32_t ms) override;
    std::chrono::nanoseconds TimeAsleep() override;
    std::chrono::nanoseconds BootTime() override;
};

}  // namespace orvalin
