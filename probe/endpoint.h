// Host text and port to an IPv4 endpoint; shared by the web probe and the
// SMTP client.
#pragma once

#include <netinet/in.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orvalin {

// Name lookups have no time limit of their own (the resolver's retries can
// take far longer than a check may): a lookup by name runs on a thread of
// its own and is given up after limit. A lookup given up finishes on its
// thread and frees its answer there. Numeric addresses need no lookup.

// A host whose leading decimal number (read like atoi) is not zero is taken
// as a dotted IPv4 address through inet_addr, whose answer is used as it is
// (an invalid text gives 255.255.255.255). Any other host is looked up by
// name, IPv4 only, and the first address is used. False when the lookup
// fails or takes longer than limit.
bool ResolveEndpoint(const std::string& host, std::uint16_t port, sockaddr_in& endpoint,
                     std::chrono::milliseconds limit);

// One address to connect to, of either family.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int Family() const { return storage.ss_family; }
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Every address of host (a name, a dotted IPv4 or a bare IPv6 address), IPv6
// and IPv4, in the resolver's order of preference, with the port set. Empty
// when the lookup fails or takes longer than limit.
std::vector<SocketAddress> ResolveAllAddresses(const std::string& host, std::uint16_t port,
                                               std::chrono::milliseconds limit);

// atoi without its undefined behaviour on overflow: leading blanks, an
// optional sign, then digits; no digits give 0; saturates at the int range.
int LeadingInt(const std::string& text);

}  // namespace orvalin
