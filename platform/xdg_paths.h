// The user's base folders, after the XDG base directory rules.
#pragma once

#include <filesystem>
#include <string>

namespace orvalin {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
std::filesystem::path XdgConfigHome();
// $XDG_STATE_HOME, or ~/.local/state when it is unset or not absolute.
std::filesystem::path XdgStateHome();
// $XDG_RUNTIME_DIR, or the temporary folder (shared by every user) when it is
// unset; UserRuntimeFolder gives a folder of this user's own.
std::filesystem::path XdgRuntimeDir();
// This user's folder for a program's runtime files: $XDG_RUNTIME_DIR/name, or
// <temporary folder>/name-<uid> when XDG_RUNTIME_DIR is unset or not absolute,
// because the temporary folder is shared by every user.
std::filesystem::path UserRuntimeFolder(const std::string& name);
// The folder of the running executable; empty when it cannot be found.
std::filesystem::path ProgramFolder();

// Creates dir and its missing parents, each new one with the given mode.
// True when dir exists afterwards.
bool MakeFolders(const std::filesystem::path& dir, unsigned mode);

// Creates dir as MakeFolders does, new folders with mode 0700, and tells
// whether it is private to this user: a folder itself (not a link to one),
// owned by this user, with no access for group or others. Anything else might
// have been prepared by someone else and must not be used.
bool MakePrivateFolder(const std::filesystem::path& dir);

}  // namespace orvalin
