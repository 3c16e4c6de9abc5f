// Tells systemd's service manager how orvalind is doing (sd_notify(3)) when
// it runs as a Type=notify service. Without NOTIFY_SOCKET it does nothing
// and loads nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvalin {

class ServiceNotifier {
  public:
    // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID. libsystemd is
    // loaded only when NOTIFY_SOCKET is set: linked, it and the libraries
    // it needs would slow down every start of orvalind --once.
    ServiceNotifier();

    // Whether there is a service manager to tell.
    bool Active() const { return notify_ != nullptr; }
    // Why there is none although NOTIFY_SOCKET is set (libsystemd missing).
    const std::string& Problem() const { return problem_; }

    // READY=1: the sites are loaded and their checks armed.
    void Ready(std::string_view status) const;
    // STATUS=: one line that systemctl status shows.
    void Status(std::string_view status) const;
    // STOPPING=1: the orderly end has begun.
    void Stopping() const;
    // WATCHDOG=1: the event loop still turns.
    void Watchdog() const;

    // How often to say WATCHDOG=1: half the watchdog period the manager
    // asked of this process; nothing when it asked for none.
    std::optional<std::chrono::microseconds> WatchdogInterval() const;

  private:
    void Send(const std::string& state) const;

    using NotifyFunction = int (*)(int, const char*);
    using WatchdogFunction = int (*)(int, std::uint64_t*);
    NotifyFunction notify_ = nullptr;
    WatchdogFunction watchdogEnabled_ = nullptr;
    std::string problem_;
};

}  // namespace orvalin
