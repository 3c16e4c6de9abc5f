#include "desktop/logview/log_text.h"

#include <algorithm>
#include <cstring>

namespace orvalin {

std::shared_ptr<LogText> LogText::FromBytes(std::string_view content) {
    auto text = std::make_shared<LogText>();
    while (!content.empty()) {
        const std::span<char> room = text->Room();
        const std::size_t count = std::min(room.size(), content.size());
        std::memcpy(room.data(), content.data(), count);
        text->Commit(count);
        content.remove_prefix(count);
    }
    text->Finish();
    return text;
}

std::span<char> LogText::Room() {
    if (blocks_.empty() || lastBlockFill_ == kBlockBytes) {
        // Left uninitialised: a page costs memory only once the file's bytes
        // are read into it.
        std::unique_ptr<char[]> block(new char[kBlockBytes]);
        const std::lock_guard lock(mutex_);
        blocks_.push_back(std::move(block));
        lastBlockFill_ = 0;
    }
    return {blocks_.back().get() + lastBlockFill_, kBlockBytes - lastBlockFill_};
}

void LogText::Commit(std::size_t count) {
    const char* const start = blocks_.back().get() + lastBlockFill_;
    const std::uint64_t base = (blocks_.size() - 1) * std::uint64_t{kBlockBytes} + lastBlockFill_;
    found_.clear();
    const char* cursor = start;
    const char* const end = start + count;
    while (cursor < end) {
        const void* hit = std::memchr(cursor, '\n', static_cast<std::size_t>(end - cursor));
        if (hit == nullptr) {
            break;
        }
        const char* const lineFeed = static_cast<const char*>(hit);
        found_.push_back(base + static_cast<std::uint64_t>(lineFeed - start));
        cursor = lineFeed + 1;
    }
    lastBlockFill_ += count;

    std::size_t longest = 0;
    std::uint64_t lineStart = openLineStart_;
    for (const std::uint64_t lineEnd : found_) {
        longest = std::max(longest, static_cast<std::size_t>(lineEnd - lineStart));
        lineStart = lineEnd + 1;
    }
    openLineStart_ = lineStart;

    const std::lock_guard lock(mutex_);
    lineEnds_.insert(lineEnds_.end(), found_.begin(), found_.end());
    committed_ += count;
    longest_ = std::max(longest_, longest);
}

void LogText::Finish() {
    const std::lock_guard lock(mutex_);
    if (committed_ > openLineStart_) {
        longest_ = std::max(longest_, static_cast<std::size_t>(committed_ - openLineStart_));
        lineEnds_.push_back(committed_);
        openLineStart_ = committed_;
    }
}

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

}  // namespace

LogText::Window LogText::Reader::Line(std::size_t i, std::string& scratch) const {
    const LogText& t = text_;
    if (i >= t.lineEnds_.size()) {
        return {};
    }
    const std::uint64_t begin = i == 0 ? 0 : t.lineEnds_[i - 1] + 1;
    std::uint64_t end = t.lineEnds_[i];
    const auto byteAt = [&t](std::uint64_t offset) {
        return t.blocks_[offset / kBlockBytes][offset % kBlockBytes];
    };
    if (end > begin && byteAt(end - 1) == '\r') {
        --end;
    }
    const std::uint64_t length = end - begin;
    // A few bytes past the window tell whether its last sequence is whole.
    end = std::min(end, begin + kLineWindowBytes + 4);
    if (end == begin) {
        return {};
    }
    std::string_view bytes;
    const std::size_t firstBlock = begin / kBlockBytes;
    const std::size_t lastBlock = (end - 1) / kBlockBytes;
    if (firstBlock == lastBlock) {
        bytes = {t.blocks_[firstBlock].get() + begin % kBlockBytes,
                 static_cast<std::size_t>(end - begin)};
    } else {
        scratch.clear();
        for (std::uint64_t at = begin; at < end;) {
            const std::size_t offset = at % kBlockBytes;
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes - offset, end - at));
            scratch.append(t.blocks_[at / kBlockBytes].get() + offset, take);
            at += take;
        }
        bytes = scratch;
    }
    return {bytes.substr(0, WindowLength(bytes, kLineWindowBytes)), length};
}

std::size_t LogText::LineCount() const {
    const std::lock_guard lock(mutex_);
    return lineEnds_.size();
}

std::size_t LogText::LongestLine() const {
    const std::lock_guard lock(mutex_);
    return longest_;
}

std::uint64_t LogText::Size() const {
    const std::lock_guard lock(mutex_);
    return committed_;
}

std::string LogText::CopyLine(std::size_t i) const {
    std::string scratch;
    const Reader reader = Read();
    return std::string(reader.Line(i, scratch).bytes);
}

}  // namespace orvalin
