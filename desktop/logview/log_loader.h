// One indexing of a log file on a loader thread of its own, under the log
// writer's lock: a line logged meanwhile becomes a missed entry and reaches
// the file once the loader has let go of the lock. The file stays open
// (unlocked) for the lines read from it later, as long as the text lives.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "desktop/logview/log_source.h"
#include "desktop/logview/log_text.h"

namespace orvalin {

struct LogLoadOptions {
    // The first read is small, so the first screen of lines comes at once;
    // later reads take the budget's readBytes.
    std::size_t firstReadBytes = std::size_t{64} << 10;
    LogBudget budget;
    // Runs on the loader thread after each read, the file still held.
    std::function<void()> afterRead;
    // Runs on a find's thread after each of its reads (a seam for tests).
    std::function<void()> afterFindRead;
};

// Shared by the loader thread and the window that shows the text; whichever
// lets go last frees it, so a window may close while the loader still runs.
class LogLoad : public std::enable_shared_from_this<LogLoad> {
  public:
    enum class State {
        Opening,   // the loader has not opened the file yet
        Reading,   // the file is open and held; lines arrive
        Finished,  // the whole file (or, once stopped or failed, part of it) is read and let go
        Failed     // the file could not be opened: missing, held elsewhere, not a file
    };

    // Starts the loader thread on file.
    static std::shared_ptr<LogLoad> Start(std::filesystem::path file, LogLoadOptions options = {});

    // The lines read so far; grows while the state is Reading.
    std::shared_ptr<const LogText> Text() const { return text_; }
    State CurrentState() const;
    bool Ended() const;
    // The file's full path once it is open; empty before and after a failure.
    std::filesystem::path FullPath() const;
    // Once Finished: why the reading ended before the end of the file (an
    // errno value: EIO, ENOMEM...), or 0 when it did not.
    int ReadError() const;

    // The loader stops before its next read.
    void RequestStop() { stopRequested_.store(true); }
    // Waits until the loader has let go of the file, at most limit; false
    // when it has not by then.
    bool WaitUntilEnded(std::chrono::milliseconds limit) const;

    LogLoad(std::filesystem::path file, LogLoadOptions options);

  private:
    void Run();
    void SetState(State state, std::filesystem::path fullPath = {}, int readError = 0);

    const std::filesystem::path file_;
    const LogLoadOptions options_;
    const std::shared_ptr<FileSource> source_;
    const std::shared_ptr<LogText> text_;
    std::atomic<bool> stopRequested_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    State state_ = State::Opening;
    std::filesystem::path fullPath_;
    int readError_ = 0;
};

}  // namespace orvalin
