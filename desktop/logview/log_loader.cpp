#include "desktop/logview/log_loader.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>
#include <thread>

#include "desktop/logview/read_ahead.h"

namespace orvalin {

LogLoad::LogLoad(std::filesystem::path file, LogLoadOptions options)
    : file_(std::move(file)),
      options_(std::move(options)),
      source_(std::make_shared<FileSource>(file_)),
      text_(std::make_shared<LogText>(source_, options_.budget)) {}

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
    if (!source_->Open()) {
        SetState(State::Failed);
        return;
    }
    SetState(State::Reading, source_->FullPath());
    int readError = 0;
    try {
        // Reading runs a few buffers ahead on a second thread, so the
        // kernel's copy and the indexing share the two cores.
        ReadAhead reading(
            [this](char* buffer, std::size_t size) { return source_->Read(buffer, size); },
            options_.firstReadBytes, options_.budget.readBytes);
        while (!stopRequested_.load()) {
            const ReadAhead::Chunk chunk = reading.Next();
            if (chunk.size < 0) {
                readError = chunk.error;  // what was read is shown, and the error told
                break;
            }
            if (chunk.size == 0) {
                break;
            }
            text_->Index({chunk.data, static_cast<std::size_t>(chunk.size)});
            if (options_.afterRead) {
                options_.afterRead();
            }
        }
    } catch (const std::bad_alloc&) {
        readError = ENOMEM;  // the lines indexed so far are shown
    }
    text_->Finish();
    source_->Unlock();  // lets go of the lock; the file stays open for reading
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
