// Tells a running program that the settings store may have been changed by
// another one: inotify on the store's folder, read by a thread of its own
// that sleeps in poll() until something happens there, so a quiet store costs
// no wake-up at all.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace orvalin {

class StoreWatcher {
  public:
    // Calls onChange on the watcher's thread after the database file or its
    // write-ahead log was written, closed after writing, created, replaced or
    // removed; events that come together give one call. The store's folder
    // is made (0700) when it is missing, so that it can be watched.
    StoreWatcher(const std::filesystem::path& dbFile, std::function<void()> onChange);
    // Stops the thread; returns once onChange no longer runs.
    ~StoreWatcher();
    StoreWatcher(const StoreWatcher&) = delete;
    StoreWatcher& operator=(const StoreWatcher&) = delete;

    // False when the folder cannot be watched (no inotify, no folder, no thread).
    bool Watching() const { return thread_.joinable(); }

  private:
    void Run();
    bool Relevant(const char* name) const;

    std::string dbName_;
    std::string walName_;
    std::function<void()> onChange_;
    int inotify_ = -1;
    int stop_ = -1;  // an eventfd written once to end the thread
    std::thread thread_;
};

}  // namespace orvalin
