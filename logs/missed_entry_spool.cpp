#include "logs/missed_entry_spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string_view>
#include <thread>

namespace orvalin {
namespace {

constexpr mode_t kSpoolMode = 0600;
// Holders keep the lock only to read or append a few lines.
constexpr int kLockTries = 100;
constexpr auto kLockRetry = std::chrono::milliseconds(10);

// One entry per line; a backslash, CR and LF inside an entry are escaped so
// any bytes survive the trip.
std::string Encode(const std::deque<std::string>& entries) {
    std::string out;
    for (const std::string& entry : entries) {
        for (const char c : entry) {
            switch (c) {
                case '\\':
                    out += "\\\\";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                default:
                    out += c;
            }
        }
        out += '\n';
    }
    return out;
}

std::string Decode(std::string_view line) {
    std::string entry;
    entry.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            entry += line[i];
            continue;
        }
        const char next = line[++i];
        entry += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return entry;
}

std::deque<std::string> DecodeAll(std::string_view content) {
    std::deque<std::string> entries;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) {
            end = content.size();  // a last line cut short is still kept
        }
        entries.push_back(Decode(content.substr(start, end - start)));
        start = end + 1;
    }
    return entries;
}

// An open spool, locked exclusively; only a regular file owned by this user
// and never through a symbolic link.
class LockedSpool {
  public:
    LockedSpool(const std::filesystem::path& spool, int flags) {
        fd_ = ::open(spool.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                     kSpoolMode);
        openError_ = fd_ < 0 ? errno : 0;
        struct stat info {};
        if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) ||
                         info.st_uid != ::geteuid() || !LockWithinBound())) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LockedSpool() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    LockedSpool(const LockedSpool&) = delete;
    LockedSpool& operator=(const LockedSpool&) = delete;

    int Fd() const { return fd_; }
    bool Missing() const { return openError_ == ENOENT; }

  private:
    bool LockWithinBound() const {
        for (int tries = 0; tries < kLockTries; ++tries) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                return true;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return false;
            }
            std::this_thread::sleep_for(kLockRetry);
        }
        return false;
    }

    int fd_ = -1;
    int openError_ = 0;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool ReadAll(int fd, std::string& content) {
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            return true;
        } else if (errno != EINTR && errno != EAGAIN) {
            return false;
        }
    }
}

}  // namespace

bool AppendToSpool(const std::filesystem::path& spool, const std::deque<std::string>& entries) {
    if (entries.empty()) {
        return true;
    }
    const LockedSpool file(spool, O_WRONLY | O_APPEND | O_CREAT);
    struct stat info {};
    if (file.Fd() < 0 || ::fstat(file.Fd(), &info) != 0) {
        return false;
    }
    if (!WriteAll(file.Fd(), Encode(entries))) {
        // No half entry for the next run to read.
        (void)::ftruncate(file.Fd(), info.st_size);
        return false;
    }
    return true;
}

std::optional<std::deque<std::string>> TakeFromSpool(const std::filesystem::path& spool) {
    const LockedSpool file(spool, O_RDWR);
    if (file.Fd() < 0) {
        if (file.Missing()) {
            return std::deque<std::string>{};
        }
        return std::nullopt;
    }
    std::string content;
    // Emptied before the lock goes, so no other instance takes the same entries.
    if (!ReadAll(file.Fd(), content) || ::ftruncate(file.Fd(), 0) != 0) {
        return std::nullopt;
    }
    return DecodeAll(content);
}

}  // namespace orvalin
