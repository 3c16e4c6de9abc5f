// A service manager's notification socket for a test: an AF_UNIX datagram
// socket in a temporary folder that keeps every message a child sends to
// $NOTIFY_SOCKET, as systemd's does.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace orvalin::test {

class NotifySocket {
  public:
    explicit NotifySocket(const std::filesystem::path& folder);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // NOTIFY_SOCKET=<path>, for the child's environment.
    std::string Variable() const { return "NOTIFY_SOCKET=" + path_.string(); }
    // Every message received so far, oldest first.
    const std::vector<std::string>& Messages();
    // How many messages so far hold text.
    int Count(const std::string& text);
    // Waits until count messages hold text; false when limit passes first.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit, int count = 1);

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::vector<std::string> messages_;
};

}  // namespace orvalin::test
