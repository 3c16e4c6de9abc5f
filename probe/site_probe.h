// One monitored address and one HTTP exchange with it: the classic HTTP/1.0
// request without header lines, or, in modern mode, an HTTP/1.1 request over
// plain TCP or TLS.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace orvalin {

// Looking up the host, connecting and (for https://) the TLS handshake
// together get this long (then the exchange is false)...
inline constexpr std::chrono::milliseconds kProbeConnectLimit{20'000};
// ...gives the request this long to be taken (then false), and waits as long
// again for the answer (then true, empty status).
inline constexpr std::chrono::milliseconds kProbeAnswerLimit{60'000};
inline constexpr std::uint16_t kHttpDefaultPort = 80;
inline constexpr std::size_t kProbeReceiveBytes = 1348;

// The class of a site's last timed probe.
enum ProbeState : std::int32_t { kStateWell = 1, kStateSlow = 2, kStateUnreachable = 3 };

// How a probe talks to the site; the ProbeMode setting chooses.
enum class ProbeMode : std::int32_t {
    kClassic = 0,  // HTTP/1.0 without header lines, IPv4, never TLS
    kModern = 1,   // HTTP/1.1 with Host, https:// over TLS, IPv6 too
};
// The mode a stored ProbeMode value means: 1 modern, anything else classic.
ProbeMode ProbeModeFromSetting(std::int32_t value);

// How an address splits into what is sent where.
struct ProbeTarget {
    std::string host;
    std::uint16_t port = kHttpDefaultPort;
    std::string request;  // classic: "GET /" + path + " HTTP/1.0\r\n\r\n"
    bool secure = false;  // modern https://: TLS before the request
};

// Splits an address as typed. False when nothing is left of the host-and-port part.
bool SplitAddress(const std::string& url, ProbeTarget& target);
// The status code of an answer's first line, as the probe reads it from the
// bytes received (up to a zero byte, never the last byte received);
// control bytes in it are escaped (see EscapeControlBytes). Leaves statusText
// unchanged when the answer has no usable status line.
void ParseStatusLine(const std::string& answer, std::string& statusText);

class CSiteProbe {
  public:
    explicit CSiteProbe(std::string url, ProbeMode probeMode = ProbeMode::kClassic)
        : mode(probeMode), url_(std::move(url)) {}

    // The address, safe to read on one thread while another replaces it.
    std::string Url() const;
    void SetUrl(std::string url);

    // One exchange with the site at the address as it was at the start of the
    // call. True when the request was sent and the answer's start was read
    // (its first line, at most 1348 bytes, or what came before the limit);
    // statusText then holds the status code, or stays as passed (empty) when
    // nothing usable came back. False when the exchange did not take place;
    // statusText is then "Could not resolve url" for a failed name lookup,
    // "TLS: " and the cause for a failed TLS handshake (modern https://).
    bool GetStatusCode(std::string& statusText) const;
    // The same exchange with url, whatever address the probe holds: a check
    // that took the address at its start reports what it probed.
    bool Exchange(const std::string& url, std::string& statusText) const;

    // Read at the start of each exchange; may be changed between exchanges
    // from any thread.
    std::atomic<ProbeMode> mode;

    // Class of the last timed probe; 1 until the first one ends.
    std::atomic<std::int32_t> state{kStateWell};

    // Time limits; tests shorten them.
    std::chrono::milliseconds connectLimit = kProbeConnectLimit;
    std::chrono::milliseconds answerLimit = kProbeAnswerLimit;

  private:
    bool ClassicExchange(const std::string& url, std::string& statusText) const;
    bool ModernExchange(const std::string& url, std::string& statusText) const;

    mutable std::mutex urlMutex_;
    std::string url_;
};

}  // namespace orvalin
