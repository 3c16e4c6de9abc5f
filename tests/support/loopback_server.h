// A scripted TCP server on 127.0.0.1 for tests: it listens on a free port,
// serves every connection on its own thread the same way and records the
// exact bytes each client sent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvalin::test {

struct ServerScript {
    enum class Action {
        kAnswer,             // read the request, then send each reply in turn and close
        kStaySilent,         // read the request, then hold the connection open until Stop
        kCloseAfterRequest,  // read the request, close without a byte sent
        kCloseAtOnce,        // close right after accepting, reading nothing
        kNeverRead,          // accept, then neither read nor send until Stop
    };
    // Bytes sent once `after` has passed since the previous
    // step (the first step: since the request was complete).
    struct Reply {
        std::chrono::milliseconds after{0};
        std::string bytes;
    };

    Action action = Action::kAnswer;
    std::vector<Reply> replies;
    // When set, connection k is answered with answers[k] at once instead of
    // the replies (the last one for every later connection).
    std::vector<std::string> answers;
    // The request is complete when this arrives, when the client stops sending
    // or when `requestWait` passes without new bytes.
    std::string requestEnd = "\r\n\r\n";
    std::chrono::milliseconds requestWait{5'000};

    static ServerScript Answer(std::string bytes, std::chrono::milliseconds after = {}) {
        ServerScript script;
        script.replies.push_back({after, std::move(bytes)});
        return script;
    }
    static ServerScript Answers(std::vector<std::string> inTurn) {
        ServerScript script;
        script.answers = std::move(inTurn);
        return script;
    }
    static ServerScript Only(Action what) {
        ServerScript script;
        script.action = what;
        return script;
    }
    ServerScript& Then(std::string bytes, std::chrono::milliseconds after) {
        replies.push_back({after, std::move(bytes)});
        return *this;
    }
};

class LoopbackServer {
  public:
    explicit LoopbackServer(ServerScript script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "127.0.0.1:<port>", ready to put behind a scheme or before a path.
    std::string HostAndPort() const;

    // The bytes received on each connection, in the order the connections
    // were accepted. An entry is filled in once its request is complete, which
    // is always before anything is answered or closed.
    std::vector<std::string> Requests() const;
    // Blocks until `count` requests are complete or the limit passes; true
    // when they are.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

    // Stops accepting, wakes silent connections and joins every thread.
    void Stop();

  private:
    void AcceptLoop();
    void Serve(int client, std::size_t slot);
    std::string ReadRequest(int client) const;
    void Record(std::size_t slot, std::string request);
    void HoldUntilStop(int client) const;
    // Sleeps for `wait` unless Stop comes first; false when stopped.
    bool Pause(std::chrono::milliseconds wait) const;

    ServerScript script_;
    int listener_ = -1;
    int wakeRead_ = -1;  // readable once Stop was called
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;

    mutable std::mutex mutex_;
    mutable std::condition_variable requestDone_;
    std::vector<std::string> requests_;
    std::size_t completeRequests_ = 0;
    std::vector<std::thread> servers_;
    bool stopped_ = false;
};

}  // namespace orvalin::test
