#include "settings/write_spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/whole_io.h"
#include "platform/xdg_paths.h"

namespace orvalin::store_db {
namespace fs = std::filesystem;

namespace {

constexpr mode_t kSpoolMode = 0600;
constexpr char kIntType = 'i';
constexpr char kStringType = 's';

void AppendField(std::string& line, std::string_view field) {
    for (const char c : field) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
        }
    }
}

std::vector<std::string> SplitFields(std::string_view line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string Encode(const std::string& store, const StoredValue& value) {
    std::string line;
    AppendField(line, store);
    line += '\t';
    AppendField(line, value.section);
    line += '\t';
    AppendField(line, value.key);
    if (const auto* number = std::get_if<std::int32_t>(&value.value)) {
        line += '\t';
        line += kIntType;
        line += '\t';
        line += std::to_string(*number);
    } else {
        line += '\t';
        line += kStringType;
        line += '\t';
        AppendField(line, std::get<std::string>(value.value));
    }
    line += '\n';
    return line;
}

// The value of a line of the given store; nothing for another store's line
// or one that is damaged.
std::optional<StoredValue> Decode(std::string_view line, const std::string& store) {
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.size() != 5 || fields[0] != store || fields[3].size() != 1) {
        return std::nullopt;
    }
    StoredValue value{fields[1], fields[2], SettingValue()};
    if (fields[3][0] == kStringType) {
        value.value = fields[4];
        return value;
    }
    std::int32_t number = 0;
    const char* end = fields[4].data() + fields[4].size();
    const auto [at, error] = std::from_chars(fields[4].data(), end, number);
    if (fields[3][0] != kIntType || error != std::errc() || at != end) {
        return std::nullopt;
    }
    value.value = number;
    return value;
}

// The spool opened and locked: only a regular file of this user, never
// through a link.
class LockedFile {
  public:
    LockedFile(const fs::path& file, int flags)
        : fd_(::open(file.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, kSpoolMode)) {
        missing_ = fd_ < 0 && errno == ENOENT;
        struct stat info {};
        if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) ||
                         info.st_uid != ::geteuid() || ::flock(fd_, LOCK_EX) != 0)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LockedFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    int Fd() const { return fd_; }
    bool Missing() const { return missing_; }

  private:
    int fd_;
    bool missing_ = false;
};

}  // namespace

fs::path DefaultWriteSpool() {
    return XdgStateHome() / "orvalin" / "settings.spool";
}

bool SpoolWrites(const fs::path& spool, const fs::path& storePath,
                 const std::vector<StoredValue>& values) {
    if (values.empty()) {
        return true;
    }
    if (!MakePrivateFolder(spool.parent_path())) {
        return false;
    }
    const LockedFile file(spool, O_WRONLY | O_APPEND | O_CREAT);
    struct stat info {};
    if (file.Fd() < 0 || ::fstat(file.Fd(), &info) != 0) {
        return false;
    }
    const std::string store = fs::absolute(storePath).string();
    std::string lines;
    for (const StoredValue& value : values) {
        lines += Encode(store, value);
    }
    if (!WriteAll(file.Fd(), lines)) {
        (void)::ftruncate(file.Fd(), info.st_size);  // no half line for the next start
        return false;
    }
    return true;
}

std::vector<StoredValue> TakeSpooledWrites(const fs::path& spool, const fs::path& storePath) {
    const LockedFile file(spool, O_RDWR);
    std::string content;
    if (file.Fd() < 0 || !ReadAll(file.Fd(), content)) {
        return {};
    }
    const std::string store = fs::absolute(storePath).string();
    std::vector<StoredValue> taken;
    std::string others;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            break;  // a last line cut short is no value
        }
        const std::string_view line(content.data() + start, end - start);
        if (auto value = Decode(line, store)) {
            taken.push_back(std::move(*value));
        } else if (SplitFields(line).front() != store) {
            others.append(line).append("\n");
        }
        start = end + 1;
    }
    if (taken.empty()) {
        return {};
    }
    // Rewritten before the lock goes, so that no other program takes them too.
    if (::ftruncate(file.Fd(), 0) != 0 || ::lseek(file.Fd(), 0, SEEK_SET) != 0 ||
        !WriteAll(file.Fd(), others)) {
        return {};
    }
    return taken;
}

}  // namespace orvalin::store_db
