// TLS over a connected TCP socket, as a client, through OpenSSL. The server's
// certificate is checked against OpenSSL's default trust store, so the usual
// SSL_CERT_FILE and SSL_CERT_DIR variables choose what is trusted.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct ssl_st;

namespace orvalin {

enum class TlsFailure { kNone, kHandshake, kCertificate };

// How a handshake ended. reason is OpenSSL's own short description of a
// failure ("certificate has expired", "hostname mismatch") or ours ("the
// handshake did not finish in time").
struct TlsOutcome {
    TlsFailure failure = TlsFailure::kNone;
    std::string reason;
    bool Ok() const { return failure == TlsFailure::kNone; }
};

class TlsChannel {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    // Runs the handshake on fd until the deadline. host is sent as the server
    // name (SNI) when it is a name rather than an address. With verify, the
    // certificate must chain to a trusted root and be issued for host (a DNS
    // name or an IP address). Null on failure, with outcome saying why.
    static std::unique_ptr<TlsChannel> Connect(int fd, const std::string& host, bool verify,
                                               Deadline deadline, TlsOutcome& outcome);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Sends every byte before the deadline; false on an error or time-out.
    bool Write(std::string_view bytes, Deadline deadline);
    // At most maxBytes of application data, waiting until the deadline for
    // them to begin; empty on close, error or time-out.
    std::string Read(std::size_t maxBytes, Deadline deadline);
    // Sends the closing alert if it can go out at once; never waits.
    void Shutdown();

  private:
    TlsChannel(int fd, ssl_st* ssl) : fd_(fd), ssl_(ssl) {}

    // After an operation asked to be retried: waits for the socket as
    // OpenSSL wants it. False when the operation failed for good or the
    // deadline passed.
    bool WaitToRetry(int result, Deadline deadline);

    int fd_;
    ssl_st* ssl_;
    bool broken_ = false;  // a fatal error happened: no closing alert then
};

}  // namespace orvalin
