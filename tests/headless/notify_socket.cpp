#include "notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace orvalin::test {

NotifySocket::NotifySocket(const std::filesystem::path& folder) : path_(folder / "notify") {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::system_error(errno, std::generic_category(), "notify socket " + path_.string());
    }
}

NotifySocket::~NotifySocket() {
    ::close(fd_);
}

const std::vector<std::string>& NotifySocket::Messages() {
    std::array<char, 4096> buffer{};
    ssize_t n = 0;
    while ((n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0) {
        messages_.emplace_back(buffer.data(), static_cast<std::size_t>(n));
    }
    return messages_;
}

int NotifySocket::Count(const std::string& text) {
    const auto& all = Messages();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&text](const auto& message) {
        return message.find(text) != std::string::npos;
    }));
}

bool NotifySocket::WaitFor(const std::string& text, std::chrono::milliseconds limit, int count) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Count(text) < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pollfd ready{fd_, POLLIN, 0};
        ::poll(&ready, 1, 50);
    }
    return true;
}

}  // namespace orvalin::test
