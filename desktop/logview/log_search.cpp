#include "desktop/logview/log_search.h"

#include <QChar>
#include <QList>
#include <algorithm>
#include <string>
#include <unordered_map>

namespace orvalin {
namespace {

// Every character whose case folding is another one, by what it folds to.
const std::unordered_multimap<char32_t, char32_t>& FoldedFrom() {
    static const std::unordered_multimap<char32_t, char32_t> table = [] {
        std::unordered_multimap<char32_t, char32_t> sources;
        for (char32_t c = 0; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c < 0xE000) {
                continue;  // surrogates are not characters
            }
            const char32_t folded = QChar::toCaseFolded(c);
            if (folded != c) {
                sources.emplace(folded, c);
            }
        }
        return sources;
    }();
    return table;
}

unsigned char LeadByte(char32_t c) {
    if (c < 0x80) {
        return static_cast<unsigned char>(c);
    }
    if (c < 0x800) {
        return static_cast<unsigned char>(0xC0 | (c >> 6));
    }
    if (c < 0x10000) {
        return static_cast<unsigned char>(0xE0 | (c >> 12));
    }
    return static_cast<unsigned char>(0xF0 | (c >> 18));
}

// A control character as ShownLine shows it: its control picture.
char32_t Shown(char32_t c) {
    if (c < 0x20 && c != U'\t') {
        return 0x2400 + c;
    }
    return c == 0x7F ? char32_t{0x2421} : c;
}

struct Decoded {
    char32_t c = 0;
    std::size_t length = 0;  // 0: no character starts here
};

// The character that starts at bytes[at], read loosely: any lead byte with
// its continuation bytes, overlong forms and surrogates included, so that
// nothing QString would decode is missed.
Decoded DecodeAt(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) {
        return {Shown(lead), 1};
    }
    std::size_t length = 0;
    char32_t c = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        c = lead & 0x07;
    } else {
        return {};
    }
    if (bytes.size() - at < length) {
        return {};
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80) {
            return {};
        }
        c = (c << 6) | (next & 0x3F);
    }
    return {c, length};
}

}  // namespace

TermMatcher::TermMatcher(const QString& term) {
    for (const char32_t c : term.toUcs4()) {
        folded_.push_back(QChar::toCaseFolded(c));
        anyPosition_ = anyPosition_ || c == 0xFFFD;
    }
    if (folded_.empty()) {
        return;
    }
    // The first character as the line may hold it: itself, whatever folds
    // to it, and the control character shown as it.
    const char32_t first = folded_.front();
    const auto mark = [this](char32_t c) { starts_[LeadByte(c)] = true; };
    mark(first);
    const auto [from, to] = FoldedFrom().equal_range(first);
    for (auto it = from; it != to; ++it) {
        mark(it->second);
    }
    for (char32_t control = 0; control < 0x80; ++control) {
        if (Shown(control) != control && QChar::toCaseFolded(Shown(control)) == first) {
            mark(control);
        }
    }
}

bool TermMatcher::MatchesAt(std::string_view bytes, std::size_t at) const {
    for (const char32_t wanted : folded_) {
        if (at >= bytes.size()) {
            return false;
        }
        const Decoded d = DecodeAt(bytes, at);
        if (d.length == 0 || QChar::toCaseFolded(d.c) != wanted) {
            return false;
        }
        at += d.length;
    }
    return true;
}

std::size_t TermMatcher::Next(std::string_view bytes, std::size_t from) const {
    if (folded_.empty()) {
        return std::string_view::npos;
    }
    if (anyPosition_) {
        return from < bytes.size() ? from : std::string_view::npos;
    }
    const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = from; at < bytes.size(); ++at) {
        if (starts_[data[at]] && MatchesAt(bytes, at)) {
            return at;
        }
    }
    return std::string_view::npos;
}

bool TermMatcher::MayHold(std::string_view bytes) const {
    return Next(bytes, 0) != std::string_view::npos;
}

std::optional<FoundText> FindText(const LogText& text, const QString& term, TextPosition from,
                                  bool backward) {
    if (term.isEmpty()) {
        return std::nullopt;
    }
    const TermMatcher matcher(term);
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
        const std::string_view bytes = reader.Line(static_cast<std::size_t>(line), scratch).bytes;
        if (!matcher.MayHold(bytes)) {
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
