// Settings writes that could not be made before a program ended, kept in a
// small private file until the next start of a program on the same store:
// $XDG_STATE_HOME/orvalin/settings.spool (0600, flocked while it is read or
// added to). Each line is one value: the store's path, section, key, type
// (i or s) and value, separated by TABs, with a backslash, TAB, line feed
// and carriage return inside a field written as \\, \t, \n and \r. Lines of
// one store are one batch, oldest first, and may follow lines of others.
#pragma once

#include <filesystem>
#include <vector>

#include "settings/settings_values.h"

namespace orvalin::store_db {

std::filesystem::path DefaultWriteSpool();

// Adds the values kept for the store at storePath. False when they could not
// be kept.
bool SpoolWrites(const std::filesystem::path& spool, const std::filesystem::path& storePath,
                 const std::vector<StoredValue>& values);
// Takes the values kept for the store at storePath out of the spool, oldest
// first; the lines of other stores stay. A spool that cannot be read or
// rewritten gives nothing and keeps its lines.
std::vector<StoredValue> TakeSpooledWrites(const std::filesystem::path& spool,
                                           const std::filesystem::path& storePath);

}  // namespace orvalin::store_db
