// Tells the engine what the system did behind its back, from a thread of its
// own that sleeps in poll() until the kernel has something to say, so an idle
// machine costs no wake-up: a jump of the calendar clock (a resume from
// sleep is one: a CLOCK_REALTIME timerfd armed with TFD_TIMER_CANCEL_ON_SET
// is cancelled by it) and a change of the machine's routes or addresses
// (rtnetlink).
#pragma once

#include <functional>
#include <thread>

namespace orvalin {

class SystemWatch {
  public:
    // Both run on the watch's thread: onClockJump after the calendar clock
    // was set or the machine resumed, onNetworkChange after routes or
    // addresses changed (changes that come together give one call).
    SystemWatch(std::function<void()> onClockJump, std::function<void()> onNetworkChange);
    // Stops the thread; returns once neither callback runs.
    ~SystemWatch();
    SystemWatch(const SystemWatch&) = delete;
    SystemWatch& operator=(const SystemWatch&) = delete;

  private:
    void Run();
    bool ArmClockTimer();

    std::function<void()> onClockJump_;
    std::function<void()> onNetworkChange_;
    int clockTimer_ = -1;
    int routes_ = -1;
    int stop_ = -1;  // an eventfd written once to end the thread
    std::thread thread_;
};

}  // namespace orvalin
