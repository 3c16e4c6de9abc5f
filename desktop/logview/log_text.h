// The line index of one log, and its lines read from the log where they are
// wanted: one thread (the loader) indexes the bytes it reads, any thread
// reads the lines indexed so far. Only the index is held, never the text, so
// the memory a log costs does not grow with its bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/logview/log_source.h"
#include "desktop/logview/span_hash.h"

namespace orvalin {

// How much the viewer reads and holds of a log at a time.
struct LogBudget {
    // One read of the loader or of a scan through the lines.
    std::size_t readBytes = std::size_t{1} << 20;
    // The index keeps one entry per group of lines: a group ends after
    // groupLines lines, or at the first line that starts groupBytes or more
    // after it began. A line of the group is found again by reading the
    // group, so these bound what showing one line reads.
    std::size_t groupLines = 128;
    std::size_t groupBytes = std::size_t{8} << 10;
    // Of a longer line, only its first lineBytes are read and shown.
    std::size_t lineBytes = std::size_t{64} << 10;
};

// A line ends at a line feed; a carriage return before it is not part of the
// line, and bytes after the last line feed form a last line once Finish is
// called. No byte is ever interpreted otherwise, so NUL bytes, invalid UTF-8
// and lines of any length index like any other.
//
// Every read of a group of lines is checked against a fingerprint of the
// group taken while indexing, and the log file against what it was: a log
// that shrank, was rewritten, replaced or deleted meanwhile is noticed
// (Change) and never shown as the lines it held.
class LogText {
  public:
    // A line as read: at most the budget's lineBytes of it, never ending
    // inside a UTF-8 sequence; length is the whole line's, in bytes.
    struct Line {
        std::string_view bytes;
        std::uint64_t length = 0;
        bool readable = true;  // false: the log no longer holds it as indexed
        bool Cut() const { return length > bytes.size(); }
    };
    // Called with each line read; the bytes live during the call. Returning
    // false ends the reading.
    using Visit = std::function<bool(std::uint64_t line, const Line& text)>;

    // What a long reading (a find) may add to ForEachLine.
    enum class GroupVerdict { Visit, Skip, Stop };
    struct ScanHooks {
        // Runs after each read from the log (a seam for tests).
        std::function<void()> afterRead;
        // Sees each group of lines as read, all its bytes and how many
        // lines it holds, before its lines are visited (and before the
        // bytes are checked against the index): Skip leaves them out, Stop
        // ends the reading.
        std::function<GroupVerdict(std::string_view bytes, std::uint64_t lines)> group;
    };

    explicit LogText(std::shared_ptr<const LogSource> source, LogBudget budget = {});
    LogText(const LogText&) = delete;
    LogText& operator=(const LogText&) = delete;

    // A finished text over content in memory.
    static std::shared_ptr<LogText> FromBytes(std::string_view content);

    // Indexing, on one thread: bytes are the source's next bytes (from Size()
    // on). Lines are readable once their line feed is indexed.
    void Index(std::string_view bytes);
    // The end of the log: bytes after the last line feed become a line.
    void Finish();

    std::uint64_t LineCount() const;
    // The longest line indexed so far, in bytes (a carriage return counted).
    std::uint64_t LongestLine() const;
    // The bytes indexed so far.
    std::uint64_t Size() const;
    const LogBudget& Budget() const { return budget_; }
    // What the index holds in memory, in bytes.
    std::size_t IndexBytes() const;

    // Reads the indexed lines of [first, end), in order or backward, and
    // calls visit with each until it returns false. A line the log no longer
    // holds as indexed comes unreadable and empty.
    void ForEachLine(std::uint64_t first, std::uint64_t end, bool backward, const Visit& visit,
                     const ScanHooks& hooks = {}) const;
    // One line's bytes as read, copied; empty past the end.
    std::string CopyLine(std::uint64_t line) const;

    // The worst change a read has noticed so far (see LogChange), and the
    // errno of an Unreadable one.
    LogChange Change() const { return static_cast<LogChange>(change_.load()); }
    int ChangeError() const { return changeError_.load(); }

  private:
    struct Group {
        std::uint64_t offset = 0;     // where its first line starts
        std::uint64_t firstLine = 0;  // the number of its first line
        std::uint64_t hash = 0;       // of its span, once the group is closed
    };
    // What a read needs of the index, copied under the lock.
    struct Range;

    std::uint64_t SpanBytes() const;
    void Notice(LogChange change, int error = 0) const;
    void PublishIndex();
    struct Reading;
    bool ReadGroups(const Reading& reading, std::size_t from, std::size_t to,
                    std::string& buffer) const;
    bool VisitGroup(const Reading& reading, std::size_t g, std::string_view span,
                    bool readable) const;

    const std::shared_ptr<const LogSource> source_;
    LogBudget budget_;

    mutable std::mutex mutex_;
    std::vector<Group> groups_;  // guarded; the last one is open until Finish
    std::uint64_t lineCount_ = 0;
    std::uint64_t linesEnd_ = 0;  // just past the last indexed line
    std::uint64_t size_ = 0;
    std::uint64_t longest_ = 0;
    bool finished_ = false;
    bool unterminated_ = false;  // the last line has no line feed

    // The indexing thread's own state.
    struct Indexer {
        std::uint64_t size = 0;
        std::uint64_t lines = 0;
        std::uint64_t lineStart = 0;
        std::uint64_t longest = 0;
        Group open;  // the group being filled
        std::uint64_t groupLines = 0;
        std::uint64_t hashedTo = 0;  // the open group's hash holds the bytes before this
        SpanHash hash;
        std::vector<Group> closed;  // closed since the last publication
    } ix_;

    mutable std::atomic<int> change_{0};
    mutable std::atomic<int> changeError_{0};
};

}  // namespace orvalin
