#include "desktop/logview/read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace orvalin {

ReadAhead::ReadAhead(Read read, std::size_t firstBytes, std::size_t bytes, std::size_t buffers)
    : read_(std::move(read)),
      firstBytes_(std::clamp<std::size_t>(firstBytes, 1, std::max<std::size_t>(bytes, 1))),
      bytes_(std::max<std::size_t>(bytes, 1)) {
    for (std::size_t i = 0; i < std::max<std::size_t>(buffers, 2); ++i) {
        buffers_.push_back(std::unique_ptr<char[]>(new char[bytes_]));
        free_.push_back(i);
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No second thread: Next reads for itself.
    }
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

ReadAhead::Chunk ReadAhead::ReadInto(std::size_t slot) {
    const std::size_t size = firstRead_ ? firstBytes_ : bytes_;
    firstRead_ = false;
    Chunk chunk{buffers_[slot].get(), read_(buffers_[slot].get(), size), 0};
    if (chunk.size < 0) {
        chunk.error = errno;
    }
    return chunk;
}

void ReadAhead::Run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
        if (stop_) {
            return;
        }
        const std::size_t slot = free_.front();
        free_.pop_front();
        lock.unlock();
        const Chunk chunk = ReadInto(slot);
        lock.lock();
        ready_.emplace_back(slot, chunk);
        changed_.notify_all();
        if (chunk.size <= 0) {
            ended_ = true;
            return;
        }
    }
}

ReadAhead::Chunk ReadAhead::Next() {
    std::unique_lock lock(mutex_);
    if (handedOut_) {
        free_.push_back(inUse_);  // the caller is done with it
        handedOut_ = false;
        changed_.notify_all();
    }
    if (!thread_.joinable()) {
        if (ended_) {
            return {};
        }
        const std::size_t slot = free_.front();
        const Chunk chunk = ReadInto(slot);
        ended_ = chunk.size <= 0;
        return chunk;
    }
    changed_.wait(lock, [this] { return !ready_.empty(); });
    auto [slot, chunk] = ready_.front();
    ready_.pop_front();
    if (chunk.size <= 0) {
        ready_.emplace_front(slot, chunk);  // the end stays the answer
        return chunk;
    }
    inUse_ = slot;
    handedOut_ = true;
    return chunk;
}

}  // namespace orvalin
