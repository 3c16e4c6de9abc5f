#include "probe/endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <climits>
#include <cstring>

namespace orvalin {

int LeadingInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}

bool ResolveEndpoint(const std::string& host, std::uint16_t port, sockaddr_in& endpoint) {
    std::memset(&endpoint, 0, sizeof endpoint);
    if (LeadingInt(host) != 0) {
        // Taken as a dotted address whatever follows; inet_addr's answer for
        // an invalid text (all ones) is used as it is.
        endpoint.sin_addr.s_addr = inet_addr(host.c_str());
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
            found == nullptr) {
            return false;
        }
        endpoint.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    return true;
}

}  // namespace orvalin
