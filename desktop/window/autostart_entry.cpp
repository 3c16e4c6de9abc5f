#include "desktop/window/autostart_entry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/xdg_paths.h"
#include "resources/desktop_texts.h"
#include "resources/strings.h"

namespace orvalin::desktop {
namespace {

// An Exec argument in double quotes: ", `, $ and \ are escaped with a
// backslash, and every backslash of the result is doubled again because the
// whole value is itself a string with escapes.
std::string QuoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += "\\\\";
            if (c == '\\') {
                quoted += "\\\\";
                continue;
            }
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

bool WriteWhole(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::filesystem::path AutostartEntry::DefaultFile() {
    return XdgConfigHome() / "autostart" / "orvalin.desktop";
}

std::string AutostartEntry::EntryText(const std::filesystem::path& program) {
    std::string entry = "[Desktop Entry]\nType=Application\nName=";
    entry += text::kAppTitle;
    entry += "\nComment=";
    entry += text::kAutostartComment;
    entry += "\nExec=" + QuoteExecArgument(program.string()) + "\nIcon=orvalin\nTerminal=false\n";
    return entry;
}

bool AutostartEntry::Register(const std::filesystem::path& program) const {
    if (!MakeFolders(file_.parent_path(), 0700)) {
        return false;
    }
    // Written beside the entry and renamed over it, so a session starting
    // meanwhile never reads half an entry.
    const std::filesystem::path temporary = file_.string() + ".new";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteWhole(fd, EntryText(program));
    const bool closed = ::close(fd) == 0;
    std::error_code error;
    if (!written || !closed) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    std::filesystem::rename(temporary, file_, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

void AutostartEntry::Unregister() const {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
}

}  // namespace orvalin::desktop
