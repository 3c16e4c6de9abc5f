#include "settings/store_writer.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <utility>

namespace orvalin::store_db {

StoreWriter::StoreWriter(Attempt attempt) : attempt_(std::move(attempt)) {}

StoreWriter::~StoreWriter() {
    Stop();
}

void StoreWriter::Push(SettingsBatch batch) {
    if (batch.Empty()) {
        return;
    }
    std::unique_lock lock(mutex_);
    queue_.push_back(std::move(batch));
    if (thread_.joinable()) {
        changed_.notify_all();
        return;
    }
    if (!stopped_) {
        try {
            thread_ = std::thread([this] { Run(); });
            return;
        } catch (const std::system_error&) {
        }
    }
    // No thread (none could be started, or the program is ending): one
    // attempt here, in order behind what is queued already, by one caller at
    // a time; what fails waits for the next Push or for Stop.
    if (draining_) {
        return;
    }
    draining_ = true;
    bool landed = true;
    while (landed && !queue_.empty()) {
        const SettingsBatch oldest = queue_.front();
        lock.unlock();
        landed = attempt_(oldest);
        lock.lock();
        if (landed) {
            queue_.pop_front();
        }
    }
    draining_ = false;
    if (queue_.empty()) {
        emptied_.notify_all();
    }
}

std::vector<StoredValue> StoreWriter::Pending() const {
    std::lock_guard lock(mutex_);
    std::vector<StoredValue> values;
    for (const SettingsBatch& batch : queue_) {
        values.insert(values.end(), batch.Values().begin(), batch.Values().end());
    }
    return values;
}

std::optional<SettingValue> StoreWriter::Newest(std::string_view section,
                                                std::string_view key) const {
    std::lock_guard lock(mutex_);
    for (auto batch = queue_.rbegin(); batch != queue_.rend(); ++batch) {
        const auto& values = batch->Values();
        for (auto value = values.rbegin(); value != values.rend(); ++value) {
            if (value->section == section && value->key == key) {
                return value->value;
            }
        }
    }
    return std::nullopt;
}

void StoreWriter::Nudge() {
    std::lock_guard lock(mutex_);
    nudged_ = true;
    changed_.notify_all();
}

bool StoreWriter::WaitUntilEmpty(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return emptied_.wait_for(lock, limit, [this] { return queue_.empty(); });
}

std::vector<SettingsBatch> StoreWriter::Stop() {
    std::unique_lock lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
    // Taken out under the lock: a Push meanwhile sees no thread.
    std::thread running = std::move(thread_);
    lock.unlock();
    if (running.joinable()) {
        running.join();
    }
    lock.lock();
    std::vector<SettingsBatch> left(std::make_move_iterator(queue_.begin()),
                                    std::make_move_iterator(queue_.end()));
    queue_.clear();
    emptied_.notify_all();
    return left;
}

void StoreWriter::Run() {
    std::unique_lock lock(mutex_);
    std::chrono::milliseconds retry = kFirstRetry;
    for (;;) {
        // Idle, the thread sleeps here until a batch comes: no timer of its own.
        changed_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
        if (stopped_) {
            return;
        }
        // The batch stays queued, and so visible to readers, until it landed.
        const SettingsBatch oldest = queue_.front();
        lock.unlock();
        const bool landed = attempt_(oldest);
        lock.lock();
        if (landed) {
            queue_.pop_front();
            retry = kFirstRetry;
            if (queue_.empty()) {
                emptied_.notify_all();
            }
            continue;
        }
        nudged_ = false;
        changed_.wait_for(lock, retry, [this] { return stopped_ || nudged_; });
        retry = std::min(retry * 2, kLongestRetry);
    }
}

}  // namespace orvalin::store_db
