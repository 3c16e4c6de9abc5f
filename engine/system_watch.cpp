#include "engine/system_watch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace orvalin {
namespace {

constexpr unsigned kRouteGroups =
    RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;

int OpenRouteSocket() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return -1;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = kRouteGroups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads everything waiting; true when anything was (or may have been) lost
// or read.
bool Drain(int fd) {
    char buffer[8192];
    bool any = false;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            any = true;
            continue;
        }
        // ENOBUFS: messages were dropped, so something changed.
        return any || (got < 0 && errno == ENOBUFS);
    }
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

SystemWatch::SystemWatch(std::function<void()> onWake, std::function<void()> onNetworkChange)
    : onWake_(std::move(onWake)), onNetworkChange_(std::move(onNetworkChange)) {
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
        return;
    }
    bootTimer_ = ::timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
    routes_ = OpenRouteSocket();
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // Without the thread the engine still notices a resume at its next timer.
    }
}

SystemWatch::~SystemWatch() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
        thread_.join();
    }
    CloseIfOpen(bootTimer_);
    CloseIfOpen(routes_);
    CloseIfOpen(stop_);
}

void SystemWatch::WakeAfter(std::chrono::nanoseconds delay) {
    if (bootTimer_ < 0) {
        return;
    }
    itimerspec when{};  // all zero: disarmed
    if (delay.count() > 0) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(delay);
        when.it_value.tv_sec = static_cast<time_t>(seconds.count());
        when.it_value.tv_nsec = static_cast<long>((delay - seconds).count());
    }
    ::timerfd_settime(bootTimer_, 0, &when, nullptr);
}

void SystemWatch::Run() {
    pollfd watched[3] = {{stop_, POLLIN, 0}, {bootTimer_, POLLIN, 0}, {routes_, POLLIN, 0}};
    for (;;) {
        // A negative descriptor is left out by poll().
        if (::poll(watched, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[0].revents != 0) {
            return;
        }
        if (watched[1].revents != 0) {
            std::uint64_t expiries = 0;
            if (::read(bootTimer_, &expiries, sizeof expiries) > 0) {
                onWake_();
            }
        }
        if (watched[2].revents != 0) {
            if (Drain(routes_)) {
                onNetworkChange_();
            } else if ((watched[2].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                watched[2].fd = -1;  // a broken socket would wake the thread for ever
            }
        }
    }
}

}  // namespace orvalin
