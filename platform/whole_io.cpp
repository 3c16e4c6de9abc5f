#include "platform/whole_io.h"

#include <unistd.h>

#include <cerrno>

namespace orvalin {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool ReadAll(int fd, std::string& content) {
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            return true;
        } else if (errno != EINTR && errno != EAGAIN) {
            return false;
        }
    }
}

}  // namespace orvalin
