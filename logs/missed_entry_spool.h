// The missed log entries one run could not write, kept in a file for the next
// run. Appending and taking both hold an exclusive lock on the file, so
// instances that end or start at the same moment neither lose nor repeat an
// entry.
#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <string>

namespace orvalin {

// Appends entries to spool, creating it with mode 0600. All or nothing: on a
// failed write the spool is cut back to its former length. False when the
// entries were not saved (no lock within about a second, a spool that is not
// a regular file of this user, a write error).
bool AppendToSpool(const std::filesystem::path& spool, const std::deque<std::string>& entries);

// Reads every entry of spool, oldest first, and empties it. A missing spool
// holds nothing. Nothing is returned, and the spool is left as it is, when it
// cannot be read and emptied; so an entry is never handed out twice.
std::optional<std::deque<std::string>> TakeFromSpool(const std::filesystem::path& spool);

}  // namespace orvalin
