#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace orvalin::test {
namespace {

// poll that retries on signals; -1 waits without end.
int PollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
    int ready;
    do {
        ready = ::poll(fds, count, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

void SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

}  // namespace

LoopbackServer::LoopbackServer(ServerScript script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int pipeEnds[2];
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        if (listener_ >= 0) {
            ::close(listener_);
        }
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    Stop();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string LoopbackServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> LoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return requestDone_.wait_for(lock, limit, [&] { return completeRequests_ >= count; });
}

void LoopbackServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return;
        }
        stopped_ = true;
    }
    const char wake = 1;
    while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
    acceptor_.join();
    // The acceptor has ended, so no thread is added any more.
    for (auto& server : servers_) {
        server.join();
    }
}

void LoopbackServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (PollRetrying(fds, 2, -1) < 0 || fds[1].revents != 0) {
            return;
        }
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        std::lock_guard lock(mutex_);
        const std::size_t slot = requests_.size();
        requests_.emplace_back();
        servers_.emplace_back([this, client, slot] { Serve(client, slot); });
    }
}

void LoopbackServer::Serve(int client, std::size_t slot) {
    if (script_.action == ServerScript::Action::kCloseAtOnce) {
        Record(slot, {});
        ::close(client);
        return;
    }
    if (script_.action == ServerScript::Action::kNeverRead) {
        // What the client sends fills the socket buffers and then waits.
        Record(slot, {});
        pollfd wake{wakeRead_, POLLIN, 0};
        PollRetrying(&wake, 1, -1);
        ::close(client);
        return;
    }
    Record(slot, ReadRequest(client));
    switch (script_.action) {
        case ServerScript::Action::kAnswer:
            if (!script_.answers.empty()) {
                SendAll(client, script_.answers[std::min(slot, script_.answers.size() - 1)]);
                break;
            }
            for (const auto& reply : script_.replies) {
                if (!Pause(reply.after)) {
                    break;
                }
                SendAll(client, reply.bytes);
            }
            break;
        case ServerScript::Action::kStaySilent:
            HoldUntilStop(client);
            break;
        default:
            break;
    }
    ::close(client);
}

std::string LoopbackServer::ReadRequest(int client) const {
    std::string request;
    char buffer[4096];
    while (script_.requestEnd.empty() || request.find(script_.requestEnd) == std::string::npos) {
        pollfd fds[2] = {{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = PollRetrying(fds, 2, static_cast<int>(script_.requestWait.count()));
        if (ready <= 0 || fds[1].revents != 0) {
            break;
        }
        const ssize_t received = ::recv(client, buffer, sizeof buffer, 0);
        if (received <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(received));
    }
    return request;
}

void LoopbackServer::Record(std::size_t slot, std::string request) {
    {
        std::lock_guard lock(mutex_);
        requests_[slot] = std::move(request);
        ++completeRequests_;
    }
    requestDone_.notify_all();
}

void LoopbackServer::HoldUntilStop(int client) const {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (PollRetrying(fds, 2, -1) <= 0 || fds[1].revents != 0) {
            return;
        }
        // Whatever else the client sends is ignored; its closing ends the hold.
        if (::recv(client, buffer, sizeof buffer, 0) <= 0) {
            return;
        }
    }
}

bool LoopbackServer::Pause(std::chrono::milliseconds wait) const {
    if (wait.count() <= 0) {
        return true;
    }
    pollfd wake{wakeRead_, POLLIN, 0};
    return PollRetrying(&wake, 1, static_cast<int>(wait.count())) == 0;
}

}  // namespace orvalin::test
