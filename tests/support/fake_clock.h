// The one clock of the tests: local time stands still at a moment the test
// chooses (14 March 2004, 09:05:07 unless set), monotonic readings come in
// pairs probeMs apart, and sleeps are recorded and, unless realSleeps, skipped.
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

    std::chrono::nanoseconds Monotonic() override;
    std::tm LocalNow() override;
    void SleepMs(std::uint32_t ms) override;
    std::chrono::nanoseconds TimeAsleep() override;
    std::chrono::nanoseconds BootTime() override;

    // The machine slept this long: the boot-time clock jumps ahead of the
    // monotonic one, as after a resume.
    void Suspend(std::chrono::nanoseconds slept);

    // Local time from now on (month 1 to 12).
    void Set(int year, int month, int day, int hour, int minute, int second);

    // What the next probes take: two readings probeMs apart (fractions of a
    // millisecond too).
    std::atomic<double> probeMs{234};
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
    std::chrono::nanoseconds monotonic_{std::chrono::hours(1)};
    std::chrono::nanoseconds asleep_{0};
    bool second_ = false;
    bool hold_ = false;
    int sleeping_ = 0;
};

}  // namespace orvalin::test
