// Where the viewer reads a log's bytes from: the log file itself, read where
// it is wanted and never held, or text in memory (a message, a test).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "logs/log_file_access.h"

namespace orvalin {

// What became of a log since it was indexed, from the least to the worst.
enum class LogChange {
    None,
    Replaced,    // its path names another file now; the lines shown are the old file's
    Deleted,     // its path names no file now; the lines shown are the old file's
    Changed,     // cut or rewritten: lines that changed can no longer be shown
    Unreadable,  // reading it fails
};

class LogSource {
  public:
    virtual ~LogSource() = default;
    // Reads up to size bytes at offset, like pread: the count (short only at
    // the end), or -1 with errno set. Safe from any thread.
    virtual ssize_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const = 0;

    struct Look {
        LogChange change = LogChange::None;
        std::uint64_t size = 0;  // the bytes it holds now
        int error = 0;           // with Unreadable
    };
    // What became of it since it was opened.
    virtual Look Now() const = 0;
};

// Bytes in memory, for what is not a file.
class MemorySource final : public LogSource {
  public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    ssize_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override;
    Look Now() const override { return {LogChange::None, bytes_.size(), 0}; }
    const std::string& Bytes() const { return bytes_; }

  private:
    const std::string bytes_;
};

// The log file, opened under the log writer's lock by Open. The lock is held
// until Unlock; the file stays open for reading as long as the source lives.
class FileSource final : public LogSource {
  public:
    explicit FileSource(std::filesystem::path file) : file_(std::move(file)) {}

    // False when the file cannot be opened (missing, held elsewhere, not a
    // regular file).
    bool Open();
    void Unlock();
    // Reads on from the file position (the loader's reading).
    ssize_t Read(char* buffer, std::size_t size);
    std::filesystem::path FullPath() const;

    ssize_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const override;
    Look Now() const override;

  private:
    const std::filesystem::path file_;
    // Set once by Open, before the text is shared; read from any thread.
    std::shared_ptr<LogFileReader> reader_;
    mutable std::mutex mutex_;
};

}  // namespace orvalin
