#include "platform/printable_text.h"

namespace orvalin {
namespace {

bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

}  // namespace

std::string EscapeControlBytes(std::string_view text, std::string_view keep) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsControlByte(byte) || keep.find(c) != std::string_view::npos) {
            shown += c;
            continue;
        }
        shown += "\\x";
        shown += kHexDigits[byte >> 4];
        shown += kHexDigits[byte & 0x0F];
    }
    return shown;
}

}  // namespace orvalin
