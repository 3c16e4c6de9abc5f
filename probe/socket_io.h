// A blocking TCP connection with time limits, optionally secured by TLS, used
// by the web probe and by the SMTP transport. One object is one connection;
// it closes itself.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "probe/tls_channel.h"

namespace orvalin {

// The time from now until the deadline, rounded up to whole milliseconds so
// that a wait for it never ends early; zero once the deadline has passed.
std::chrono::milliseconds TimeLeft(std::chrono::steady_clock::time_point deadline);

// Waits until fd is ready for events (or has an error) or the deadline has
// passed; retries on signals. False on time-out.
bool WaitForSocket(int fd, short events, std::chrono::steady_clock::time_point deadline);

class TcpConnection {
  public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Creates the socket of the address family (IPv4 unless told). False
    // when the system refuses one.
    bool Open(int family = AF_INET);
    // Connects within the limit. False on refusal, failure or time-out.
    bool Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit);
    bool Connect(const sockaddr* address, socklen_t length, std::chrono::milliseconds limit);
    // Runs a TLS handshake as a client within the limit (see TlsChannel).
    // Once it succeeded, Send and Receive go through TLS.
    TlsOutcome StartTls(const std::string& host, bool verify, std::chrono::milliseconds limit);
    bool IsSecured() const { return tls_ != nullptr; }
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
    std::unique_ptr<TlsChannel> tls_;
};

}  // namespace orvalin
