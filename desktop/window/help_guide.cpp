#include "desktop/window/help_guide.h"

namespace orvalin::desktop {

std::filesystem::path GuidePage(const std::filesystem::path& programFolder) {
    if (programFolder.empty()) {
        return {};
    }
    const std::filesystem::path folders[] = {
        programFolder / "orvalin-guide",
        programFolder.parent_path() / "share" / "doc" / "orvalin" / "guide",
    };
    std::error_code error;
    for (const auto& folder : folders) {
        for (const char* page : {kGuideMainWindowPage, kGuideIndexPage}) {
            if (std::filesystem::is_regular_file(folder / page, error)) {
                return folder / page;
            }
        }
    }
    return {};
}

}  // namespace orvalin::desktop
