#include "platform/site_address.h"

#include <algorithm>
#include <cctype>

namespace orvalin {
namespace {

constexpr std::string_view kSchemeMark = "://";
constexpr std::string_view kPathStart = "/?#";

bool IsControlByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::string CleanAddress(std::string_view line) {
    std::string address;
    address.reserve(line.size());
    std::ranges::copy_if(line, std::back_inserter(address),
                         [](char c) { return !IsControlByte(c); });
    const auto first = address.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return address.substr(first, address.find_last_not_of(' ') - first + 1);
}

AddressFault FindAddressFault(std::string_view address) {
    if (address.empty()) {
        return AddressFault::kEmpty;
    }
    if (std::ranges::any_of(address, IsControlByte)) {
        return AddressFault::kControlByte;
    }
    if (address.find(' ') != std::string_view::npos) {
        return AddressFault::kBlankInside;
    }
    std::string_view rest = address;
    const auto mark = address.find(kSchemeMark);
    if (mark != std::string_view::npos &&
        address.substr(0, mark).find_first_of(kPathStart) == std::string_view::npos) {
        const std::string_view scheme = address.substr(0, mark);
        if (!EqualsIgnoringCase(scheme, "http") && !EqualsIgnoringCase(scheme, "https")) {
            return AddressFault::kUnknownScheme;
        }
        rest.remove_prefix(mark + kSchemeMark.size());
    }
    const std::string_view hostAndPort = rest.substr(0, rest.find_first_of(kPathStart));
    // ":8080" is a port alone; "::1" is an IPv6 address.
    if (hostAndPort.empty() ||
        (hostAndPort.front() == ':' && hostAndPort.find(':', 1) == std::string_view::npos)) {
        return AddressFault::kNoHost;
    }
    return AddressFault::kNone;
}

}  // namespace orvalin
