// Control bytes from a server made visible; everything else kept as it is.
#include <gtest/gtest.h>

#include <string>

#include "platform/printable_text.h"

namespace orvalin {
namespace {

using namespace std::string_literals;

TEST(EscapeControlBytes, ShowsEachControlByteAsAHexEscape) {
    EXPECT_EQ(EscapeControlBytes("200\rX"), "200\\x0DX");
    EXPECT_EQ(EscapeControlBytes("\x1b[31mred\a"), "\\x1B[31mred\\x07");
    EXPECT_EQ(EscapeControlBytes("a\0b\x1f\x7f"s), "a\\x00b\\x1F\\x7F");
    EXPECT_EQ(EscapeControlBytes("\t\n"), "\\x09\\x0A");
}

TEST(EscapeControlBytes, KeepsPrintableTextExactly) {
    EXPECT_EQ(EscapeControlBytes("200"), "200");
    EXPECT_EQ(EscapeControlBytes(""), "");
    // Backslashes, the blank, tilde and bytes from 0x80 on (UTF-8 here) stay.
    EXPECT_EQ(EscapeControlBytes("C:\\x1B ~ \xc3\xa9t\xc3\xa9 \x80\xff"),
              "C:\\x1B ~ \xc3\xa9t\xc3\xa9 \x80\xff");
}

TEST(EscapeControlBytes, LeavesTheListedControlBytesAlone) {
    EXPECT_EQ(EscapeControlBytes("one\ntwo\r\n\a", "\n"), "one\ntwo\\x0D\n\\x07");
    EXPECT_EQ(EscapeControlBytes("a\0b"s, "\0"s), "a\0b"s);
}

}  // namespace
}  // namespace orvalin
