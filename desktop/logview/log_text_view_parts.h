// What the files of LogTextView share: colours, the marker after a cut
// line, and small arithmetic.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "desktop/logview/log_lines.h"

namespace orvalin::view_parts {

// Cells kept free after the longest window for the marker.
inline constexpr int kCutMarkerCells = 48;

// The text drawn after the window of a line longer than it: it says how long
// the whole line is. Not part of the line: never selected, copied or found.
QString CutMarker(std::uint64_t lineLength);

QColor ToneColour(LineTone tone, const QPalette& palette);
QColor MissedMarkColour(const QPalette& palette);
QColor MissedRowColour(const QPalette& palette);
QColor MatchColour(const QPalette& palette);

inline int ClampToInt(qint64 value) {
    return static_cast<int>(std::clamp<qint64>(value, 0, INT_MAX));
}

inline bool IsWordCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

}  // namespace orvalin::view_parts
