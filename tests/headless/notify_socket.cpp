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
    if (path_.string().size() >= sizeof(address.sun_path)) {
        throw std::runtime_error("socket path too long: " + path_.string());
    }
    std::strcpy(address.sun_path, path_.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::system_error(errno, std::generic_category(), "notify socket");
    }
}

NotifySocket::~NotifySocket() {
    ::close(fd_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void NotifySocket::Receive(std::chrono::milliseconds wait) {
    pollfd ready{fd_, POLLIN, 0};
    int timeout = static_cast<int>(wait.count());
    while (::poll(&ready, 1, timeout) > 0) {
        std::array<char, 4096> buffer{};
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n < 0) {
            break;
        }
        messages_.emplace_back(buffer.data(), static_cast<std::size_t>(n));
        timeout = 0;  // take whatever else is there without waiting
    }
}

const std::vector<std::string>& NotifySocket::Messages() {
    Receive(std::chrono::milliseconds(0));
    return messages_;
}

bool NotifySocket::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Count(text) == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        Receive(std::min(left, std::chrono::milliseconds(50)));
    }
    return true;
}

int NotifySocket::Count(const std::string& text) {
    const auto& all = Messages();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&text](const std::string& m) {
        return m.find(text) != std::string::npos;
    }));
}

}  // namespace orvalin::test
