// How long a slot's poll timer waits, from its interval in minutes.
#pragma once

#include <cstdint>
#include <limits>

namespace orvalin {

inline constexpr std::uint32_t kStartupTimerMs = 40;
inline constexpr std::uint32_t kFirstPollMs[] = {300, 350, 400, 450};
inline constexpr std::uint32_t kPollButtonMs = 100;
inline constexpr std::int64_t kMinuteMs = 60'000;
// The next check after one has ended comes this much sooner than a whole interval.
inline constexpr std::int64_t kRearmEarlyMs = 1'000;
// An empty interval box counts as this many minutes when an arrow is used.
inline constexpr int kEmptyIntervalMinutes = 5;
// Timers take at most this many milliseconds, as window timers do.
inline constexpr std::int64_t kLongestTimerMs = std::numeric_limits<std::int32_t>::max();

// An interval below one minute (a stored 0 or a negative number) would poll
// without pause; it counts as one minute wherever a period is derived from it.
constexpr std::int64_t UsableMinutes(std::int32_t minutes) {
    return minutes < 1 ? 1 : minutes;
}

constexpr std::uint32_t TimerPeriod(std::int64_t ms) {
    if (ms < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(ms > kLongestTimerMs ? kLongestTimerMs : ms);
}

// A whole interval: after the arrows, and when a check found nothing to probe.
constexpr std::uint32_t FullIntervalMs(std::int32_t minutes) {
    return TimerPeriod(UsableMinutes(minutes) * kMinuteMs);
}

// From the end of one check to the start of the next.
constexpr std::uint32_t RearmAfterCheckMs(std::int32_t minutes) {
    return TimerPeriod(UsableMinutes(minutes) * kMinuteMs - kRearmEarlyMs);
}

}  // namespace orvalin
