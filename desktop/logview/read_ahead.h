// Reading a file from start to end on a thread of its own, a few buffers
// ahead of the one who uses the bytes: the kernel's copy and the indexing
// then run on two cores at once.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvalin {

class ReadAhead {
  public:
    // read reads on from the file position, like read(2): the count, 0 at
    // the end, -1 with errno set. The first read takes at most firstBytes,
    // the later ones at most bytes.
    using Read = std::function<ssize_t(char* buffer, std::size_t size)>;
    ReadAhead(Read read, std::size_t firstBytes, std::size_t bytes, std::size_t buffers = 3);
    // Stops the reading thread and waits for it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    struct Chunk {
        const char* data = nullptr;
        ssize_t size = 0;  // 0: the end; -1: a read error
        int error = 0;     // with size -1
    };
    // The next chunk, once read; its bytes stay valid until the next call.
    Chunk Next();

  private:
    void Run();
    Chunk ReadInto(std::size_t slot);

    const Read read_;
    const std::size_t firstBytes_;
    const std::size_t bytes_;
    std::vector<std::unique_ptr<char[]>> buffers_;
    bool firstRead_ = true;  // the reading side's own

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<std::size_t, Chunk>> ready_;  // read, not yet taken
    std::deque<std::size_t> free_;                     // buffers to read into
    std::size_t inUse_ = 0;                            // the buffer Next handed out
    bool handedOut_ = false;
    bool stop_ = false;
    bool ended_ = false;  // the reading side saw the end or an error
    std::thread thread_;
};

}  // namespace orvalin
