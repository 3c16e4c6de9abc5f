// The bytes of one log file and the positions of its line ends: one thread
// (the loader) appends, any thread reads the lines indexed so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvalin {

// The bytes live in fixed-size blocks that never move, so appending never
// copies what was read before and memory grows with the file and no more. A
// line ends at a line feed; a carriage return before it is not part of the
// line, and bytes after the last line feed form a last line once Finish is
// called. No byte is ever interpreted otherwise, so NUL bytes, invalid UTF-8
// and lines of any length index like any other.
//
// A reader sees at most the first kLineWindowBytes of a line (cut back to
// the start of a UTF-8 sequence), so a line of gigabytes costs what a long
// line costs; its full length is told beside it.
class LogText {
  public:
    static constexpr std::size_t kBlockBytes = std::size_t{4} << 20;
    static constexpr std::size_t kLineWindowBytes = std::size_t{64} << 10;

    // The part of a line a reader sees, and the whole line's length in bytes
    // (its line end not counted).
    struct Window {
        std::string_view bytes;
        std::uint64_t length = 0;
        bool Cut() const { return length > bytes.size(); }
    };

    LogText() = default;
    LogText(const LogText&) = delete;
    LogText& operator=(const LogText&) = delete;

    // A finished text holding content, as if read from a file.
    static std::shared_ptr<LogText> FromBytes(std::string_view content);

    // Appending, on one thread. Room is the free end of the last block (a
    // new block when that one is full); after writing count bytes at its
    // start, Commit indexes the lines they complete and makes them readable.
    std::span<char> Room();
    void Commit(std::size_t count);
    // The end of the file: bytes after the last line feed become a line.
    void Finish();

    // Reading, on any thread, while the Reader object lives.
    class Reader {
      public:
        std::size_t LineCount() const { return text_.lineEnds_.size(); }
        // Line i without its line end, at most its first window bytes;
        // scratch holds them when they span blocks.
        Window Line(std::size_t i, std::string& scratch) const;

      private:
        friend class LogText;
        explicit Reader(const LogText& text) : text_(text), lock_(text.mutex_) {}
        const LogText& text_;
        std::unique_lock<std::mutex> lock_;
    };
    Reader Read() const { return Reader(*this); }

    std::size_t LineCount() const;
    // The longest line indexed so far, in bytes (line end included).
    std::size_t LongestLine() const;
    // The bytes committed so far.
    std::uint64_t Size() const;
    // One line's window, copied; for callers that need a single line.
    std::string CopyLine(std::size_t i) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> blocks_;  // guarded by mutex_
    std::vector<std::uint64_t> lineEnds_;  // per line: the offset of its line feed, or the file end
    std::uint64_t committed_ = 0;          // guarded by mutex_
    std::size_t longest_ = 0;              // guarded by mutex_

    // The appending thread's own state.
    std::size_t lastBlockFill_ = 0;
    std::uint64_t openLineStart_ = 0;  // where the line not yet ended began
    std::vector<std::uint64_t> found_;
};

}  // namespace orvalin
