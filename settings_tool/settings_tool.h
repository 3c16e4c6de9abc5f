// orvalin-settings as a library: lists, reads and writes the values of the
// settings store from the command line, for people and scripts, and adds,
// removes and lists monitored sites.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "secrets/keyring.h"

namespace orvalin::tool {

inline constexpr int kExitOk = 0;
// No such value, or the store dropped the write.
inline constexpr int kExitFailed = 1;
// A wrong call, or a bad number, slot, address, interval or threshold.
inline constexpr int kExitUsage = 2;
// The store cannot be read (corrupt, not permitted, locked): nothing changed.
inline constexpr int kExitUnreadable = 3;

// Runs one command line (without the program's name) on the store at
// storeFile, with the mail password in keyring where it can take it,
// printing results to out and problems (and where the password is kept) to
// err; gives the exit status.
int RunSettingsTool(const std::vector<std::string_view>& args,
                    const std::filesystem::path& storeFile, IKeyring& keyring, std::ostream& out,
                    std::ostream& err);

// A field of the list and sites output, with backslash, TAB, line feed and
// carriage return written as \\, \t, \n and \r.
std::string EscapeField(std::string_view text);

}  // namespace orvalin::tool
