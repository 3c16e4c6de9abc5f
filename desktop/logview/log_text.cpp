#include "desktop/logview/log_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvalin {
namespace {

// How much of bytes a window of at most limit keeps: a UTF-8 sequence cut
// by the limit is left out whole.
std::size_t WindowLength(std::string_view bytes, std::size_t limit) {
    if (bytes.size() <= limit) {
        return bytes.size();
    }
    const auto continues = [&bytes](std::size_t at) {
        return (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80;
    };
    std::size_t cut = limit;
    for (int back = 0; back < 3 && cut > 0 && continues(cut); ++back) {
        --cut;
    }
    return continues(cut) ? limit : cut;
}

// Calls found with the position of each line feed in bytes, in order.
template <typename Found>
void ForEachLineFeed(std::string_view bytes, Found&& found) {
    const char* const data = bytes.data();
    std::size_t at = 0;
#if defined(__SSE2__)
    // 64 bytes at a time: a bit per byte that is a line feed.
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const auto mask16 = [&](std::size_t from) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
        return static_cast<std::uint64_t>(
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lineFeed))));
    };
    for (; at + 64 <= bytes.size(); at += 64) {
        std::uint64_t mask =
            mask16(at) | mask16(at + 16) << 16 | mask16(at + 32) << 32 | mask16(at + 48) << 48;
        while (mask != 0) {
            found(at + static_cast<std::size_t>(__builtin_ctzll(mask)));
            mask &= mask - 1;
        }
    }
#endif
    while (at < bytes.size()) {
        const void* hit = std::memchr(data + at, '\n', bytes.size() - at);
        if (hit == nullptr) {
            break;
        }
        const auto position = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        found(position);
        at = position + 1;
    }
}

// Reads size bytes at offset, as far as the source has them: the count, or
// -1 with errno set.
ssize_t ReadFully(const LogSource& source, std::uint64_t offset, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = source.ReadAt(offset + done, buffer + done, size - done);
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

// The groups a read covers, with what tells where each ends.
struct LogText::Range {
    std::vector<Group> groups;  // the groups read, in order
    std::uint64_t afterOffset;  // where the group after the last one starts
    std::uint64_t afterLine;    // ...and its first line
    bool lastIsOpen = false;    // the last group's hash is not final yet
    bool unterminated = false;  // the last group ends the log without a line feed
    std::uint64_t End(std::size_t g) const {
        return g + 1 < groups.size() ? groups[g + 1].offset : afterOffset;
    }
    std::uint64_t Lines(std::size_t g) const {
        return (g + 1 < groups.size() ? groups[g + 1].firstLine : afterLine) - groups[g].firstLine;
    }
};

// One call of ForEachLine.
struct LogText::Reading {
    Range range;
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    bool backward = false;
    const Visit* visit = nullptr;
    const ScanHooks* hooks = nullptr;
};

LogText::LogText(std::shared_ptr<const LogSource> source, LogBudget budget)
    : source_(std::move(source)), budget_(budget) {
    budget_.groupLines = std::max<std::size_t>(budget_.groupLines, 1);
    budget_.groupBytes = std::max<std::size_t>(budget_.groupBytes, 1);
    budget_.readBytes = std::max<std::size_t>(budget_.readBytes, 1);
    groups_.push_back(ix_.open);
}

std::shared_ptr<LogText> LogText::FromBytes(std::string_view content) {
    auto source = std::make_shared<MemorySource>(std::string(content));
    auto text = std::make_shared<LogText>(source);
    text->Index(source->Bytes());
    text->Finish();
    return text;
}

std::uint64_t LogText::SpanBytes() const {
    // Every line of a group starts within groupBytes of it, and a line is
    // read up to lineBytes and a few bytes more (to see whether the window
    // ends inside a UTF-8 sequence).
    return budget_.groupBytes + budget_.lineBytes + 4;
}

void LogText::Index(std::string_view bytes) {
    const std::uint64_t base = ix_.size;
    const std::uint64_t spanBytes = SpanBytes();
    // Feeds the open group's hash with its span's bytes before upTo.
    const auto feed = [&](std::uint64_t upTo) {
        const std::uint64_t to = std::min(upTo, ix_.open.offset + spanBytes);
        if (to > ix_.hashedTo) {
            ix_.hash.Add(bytes.data() + (ix_.hashedTo - base),
                         static_cast<std::size_t>(to - ix_.hashedTo));
            ix_.hashedTo = to;
        }
    };
    // The hot loop works on copies: the bytes are chars, which may alias
    // anything, so members would be stored and loaded again at every line.
    std::uint64_t lineStart = ix_.lineStart;
    std::uint64_t longest = ix_.longest;
    std::uint64_t lines = ix_.lines;
    std::uint64_t groupLines = ix_.groupLines;
    std::uint64_t groupOffset = ix_.open.offset;
    const std::uint64_t maxLines = budget_.groupLines;
    const std::uint64_t maxBytes = budget_.groupBytes;
    ForEachLineFeed(bytes, [&](std::size_t lineFeed) {
        const std::uint64_t at = base + lineFeed;
        longest = std::max(longest, at - lineStart);
        lineStart = at + 1;
        ++lines;
        if (++groupLines >= maxLines || lineStart - groupOffset >= maxBytes) {
            feed(lineStart);
            ix_.open.hash = ix_.hash.Value();
            ix_.closed.push_back(ix_.open);
            ix_.open = Group{lineStart, lines, 0};
            ix_.hash.Reset();
            ix_.hashedTo = lineStart;
            groupLines = 0;
            groupOffset = lineStart;
        }
    });
    ix_.lineStart = lineStart;
    ix_.longest = longest;
    ix_.lines = lines;
    ix_.groupLines = groupLines;
    feed(base + bytes.size());
    ix_.size = base + bytes.size();
    PublishIndex();
}

void LogText::PublishIndex() {
    const std::lock_guard lock(mutex_);
    groups_.pop_back();  // the open group, as published last
    groups_.insert(groups_.end(), ix_.closed.begin(), ix_.closed.end());
    groups_.push_back(ix_.open);
    lineCount_ = ix_.lines;
    linesEnd_ = ix_.lineStart;
    size_ = ix_.size;
    longest_ = ix_.longest;
    ix_.closed.clear();
}

void LogText::Finish() {
    bool unterminated = false;
    if (ix_.size > ix_.lineStart) {
        ix_.longest = std::max(ix_.longest, ix_.size - ix_.lineStart);
        ix_.lineStart = ix_.size;
        ++ix_.lines;
        unterminated = true;
    }
    ix_.open.hash = ix_.hash.Value();
    PublishIndex();
    const std::lock_guard lock(mutex_);
    if (groups_.back().firstLine == lineCount_) {
        groups_.pop_back();  // no line in it
    }
    finished_ = true;
    unterminated_ = unterminated;
}

std::uint64_t LogText::LineCount() const {
    const std::lock_guard lock(mutex_);
    return lineCount_;
}

std::uint64_t LogText::LongestLine() const {
    const std::lock_guard lock(mutex_);
    return longest_;
}

std::uint64_t LogText::Size() const {
    const std::lock_guard lock(mutex_);
    return size_;
}

std::size_t LogText::IndexBytes() const {
    const std::lock_guard lock(mutex_);
    return groups_.capacity() * sizeof(Group);
}

void LogText::Notice(LogChange change, int error) const {
    int seen = change_.load();
    while (static_cast<int>(change) > seen &&
           !change_.compare_exchange_weak(seen, static_cast<int>(change))) {
    }
    if (change == LogChange::Unreadable) {
        changeError_.store(error);
    }
}

void LogText::ForEachLine(std::uint64_t first, std::uint64_t end, bool backward, const Visit& visit,
                          const ScanHooks& hooks) const {
    Reading reading{{}, first, end, backward, &visit, &hooks};
    Range& range = reading.range;
    {
        const std::lock_guard lock(mutex_);
        reading.end = std::min(end, lineCount_);
        if (first >= reading.end) {
            return;
        }
        const auto byLine = [](std::uint64_t line, const Group& g) { return line < g.firstLine; };
        const auto from = std::upper_bound(groups_.begin(), groups_.end(), first, byLine) - 1;
        const auto to = std::upper_bound(groups_.begin(), groups_.end(), reading.end - 1, byLine);
        range.groups.assign(from, to);
        const bool toLast = to == groups_.end();
        range.afterOffset = toLast ? linesEnd_ : to->offset;
        range.afterLine = toLast ? lineCount_ : to->firstLine;
        range.lastIsOpen = toLast && !finished_;
        range.unterminated = toLast && unterminated_;
    }
    // The file as a whole first: a file cut below what was indexed, deleted
    // or replaced is told at once.
    const LogSource::Look look = source_->Now();
    Notice(look.change, look.error);
    if (look.change != LogChange::Unreadable && look.size < range.afterOffset) {
        Notice(LogChange::Changed);
    }

    // Batches of whole groups, read in one go while they follow each other
    // in the file and fit the read budget.
    std::string buffer;
    const std::size_t count = range.groups.size();
    const std::uint64_t spanBytes = SpanBytes();
    const auto spanEnd = [&](std::size_t g) {
        return std::min(range.End(g), range.groups[g].offset + spanBytes);
    };
    const auto fits = [&](std::size_t lo, std::size_t hi) {
        return spanEnd(hi - 1) - range.groups[lo].offset <= budget_.readBytes;
    };
    std::size_t g = backward ? count : 0;
    while (backward ? g > 0 : g < count) {
        std::size_t lo = backward ? g - 1 : g;
        std::size_t hi = lo + 1;  // the batch is groups [lo, hi)
        if (backward) {
            while (lo > 0 && spanEnd(lo - 1) == range.groups[lo].offset && fits(lo - 1, hi)) {
                --lo;
            }
        } else {
            while (hi < count && spanEnd(hi - 1) == range.groups[hi].offset && fits(lo, hi + 1)) {
                ++hi;
            }
        }
        if (!ReadGroups(reading, lo, hi, buffer)) {
            return;
        }
        g = backward ? lo : hi;
    }
}

bool LogText::ReadGroups(const Reading& reading, std::size_t from, std::size_t to,
                         std::string& buffer) const {
    const Range& range = reading.range;
    const std::uint64_t spanBytes = SpanBytes();
    const auto spanEnd = [&](std::size_t g) {
        return std::min(range.End(g), range.groups[g].offset + spanBytes);
    };
    const std::uint64_t start = range.groups[from].offset;
    buffer.resize(static_cast<std::size_t>(spanEnd(to - 1) - start));
    const ssize_t got = ReadFully(*source_, start, buffer.data(), buffer.size());
    if (got < 0) {
        Notice(LogChange::Unreadable, errno);
    }
    const std::uint64_t have = got < 0 ? 0 : static_cast<std::uint64_t>(got);
    if (reading.hooks->afterRead) {
        reading.hooks->afterRead();
    }
    for (std::size_t i = 0; i < to - from; ++i) {
        const std::size_t g = reading.backward ? to - 1 - i : from + i;
        const Group& group = range.groups[g];
        bool readable = spanEnd(g) - start <= have;
        const std::string_view span = readable
                                          ? std::string_view(buffer).substr(
                                                static_cast<std::size_t>(group.offset - start),
                                                static_cast<std::size_t>(spanEnd(g) - group.offset))
                                          : std::string_view();
        // A group a scan leaves out shows nothing, so only the groups whose
        // lines are visited need their fingerprint checked.
        if (readable && reading.hooks->group) {
            const GroupVerdict verdict = reading.hooks->group(span, range.Lines(g));
            if (verdict == GroupVerdict::Stop) {
                return false;
            }
            if (verdict == GroupVerdict::Skip) {
                continue;
            }
        }
        const bool hashFinal = !(range.lastIsOpen && g + 1 == range.groups.size());
        if (readable && hashFinal) {
            SpanHash hash;
            hash.Add(span.data(), span.size());
            readable = hash.Value() == group.hash;
        }
        if (!readable && got >= 0) {
            Notice(LogChange::Changed);
        }
        if (!VisitGroup(reading, g, span, readable)) {
            return false;
        }
    }
    return true;
}

bool LogText::VisitGroup(const Reading& reading, std::size_t g, std::string_view span,
                         bool readable) const {
    const Range& range = reading.range;
    const Group& group = range.groups[g];
    const std::uint64_t lines = range.Lines(g);
    const bool lastGroup = g + 1 == range.groups.size();
    // Where the group's last line ends: its line feed, or the end of the log.
    const std::uint64_t lastStop =
        range.End(g) - group.offset - (lastGroup && range.unterminated ? 0 : 1);

    std::vector<Line> found;
    found.reserve(static_cast<std::size_t>(lines));
    std::size_t pos = 0;
    for (std::uint64_t k = 0; k < lines && readable; ++k) {
        std::uint64_t lineStop = lastStop;
        if (k + 1 < lines) {
            const void* hit = std::memchr(span.data() + pos, '\n', span.size() - pos);
            if (hit == nullptr) {
                readable = false;  // not as indexed (a group still being read may end early)
                break;
            }
            lineStop = static_cast<std::uint64_t>(static_cast<const char*>(hit) - span.data());
        }
        if (pos > span.size()) {
            readable = false;
            break;
        }
        const auto available =
            static_cast<std::size_t>(std::min<std::uint64_t>(lineStop, span.size()));
        std::string_view bytes = span.substr(pos, available - pos);
        std::uint64_t length = lineStop - pos;
        // A carriage return before the line feed is not part of the line.
        if (length > 0) {
            char last = 0;
            if (lineStop - 1 < span.size()) {
                last = span[static_cast<std::size_t>(lineStop - 1)];
            } else if (ReadFully(*source_, group.offset + lineStop - 1, &last, 1) != 1) {
                last = 0;
            }
            if (last == '\r') {
                --length;
                bytes = bytes.substr(
                    0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), length)));
            }
        }
        found.push_back(
            Line{bytes.substr(0, WindowLength(bytes, budget_.lineBytes)), length, true});
        pos = static_cast<std::size_t>(lineStop + 1);
    }
    if (!readable) {
        found.assign(static_cast<std::size_t>(lines), Line{{}, 0, false});
    }
    for (std::uint64_t i = 0; i < lines; ++i) {
        const std::uint64_t k = reading.backward ? lines - 1 - i : i;
        const std::uint64_t line = group.firstLine + k;
        if (line >= reading.first && line < reading.end &&
            !(*reading.visit)(line, found[static_cast<std::size_t>(k)])) {
            return false;
        }
    }
    return true;
}

std::string LogText::CopyLine(std::uint64_t line) const {
    std::string copy;
    ForEachLine(line, line + 1, false, [&copy](std::uint64_t, const Line& text) {
        copy.assign(text.bytes);
        return false;
    });
    return copy;
}

}  // namespace orvalin
