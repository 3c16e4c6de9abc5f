// Time as the core sees it. Front ends and tests provide the implementation;
// SystemClock is the real one.
#pragma once

#include <cstdint>
#include <ctime>

namespace orvalin {

class IClock {
  public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start, 32 bits wide: callers subtract
    // two readings as unsigned numbers, so a wrap between them is harmless.
    virtual std::uint32_t TickCount() = 0;
    // The current local calendar time.
    virtual std::tm LocalNow() = 0;
    // Blocks the calling thread for about ms milliseconds.
    virtual void SleepMs(std::uint32_t ms) = 0;
};

class SystemClock final : public IClock {
  public:
    std::uint32_t TickCount() override;
    std::tm LocalNow() override;
    void SleepMs(std::uint32_t ms) override;
};

}  // namespace orvalin
