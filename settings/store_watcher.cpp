#include "settings/store_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "platform/xdg_paths.h"
#include "settings/store_file.h"

namespace orvalin {
namespace {

constexpr unsigned kFolderMode = 0700;
// A commit writes the log (or, without one, the database); a program that
// held the store closes it after writing; a new or replaced file is created,
// moved or deleted.
constexpr std::uint32_t kEvents =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM;

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

StoreWatcher::StoreWatcher(const std::filesystem::path& dbFile, std::function<void()> onChange)
    : dbName_(dbFile.filename().string()),
      walName_(store_file::WalFile(dbFile).filename().string()),
      onChange_(std::move(onChange)) {
    const std::filesystem::path folder =
        dbFile.parent_path().empty() ? std::filesystem::path(".") : dbFile.parent_path();
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    stop_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotify_ < 0 || stop_ < 0 || !MakeFolders(folder, kFolderMode) ||
        ::inotify_add_watch(inotify_, folder.c_str(), kEvents) < 0) {
        CloseIfOpen(inotify_);
        CloseIfOpen(stop_);
        return;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        CloseIfOpen(inotify_);
        CloseIfOpen(stop_);
    }
}

StoreWatcher::~StoreWatcher() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        while (::write(stop_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    CloseIfOpen(inotify_);
    CloseIfOpen(stop_);
}

bool StoreWatcher::Relevant(const char* name) const {
    return name == dbName_ || name == walName_;
}

void StoreWatcher::Run() {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        // No time limit: the thread wakes only for an event or the stop.
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        bool changed = false;
        ssize_t got = 0;
        while ((got = ::read(inotify_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                inotify_event event{};
                std::memcpy(&event, buffer + at, sizeof event);
                const char* name = buffer + at + sizeof event;
                // An event without a name is the folder's own.
                changed = changed || event.len == 0 || Relevant(name) ||
                          (event.mask & IN_Q_OVERFLOW) != 0;
                at += static_cast<ssize_t>(sizeof event + event.len);
            }
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        if (changed) {
            onChange_();
        }
    }
}

}  // namespace orvalin
