#include "probe/site_probe.h"

#include <algorithm>
#include <vector>

#include "platform/printable_text.h"
#include "probe/endpoint.h"
#include "probe/modern_address.h"
#include "probe/socket_io.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr std::string_view kPlainScheme = "http://";
constexpr std::string_view kSecureScheme = "https://";
constexpr std::string_view kRequestStart = "GET /";
constexpr std::string_view kRequestEnd = " HTTP/1.0\r\n\r\n";
constexpr std::string_view kWhiteSpace = " \t\r\n";

// Removes every occurrence of the marker in one pass from left to right, as
// a replace-all does: text that a removal joins up is left as it is.
void RemoveEvery(std::string& text, std::string_view marker) {
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
        text.erase(at, marker.size());
    }
}

// The part of the received bytes the status line is read from: up to the
// first zero byte, and never the last byte received.
std::string_view AnswerText(std::string_view received) {
    if (received.empty()) {
        return {};
    }
    const std::size_t zero = received.find('\0');
    return received.substr(0, std::min(zero, received.size() - 1));
}

// The start of the answer: read until the first line has ended, the buffer
// is full, a zero byte came (nothing after it can change the text) or the
// server closed, all within one limit.
std::string ReadAnswerStart(TcpConnection& connection, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string answer;
    while (answer.size() < kProbeReceiveBytes) {
        const std::string chunk =
            connection.Receive(kProbeReceiveBytes - answer.size(), TimeLeft(deadline));
        if (chunk.empty()) {
            break;
        }
        answer += chunk;
        if (chunk.find_first_of(std::string_view("\n\0", 2)) != std::string::npos) {
            break;
        }
    }
    return answer;
}

// Tries the addresses in order until one accepts, all before the deadline.
bool ConnectToAny(TcpConnection& connection, const std::vector<SocketAddress>& addresses,
                  std::chrono::steady_clock::time_point deadline) {
    for (const SocketAddress& address : addresses) {
        if (connection.Open(address.Family()) &&
            connection.Connect(address.Get(), address.length, TimeLeft(deadline))) {
            return true;
        }
        if (TimeLeft(deadline).count() == 0) {
            break;
        }
    }
    return false;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

}  // namespace

bool SplitAddress(const std::string& url, ProbeTarget& target) {
    std::string rest = url;
    RemoveEvery(rest, kPlainScheme);
    RemoveEvery(rest, kSecureScheme);

    std::string hostAndPort = rest;
    std::string path;
    const auto slash = rest.find('/');
    if (slash != std::string::npos && slash > 0) {
        hostAndPort = rest.substr(0, slash);
        path = rest.substr(slash + 1);
    }
    if (hostAndPort.empty()) {
        return false;
    }

    target.request.assign(kRequestStart);
    target.request += path;
    target.request += kRequestEnd;

    target.host = hostAndPort;
    target.port = kHttpDefaultPort;
    const auto colon = hostAndPort.find(':');
    if (colon != std::string::npos && colon > 0) {
        target.host = hostAndPort.substr(0, colon);
        // Only the low 16 bits of the number count, as with any port field.
        target.port = static_cast<std::uint16_t>(LeadingInt(hostAndPort.substr(colon + 1)));
    }
    return true;
}

void ParseStatusLine(const std::string& answer, std::string& statusText) {
    const std::string_view text = AnswerText(answer);
    const auto blank = text.find(' ');
    if (blank == std::string_view::npos || blank == 0) {
        return;
    }
    const auto codeStart = blank + 1;
    const auto end = std::min(text.find(' ', codeStart), text.find('\n', codeStart));
    if (end == std::string_view::npos) {
        statusText.clear();
        return;
    }
    // The code is the server's choice of bytes and goes on into logs, mails
    // and terminals: control bytes in it are shown, never passed on.
    statusText = EscapeControlBytes(Trimmed(text.substr(codeStart, end - codeStart)));
}

std::string CSiteProbe::Url() const {
    std::lock_guard lock(urlMutex_);
    return url_;
}

void CSiteProbe::SetUrl(std::string url) {
    std::lock_guard lock(urlMutex_);
    url_ = std::move(url);
}

ProbeMode ProbeModeFromSetting(std::int32_t value) {
    return value == static_cast<std::int32_t>(ProbeMode::kModern) ? ProbeMode::kModern
                                                                  : ProbeMode::kClassic;
}

bool CSiteProbe::GetStatusCode(std::string& statusText) const {
    return Exchange(Url(), statusText);
}

bool CSiteProbe::Exchange(const std::string& url, std::string& statusText) const {
    return mode.load() == ProbeMode::kModern ? ModernExchange(url, statusText)
                                             : ClassicExchange(url, statusText);
}

bool CSiteProbe::ClassicExchange(const std::string& url, std::string& statusText) const {
    ProbeTarget target;
    if (!SplitAddress(url, target)) {
        return false;
    }
    // The lookup and the connection share one limit.
    const auto connectDeadline = std::chrono::steady_clock::now() + connectLimit;
    sockaddr_in endpoint{};
    if (!ResolveEndpoint(target.host, target.port, endpoint, connectLimit)) {
        statusText.assign(text::kCouldNotResolveUrl);
        return false;
    }
    TcpConnection connection;
    if (!connection.Open() || !connection.Connect(endpoint, TimeLeft(connectDeadline)) ||
        !connection.Send(target.request, answerLimit)) {
        return false;
    }
    ParseStatusLine(ReadAnswerStart(connection, answerLimit), statusText);
    return true;
}

bool CSiteProbe::ModernExchange(const std::string& url, std::string& statusText) const {
    ProbeTarget target;
    if (!SplitModernAddress(url, target)) {
        return false;
    }
    // The lookup, the connection and the handshake share one limit.
    const auto connectDeadline = std::chrono::steady_clock::now() + connectLimit;
    const std::vector<SocketAddress> addresses =
        ResolveAllAddresses(target.host, target.port, connectLimit);
    if (addresses.empty()) {
        statusText.assign(text::kCouldNotResolveUrl);
        return false;
    }
    TcpConnection connection;
    if (!ConnectToAny(connection, addresses, connectDeadline)) {
        return false;
    }
    if (target.secure) {
        const TlsOutcome tls = connection.StartTls(target.host, true, TimeLeft(connectDeadline));
        if (!tls.Ok()) {
            statusText = std::string(text::kProbeTlsPrefix) + tls.reason;
            return false;
        }
    }
    if (!connection.Send(target.request, answerLimit)) {
        return false;
    }
    ParseStatusLine(ReadAnswerStart(connection, answerLimit), statusText);
    return true;
}

}  // namespace orvalin
