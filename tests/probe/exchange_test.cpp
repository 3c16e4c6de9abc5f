// One exchange of CSiteProbe against scripted servers on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "probe/site_probe.h"
#include "resources/strings.h"
#include "support/loopback_server.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::LoopbackServer;
using test::ServerScript;
using Clock = std::chrono::steady_clock;

constexpr const char* kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
constexpr const char* kBefore = "before";

struct Outcome {
    bool exchanged = false;
    std::string statusText;
    Clock::duration took{};
};

// A probe with short limits, so a test that runs into one ends quickly.
Outcome Probe(const std::string& url, std::chrono::milliseconds connectLimit = 5s,
              std::chrono::milliseconds answerLimit = 5s, std::string statusText = {}) {
    CSiteProbe probe(url);
    probe.connectLimit = connectLimit;
    probe.answerLimit = answerLimit;
    Outcome outcome;
    outcome.statusText = std::move(statusText);
    const auto start = Clock::now();
    outcome.exchanged = probe.GetStatusCode(outcome.statusText);
    outcome.took = Clock::now() - start;
    return outcome;
}

// The bytes a probe of `url` puts on the wire; `url` holds {} for the server.
std::string RequestSentFor(const std::string& urlPattern) {
    LoopbackServer server(ServerScript::Answer(kOk));
    std::string url = urlPattern;
    url.replace(url.find("{}"), 2, server.HostAndPort());
    const Outcome outcome = Probe(url);
    EXPECT_TRUE(outcome.exchanged) << url;
    EXPECT_EQ(outcome.statusText, "200") << url;
    const auto requests = server.Requests();
    return requests.size() == 1 ? requests[0] : "<" + std::to_string(requests.size()) + ">";
}

TEST(ProbeExchangeTest, SendsTheBareRequestLine) {
    EXPECT_EQ(RequestSentFor("http://{}"), "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(RequestSentFor("{}/status?x=1"), "GET /status?x=1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(RequestSentFor("https://{}/"), "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(RequestSentFor("{}/go?to=http://other"), "GET /go?to=other HTTP/1.0\r\n\r\n");
}

TEST(ProbeExchangeTest, PortTextIsReadLikeAtoiAndCutTo16Bits) {
    LoopbackServer server(ServerScript::Answer(kOk));
    const std::string port = std::to_string(server.Port());
    EXPECT_EQ(Probe("127.0.0.1: +" + port + "junk/").statusText, "200");
    EXPECT_EQ(Probe("127.0.0.1:" + std::to_string(server.Port() + 65536)).statusText, "200");
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(ProbeExchangeTest, ReadsTheStatusCodeOfTheAnswer) {
    struct Case {
        const char* answer;
        const char* status;
    };
    for (const Case& c : {Case{"HTTP/1.1 200 OK\r\nServer: t\r\n\r\nbody", "200"},
                          Case{"HTTP/1.0 404 Not Found\r\n\r\n", "404"},
                          Case{"HTTP/1.1 301\r\nLocation: /\r\n\r\n", "301"},
                          Case{"HTTP/1.0 200 OK", "200"}, Case{"HTTP/1.0 200", ""}}) {
        LoopbackServer server(ServerScript::Answer(c.answer));
        const Outcome outcome = Probe("http://" + server.HostAndPort() + "/", 5s, 5s, kBefore);
        EXPECT_TRUE(outcome.exchanged) << c.answer;
        EXPECT_EQ(outcome.statusText, c.status) << c.answer;
    }
}

TEST(ProbeExchangeTest, ControlBytesInTheCodeAreShownEscaped) {
    LoopbackServer server(ServerScript::Answer("HTTP/1.1 200\r\x1b[2J\aInjected OK\r\n\r\n"));
    const Outcome outcome = Probe(server.HostAndPort());
    EXPECT_TRUE(outcome.exchanged);
    EXPECT_EQ(outcome.statusText, "200\\x0D\\x1B[2J\\x07Injected");
}

TEST(ProbeExchangeTest, AnswerWithoutStatusLineLeavesTextUnchanged) {
    using namespace std::string_literals;
    for (const std::string& answer : {"garbage\r\n"s, "HTTP/1.0\0 200 OK\r\n"s}) {
        LoopbackServer server(ServerScript::Answer(answer));
        const Outcome outcome = Probe(server.HostAndPort(), 5s, 5s, kBefore);
        EXPECT_TRUE(outcome.exchanged);
        EXPECT_EQ(outcome.statusText, kBefore);
    }
}

TEST(ProbeExchangeTest, ReadsUntilTheFirstLineEndsOrTheBufferIsFull) {
    // A status line in two segments is read whole.
    LoopbackServer split(ServerScript::Answer("HTTP/1.1 2").Then("00 OK\r\n\r\n", 200ms));
    EXPECT_EQ(Probe(split.HostAndPort(), 5s, 5s, kBefore).statusText, "200");
    LoopbackServer atBlank(ServerScript::Answer("HTTP/1.0").Then(" 404 Not Found\r\n", 200ms));
    EXPECT_EQ(Probe(atBlank.HostAndPort(), 5s, 5s, kBefore).statusText, "404");

    // The answer limit covers the whole read: what came by then is read as it is
    // (its last byte dropped, so the blank after the code still ends it).
    LoopbackServer late(ServerScript::Answer("HTTP/1.0 503 Se").Then("rvice Unavailable\r\n", 3s));
    const Outcome outcome = Probe(late.HostAndPort(), 5s, 500ms, kBefore);
    EXPECT_TRUE(outcome.exchanged);
    EXPECT_EQ(outcome.statusText, "503");
    EXPECT_LT(outcome.took, 2s);

    // After 1347 bytes the blank is byte 1348, the last one read, which is
    // never part of the text; with a larger buffer the code behind it would be found.
    LoopbackServer longLine(ServerScript::Answer(std::string(1347, 'H') + " 200 OK\r\n\r\n"));
    EXPECT_EQ(Probe(longLine.HostAndPort(), 5s, 5s, kBefore).statusText, kBefore);
    LoopbackServer longSplit(ServerScript::Answer(std::string(1000, 'H'))
                                 .Then(std::string(347, 'H') + " 200\r\n", 200ms));
    EXPECT_EQ(Probe(longSplit.HostAndPort(), 5s, 5s, kBefore).statusText, kBefore);
    // Here the code and the blank after it are just inside the bytes read.
    LoopbackServer shorter(ServerScript::Answer(std::string(1342, 'H') + " 200 OK\r\n\r\n"));
    EXPECT_EQ(Probe(shorter.HostAndPort(), 5s, 5s, kBefore).statusText, "200");
}

TEST(ProbeExchangeTest, ServerClosingWithoutAnswerIsStillAnExchange) {
    for (const auto action :
         {ServerScript::Action::kCloseAfterRequest, ServerScript::Action::kCloseAtOnce}) {
        LoopbackServer server(ServerScript::Only(action));
        const Outcome outcome = Probe(server.HostAndPort());
        EXPECT_TRUE(outcome.exchanged);
        EXPECT_EQ(outcome.statusText, "");
    }
}

TEST(ProbeExchangeTest, SilentServerEndsAfterTheAnswerLimit) {
    LoopbackServer server(ServerScript::Only(ServerScript::Action::kStaySilent));
    const Outcome outcome = Probe(server.HostAndPort(), 5s, 300ms);
    EXPECT_TRUE(outcome.exchanged);
    EXPECT_EQ(outcome.statusText, "");
    EXPECT_GE(outcome.took, 300ms);
    EXPECT_LT(outcome.took, 30s);  // the default limit would have been 60 s
    ASSERT_TRUE(server.WaitForRequests(1, 5s));
    EXPECT_EQ(server.Requests()[0], "GET / HTTP/1.0\r\n\r\n");
}

TEST(ProbeExchangeTest, ARequestThePeerNeverReadsFailsAtTheAnswerLimit) {
    auto server =
        std::make_unique<LoopbackServer>(ServerScript::Only(ServerScript::Action::kNeverRead));
    // Far more than the socket buffers of both ends hold.
    const std::string url = server->HostAndPort() + "/" + std::string(32u << 20, 'a');
    auto probe = std::async(std::launch::async, [&] { return Probe(url, 5s, 300ms, kBefore); });
    if (probe.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the probe was still sending after 20 s";
        server->Stop();  // closes the connection, which frees the probe
    }
    const Outcome outcome = probe.get();
    EXPECT_FALSE(outcome.exchanged);
    EXPECT_EQ(outcome.statusText, kBefore);
}

// A socket bound to a port but not listening: connecting to it is refused.
class RefusingPort {
  public:
    RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~RefusingPort() { ::close(fd_); }
    std::uint16_t Port() const { return port_; }

  private:
    int fd_;
    std::uint16_t port_ = 0;
};

TEST(ProbeExchangeTest, RefusedOrImpossibleConnectionIsNoExchange) {
    RefusingPort refusing;
    ASSERT_NE(refusing.Port(), 0);
    for (const std::string& url : {"http://127.0.0.1:" + std::to_string(refusing.Port()) + "/",
                                   std::string("127.0.0.1:abc"),  // port 0
                                   std::string("http://1st.server/")}) {
        const Outcome outcome = Probe(url, 2s, 2s, kBefore);
        EXPECT_FALSE(outcome.exchanged) << url;
        EXPECT_EQ(outcome.statusText, kBefore) << url;
    }
}

TEST(ProbeExchangeTest, UnresolvableHostIsReported) {
    // Refused by the resolver itself, without a query on the network.
    const Outcome outcome = Probe("http://no..such..host/index.html");
    EXPECT_FALSE(outcome.exchanged);
    EXPECT_EQ(outcome.statusText, text::kCouldNotResolveUrl);
}

TEST(ProbeExchangeTest, EmptyAddressFailsWithoutTouchingTheStatus) {
    for (const std::string url : {"", "http://", "https://"}) {
        const Outcome outcome = Probe(url, 5s, 5s, kBefore);
        EXPECT_FALSE(outcome.exchanged) << url;
        EXPECT_EQ(outcome.statusText, kBefore) << url;
    }
}

// A listener whose accept queue is full and never drained: the system drops
// further connection attempts, which then hang until the client gives up.
class FullBacklog {
  public:
    FullBacklog() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        for (int i = 0; i < 16 && !full_; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            clients_.push_back(client);
            ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
            pollfd p{client, POLLOUT, 0};
            full_ = ::poll(&p, 1, 200) == 0;
        }
        port_ = ntohs(address.sin_port);
    }
    ~FullBacklog() {
        for (const int client : clients_) {
            ::close(client);
        }
        ::close(listener_);
    }
    // True once a connection attempt was seen to hang.
    bool Full() const { return full_; }
    std::uint16_t Port() const { return port_; }

  private:
    int listener_ = -1;
    std::vector<int> clients_;
    bool full_ = false;
    std::uint16_t port_ = 0;
};

TEST(ProbeExchangeTest, HangingConnectionEndsAfterTheConnectLimit) {
    FullBacklog backlog;
    ASSERT_TRUE(backlog.Full()) << "connection attempts to a full backlog did not hang";
    const Outcome outcome =
        Probe("127.0.0.1:" + std::to_string(backlog.Port()), 400ms, 5s, kBefore);
    EXPECT_FALSE(outcome.exchanged);
    EXPECT_EQ(outcome.statusText, kBefore);
    EXPECT_GE(outcome.took, 400ms);
    EXPECT_LT(outcome.took, 15s);  // the default limit would have been 20 s
}

TEST(ProbeConcurrencyTest, AddressChangesDuringProbesAreNeverTorn) {
    LoopbackServer first(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    LoopbackServer second(ServerScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n"));
    const std::string firstUrl = "http://" + first.HostAndPort() + "/first/page";
    const std::string secondUrl = "http://" + second.HostAndPort() + "/second";
    CSiteProbe probe(firstUrl);

    constexpr int kWorkers = 4;
    constexpr int kProbesEach = 25;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < kProbesEach; ++i) {
                std::string statusText;
                if (!probe.GetStatusCode(statusText) ||
                    (statusText != "200" && statusText != "404")) {
                    ++failures;
                }
            }
        });
    }
    std::thread writer([&] {
        for (int i = 0; !done; ++i) {
            probe.SetUrl(i % 2 == 0 ? secondUrl : firstUrl);
            std::this_thread::yield();
        }
    });
    for (auto& worker : workers) {
        worker.join();
    }
    done = true;
    writer.join();

    EXPECT_EQ(failures.load(), 0);
    const auto toFirst = first.Requests();
    const auto toSecond = second.Requests();
    EXPECT_EQ(toFirst.size() + toSecond.size(), std::size_t{kWorkers * kProbesEach});
    for (const auto& request : toFirst) {
        EXPECT_EQ(request, "GET /first/page HTTP/1.0\r\n\r\n");
    }
    for (const auto& request : toSecond) {
        EXPECT_EQ(request, "GET /second HTTP/1.0\r\n\r\n");
    }
}

}  // namespace
}  // namespace orvalin
