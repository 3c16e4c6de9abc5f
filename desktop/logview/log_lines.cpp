#include "desktop/logview/log_lines.h"

#include <QByteArrayView>
#include <array>
#include <string>

#include "resources/strings.h"

namespace orvalin {
namespace {

// "<%m/%d/%Y %H:%M:%S> " and the like: '<', up to 40 characters, "> ".
std::string_view AfterStamp(std::string_view line) {
    if (line.empty() || line.front() != '<') {
        return line;
    }
    const std::size_t close = line.substr(0, 42).find("> ");
    return close == std::string_view::npos ? line : line.substr(close + 2);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// ASCII letters folded to lower case, every other byte as it is.
constexpr std::array<char, 256> MakeFoldTable() {
    std::array<char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[static_cast<std::size_t>(c)] =
            static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return table;
}
constexpr std::array<char, 256> kFold = MakeFoldTable();

char Fold(char c) {
    return kFold[static_cast<unsigned char>(c)];
}

// Whether bytes hold folded (an ASCII text in lower case), ignoring the case
// of ASCII letters. A quick test that skips most lines without decoding them.
bool HoldsAsciiFolded(std::string_view bytes, const std::string& folded) {
    const std::size_t n = folded.size();
    if (bytes.size() < n) {
        return false;
    }
    const char first = folded.front();
    for (std::size_t i = 0, last = bytes.size() - n; i <= last; ++i) {
        if (Fold(bytes[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < n && Fold(bytes[i + k]) == folded[k]) {
            ++k;
        }
        if (k == n) {
            return true;
        }
    }
    return false;
}

// The ASCII text in lower case, or nothing when term holds other characters.
std::optional<std::string> FoldedAscii(const QString& term) {
    std::string folded;
    folded.reserve(static_cast<std::size_t>(term.size()));
    for (const QChar c : term) {
        if (c.unicode() >= 0x80) {
            return std::nullopt;
        }
        folded.push_back(Fold(static_cast<char>(c.unicode())));
    }
    return folded;
}

}  // namespace

LineLook LookOf(std::string_view line) {
    LineLook look;
    std::string_view text = AfterStamp(line);
    if (StartsWith(text, text::kLogMissedEntry)) {
        look.missed = true;
        text = AfterStamp(text.substr(text::kLogMissedEntry.size()));
    }
    if (StartsWith(text, text::kLogUnreachable) || StartsWith(text, text::kLogUnexpected) ||
        StartsWith(text, text::kLogCheckNotStarted)) {
        look.tone = LineTone::Failure;
    } else if (StartsWith(text, text::kLogWarning)) {
        look.tone = LineTone::Warning;
    }
    return look;
}

QString ShownLine(std::string_view line) {
    QString shown =
        QString::fromUtf8(QByteArrayView(line.data(), static_cast<qsizetype>(line.size())));
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u < 0x20 && u != u'\t') {
            c = QChar(static_cast<char16_t>(0x2400 + u));  // the control picture
        } else if (u == 0x7F) {
            c = QChar(u'\u2421');
        }
    }
    return shown;
}

std::optional<FoundText> FindText(const LogText& text, const QString& term, TextPosition from,
                                  bool backward) {
    if (term.isEmpty()) {
        return std::nullopt;
    }
    const std::optional<std::string> folded = FoldedAscii(term);
    const LogText::Reader reader = text.Read();
    const auto count = static_cast<qint64>(reader.LineCount());
    if (count == 0) {
        return std::nullopt;
    }
    const qint64 startLine = std::clamp<qint64>(from.line, 0, count - 1);
    const qsizetype startColumn = from.line == startLine ? from.column : 0;
    std::string scratch;

    // Step 0 is the start line from the start column on (forward) or before
    // it (backward); step count is the same line's other part, after going
    // round.
    for (qint64 step = 0; step <= count; ++step) {
        const qint64 line =
            backward ? ((startLine - step) % count + count) % count : (startLine + step) % count;
        const std::string_view bytes = reader.Line(static_cast<std::size_t>(line), scratch);
        if (folded && !HoldsAsciiFolded(bytes, *folded)) {
            continue;
        }
        const QString shown = ShownLine(bytes);
        qsizetype column = -1;
        if (!backward) {
            column = shown.indexOf(term, step == 0 ? startColumn : 0, Qt::CaseInsensitive);
            if (step == count && column >= startColumn) {
                column = -1;
            }
        } else if (step == 0) {
            column = startColumn > 0 ? shown.lastIndexOf(term, startColumn - 1, Qt::CaseInsensitive)
                                     : -1;
        } else {
            column = shown.lastIndexOf(term, -1, Qt::CaseInsensitive);
            if (step == count && column < startColumn) {
                column = -1;
            }
        }
        if (column >= 0) {
            const bool wrapped = backward ? step > startLine : startLine + step >= count;
            return FoundText{{line, column}, term.size(), wrapped};
        }
    }
    return std::nullopt;
}

}  // namespace orvalin
