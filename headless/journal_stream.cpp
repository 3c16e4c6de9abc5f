#include "headless/journal_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvalin {

bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (stream == nullptr || ::fstat(STDERR_FILENO, &info) != 0) {
        return false;
    }
    const std::string expected = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    return expected == stream;
}

std::string WithPriority(std::string_view text, Priority priority, bool toJournal) {
    if (!toJournal) {
        return std::string(text);
    }
    const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
    std::string marked = prefix;
    for (const char c : text) {
        marked += c;
        if (c == '\n') {
            marked += prefix;
        }
    }
    if (!text.empty() && text.back() == '\n') {
        marked.resize(marked.size() - prefix.size());  // no mark after the last line end
    }
    return marked;
}

}  // namespace orvalin
