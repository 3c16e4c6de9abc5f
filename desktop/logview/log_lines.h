// Log lines as the viewer shows them: decoded text and the colour a person
// scans for.
#pragma once

#include <QString>
#include <string_view>

namespace orvalin {

enum class LineTone { Plain, Failure, Warning };

struct LineLook {
    LineTone tone = LineTone::Plain;
    bool missed = false;  // written late, as a "Missed Entry: "
};

// Judged by the text after the time stamp (and after the missed-entry mark
// and its own stamp): the check's failure lines, its "WARNING " lines.
LineLook LookOf(std::string_view line);

// The line as shown and copied: UTF-8 decoded (an invalid sequence becomes
// U+FFFD) and control characters other than the tab as their visible symbols
// (NUL as U+2400, a lone CR as U+240D), so no byte can hide or break a line.
// Columns everywhere count the characters of this text.
QString ShownLine(std::string_view line);

// A place in the text: a line and a column in it.
struct TextPosition {
    qint64 line = 0;
    qsizetype column = 0;
    friend auto operator<=>(const TextPosition&, const TextPosition&) = default;
};

struct FoundText {
    TextPosition start;
    qsizetype length = 0;
    bool wrapped = false;  // went round the end (or the start) of the text
};

}  // namespace orvalin
