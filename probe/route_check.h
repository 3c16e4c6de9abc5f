// Whether this machine's own network can reach a site, asked of the kernel
// without sending a byte: a site that cannot be reached because the machine
// has no network is not the site's fault.
#pragma once

#include <chrono>
#include <string>

#include "probe/endpoint.h"

namespace orvalin {

enum class SiteReach {
    kOnThisMachine,  // 127.0.0.0/8, ::1 or "localhost": always checked
    kRouted,         // the kernel has a route to it (or cannot say otherwise)
    kNoNetwork,      // no route to any of its addresses, or no name service and no default route
};

// A name lookup for the route question gets this long.
inline constexpr std::chrono::milliseconds kRouteLookupLimit{5'000};

// The reach of the site an address (as typed, with or without a scheme) names.
SiteReach ReachOfSite(const std::string& url,
                      std::chrono::milliseconds lookupLimit = kRouteLookupLimit);

// True for 127.0.0.0/8 and ::1 (and ::ffff:127.x.y.z).
bool IsLoopbackAddress(const SocketAddress& address);
// True when the kernel finds a route to address: connect() on a UDP socket
// looks the route up and sends nothing.
bool HasRouteTo(const SocketAddress& address);
// True when the machine has a default route, IPv4 or IPv6.
bool HasDefaultRoute();

}  // namespace orvalin
