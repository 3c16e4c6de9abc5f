#include "desktop/logview/log_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvalin {

ssize_t MemorySource::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const {
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t count = std::min<std::size_t>(size, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, count);
    return static_cast<ssize_t>(count);
}

bool FileSource::Open() {
    auto reader = std::make_shared<LogFileReader>(file_);
    if (!reader->IsOpen()) {
        return false;
    }
    const std::lock_guard lock(mutex_);
    reader_ = std::move(reader);
    return true;
}

void FileSource::Unlock() {
    const std::lock_guard lock(mutex_);
    if (reader_) {
        reader_->Unlock();
    }
}

ssize_t FileSource::Read(char* buffer, std::size_t size) {
    std::shared_ptr<LogFileReader> reader;
    {
        const std::lock_guard lock(mutex_);
        reader = reader_;
    }
    return reader ? reader->Read(buffer, size) : -1;
}

std::filesystem::path FileSource::FullPath() const {
    const std::lock_guard lock(mutex_);
    return reader_ ? reader_->FullPath() : std::filesystem::path();
}

ssize_t FileSource::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const {
    std::shared_ptr<LogFileReader> reader;
    {
        const std::lock_guard lock(mutex_);
        reader = reader_;
    }
    if (!reader) {
        errno = EBADF;
        return -1;
    }
    return reader->ReadAt(offset, buffer, size);
}

LogSource::Look FileSource::Now() const {
    std::shared_ptr<LogFileReader> reader;
    {
        const std::lock_guard lock(mutex_);
        reader = reader_;
    }
    if (!reader) {
        return {};
    }
    const LogFileReader::Standing standing = reader->Look();
    Look look;
    look.size = standing.size;
    if (standing.error != 0) {
        look.change = LogChange::Unreadable;
        look.error = standing.error;
    } else if (!standing.pathExists) {
        look.change = LogChange::Deleted;
    } else if (!standing.pathNamesIt) {
        look.change = LogChange::Replaced;
    }
    return look;
}

}  // namespace orvalin
