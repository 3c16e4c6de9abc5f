// The user's base folders, after the XDG base directory rules.
#pragma once

#include <filesystem>

namespace orvalin {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
std::filesystem::path XdgConfigHome();
// $XDG_STATE_HOME, or ~/.local/state when it is unset or not absolute.
std::filesystem::path XdgStateHome();
// $XDG_RUNTIME_DIR, or the temporary folder when it is unset.
std::filesystem::path XdgRuntimeDir();
// The folder of the running executable; empty when it cannot be found.
std::filesystem::path ProgramFolder();

// Creates dir and its missing parents, each new one with the given mode.
// True when dir exists afterwards.
bool MakeFolders(const std::filesystem::path& dir, unsigned mode);

}  // namespace orvalin
