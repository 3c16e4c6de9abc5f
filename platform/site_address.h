// Web addresses as a user enters them: the address a typed or pasted line
// stands for, and what makes an address one no check can use. Shared by the
// window, the engine and orvalin-settings, so that they judge alike.
#pragma once

#include <string>
#include <string_view>

namespace orvalin {

enum class AddressFault {
    kNone,
    kEmpty,
    kControlByte,    // a line break, TAB, ESC or any other byte below 0x20, or DEL
    kBlankInside,    // a blank between the address's first and last character
    kUnknownScheme,  // "scheme://" with a scheme other than http or https
    kNoHost,         // nothing, or a port alone, before the path
};

// The line without its control bytes (0x00 to 0x1F and 0x7F) and without
// blanks at both ends: what a check uses, so that no pasted line break or
// escape sequence reaches a request line or a log line.
std::string CleanAddress(std::string_view line);

// Why address cannot be checked, or kNone. An address may begin with
// http:// or https:// (in any case) or name the host at once ("example.org",
// "example.org:8080/status"); a "://" after the first "/", "?" or "#" belongs
// to the path or query and is no scheme.
AddressFault FindAddressFault(std::string_view address);

}  // namespace orvalin
