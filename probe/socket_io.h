// A blocking IPv4 TCP connection with time limits, used by the web probe and
// by the SMTP transport. One object is one connection; it closes itself.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace orvalin {

// The time from now until the deadline, rounded up to whole milliseconds so
// that a wait for it never ends early; zero once the deadline has passed.
std::chrono::milliseconds TimeLeft(std::chrono::steady_clock::time_point deadline);

class TcpConnection {
  public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Creates the socket. False when the system refuses one.
    bool Open();
    // Connects within the limit. False on refusal, failure or time-out.
    bool Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit);
    // Sends every byte, waiting at most limit in all for the peer to take
    // them. False on an error, or when the limit passes first.
    bool Send(std::string_view bytes, std::chrono::milliseconds limit);
    // One receive call of at most maxBytes, waiting at most limit for data to
    // begin. Returns the received bytes; empty on close, error or time-out.
    std::string Receive(std::size_t maxBytes, std::chrono::milliseconds limit);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace orvalin
