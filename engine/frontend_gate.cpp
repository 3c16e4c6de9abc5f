#include "engine/frontend_gate.h"

namespace orvalin {

bool FrontEndGate::Enter() {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    ++inFlight_;
    return true;
}

void FrontEndGate::Leave() {
    std::lock_guard lock(mutex_);
    if (--inFlight_ == 0) {
        idle_.notify_all();
    }
}

bool FrontEndGate::Close(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    closed_ = true;
    return idle_.wait_for(lock, limit, [this] { return inFlight_ == 0; });
}

bool FrontEndGate::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void JobCounter::Add() {
    std::lock_guard lock(mutex_);
    ++count_;
}

void JobCounter::Done() {
    std::lock_guard lock(mutex_);
    if (--count_ == 0) {
        none_.notify_all();
    }
}

std::int32_t JobCounter::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

bool JobCounter::WaitForNone(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return none_.wait_for(lock, limit, [this] { return count_ == 0; });
}

}  // namespace orvalin
