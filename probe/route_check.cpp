#include "probe/route_check.h"

#include <arpa/inet.h>
#include <net/route.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "probe/modern_address.h"
#include "probe/site_probe.h"

namespace orvalin {
namespace {

constexpr std::uint32_t kLoopbackNet = 0x7f000000;  // 127.0.0.0/8
constexpr std::uint32_t kLoopbackMask = 0xff000000;

// The host an address names, without brackets; empty when it names none.
std::string HostOf(const std::string& url) {
    ProbeTarget target;
    if (SplitModernAddress(url, target) || SplitAddress(url, target)) {
        return target.host;
    }
    return {};
}

bool IsLocalName(const std::string& host) {
    std::string lower;
    for (const char c : host) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (!lower.empty() && lower.back() == '.') {
        lower.pop_back();
    }
    return lower == "localhost" ||
           (lower.size() > 10 && lower.ends_with(".localhost"));  // RFC 6761
}

// A line of /proc/net/route or /proc/net/ipv6_route that is an active
// default route (not a reject route).
bool AnyDefaultRoute(const char* file, bool ipv6) {
    std::ifstream table(file);
    std::string line;
    if (!ipv6) {
        std::getline(table, line);  // the header
    }
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refs, use, metric, mask;
        unsigned long flagBits = 0;
        if (ipv6) {
            // dest plen src splen nexthop metric refcnt use flags iface
            std::string plen, source, sourceLength, nextHop, refCount, useCount;
            fields >> destination >> plen >> source >> sourceLength >> nextHop >> metric >>
                refCount >> useCount >> flags >> iface;
            flagBits = std::strtoul(flags.c_str(), nullptr, 16);
            if (destination.find_first_not_of('0') == std::string::npos && plen == "00" &&
                (flagBits & RTF_UP) != 0 && (flagBits & RTF_REJECT) == 0 && iface != "lo") {
                return true;
            }
            continue;
        }
        fields >> iface >> destination >> gateway >> flags >> refs >> use >> metric >> mask;
        flagBits = std::strtoul(flags.c_str(), nullptr, 16);
        if (destination == "00000000" && mask == "00000000" && (flagBits & RTF_UP) != 0 &&
            (flagBits & RTF_REJECT) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsLoopbackAddress(const SocketAddress& address) {
    if (address.Family() == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address.storage);
        return (ntohl(v4.sin_addr.s_addr) & kLoopbackMask) == kLoopbackNet;
    }
    if (address.Family() == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address.storage).sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&v6)) {
            return true;
        }
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

bool HasRouteTo(const SocketAddress& address) {
    const int probe = ::socket(address.Family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return true;  // the kernel could not be asked: the failure counts as the site's
    }
    // A UDP connect only looks the route up and fixes the peer; nothing is sent.
    const bool routed = ::connect(probe, address.Get(), address.length) == 0;
    const int error = errno;
    ::close(probe);
    // Only "no route" is an answer about the network; any other refusal
    // (a firewall's EPERM, say) leaves the judgement to the check.
    return routed || (error != ENETUNREACH && error != EHOSTUNREACH && error != EADDRNOTAVAIL);
}

bool HasDefaultRoute() {
    // The calling thread's network namespace, which may differ from the
    // process's first thread's (/proc/net follows that one).
    return AnyDefaultRoute("/proc/thread-self/net/route", false) ||
           AnyDefaultRoute("/proc/thread-self/net/ipv6_route", true);
}

SiteReach ReachOfSite(const std::string& url, std::chrono::milliseconds lookupLimit) {
    const std::string host = HostOf(url);
    if (host.empty()) {
        return SiteReach::kRouted;  // nothing to ask about: the check judges it
    }
    if (IsLocalName(host)) {
        return SiteReach::kOnThisMachine;
    }
    // Any port will do: only the route is looked up.
    const std::vector<SocketAddress> addresses = ResolveAllAddresses(host, 80, lookupLimit);
    if (addresses.empty()) {
        // A name that cannot be looked up says nothing about the network
        // while there is a way out: then the site's name is at fault.
        return HasDefaultRoute() ? SiteReach::kRouted : SiteReach::kNoNetwork;
    }
    for (const SocketAddress& address : addresses) {
        if (IsLoopbackAddress(address)) {
            return SiteReach::kOnThisMachine;
        }
    }
    for (const SocketAddress& address : addresses) {
        if (HasRouteTo(address)) {
            return SiteReach::kRouted;
        }
    }
    return SiteReach::kNoNetwork;
}

}  // namespace orvalin
