#include "desktop/window/window_layout.h"

namespace orvalin::desktop {

int PanelsShown(bool compact, const std::array<bool, kPanelCount>& inUse) {
    if (!compact) {
        return kPanelCount;
    }
    for (int i = kPanelCount - 1; i > 0; --i) {
        if (inUse[static_cast<std::size_t>(i)]) {
            return i + 1;
        }
    }
    return 1;
}

int LeftAfterResize(int left, int right, int newWidth, int desktopRight) {
    if (left + newWidth > desktopRight) {
        return right - newWidth;
    }
    return left;
}

bool IsRestorablePosition(int x, int y) {
    return x >= 1 && x <= 1999 && y >= 1 && y <= 1999;
}

}  // namespace orvalin::desktop
