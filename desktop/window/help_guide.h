// Where the HTML user guide is: beside the program in the build tree
// (<program folder>/orvalin-guide), or where `cmake --install` puts it
// (<prefix>/share/doc/orvalin/guide, the program being in <prefix>/bin).
#pragma once

#include <filesystem>

namespace orvalin::desktop {

inline constexpr char kGuideMainWindowPage[] = "main-window.html";
inline constexpr char kGuideIndexPage[] = "index.html";

// The guide's page for the main window, or its index when that page is
// missing; empty when no guide is found.
std::filesystem::path GuidePage(const std::filesystem::path& programFolder);

}  // namespace orvalin::desktop
