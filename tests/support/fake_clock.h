// The one clock of the tests: local time stands still at a moment the test
// chooses (14 March 2004, 09:05:07 unless set), tick readings come in pairs
// probeMs apart, and sleeps are recorded and, unless realSleeps, skipped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace orvalin::test {

class FakeClock final : public IClock {
  public:
    FakeClock();

    std::uint32_t TickCount() override;
    std::tm LocalNow() override;
    void SleepMs(std::uint32_t ms) override;

    // Local time from now on (month 1 to 12).
    void Set(int year, int month, int day, int hour, int minute, int second);

    // What the next probes measure: two readings probeMs apart.
    std::atomic<std::uint32_t> probeMs{234};
    std::atomic<std::uint32_t> tick{0xFFFFFF00u};  // close to the wrap
    std::atomic<bool> realSleeps{false};
    std::vector<std::uint32_t> Sleeps();

    // While held, SleepMs blocks.
    void HoldSleeps();
    void ReleaseSleeps();
    bool WaitUntilSleeping(std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::tm local_{};
    std::vector<std::uint32_t> sleeps_;
    bool second_ = false;
    bool hold_ = false;
    int sleeping_ = 0;
};

}  // namespace orvalin::test
