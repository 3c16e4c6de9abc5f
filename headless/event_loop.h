// A small event loop for front ends without a toolkit: posted work and
// one-shot timers by id, and an optional heartbeat, run on the thread that
// calls Run. Idle, it sleeps until the next timer or beat is due or work is
// posted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "engine/frontend.h"

namespace orvalin {

class EventLoop final : public ITimerHost, public IUiDispatcher {
  public:
    using TimerHandler = std::function<void(int id)>;

    // Called on the loop's thread when a timer fires.
    void SetTimerHandler(TimerHandler handler);

    void Arm(int id, std::uint32_t ms) override;
    void Kill(int id) override;
    void Post(std::function<void()> work) override;
    void PostAfter(std::uint32_t ms, std::function<void()> work) override;

    // Calls beat on the loop's thread as Run starts and then every period,
    // before any work that is waiting, so a beat says that the loop turns: a
    // handler that hangs stops the beats. Without one (the default) the loop
    // wakes only for its timers and work. Set before Run.
    void SetHeartbeat(std::chrono::microseconds period, std::function<void()> beat);

    // Runs until Quit; returns the code given to Quit.
    int Run();
    // Ends Run after the work it is doing now; safe from any thread.
    void Quit(int code);

  private:
    using Clock = std::chrono::steady_clock;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    std::map<int, Clock::time_point> timers_;
    std::multimap<Clock::time_point, std::function<void()>> delayed_;
    TimerHandler onTimer_;
    std::function<void()> heartbeat_;
    std::chrono::microseconds heartbeatPeriod_{0};
    Clock::time_point nextBeat_;
    bool quit_ = false;
    int exitCode_ = 0;
};

}  // namespace orvalin
