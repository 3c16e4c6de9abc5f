#include "desktop/logview/log_loader.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>
#include <thread>

#include "logs/log_file_access.h"

namespace orvalin {

LogLoad::LogLoad(std::filesystem::path file, LogLoadOptions options)
    : file_(std::move(file)), options_(std::move(options)) {}

std::shared_ptr<LogLoad> LogLoad::Start(std::filesystem::path file, LogLoadOptions options) {
    auto load = std::make_shared<LogLoad>(std::move(file), std::move(options));
    try {
        std::thread([load] { load->Run(); }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: shown like a file that cannot be opened.
        load->SetState(State::Failed);
    }
    return load;
}

void LogLoad::Run() {
    int readError = 0;
    {
        LogFileReader reader(file_);
        if (!reader.IsOpen()) {
            SetState(State::Failed);
            return;
        }
        SetState(State::Reading, reader.FullPath());
        std::size_t limit = std::max<std::size_t>(options_.firstReadBytes, 1);
        try {
            while (!stopRequested_.load()) {
                const std::span<char> room = text_->Room();
                const ssize_t got = reader.Read(room.data(), std::min(room.size(), limit));
                if (got < 0) {
                    readError = errno;  // what was read is shown, and the error told
                    break;
                }
                if (got == 0) {
                    break;
                }
                text_->Commit(static_cast<std::size_t>(got));
                limit = LogText::kBlockBytes;
                if (options_.afterRead) {
                    options_.afterRead();
                }
            }
        } catch (const std::bad_alloc&) {
            readError = ENOMEM;  // the lines read so far are shown
        }
        text_->Finish();
    }  // the reader closes here, which lets go of the file
    SetState(State::Finished, FullPath(), readError);
}

void LogLoad::SetState(State state, std::filesystem::path fullPath, int readError) {
    {
        const std::lock_guard lock(mutex_);
        state_ = state;
        fullPath_ = std::move(fullPath);
        readError_ = readError;
    }
    changed_.notify_all();
}

LogLoad::State LogLoad::CurrentState() const {
    const std::lock_guard lock(mutex_);
    return state_;
}

bool LogLoad::Ended() const {
    const State state = CurrentState();
    return state == State::Finished || state == State::Failed;
}

std::filesystem::path LogLoad::FullPath() const {
    const std::lock_guard lock(mutex_);
    return fullPath_;
}

int LogLoad::ReadError() const {
    const std::lock_guard lock(mutex_);
    return readError_;
}

bool LogLoad::WaitUntilEnded(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(
        lock, limit, [this] { return state_ == State::Finished || state_ == State::Failed; });
}

}  // namespace orvalin
