// The missed log entries one run could not write, kept in a file for the next
// run. Appending and taking both hold an exclusive lock on the file, so
// instances that end or start at the same moment neither lose nor repeat an
// entry.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

namespace orvalin {

// Missed entries are kept up to this many, in memory and in the spool: a log
// that stays unusable must not make either grow for ever.
inline constexpr std::size_t kMissedEntryCap = 10'000;

// Missed entries, oldest first, and how many older ones were dropped to keep
// within the cap.
struct MissedQueue {
    std::deque<std::string> entries;
    std::uint64_t dropped = 0;

    bool Empty() const { return entries.empty() && dropped == 0; }
    // Adds an entry at the end, dropping the oldest beyond the cap.
    void Add(std::string entry);
    // Puts earlier entries (and their dropped count) before these, keeping
    // the newest within the cap.
    void Prepend(MissedQueue earlier);
    // Turns the dropped count into one entry at the head ("Older missed
    // entries dropped: N ...").
    void PutDroppedNoticeFirst();
};

// Appends the queue to spool, creating it with mode 0600, and keeps the spool
// within the cap (the oldest entries go, and are counted). All or nothing: on
// a failed write the spool is put back as it was. False when the entries were
// not saved (no lock within about a second, a spool that is not a regular
// file of this user, a write error).
bool AppendToSpool(const std::filesystem::path& spool, const MissedQueue& queue);

// Reads every entry of spool, oldest first, within the cap, and empties it. A
// missing spool holds nothing. Nothing is returned, and the spool is left as
// it is, when it cannot be read and emptied; so an entry is never handed out
// twice.
std::optional<MissedQueue> TakeFromSpool(const std::filesystem::path& spool);

}  // namespace orvalin
