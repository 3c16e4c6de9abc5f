#include "probe/tls_channel.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "probe/openssl_library.h"
#include "probe/socket_io.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

// OpenSSL's functions. Everything below Connect's first lines runs only after
// Connect loaded the library.
const OpenSsl& Ssl() {
    std::string unused;
    return *OpenSsl::Load(unused);
}

// --- A socket BIO that cannot raise SIGPIPE ----------------------------------
// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the
// server has gone; this one sends with MSG_NOSIGNAL and never blocks (the
// channel waits with poll and a deadline instead).

int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(Ssl().BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int length) {
    Ssl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    for (;;) {
        const ssize_t sent = ::send(SocketOf(bio), data, static_cast<std::size_t>(length),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            return static_cast<int>(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Ssl().BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
        }
        return -1;
    }
}

int BioRead(BIO* bio, char* data, int length) {
    Ssl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    for (;;) {
        const ssize_t got =
            ::recv(SocketOf(bio), data, static_cast<std::size_t>(length), MSG_DONTWAIT);
        if (got >= 0) {
            return static_cast<int>(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Ssl().BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
        }
        return -1;
    }
}

long BioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    Ssl().BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m =
            Ssl().BIO_meth_new(Ssl().BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "orvalin socket");
        if (m != nullptr) {
            Ssl().BIO_meth_set_write(m, BioWrite);
            Ssl().BIO_meth_set_read(m, BioRead);
            Ssl().BIO_meth_set_ctrl(m, BioControl);
            Ssl().BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

// --- The client context --------------------------------------------------------
// Loading the trust store takes a while, so a context is made once for each
// choice of SSL_CERT_FILE and SSL_CERT_DIR and kept for the life of the
// process.

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

SSL_CTX* ClientContext() {
    static std::mutex mutex;
    // Never destroyed: OpenSSL cleans up at exit on its own schedule, and a
    // context freed after that would crash.
    using TrustStore = std::pair<std::string, std::string>;
    static auto* const contexts = new std::map<TrustStore, SSL_CTX*>;
    TrustStore trustStore{Environment("SSL_CERT_FILE"), Environment("SSL_CERT_DIR")};
    std::lock_guard lock(mutex);
    if (const auto found = contexts->find(trustStore); found != contexts->end()) {
        return found->second;
    }
    SSL_CTX* context = Ssl().SSL_CTX_new(Ssl().TLS_client_method());
    if (context == nullptr) {
        return nullptr;
    }
    Ssl().SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    Ssl().SSL_CTX_ctrl(context, SSL_CTRL_MODE, SSL_MODE_ENABLE_PARTIAL_WRITE, nullptr);
    // A missing or unreadable store is no error here: verification then
    // refuses every certificate, which names the cause.
    Ssl().SSL_CTX_set_default_verify_paths(context);
    Ssl().ERR_clear_error();
    contexts->emplace(std::move(trustStore), context);
    return context;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// The reason OpenSSL gives for the last failure on this thread, or fallback.
std::string LastError(std::string_view fallback) {
    const unsigned long code = Ssl().ERR_peek_last_error();
    const char* reason = code != 0 ? Ssl().ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? std::string(reason) : std::string(fallback);
}

}  // namespace

std::unique_ptr<TlsChannel> TlsChannel::Connect(int fd, const std::string& host, bool verify,
                                                Deadline deadline, TlsOutcome& outcome) {
    outcome = {TlsFailure::kHandshake, {}};
    if (OpenSsl::Load(outcome.reason) == nullptr) {
        return nullptr;
    }
    Ssl().ERR_clear_error();
    SSL_CTX* context = ClientContext();
    SSL* ssl = context != nullptr ? Ssl().SSL_new(context) : nullptr;
    BIO* bio =
        ssl != nullptr && SocketMethod() != nullptr ? Ssl().BIO_new(SocketMethod()) : nullptr;
    if (bio == nullptr) {
        Ssl().SSL_free(ssl);
        outcome.reason = LastError(text::kTlsSetUpFailed);
        return nullptr;
    }
    Ssl().BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    Ssl().SSL_set_bio(ssl, bio, bio);  // the SSL object owns the BIO from here on
    std::unique_ptr<TlsChannel> channel(new TlsChannel(fd, ssl));

    const bool literal = IsAddressLiteral(host);
    if (!literal) {
        Ssl().SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                       const_cast<char*>(host.c_str()));
    }
    if (verify) {
        Ssl().SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
        X509_VERIFY_PARAM* param = Ssl().SSL_get0_param(ssl);
        Ssl().X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int named = literal ? Ssl().X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                                  : Ssl().X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        if (named != 1) {
            outcome = {TlsFailure::kCertificate, std::string(text::kTlsNameUncheckable)};
            return nullptr;
        }
    } else {
        Ssl().SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    }

    for (;;) {
        Ssl().ERR_clear_error();
        const int result = Ssl().SSL_connect(ssl);
        if (result == 1) {
            outcome = {};
            return channel;
        }
        const int error = Ssl().SSL_get_error(ssl, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!channel->WaitToRetry(result, deadline)) {
                outcome.reason = text::kTlsHandshakeTimedOut;
                return nullptr;
            }
            continue;
        }
        const long verified = Ssl().SSL_get_verify_result(ssl);
        if (verify && verified != X509_V_OK) {
            outcome = {TlsFailure::kCertificate, Ssl().X509_verify_cert_error_string(verified)};
        } else if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN) {
            outcome.reason = LastError(text::kTlsServerClosed);
        } else {
            outcome.reason = LastError(text::kTlsHandshakeFailed);
        }
        return nullptr;
    }
}

TlsChannel::~TlsChannel() {
    Ssl().SSL_free(ssl_);
}

bool TlsChannel::WaitToRetry(int result, Deadline deadline) {
    const int error = Ssl().SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ) {
        return WaitForSocket(fd_, POLLIN, deadline);
    }
    if (error == SSL_ERROR_WANT_WRITE) {
        return WaitForSocket(fd_, POLLOUT, deadline);
    }
    broken_ = error == SSL_ERROR_SSL || error == SSL_ERROR_SYSCALL;
    return false;
}

bool TlsChannel::Write(std::string_view bytes, Deadline deadline) {
    while (!bytes.empty()) {
        Ssl().ERR_clear_error();
        const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
        const int written = Ssl().SSL_write(ssl_, bytes.data(), length);
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (!WaitToRetry(written, deadline)) {
            return false;
        }
    }
    return true;
}

std::string TlsChannel::Read(std::size_t maxBytes, Deadline deadline) {
    std::string buffer(maxBytes, '\0');
    for (;;) {
        Ssl().ERR_clear_error();
        const int length = static_cast<int>(std::min<std::size_t>(maxBytes, INT_MAX));
        const int got = Ssl().SSL_read(ssl_, buffer.data(), length);
        if (got > 0) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
        if (!WaitToRetry(got, deadline)) {
            return {};
        }
    }
}

void TlsChannel::Shutdown() {
    if (broken_) {
        return;
    }
    Ssl().ERR_clear_error();
    Ssl().SSL_shutdown(ssl_);
    Ssl().ERR_clear_error();
}

}  // namespace orvalin
