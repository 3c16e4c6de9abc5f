// Find: highlighting a word on screen and going to its next match.
#include <QScrollBar>

#include "desktop/logview/log_search.h"
#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_text_view_parts.h"

namespace orvalin {

void LogTextView::SetHighlight(const QString& term) {
    if (term != highlight_) {
        highlight_ = term;
        viewport()->update();
    }
}

std::optional<FoundText> LogTextView::Find(const QString& term, bool backward) {
    SetHighlight(term);
    if (!text_) {
        return std::nullopt;
    }
    const TextPosition from = backward ? std::min(anchor_, caret_) : std::max(anchor_, caret_);
    std::optional<FoundText> found;
    Guarded([&] { found = FindText(*text_, term, from, backward); });
    if (found && found->start.line >= lineCount_) {
        // Indexed after the view last looked: take those lines first.
        TakeNewLines();
    }
    if (found) {
        followEnd_ = false;
        const TextPosition end{found->start.line, found->start.column + found->length};
        // A match off screen comes to the middle, with the lines around it.
        QScrollBar* vertical = verticalScrollBar();
        const int fullRows = FullRows();
        if (found->start.line < vertical->value() ||
            found->start.line >= vertical->value() + fullRows) {
            vertical->setValue(view_parts::ClampToInt(found->start.line - fullRows / 2));
        }
        EnsureVisible(end);
        EnsureVisible(found->start);
        anchor_ = found->start;
        caret_ = end;
        preferredColumn_ = caret_.column;
        viewport()->update();
    }
    return found;
}

}  // namespace orvalin
