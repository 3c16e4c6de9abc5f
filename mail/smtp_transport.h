// The byte stream an SMTP session runs over: a TCP connection that the
// session can turn into a TLS one. Tests put scripted streams in its place.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "probe/socket_io.h"

namespace orvalin {

class ISmtpTransport {
  public:
    virtual ~ISmtpTransport() = default;
    virtual bool Open() = 0;
    virtual bool Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit) = 0;
    // Sends every byte within the limit; false on an error or time-out.
    virtual bool Send(std::string_view bytes, std::chrono::milliseconds limit) = 0;
    // One receive of at most maxBytes; empty on close, error or time-out.
    virtual std::string Receive(std::size_t maxBytes, std::chrono::milliseconds limit) = 0;
    // Turns the connection into a TLS one (see TcpConnection::StartTls); a
    // transport that cannot carry TLS refuses.
    virtual TlsOutcome StartTls(const std::string& host, bool verify,
                                std::chrono::milliseconds limit);
};

// A TCP connection, plain until the session starts TLS on it.
class PlainSmtpTransport final : public ISmtpTransport {
  public:
    bool Open() override { return connection_.Open(); }
    bool Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit) override {
        return connection_.Connect(endpoint, limit);
    }
    bool Send(std::string_view bytes, std::chrono::milliseconds limit) override {
        return connection_.Send(bytes, limit);
    }
    std::string Receive(std::size_t maxBytes, std::chrono::milliseconds limit) override {
        return connection_.Receive(maxBytes, limit);
    }
    TlsOutcome StartTls(const std::string& host, bool verify,
                        std::chrono::milliseconds limit) override {
        return connection_.StartTls(host, verify, limit);
    }

  private:
    TcpConnection connection_;
};

}  // namespace orvalin
