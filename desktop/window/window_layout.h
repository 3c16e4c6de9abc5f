// The rules that size and place the main window, apart from the widgets.
#pragma once

#include <array>

namespace orvalin::desktop {

inline constexpr int kPanelCount = 4;

// How many panels the window shows: all four, or in compact mode those up to
// the highest slot in use, at least one.
int PanelsShown(bool compact, const std::array<bool, kPanelCount>& inUse);

// The left edge of a window that becomes newWidth wide: it keeps its left
// edge unless its right edge would pass the desktop's right edge; then it
// keeps its right edge and grows leftwards. Edges are exclusive on the right.
int LeftAfterResize(int left, int right, int newWidth, int desktopRight);

// A saved position is used only when both coordinates lie in 1 to 1999.
bool IsRestorablePosition(int x, int y);

}  // namespace orvalin::desktop
