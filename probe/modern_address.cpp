#include "probe/modern_address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#include "resources/strings.h"

namespace orvalin {
namespace {

// Removes the scheme; true for https.
bool TakeScheme(std::string_view& rest, bool& secure) {
    const auto separator = rest.find("://");
    if (separator == std::string_view::npos) {
        secure = false;
        return true;
    }
    std::string scheme(rest.substr(0, separator));
    for (char& c : scheme) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (scheme != "http" && scheme != "https") {
        return false;
    }
    secure = scheme == "https";
    rest.remove_prefix(separator + 3);
    return true;
}

bool ParsePort(std::string_view digits, std::uint16_t& port) {
    if (digits.empty()) {
        return true;  // "host:" keeps the scheme's port
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || value == 0 ||
        value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool IsIpv6(const std::string& host) {
    in6_addr address{};
    return inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

// Host and port from the authority ("host", "host:port", "[v6]:port", or a
// bare IPv6 address).
bool SplitAuthority(std::string_view authority, std::string& host, std::uint16_t& port) {
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && (!after.starts_with(':') || !ParsePort(after.substr(1), port))) {
            return false;
        }
        return IsIpv6(host);
    }
    if (authority.find(':') != authority.rfind(':') && IsIpv6(std::string(authority))) {
        host = authority;
        return true;
    }
    const auto colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos && !ParsePort(authority.substr(colon + 1), port)) {
        return false;
    }
    // Nothing that could end the Host line or split the request line.
    const bool printable = std::all_of(host.begin(), host.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte != 0x7F;
    });
    return !host.empty() && printable;
}

std::string EncodedPath(std::string_view path) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded = path.starts_with('/') ? "" : "/";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            encoded += '%';
            encoded += kHexDigits[byte >> 4];
            encoded += kHexDigits[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

}  // namespace

bool SplitModernAddress(const std::string& url, ProbeTarget& target) {
    std::string_view rest = url;
    bool secure = false;
    if (!TakeScheme(rest, secure)) {
        return false;
    }
    rest = rest.substr(0, rest.find('#'));
    const auto authorityEnd = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, authorityEnd);
    const std::string_view path =
        authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);

    const std::uint16_t defaultPort = secure ? kHttpsDefaultPort : kHttpDefaultPort;
    std::string host;
    std::uint16_t port = defaultPort;
    if (!SplitAuthority(authority, host, port)) {
        return false;
    }

    std::string hostHeader = IsIpv6(host) ? "[" + host + "]" : host;
    if (port != defaultPort) {
        hostHeader += ":" + std::to_string(port);
    }
    target.host = std::move(host);
    target.port = port;
    target.secure = secure;
    target.request = "GET " + EncodedPath(path) + " HTTP/1.1\r\n";
    target.request += "Host: " + hostHeader + "\r\n";
    target.request += "User-Agent: " + std::string(text::kAppTitle) + "/" +
                      std::string(text::kAppVersion) + "\r\n";
    target.request += "Accept: */*\r\n";
    target.request += "Connection: close\r\n\r\n";
    return true;
}

}  // namespace orvalin
