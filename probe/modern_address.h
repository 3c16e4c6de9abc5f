// How the modern probe reads an address: as a URL, with HTTPS, IPv6 literals
// and an HTTP/1.1 request that names the host.
#pragma once

#include <string>

#include "probe/site_probe.h"

namespace orvalin {

inline constexpr std::uint16_t kHttpsDefaultPort = 443;

// Splits an address as a URL: an optional scheme (http:// or https://, in
// any case; none means http), the host (a name, a dotted IPv4 address or an
// IPv6 address in brackets), an optional port (1 to 65535) and the path with
// its query; a fragment and user information are dropped. Blanks, control
// bytes and bytes from 0x80 on in the path are percent-encoded. The request
// is an HTTP/1.1 GET with Host, User-Agent, Accept and Connection: close.
// target.host is the host without brackets. False when the host is missing
// or the port is not a number in range.
bool SplitModernAddress(const std::string& url, ProbeTarget& target);

}  // namespace orvalin
