// Host text and port to an IPv4 endpoint; shared by the web probe and the
// SMTP client.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace orvalin {

// A host whose leading decimal number (read like atoi) is not zero is taken
// as a dotted IPv4 address through inet_addr, whose answer is used as it is
// (an invalid text gives 255.255.255.255). Any other host is looked up by
// name, IPv4 only, and the first address is used. False when the lookup fails.
bool ResolveEndpoint(const std::string& host, std::uint16_t port, sockaddr_in& endpoint);

// atoi without its undefined behaviour on overflow: leading blanks, an
// optional sign, then digits; no digits give 0; saturates at the int range.
int LeadingInt(const std::string& text);

}  // namespace orvalin
