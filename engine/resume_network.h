// After a sleep, and while the machine's own network is down: what keeps
// either from showing as a failure of the sites. A resume is noticed from the
// time the machine spent asleep growing (at every timer, from the system
// watch's clock jump, or from a front end's hint); the checks that fell due
// meanwhile then run at once, each waiting (at most a minute) for a route to
// its site, and a failure found by the first check after the resume is
// checked once more before it counts. A site the machine has no route to is
// not judged at all until the network is back.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/monitor_engine.h"
#include "settings/settings_keys.h"

namespace orvalin {

class SystemWatch;

// A growth of the time asleep below this is no sleep worth telling.
inline constexpr std::chrono::seconds kShortestSleep{1};
// After a resume the checks that fell due start this long after it, 50 ms
// apart by slot.
inline constexpr std::uint32_t kResumeCheckMs = 1'000;
// A check after a resume waits this long at most for a route to its site,
// looking again this often.
inline constexpr std::chrono::seconds kNetworkWaitAfterResume{60};
inline constexpr std::uint32_t kNetworkLookAgainMs = 5'000;
// A failure found by the first check after a resume is checked again after this.
inline constexpr std::uint32_t kResumeRecheckMs = 20'000;

// What becomes of a check's result before it is judged.
enum class CheckHold {
    kNone,                // judged as ever
    kNoNetwork,           // the machine has no route to the site: not judged
    kRecheckAfterResume,  // the first failure after a resume: checked again first
};

// Shared between the front-end thread and the check workers.
struct ResumeState {
    std::mutex mutex;
    std::optional<std::chrono::nanoseconds> asleepSeen;  // the clock's TimeAsleep when last looked
    std::optional<std::chrono::nanoseconds> resumedAt;   // boot time of the last resume noticed
    std::array<bool, kSlotCount> firstAfterResume{};     // the slot's next check is the first
    std::array<bool, kSlotCount> noNetwork{};            // the slot's last check found no network
    // When each poll timer falls due, in boot time (which goes on during a sleep).
    std::array<std::optional<std::chrono::nanoseconds>, kSlotCount> pollDue;
};

// "8h 12m"; "12m 5s" under an hour.
std::string SleepLength(std::chrono::nanoseconds slept);

// Front-end thread. Start: takes the time asleep so far as the start and
// watches the system. Stop: ends the watch.
void StartSystemWatch(CMonitorEngine::Shared& s);
void StopSystemWatch(CMonitorEngine::Shared& s);
// Front-end thread: a poll timer was armed for ms.
void NotePollArmed(CMonitorEngine::Shared& s, int timerId, std::uint32_t ms);
// Front-end thread: when the machine slept since the last look, logs the gap
// and starts the checks that fell due meanwhile. True when it had.
bool NoticeResume(CMonitorEngine::Shared& s);
// Front-end thread: the network may have changed; the sites skipped for
// want of a network, and those waiting for it after a resume, are checked now.
void CheckSkippedSites(CMonitorEngine::Shared& s);

// Worker, before the probe: true when the check after a resume waits for a
// route to its site (it has then finished, to look again shortly).
bool WaitForNetworkAfterResume(CMonitorEngine::Shared& s, int i, std::uint64_t generation,
                               const std::string& url);
// Worker, after the probe and before the result is recorded.
CheckHold HoldBeforeJudging(CMonitorEngine::Shared& s, int i, const std::string& url, double ms,
                            const std::string& statusText);
// Worker: finishes a check whose result was held.
void FinishHeldCheck(CMonitorEngine::Shared& s, int i, std::uint64_t generation,
                     const std::string& url, CheckHold hold);
// Whether the slot's site was last skipped for want of a network.
bool SkippedForNoNetwork(CMonitorEngine::Shared& s, int i);

}  // namespace orvalin
