// The settings store's background writer: batches handed over by any thread
// are written on one thread of its own, in the order given, and a batch that
// cannot be written now (another process holds the lock, the store cannot be
// read) is tried again until it lands. Used by SettingsStore only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "settings/settings_values.h"

namespace orvalin::store_db {

class StoreWriter {
  public:
    // Tries to write one batch once; true when it is held afterwards.
    using Attempt = std::function<bool(const SettingsBatch&)>;

    // After a failed attempt the writer waits this long, doubled after each
    // further failure up to the longest wait, unless Nudge comes first.
    static constexpr std::chrono::milliseconds kFirstRetry{100};
    static constexpr std::chrono::milliseconds kLongestRetry{30'000};

    explicit StoreWriter(Attempt attempt);
    // Stops the thread; batches still queued are dropped (Stop hands them out).
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    // Queues the batch and returns at once. The thread starts with the first
    // batch; when no thread can be started the batch is tried here, once.
    void Push(SettingsBatch batch);
    // Every queued value, oldest first; a batch stays queued until it landed.
    std::vector<StoredValue> Pending() const;
    // The newest queued value of the key, if any.
    std::optional<SettingValue> Newest(std::string_view section, std::string_view key) const;
    // A failed batch is tried again now rather than after its wait.
    void Nudge();
    // Waits until the queue is empty or the limit has passed; true when empty.
    bool WaitUntilEmpty(std::chrono::milliseconds limit);
    // Ends the thread after the attempt it is making and hands out what was
    // not written, oldest first. A later Push (a check that outlived the end)
    // starts no thread: it makes one attempt itself.
    std::vector<SettingsBatch> Stop();

  private:
    void Run();

    Attempt attempt_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable emptied_;
    std::deque<SettingsBatch> queue_;
    std::thread thread_;
    bool stopped_ = false;
    bool nudged_ = false;
    bool draining_ = false;  // a caller without a thread is making attempts
};

}  // namespace orvalin::store_db
