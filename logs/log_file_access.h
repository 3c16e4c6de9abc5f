// Opening a log file the one way every part of the program does: under an
// exclusive, non-blocking lock, so the writer, the viewer and Clear Log
// exclude one another (and any other program that locks the file).
#pragma once

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

  private:
    void Close();

    int fd_ = -1;
};

}  // namespace orvalin
