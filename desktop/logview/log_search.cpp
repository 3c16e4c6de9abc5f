#include "desktop/logview/log_search.h"

#include <QChar>
#include <QList>
#include <algorithm>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <thread>
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

namespace {

// The first bytes of every form in which a line may show a character that
// folds to folded: itself, whatever folds to it, and the control character
// shown as it.
std::array<bool, 256> LeadBytes(char32_t folded) {
    std::array<bool, 256> leads{};
    leads[LeadByte(folded)] = true;
    const auto [from, to] = FoldedFrom().equal_range(folded);
    for (auto it = from; it != to; ++it) {
        leads[LeadByte(it->second)] = true;
    }
    for (char32_t control = 0; control < 0x80; ++control) {
        if (Shown(control) != control && QChar::toCaseFolded(Shown(control)) == folded) {
            leads[control] = true;
        }
    }
    return leads;
}

using Bytes16 = unsigned char __attribute__((vector_size(16)));

Bytes16 Load16(const unsigned char* at) {
    Bytes16 v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

bool AnySet(Bytes16 mask) {
    std::uint64_t halves[2];
    std::memcpy(halves, &mask, sizeof halves);
    return (halves[0] | halves[1]) != 0;
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
    starts_ = LeadBytes(folded_.front());
    const auto listed = [](const std::array<bool, 256>& leads, Anchor& anchor) {
        anchor.count = 0;
        for (std::size_t b = 0; b < leads.size(); ++b) {
            if (!leads[b]) {
                continue;
            }
            if (anchor.count == anchor.bytes.size()) {
                anchor.count = 0;  // too many to list
                return false;
            }
            anchor.bytes[anchor.count++] = static_cast<unsigned char>(b);
        }
        return anchor.count > 0;
    };
    if (listed(starts_, first_) && folded_.size() > 1) {
        bool oneByte = true;
        for (std::size_t i = 0; i < first_.count; ++i) {
            oneByte = oneByte && first_.bytes[i] < 0x80;
        }
        if (oneByte) {
            listed(LeadBytes(folded_[1]), second_);
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
    std::size_t at = from;
    if (first_.count > 0) {
        const auto matching = [](Bytes16 v, const Anchor& anchor) {
            Bytes16 mask = v == anchor.bytes[0];
            for (std::size_t i = 1; i < anchor.count; ++i) {
                mask |= v == anchor.bytes[i];
            }
            return mask;
        };
        const std::size_t reach = second_.count > 0 ? 17 : 16;
        for (; at + reach <= bytes.size(); at += 16) {
            Bytes16 mask = matching(Load16(data + at), first_);
            if (second_.count > 0) {
                mask &= matching(Load16(data + at + 1), second_);
            }
            if (!AnySet(mask)) {
                continue;
            }
            for (std::size_t k = at; k < at + 16; ++k) {
                if (starts_[data[k]] && MatchesAt(bytes, k)) {
                    return k;
                }
            }
        }
    }
    for (; at < bytes.size(); ++at) {
        if (starts_[data[at]] && MatchesAt(bytes, at)) {
            return at;
        }
    }
    return std::string_view::npos;
}

bool TermMatcher::MayHold(std::string_view bytes) const {
    return Next(bytes, 0) != std::string_view::npos;
}

namespace {

// Finds term in the lines of [first, end) of text, going backward or
// forward: the column of the match in each line comes from column(shown).
struct Scan {
    const LogText& text;
    const TermMatcher& matcher;
    FindControl* control;

    std::optional<TextPosition> Lines(std::uint64_t first, std::uint64_t end, bool backward,
                                      const std::function<qsizetype(const QString&)>& column) {
        std::optional<TextPosition> found;
        LogText::ScanHooks hooks;
        if (control) {
            hooks.afterRead = control->afterRead;
        }
        // Most groups of lines hold no match: their bytes are looked at
        // once, and only a group that may hold it is taken line by line.
        hooks.group = [this](std::string_view bytes, std::uint64_t lines) {
            if (control) {
                control->linesDone.fetch_add(lines);
                if (control->cancel.load()) {
                    return LogText::GroupVerdict::Stop;
                }
            }
            return matcher.MayHold(bytes) ? LogText::GroupVerdict::Visit
                                          : LogText::GroupVerdict::Skip;
        };
        text.ForEachLine(
            first, end, backward,
            [&](std::uint64_t line, const LogText::Line& bytes) {
                if (!bytes.readable || !matcher.MayHold(bytes.bytes)) {
                    return true;
                }
                const qsizetype at = column(ShownLine(bytes.bytes));
                if (at < 0) {
                    return true;
                }
                found = TextPosition{static_cast<qint64>(line), at};
                return false;
            },
            hooks);
        return found;
    }
};

}  // namespace

std::optional<FoundText> FindText(const LogText& text, const QString& term, TextPosition from,
                                  bool backward, FindControl* control) {
    if (term.isEmpty()) {
        return std::nullopt;
    }
    const TermMatcher matcher(term);
    const auto count = static_cast<std::int64_t>(text.LineCount());
    if (count == 0) {
        return std::nullopt;
    }
    const auto startLine = static_cast<std::uint64_t>(std::clamp<qint64>(from.line, 0, count - 1));
    const qsizetype startColumn = from.line == static_cast<qint64>(startLine) ? from.column : 0;
    Scan scan{text, matcher, control};
    const auto cancelled = [control] { return control && control->cancel.load(); };
    const auto forward = [&term](qsizetype start) {
        return [&term, start](const QString& shown) {
            return shown.indexOf(term, start, Qt::CaseInsensitive);
        };
    };
    const auto before = [&term](qsizetype limit) {
        return [&term, limit](const QString& shown) {
            return limit > 0 ? shown.lastIndexOf(term, limit - 1, Qt::CaseInsensitive) : -1;
        };
    };
    const auto lastIn = [&term](const QString& shown) {
        return shown.lastIndexOf(term, -1, Qt::CaseInsensitive);
    };
    // The start line from the start column on (or before it, backward),
    // then the lines after it (before it) to the end of the text, then round
    // from the other end back to the start line, and its other part.
    const auto result = [&term](std::optional<TextPosition> at, bool wrapped) {
        return at ? std::optional<FoundText>(FoundText{*at, term.size(), wrapped}) : std::nullopt;
    };
    const std::uint64_t last = static_cast<std::uint64_t>(count);
    if (!backward) {
        if (auto at = scan.Lines(startLine, startLine + 1, false, forward(startColumn))) {
            return result(at, false);
        }
        if (auto at = scan.Lines(startLine + 1, last, false, forward(0)); at || cancelled()) {
            return result(at, false);
        }
        if (auto at = scan.Lines(0, startLine, false, forward(0)); at || cancelled()) {
            return result(at, true);
        }
        auto at = scan.Lines(startLine, startLine + 1, false, [&](const QString& shown) {
            const qsizetype column = shown.indexOf(term, 0, Qt::CaseInsensitive);
            return column < startColumn ? column : -1;
        });
        return result(at, true);
    }
    if (auto at = scan.Lines(startLine, startLine + 1, true, before(startColumn))) {
        return result(at, false);
    }
    if (auto at = scan.Lines(0, startLine, true, lastIn); at || cancelled()) {
        return result(at, false);
    }
    if (auto at = scan.Lines(startLine + 1, last, true, lastIn); at || cancelled()) {
        return result(at, true);
    }
    auto at = scan.Lines(startLine, startLine + 1, true, [&](const QString& shown) {
        const qsizetype column = shown.lastIndexOf(term, -1, Qt::CaseInsensitive);
        return column >= startColumn ? column : -1;
    });
    return result(at, true);
}

std::shared_ptr<FindJob> FindJob::Start(std::shared_ptr<const LogText> text, QString term,
                                        TextPosition from, bool backward,
                                        std::function<void()> afterRead) {
    auto job = std::make_shared<FindJob>();
    job->control_.afterRead = std::move(afterRead);
    job->lines_ = text ? text->LineCount() + 1 : 1;
    const auto run = [job, text = std::move(text), term = std::move(term), from, backward] {
        std::optional<FoundText> found;
        if (text) {
            try {
                found = FindText(*text, term, from, backward, &job->control_);
            } catch (const std::bad_alloc&) {
                found.reset();  // told like a word not found
            }
        }
        {
            const std::lock_guard lock(job->mutex_);
            job->result_ = job->control_.cancel.load() ? std::nullopt : found;
            job->ended_ = true;
        }
        job->changed_.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // no thread to be had: the find runs here
    }
    return job;
}

bool FindJob::WaitUntilEnded(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return ended_; });
}

bool FindJob::Ended() const {
    const std::lock_guard lock(mutex_);
    return ended_;
}

double FindJob::Progress() const {
    return std::min(1.0, static_cast<double>(control_.linesDone.load()) /
                             static_cast<double>(std::max<std::uint64_t>(lines_, 1)));
}

std::optional<FoundText> FindJob::Result() const {
    const std::lock_guard lock(mutex_);
    return result_;
}

}  // namespace orvalin
