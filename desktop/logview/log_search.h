// Finding a word in log lines, ignoring case, without decoding every line:
// the word is converted once, and the lines' bytes are compared with it
// where it may start.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
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
    // A word holding U+FFFD matches bytes that are not UTF-8 at all: then
    // every position is a candidate and the shown line decides.
    bool anyPosition_ = false;
};

// Finds term, ignoring case. Forward: the first match that starts at from or
// after it; backward: the last one that starts before from. Either way the
// search goes round the text once. Nothing for an empty term or no match.
std::optional<FoundText> FindText(const LogText& text, const QString& term, TextPosition from,
                                  bool backward);

}  // namespace orvalin
