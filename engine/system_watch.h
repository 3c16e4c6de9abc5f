// Tells the engine what the system did behind its back, from a thread of its
// own that sleeps in poll() until the kernel has something to say, so an idle
// machine costs no wake-up: a moment on the boot-time clock passed (a
// CLOCK_BOOTTIME timerfd goes on while the machine sleeps and fires at once
// on a resume past its moment, when the monotonic poll timers still have
// their whole wait ahead) and a change of the machine's routes or addresses
// (rtnetlink). A CLOCK_REALTIME timerfd with TFD_TIMER_CANCEL_ON_SET would
// tell of every resume too, but also of every step of the calendar clock,
// which some virtual machines take many times a second.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace orvalin {

class SystemWatch {
  public:
    // Both run on the watch's thread: onWake when the moment given to
    // WakeAfter has come (on the boot-time clock), onNetworkChange after
    // routes or addresses changed (changes that come together give one call).
    SystemWatch(std::function<void()> onWake, std::function<void()> onNetworkChange);
    // Stops the thread; returns once neither callback runs.
    ~SystemWatch();
    SystemWatch(const SystemWatch&) = delete;
    SystemWatch& operator=(const SystemWatch&) = delete;

    // Any thread: onWake runs once delay from now, counting time asleep;
    // replaces the moment set before. Zero or less: never.
    void WakeAfter(std::chrono::nanoseconds delay);

  private:
    void Run();

    std::function<void()> onWake_;
    std::function<void()> onNetworkChange_;
    int bootTimer_ = -1;
    int routes_ = -1;
    int stop_ = -1;  // an eventfd written once to end the thread
    std::thread thread_;
};

}  // namespace orvalin
