// The database file of the settings store as the file system sees it: what
// is at its path, how a new one is made private, and the two files SQLite
// keeps beside it in write-ahead-log mode.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <vector>

namespace orvalin::store_file {

// Which file a path named when it was looked at: a file deleted or replaced
// under an open connection shows up as a new identity.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

struct State {
    enum class Kind { kMissing, kFile, kProblem };
    Kind kind = Kind::kMissing;
    Identity identity;  // for kFile
    int error = 0;      // errno for kProblem; 0 when something other than a file is there
};

// Follows symbolic links. Only a missing file (or folder above it) is kMissing.
State Inspect(const std::filesystem::path& dbFile);

// Makes an empty, private (0600) database file in private (0700) folders,
// unless something already exists at that path. True when a file is there
// afterwards.
bool CreatePrivateFile(const std::filesystem::path& dbFile);

// The write-ahead log and its index beside the database.
std::filesystem::path WalFile(const std::filesystem::path& dbFile);
std::filesystem::path ShmFile(const std::filesystem::path& dbFile);

// Takes group and other permissions off the log and index files when this
// user owns them. SQLite gives them the database's mode, and a database made
// by hand may be more open than ours.
void MakeSidecarsPrivate(const std::filesystem::path& dbFile);

// The files now at the log and index paths.
std::vector<Identity> SidecarIdentities(const std::filesystem::path& dbFile);
// Deletes the log and index at their paths when they are among these files:
// the ones a database that was replaced left behind. SQLite would otherwise
// replay that log into the file now at the path.
void RemoveSidecarsOf(const std::filesystem::path& dbFile, const std::vector<Identity>& files);

}  // namespace orvalin::store_file
