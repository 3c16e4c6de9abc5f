#include "support/fake_clock.h"

#include <thread>

#include "support/fixed_moment.h"

namespace orvalin::test {

FakeClock::FakeClock() : local_(FixedMoment()) {}

std::chrono::nanoseconds FakeClock::Monotonic() {
    std::lock_guard lock(mutex_);
    // Readings come in pairs around a probe: the second is probeMs later.
    const std::chrono::nanoseconds now = monotonic_;
    monotonic_ += second_ ? std::chrono::nanoseconds(std::chrono::seconds(1))  // between probes
                          : std::chrono::round<std::chrono::nanoseconds>(
                                std::chrono::duration<double, std::milli>(probeMs.load()));
    second_ = !second_;
    return now;
}

std::tm FakeClock::LocalNow() {
    std::lock_guard lock(mutex_);
    return local_;
}

void FakeClock::Set(int year, int month, int day, int hour, int minute, int second) {
    std::lock_guard lock(mutex_);
    local_ = std::tm{};
    local_.tm_year = year - 1900;
    local_.tm_mon = month - 1;
    local_.tm_mday = day;
    local_.tm_hour = hour;
    local_.tm_min = minute;
    local_.tm_sec = second;
}

void FakeClock::SleepMs(std::uint32_t ms) {
    std::unique_lock lock(mutex_);
    sleeps_.push_back(ms);
    ++sleeping_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !hold_; });
    --sleeping_;
    lock.unlock();
    if (realSleeps.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

std::chrono::nanoseconds FakeClock::TimeAsleep() {
    std::lock_guard lock(mutex_);
    return asleep_;
}

std::chrono::nanoseconds FakeClock::BootTime() {
    std::lock_guard lock(mutex_);
    return monotonic_ + asleep_;
}

void FakeClock::Suspend(std::chrono::nanoseconds slept) {
    std::lock_guard lock(mutex_);
    asleep_ += slept;
}

std::vector<std::uint32_t> FakeClock::Sleeps() {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

void FakeClock::HoldSleeps() {
    std::lock_guard lock(mutex_);
    hold_ = true;
}

void FakeClock::ReleaseSleeps() {
    std::lock_guard lock(mutex_);
    hold_ = false;
    changed_.notify_all();
}

bool FakeClock::WaitUntilSleeping(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return sleeping_ > 0; });
}

}  // namespace orvalin::test
