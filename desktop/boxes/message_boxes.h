// The boxes the log viewer, its settings and Tell a friend show: the
// application's title, a warning icon and OK, or a Yes/No question of which
// only Yes is acted upon.
#pragma once

#include <QString>
#include <string_view>

class QWidget;

namespace orvalin {

void ShowWarningBox(QWidget* parent, const QString& text);
// True only for Yes; No is the default answer.
bool AskYesNo(QWidget* parent, const QString& text);

// A text of resources/ as a QString.
inline QString Qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace orvalin
