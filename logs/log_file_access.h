// Opening a log file the one way every part of the program does: under an
// exclusive, non-blocking lock, so the writer, the viewer and Clear Log
// exclude one another (and any other program that locks the file).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace orvalin {

// One open of a log file, locked exclusively for the lifetime of the object.
// The open never blocks: a file locked elsewhere, and anything that is not a
// regular file (a FIFO, a device, a folder), is a failed open.
class LockedLogFile {
  public:
    enum class Access {
        Append,  // writing at the end; the file is created when missing
        Read,    // reading from the start; the file must exist
        Rewrite  // writing; created when missing, never truncated by the open
    };

    LockedLogFile(const std::filesystem::path& file, Access access);
    ~LockedLogFile();
    LockedLogFile(const LockedLogFile&) = delete;
    LockedLogFile& operator=(const LockedLogFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The descriptor, in blocking mode; -1 when the open failed.
    int Fd() const { return fd_; }
    // Lets go of the lock; the file stays open.
    void Unlock();

  private:
    void Close();

    int fd_ = -1;
};

// A log file opened for reading under the writer's lock, held while the
// object lives or until Unlock: a line logged meanwhile becomes a missed
// entry and is written once the reader has let go. Only an existing regular
// file opens.
class LogFileReader {
  public:
    explicit LogFileReader(const std::filesystem::path& file);

    bool IsOpen() const { return file_.IsOpen(); }
    // The descriptor, for reading in the caller's own way; -1 when not open.
    int Fd() const { return file_.Fd(); }
    // Reads up to size bytes: the count, 0 at the end of the file, -1 on an
    // error (errno tells which) or when not open.
    ssize_t Read(char* buffer, std::size_t size);
    // The same at offset, leaving the file position alone; safe from any
    // thread.
    ssize_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const;
    // The file's full path, links and ".." resolved; empty when not open.
    const std::filesystem::path& FullPath() const { return fullPath_; }
    // Lets go of the writer's lock and keeps the file open for reading.
    void Unlock() { file_.Unlock(); }

    // What became of the open file since it was opened.
    struct Standing {
        bool pathNamesIt = true;  // the path still names this file
        bool pathExists = true;   // the path names a file at all
        std::uint64_t size = 0;   // the file's size now
        int error = 0;            // set when even the open file cannot be looked at
    };
    Standing Look() const;

  private:
    LockedLogFile file_;
    std::filesystem::path path_;
    std::filesystem::path fullPath_;
};

// Empties a log file under the writer's lock, creating it empty when missing;
// nothing is cut before the lock is held. False when the file is held (by a
// reader, the writer or another program), is not a regular file, or cannot be
// opened or cut.
bool TruncateLogFile(const std::filesystem::path& file);

}  // namespace orvalin
