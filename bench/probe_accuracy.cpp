// How closely a timed probe measures a server's response time, compared with
// curl's time to first byte against the same server.
//
// A loopback server answers "HTTP/1.0 200 OK" a set delay after it has the
// whole request. For each delay the probe is timed the way a site check times
// it (the monotonic clock before and after the exchange, recorded as whole
// milliseconds, at least 1) and curl is run with -w '%{time_starttransfer}',
// the two alternating.
//
// Usage: probe_accuracy [--quick] [--counts N0,N20,N200,N1000]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/site_stats.h"
#include "platform/clock.h"
#include "probe/site_probe.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDelaysMs[] = {0, 20, 200, 1000};
constexpr int kDelayCount = static_cast<int>(std::size(kDelaysMs));
constexpr int kDefaultCounts[kDelayCount] = {200, 200, 50, 15};
constexpr int kQuickCounts[kDelayCount] = {20, 20, 5, 3};
constexpr char kAnswer[] = "HTTP/1.0 200 OK\r\n\r\n";
constexpr auto kSpinPart = 300us;  // the end of a delay is spun, not slept

// Answers one connection at a time, the set delay after the request's blank line.
class DelayedServer {
  public:
    DelayedServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~DelayedServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }

    std::uint16_t Port() const { return port_; }
    void SetDelay(int ms) { delayMs_ = ms; }
    // How long the last answer really waited after its request, in ms.
    double LastDelay() const { return static_cast<double>(lastDelayUs_.load()) / 1000.0; }

  private:
    void Run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                Serve(client);
                ::close(client);
            }
        }
    }

    void Serve(int client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t received = ::recv(client, buffer, sizeof buffer, 0);
            if (received <= 0) {
                return;
            }
            request.append(buffer, static_cast<std::size_t>(received));
        }
        const auto complete = Clock::now();
        const auto deadline = complete + std::chrono::milliseconds(delayMs_.load());
        if (deadline - Clock::now() > kSpinPart) {
            std::this_thread::sleep_until(deadline - kSpinPart);
        }
        while (Clock::now() < deadline) {
        }
        // Stored before sending: the client may read it as soon as it has the answer.
        lastDelayUs_ =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - complete).count();
        ::send(client, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
        // The answer has no length, so curl reads until the end of the stream.
        ::shutdown(client, SHUT_WR);
        pollfd p{client, POLLIN, 0};
        ::poll(&p, 1, 2000);
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> delayMs_{0};
    std::atomic<long long> lastDelayUs_{0};
};

struct ProbeTiming {
    double recorded = 0;  // as a site check records it: whole ms, at least 1
    double reading = 0;   // the check's own clock reading, before rounding
};

// One probe timed exactly as a site check times it; nullopt when it failed.
std::optional<ProbeTiming> TimedProbe(const orvalin::CSiteProbe& probe) {
    orvalin::SystemClock clock;
    std::string statusText;
    const std::chrono::nanoseconds start = clock.Monotonic();
    if (!probe.GetStatusCode(statusText) || statusText != "200") {
        return std::nullopt;
    }
    const std::chrono::nanoseconds elapsed = clock.Monotonic() - start;
    return ProbeTiming{orvalin::AnswerMs(elapsed),
                       std::chrono::duration<double, std::milli>(elapsed).count()};
}

// curl's time to first byte in ms; nullopt when curl is missing or failed.
std::optional<double> CurlTime(const std::string& url) {
    const std::string command =
        "curl -s -o /dev/null -w '%{time_starttransfer}' '" + url + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    char output[64] = {};
    const std::size_t length = std::fread(output, 1, sizeof output - 1, pipe);
    const int status = ::pclose(pipe);
    if (status != 0 || length == 0) {
        return std::nullopt;
    }
    return std::strtod(output, nullptr) * 1000.0;
}

struct Figures {
    double medianAbs = 0;
    double p95Abs = 0;
    double meanSigned = 0;
};

// Nearest-rank percentile; share 0.5 is the median, 1.0 the maximum.
double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

Figures Summarise(const std::vector<double>& errors) {
    Figures figures;
    std::vector<double> absolute;
    for (const double error : errors) {
        absolute.push_back(std::fabs(error));
        figures.meanSigned += error;
    }
    figures.meanSigned /= static_cast<double>(errors.size());
    figures.medianAbs = Percentile(absolute, 0.5);
    figures.p95Abs = Percentile(absolute, 0.95);
    return figures;
}

void PrintRow(const char* who, int delay, int samples, const std::vector<double>& errors) {
    if (errors.empty()) {
        std::printf("%6d ms  %-6s  no successful samples\n", delay, who);
        return;
    }
    const Figures f = Summarise(errors);
    std::printf("%6d ms  %-6s  %4zu/%-4d  median |err| %7.3f  p95 |err| %7.3f  mean err %+8.3f\n",
                delay, who, errors.size(), samples, f.medianAbs, f.p95Abs, f.meanSigned);
}

bool ParseCounts(const char* text, int counts[kDelayCount]) {
    for (int i = 0; i < kDelayCount; ++i) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end == text || value < 1 || value > 100000) {
            return false;
        }
        counts[i] = static_cast<int>(value);
        text = end;
        if (i + 1 < kDelayCount && *text++ != ',') {
            return false;
        }
    }
    return *text == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    int counts[kDelayCount];
    std::copy(std::begin(kDefaultCounts), std::end(kDefaultCounts), counts);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            std::copy(std::begin(kQuickCounts), std::end(kQuickCounts), counts);
        } else if (std::strcmp(argv[i], "--counts") == 0 && i + 1 < argc &&
                   ParseCounts(argv[i + 1], counts)) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--counts N0,N20,N200,N1000]\n", argv[0]);
            return 2;
        }
    }

    DelayedServer server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
    const orvalin::CSiteProbe probe(url);

    std::printf("Timed probe against curl, server on %s\n", url.c_str());
    std::printf("err = measured - delay in ms; |err| is its absolute value.\n");
    std::printf("probe: the time a site check records (whole ms, at least 1)\n");
    std::printf("clock: the check's monotonic reading before rounding (ns resolution)\n");
    std::printf("curl:  curl's time_starttransfer (us resolution)\n\n");

    bool goalMet = true;
    bool curlSeen = false;
    for (int d = 0; d < kDelayCount; ++d) {
        const int delay = kDelaysMs[d];
        server.SetDelay(delay);
        std::vector<double> probeErrors;
        std::vector<double> readingErrors;
        std::vector<double> curlErrors;
        std::vector<double> serverLateness;
        for (int i = 0; i < counts[d]; ++i) {
            if (const auto timing = TimedProbe(probe)) {
                probeErrors.push_back(timing->recorded - delay);
                readingErrors.push_back(timing->reading - delay);
                serverLateness.push_back(server.LastDelay() - delay);
            }
            if (const auto ms = CurlTime(url)) {
                curlErrors.push_back(*ms - delay);
            }
        }
        PrintRow("probe", delay, counts[d], probeErrors);
        PrintRow("clock", delay, counts[d], readingErrors);
        PrintRow("curl", delay, counts[d], curlErrors);
        if (!serverLateness.empty()) {
            std::printf("%6d ms  server  answered late by median %.3f ms, max %.3f ms\n", delay,
                        Percentile(serverLateness, 0.5), Percentile(serverLateness, 1.0));
        }
        std::printf("\n");

        if (probeErrors.size() != static_cast<std::size_t>(counts[d])) {
            goalMet = false;  // every probe must succeed
            continue;
        }
        // The recorded time is whole milliseconds (an answer under one counts
        // as 1), so its error is compared with 1 ms; the clock behind it is
        // compared with curl's, which has microseconds.
        goalMet = goalMet && Summarise(probeErrors).medianAbs <= 1.0;
        if (!curlErrors.empty()) {
            curlSeen = true;
            goalMet =
                goalMet && Summarise(readingErrors).medianAbs <= Summarise(curlErrors).medianAbs;
        }
    }

    if (!curlSeen) {
        std::printf("curl gave no timings; the probe was compared with nothing.\n");
    }
    std::printf(
        "Goal (every delay: probe median |err| at most 1 ms, clock median |err| no larger than "
        "curl's): %s\n",
        goalMet ? "MET" : "NOT MET");
    return goalMet ? 0 : 1;
}
