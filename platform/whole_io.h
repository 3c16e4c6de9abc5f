// Reading and writing a whole buffer through a file descriptor, past short
// writes and interrupted calls.
#pragma once

#include <string>
#include <string_view>

namespace orvalin {

// Writes every byte; false on an error or a write that makes no progress.
bool WriteAll(int fd, std::string_view bytes);
// Appends everything up to the end of the file to content; false on an error.
bool ReadAll(int fd, std::string& content);

}  // namespace orvalin
