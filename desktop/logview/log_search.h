// Finding a word in log lines, ignoring case, without decoding every line:
// the word is converted once, and the lines' bytes are compared with it
// where it may start.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "desktop/logview/log_lines.h"
#include "desktop/logview/log_text.h"

namespace orvalin {

// Whether the bytes of a line may hold a word as the viewer shows the line
// (see ShownLine), with QString's case-insensitive comparison: each
// character compared by its simple case folding. Never says no to a line
// that holds the word; it may say yes to one that does not (invalid UTF-8
// is decoded loosely), so a yes is confirmed on the shown line.
class TermMatcher {
  public:
    explicit TermMatcher(const QString& term);

    bool Empty() const { return folded_.empty(); }
    bool MayHold(std::string_view bytes) const;
    // The first position at or after from where the word may start in
    // bytes; npos when there is none.
    std::size_t Next(std::string_view bytes, std::size_t from) const;

  private:
    bool MatchesAt(std::string_view bytes, std::size_t at) const;

    std::vector<char32_t> folded_;  // the word's characters, case-folded
    // The first bytes of the UTF-8 forms of every character that folds to
    // the word's first one.
    std::array<bool, 256> starts_{};
    // The same as a short list, and the first bytes of the second character
    // when the first is always one byte: a run of 16 bytes with neither
    // pair at any position is passed over at once. No list: too many.
    struct Anchor {
        std::array<unsigned char, 4> bytes{};
        std::size_t count = 0;
    };
    Anchor first_;
    Anchor second_;
    // A word holding U+FFFD matches bytes that are not UTF-8 at all: then
    // every position is a candidate and the shown line decides.
    bool anyPosition_ = false;
};

// How a find running on another thread is followed and stopped.
struct FindControl {
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> linesDone{0};  // lines searched so far
    std::function<void()> afterRead;          // runs after each read (a seam for tests)
};

// Finds term, ignoring case, in the lines as shown (of a long line, the
// part shown). Forward: the first match that starts at from or after it;
// backward: the last one that starts before from. Either way the search goes
// round the text once, reading it in blocks. Nothing for an empty term, no
// match, or a find cancelled through control.
std::optional<FoundText> FindText(const LogText& text, const QString& term, TextPosition from,
                                  bool backward, FindControl* control = nullptr);

// One find on a thread of its own, so that a long one can show how far it
// has come and be cancelled. Whichever of the job and its thread lets go
// last frees it.
class FindJob {
  public:
    static std::shared_ptr<FindJob> Start(std::shared_ptr<const LogText> text, QString term,
                                          TextPosition from, bool backward,
                                          std::function<void()> afterRead = {});

    // True once the find has ended, waiting at most limit for it.
    bool WaitUntilEnded(std::chrono::milliseconds limit) const;
    bool Ended() const;
    // The thread stops soon; the result is then nothing.
    void Cancel() { control_.cancel.store(true); }
    bool Cancelled() const { return control_.cancel.load(); }
    // How much of the text has been searched, from 0 to 1.
    double Progress() const;
    // Once ended: the match, or nothing.
    std::optional<FoundText> Result() const;

  private:
    FindControl control_;
    std::uint64_t lines_ = 1;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool ended_ = false;
    std::optional<FoundText> result_;
};

}  // namespace orvalin
