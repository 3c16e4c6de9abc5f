#include "headless/service_notifier.h"

#include <dlfcn.h>
#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>
#include <type_traits>

namespace orvalin {
namespace {

constexpr const char* kLibsystemd = "libsystemd.so.0";

// A symbol of the loaded library as the function type its header declares.
template <typename Function>
Function Symbol(void* library, const char* name) {
    return reinterpret_cast<Function>(::dlsym(library, name));
}

// STATUS= takes one line.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

}  // namespace

ServiceNotifier::ServiceNotifier() {
    if (std::getenv("NOTIFY_SOCKET") == nullptr) {
        return;
    }
    // Kept loaded for the life of the process.
    void* library = ::dlopen(kLibsystemd, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        problem_ = std::string(kLibsystemd) + ": " + (why != nullptr ? why : "cannot be loaded");
        return;
    }
    static_assert(std::is_same_v<NotifyFunction, decltype(&sd_notify)>);
    static_assert(std::is_same_v<WatchdogFunction, decltype(&sd_watchdog_enabled)>);
    notify_ = Symbol<NotifyFunction>(library, "sd_notify");
    watchdogEnabled_ = Symbol<WatchdogFunction>(library, "sd_watchdog_enabled");
    if (notify_ == nullptr || watchdogEnabled_ == nullptr) {
        problem_ = std::string(kLibsystemd) + " has no sd_notify";
        notify_ = nullptr;
    }
}

void ServiceNotifier::Send(const std::string& state) const {
    if (notify_ != nullptr) {
        // A manager that does not listen changes nothing for the monitor.
        notify_(0, state.c_str());
    }
}

void ServiceNotifier::Ready(std::string_view status) const {
    Send("READY=1\nSTATUS=" + OneLine(status));
}

void ServiceNotifier::Status(std::string_view status) const {
    Send("STATUS=" + OneLine(status));
}

void ServiceNotifier::Stopping() const {
    Send("STOPPING=1");
}

void ServiceNotifier::Watchdog() const {
    Send("WATCHDOG=1");
}

std::optional<std::chrono::microseconds> ServiceNotifier::WatchdogInterval() const {
    std::uint64_t usec = 0;
    // Above zero only when WATCHDOG_USEC is set and WATCHDOG_PID, if set, is this process.
    if (watchdogEnabled_ == nullptr || watchdogEnabled_(0, &usec) <= 0 || usec < 2) {
        return std::nullopt;
    }
    return std::chrono::microseconds(usec / 2);
}

}  // namespace orvalin
