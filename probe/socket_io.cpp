#include "probe/socket_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "resources/strings.h"

namespace orvalin {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

// The wait is rounded up to whole milliseconds and repeated if poll comes
// back early, so a limit is never cut short.
bool WaitForSocket(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, timeout);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready == 0 && timeout == 0) {
            return false;
        }
    }
}

std::chrono::milliseconds TimeLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds{0});
}

TcpConnection::~TcpConnection() {
    Close();
}

bool TcpConnection::Open(int family) {
    Close();
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
}

bool TcpConnection::Connect(const sockaddr_in& endpoint, std::chrono::milliseconds limit) {
    return Connect(reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint, limit);
}

bool TcpConnection::Connect(const sockaddr* address, socklen_t addressLength,
                            std::chrono::milliseconds limit) {
    if (fd_ < 0) {
        return false;
    }
    const auto deadline = Clock::now() + limit;
    const int flags = ::fcntl(fd_, F_GETFL);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd_, address, addressLength);
    bool connected = rc == 0;
    if (!connected && errno == EINPROGRESS && WaitForSocket(fd_, POLLOUT, deadline)) {
        int error = 0;
        socklen_t length = sizeof error;
        connected = ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    ::fcntl(fd_, F_SETFL, flags);
    return connected;
}

TlsOutcome TcpConnection::StartTls(const std::string& host, bool verify,
                                   std::chrono::milliseconds limit) {
    TlsOutcome outcome;
    if (fd_ < 0 || tls_) {
        return {TlsFailure::kHandshake, std::string(text::kTlsNotConnected)};
    }
    tls_ = TlsChannel::Connect(fd_, host, verify, Clock::now() + limit, outcome);
    return outcome;
}

bool TcpConnection::Send(std::string_view bytes, std::chrono::milliseconds limit) {
    if (fd_ < 0) {
        return false;
    }
    const auto deadline = Clock::now() + limit;
    if (tls_) {
        return tls_->Write(bytes, deadline);
    }
    while (!bytes.empty()) {
        // Never blocks in send itself: a peer that stops reading would hold
        // the call for as long as it likes.
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitForSocket(fd_, POLLOUT, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

std::string TcpConnection::Receive(std::size_t maxBytes, std::chrono::milliseconds limit) {
    if (fd_ < 0) {
        return {};
    }
    if (tls_) {
        return tls_->Read(maxBytes, Clock::now() + limit);
    }
    if (!WaitForSocket(fd_, POLLIN, Clock::now() + limit)) {
        return {};
    }
    std::string buffer(maxBytes, '\0');
    ssize_t received;
    do {
        received = ::recv(fd_, buffer.data(), maxBytes, 0);
    } while (received < 0 && errno == EINTR);
    buffer.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
    return buffer;
}

void TcpConnection::Close() {
    if (tls_) {
        tls_->Shutdown();
        tls_.reset();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace orvalin
