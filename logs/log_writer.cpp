#include "logs/log_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>
#include <string_view>
#include <thread>

#include "logs/log_file_access.h"
#include "logs/missed_entry_spool.h"
#include "platform/xdg_paths.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr unsigned kStateFolderMode = 0700;
constexpr auto kGuardPoll = std::chrono::milliseconds(5);
constexpr char kLineEnd[] = "\r\n";

std::string FormatStamp(const std::tm& local) {
    char buffer[64];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "<%m/%d/%Y %H:%M:%S> ", &local);
    return std::string(buffer, length);
}

// Writes all of bytes, in as many writes as it takes; returns how many
// reached the file (fewer only when a write failed or made no progress).
std::size_t WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written == 0 || errno != EINTR) {
            break;
        }
    }
    return done;
}

// Appends prefix + entry + CR LF. One line goes out at a time under the file's
// lock, so appenders never interleave inside a line. Returns the part of entry
// that did not reach the file when a write failed (all of it when none of its
// bytes did, possibly empty when only the line end is missing), nothing when
// the line is whole.
std::optional<std::string> WriteLine(int fd, std::string_view prefix, const std::string& entry) {
    std::string bytes;
    bytes.reserve(prefix.size() + entry.size() + sizeof kLineEnd);
    bytes.append(prefix).append(entry).append(kLineEnd);
    const std::size_t written = WriteAll(fd, bytes);
    if (written == bytes.size()) {
        return std::nullopt;
    }
    if (written <= prefix.size()) {
        return entry;
    }
    return entry.substr(std::min(written - prefix.size(), entry.size()));
}

std::filesystem::path StateFolder() {
    const std::filesystem::path folder = XdgStateHome() / "orvalin";
    MakeFolders(folder, kStateFolderMode);
    return folder;
}

}  // namespace

LogPaths DefaultLogPaths() {
    const std::filesystem::path folder = StateFolder();
    return LogPaths{(folder / "access.log").string(), (folder / "error.log").string()};
}

std::filesystem::path DefaultSpoolFile() {
    return StateFolder() / "missed.spool";
}

void CLogWriter::SetAccessLogFile(std::string path) {
    std::lock_guard lock(pathsMutex_);
    accessLogFile_ = std::move(path);
}

void CLogWriter::SetErrorLogFile(std::string path) {
    std::lock_guard lock(pathsMutex_);
    errorLogFile_ = std::move(path);
}

std::string CLogWriter::AccessLogFile() const {
    std::lock_guard lock(pathsMutex_);
    return accessLogFile_;
}

std::string CLogWriter::ErrorLogFile() const {
    std::lock_guard lock(pathsMutex_);
    return errorLogFile_;
}

bool CLogWriter::IsSuppressed(const std::string& fileName) const {
    // Two independent tests: a file named by both settings needs both switches on.
    if (fileName == AccessLogFile() && !DoAccessLog()) {
        return true;
    }
    return fileName == ErrorLogFile() && !DoErrorLog();
}

void CLogWriter::WriteLogLine(const std::string& text, const std::string& fileName) {
    if (text.empty() || IsSuppressed(fileName)) {
        return;
    }
    // Stamped before waiting for the guard: the stamp is the moment of the call.
    const std::string stamp = FormatStamp(clock_.LocalNow());
    const std::string line = stamp + text;

    GuardHold hold(*this);
    const LockedLogFile file(fileName, LockedLogFile::Access::Append);
    if (!file.IsOpen()) {
        missed_.Add(line);
        return;
    }
    const std::string missedPrefix = stamp + std::string(text::kLogMissedEntry);
    missed_.PutDroppedNoticeFirst();
    while (!missed_.entries.empty()) {
        if (auto rest = WriteLine(file.Fd(), missedPrefix, missed_.entries.front())) {
            // What did not reach the file stays at the head so the queue keeps
            // its order, and the present line waits behind it instead of being lost.
            missed_.entries.front() = std::move(*rest);
            missed_.Add(line);
            return;
        }
        missed_.entries.pop_front();
    }
    if (auto rest = WriteLine(file.Fd(), {}, line)) {
        missed_.Add(std::move(*rest));
    }
}

std::deque<std::string> CLogWriter::MissedEntries() {
    GuardHold hold(*this);
    return missed_.entries;
}

bool CLogWriter::RestoreMissedEntries(const std::filesystem::path& spool) {
    // Taken before the guard: waiting for the spool must not hold up writers.
    std::optional<MissedQueue> earlier = TakeFromSpool(spool);
    if (!earlier) {
        return false;
    }
    GuardHold hold(*this);
    missed_.Prepend(std::move(*earlier));
    return true;
}

bool CLogWriter::SaveMissedEntries(const std::filesystem::path& spool) {
    // Held throughout, so no writer drains an entry that is being saved.
    GuardHold hold(*this);
    if (!AppendToSpool(spool, missed_)) {
        return false;
    }
    missed_ = {};
    return true;
}

void CLogWriter::AcquireGuard() {
    // Real sleeps, not the clock's: a test clock may not sleep at all.
    while (logBusy_.test_and_set(std::memory_order_acquire)) {
        std::this_thread::sleep_for(kGuardPoll);
    }
}

void CLogWriter::ReleaseGuard() {
    logBusy_.clear(std::memory_order_release);
}

}  // namespace orvalin
