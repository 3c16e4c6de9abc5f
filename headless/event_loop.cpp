#include "headless/event_loop.h"

#include <algorithm>

namespace orvalin {

void EventLoop::SetTimerHandler(TimerHandler handler) {
    std::lock_guard lock(mutex_);
    onTimer_ = std::move(handler);
}

void EventLoop::Arm(int id, std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    timers_[id] = Clock::now() + std::chrono::milliseconds(ms);
    wake_.notify_all();
}

void EventLoop::Kill(int id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

void EventLoop::Post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
    wake_.notify_all();
}

void EventLoop::PostAfter(std::uint32_t ms, std::function<void()> work) {
    std::lock_guard lock(mutex_);
    delayed_.emplace(Clock::now() + std::chrono::milliseconds(ms), std::move(work));
    wake_.notify_all();
}

void EventLoop::Quit(int code) {
    std::lock_guard lock(mutex_);
    if (!quit_) {
        quit_ = true;
        exitCode_ = code;
    }
    wake_.notify_all();
}

int EventLoop::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // Delayed work that has come due joins the queue behind what is there.
        const auto now = Clock::now();
        while (!delayed_.empty() && delayed_.begin()->first <= now) {
            work_.push_back(std::move(delayed_.begin()->second));
            delayed_.erase(delayed_.begin());
        }
        if (!work_.empty()) {
            auto work = std::move(work_.front());
            work_.pop_front();
            lock.unlock();
            work();
            lock.lock();
            continue;
        }
        if (timers_.empty()) {
            if (delayed_.empty()) {
                wake_.wait(lock);
            } else {
                wake_.wait_until(lock, delayed_.begin()->first);
            }
            continue;
        }
        const auto next =
            std::min_element(timers_.begin(), timers_.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        if (const Clock::time_point due = next->second; due > Clock::now()) {
            // A copy: the timer may be killed or re-armed while we wait.
            const Clock::time_point wakeAt =
                delayed_.empty() ? due : std::min(due, delayed_.begin()->first);
            wake_.wait_until(lock, wakeAt);
            continue;
        }
        const int id = next->first;
        timers_.erase(next);  // one-shot: the handler arms it again when it wants
        const TimerHandler handler = onTimer_;
        lock.unlock();
        if (handler) {
            handler(id);
        }
        lock.lock();
    }
    return exitCode_;
}

}  // namespace orvalin
