// Text that came from outside (a server's answer) made safe to show in a log
// line, a mail body, a message box or a terminal.
#pragma once

#include <string>
#include <string_view>

namespace orvalin {

// Every control byte (0x00 to 0x1F and 0x7F) becomes a visible escape of
// four characters, "\x" and two upper-case hex digits ("\x1B" for ESC), so it
// can neither end a line, move a terminal's cursor nor ring its bell. All
// other bytes stay exactly as they are, backslashes and bytes from 0x80 on
// included. Control bytes listed in keep are left as they are too.
std::string EscapeControlBytes(std::string_view text, std::string_view keep = {});

}  // namespace orvalin
