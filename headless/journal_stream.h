// Standard error of a systemd service is often the journal, which reads a
// "<N>" at the start of a line as that line's priority (sd-daemon(3)).
#pragma once

#include <string>
#include <string_view>

namespace orvalin {

enum class Priority { Error = 3, Warning = 4 };

// Whether standard error is the journal: JOURNAL_STREAM, which the service
// manager sets, names standard error's device and inode ("DEV:INODE").
// Redirected elsewhere, it is not, although the variable is inherited.
bool StandardErrorIsJournal();

// text with "<N>" before each of its lines when toJournal, else text as it is.
std::string WithPriority(std::string_view text, Priority priority, bool toJournal);

}  // namespace orvalin
