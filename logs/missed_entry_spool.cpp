#include "logs/missed_entry_spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <iterator>
#include <string_view>
#include <thread>

#include "platform/whole_io.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr mode_t kSpoolMode = 0600;
// Holders keep the lock only to read or append a few lines.
constexpr int kLockTries = 100;
constexpr auto kLockRetry = std::chrono::milliseconds(10);

// A line that holds the dropped count: "\D" and the number. No entry's line
// can begin so, since a backslash in an entry is written as two.
constexpr std::string_view kDroppedMark = "\\D";

// One entry per line, after the dropped count's line when there is one; a
// backslash, CR and LF inside an entry are escaped so any bytes survive the
// trip.
std::string Encode(const MissedQueue& queue) {
    std::string out;
    if (queue.dropped > 0) {
        out.append(kDroppedMark).append(std::to_string(queue.dropped)).append("\n");
    }
    for (const std::string& entry : queue.entries) {
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

// The dropped count a line holds, or nothing when it holds an entry.
std::optional<std::uint64_t> DroppedCount(std::string_view line) {
    if (!line.starts_with(kDroppedMark)) {
        return std::nullopt;
    }
    const std::string_view digits = line.substr(kDroppedMark.size());
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return count;
}

MissedQueue DecodeAll(std::string_view content) {
    MissedQueue queue;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) {
            end = content.size();  // a last line cut short is still kept
        }
        const std::string_view line = content.substr(start, end - start);
        if (const auto dropped = DroppedCount(line)) {
            queue.dropped += *dropped;
        } else {
            queue.Add(Decode(line));
        }
        start = end + 1;
    }
    return queue;
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

}  // namespace

void MissedQueue::Add(std::string entry) {
    entries.push_back(std::move(entry));
    while (entries.size() > kMissedEntryCap) {
        entries.pop_front();
        ++dropped;
    }
}

void MissedQueue::Prepend(MissedQueue earlier) {
    entries.insert(entries.begin(), std::make_move_iterator(earlier.entries.begin()),
                   std::make_move_iterator(earlier.entries.end()));
    dropped += earlier.dropped;
    while (entries.size() > kMissedEntryCap) {
        entries.pop_front();
        ++dropped;
    }
}

void MissedQueue::PutDroppedNoticeFirst() {
    if (dropped == 0) {
        return;
    }
    entries.push_front(std::string(text::kLogMissedDroppedOpen) + std::to_string(dropped) +
                       std::string(text::kLogMissedDroppedClose));
    dropped = 0;
}

namespace {

// The spool's content after the queue: appended as it is while within the
// cap, else all of it again with the oldest entries counted as dropped.
bool Rewrite(int fd, const std::string& old, const MissedQueue& queue) {
    MissedQueue all = DecodeAll(old);
    all.dropped += queue.dropped;
    for (const std::string& entry : queue.entries) {
        all.Add(entry);
    }
    const std::string content = Encode(all);
    if (::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, content) &&
        ::ftruncate(fd, static_cast<off_t>(content.size())) == 0) {
        return true;
    }
    // Put back what was there, as far as it goes.
    if (::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, old)) {
        (void)::ftruncate(fd, static_cast<off_t>(old.size()));
    }
    return false;
}

}  // namespace

bool AppendToSpool(const std::filesystem::path& spool, const MissedQueue& queue) {
    if (queue.Empty()) {
        return true;
    }
    const LockedSpool file(spool, O_RDWR | O_CREAT);
    std::string old;
    if (file.Fd() < 0 || !ReadAll(file.Fd(), old)) {
        return false;
    }
    const auto lines = static_cast<std::size_t>(std::count(old.begin(), old.end(), '\n'));
    if (queue.dropped > 0 || lines + queue.entries.size() > kMissedEntryCap) {
        return Rewrite(file.Fd(), old, queue);
    }
    // The file offset is at its end after reading it all.
    if (!WriteAll(file.Fd(), Encode(queue))) {
        // No half entry for the next run to read.
        (void)::ftruncate(file.Fd(), static_cast<off_t>(old.size()));
        return false;
    }
    return true;
}

std::optional<MissedQueue> TakeFromSpool(const std::filesystem::path& spool) {
    const LockedSpool file(spool, O_RDWR);
    if (file.Fd() < 0) {
        if (file.Missing()) {
            return MissedQueue{};
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
