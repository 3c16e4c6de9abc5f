#include "headless/event_loop.h"

#include <algorithm>
#include <optional>

namespace orvalin {

void EventLoop::SetTimerHandler(TimerHandler handler) {
    std::lock_guard lock(mutex_);
    onTimer_ = std::move(handler);
}

void EventLoop::SetHeartbeat(std::chrono::microseconds period, std::function<void()> beat) {
    std::lock_guard lock(mutex_);
    if (period <= std::chrono::microseconds::zero()) {
        beat = nullptr;  // a period of nothing would beat without end
    }
    heartbeat_ = std::move(beat);
    heartbeatPeriod_ = period;
    nextBeat_ = Clock::now();
    wake_.notify_all();
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
        const auto now = Clock::now();
        if (heartbeat_ && nextBeat_ <= now) {
            nextBeat_ = now + heartbeatPeriod_;
            const auto beat = heartbeat_;
            lock.unlock();
            beat();
            lock.lock();
            continue;
        }
        // Delayed work that has come due joins the queue behind what is there.
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
        const auto next =
            std::min_element(timers_.begin(), timers_.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        if (next != timers_.end() && next->second <= now) {
            const int id = next->first;
            timers_.erase(next);  // one-shot: the handler arms it again when it wants
            const TimerHandler handler = onTimer_;
            lock.unlock();
            if (handler) {
                handler(id);
            }
            lock.lock();
            continue;
        }
        // Asleep until the first of the next timer, delayed work and beat;
        // a copy, since a timer may be killed or re-armed while we wait.
        std::optional<Clock::time_point> wakeAt;
        const auto consider = [&wakeAt](Clock::time_point due) {
            if (!wakeAt || due < *wakeAt) {
                wakeAt = due;
            }
        };
        if (next != timers_.end()) {
            consider(next->second);
        }
        if (!delayed_.empty()) {
            consider(delayed_.begin()->first);
        }
        if (heartbeat_) {
            consider(nextBeat_);
        }
        if (wakeAt) {
            wake_.wait_until(lock, *wakeAt);
        } else {
            wake_.wait(lock);
        }
    }
    return exitCode_;
}

}  // namespace orvalin
