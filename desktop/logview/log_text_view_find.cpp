// Find: highlighting a word on screen and going to its next match, on a
// thread of its own once it takes longer than a moment.
#include <QScrollBar>

#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_text_view_parts.h"

namespace orvalin {

void LogTextView::SetHighlight(const QString& term) {
    if (term != highlight_) {
        highlight_ = term;
        viewport()->update();
    }
}

bool LogTextView::StartFind(const QString& term, bool backward) {
    CancelFind();
    SetHighlight(term);
    const TextPosition from = backward ? std::min(anchor_, caret_) : std::max(anchor_, caret_);
    findJob_ = FindJob::Start(text_, term, from, backward, findHook_);
    if (findJob_->WaitUntilEnded(kFindWait)) {
        TakeFindResult();
        return true;
    }
    findPoll_->start();
    return false;
}

std::optional<FoundText> LogTextView::Find(const QString& term, bool backward) {
    std::optional<FoundText> result;
    const QMetaObject::Connection taken =
        connect(this, &LogTextView::findEnded,
                [&result](std::optional<FoundText> found) { result = found; });
    if (!StartFind(term, backward)) {
        findJob_->WaitUntilEnded(std::chrono::hours(24));
        TakeFindResult();
    }
    disconnect(taken);
    return result;
}

double LogTextView::FindProgress() const {
    return findJob_ ? findJob_->Progress() : 0.0;
}

void LogTextView::CancelFind() {
    findPoll_->stop();
    if (findJob_) {
        findJob_->Cancel();
        findJob_.reset();
    }
}

void LogTextView::TakeFindResult() {
    if (!findJob_ || !findJob_->Ended()) {
        return;
    }
    findPoll_->stop();
    const std::optional<FoundText> found = findJob_->Result();
    findJob_.reset();
    if (found) {
        SelectFound(*found);
    }
    TellChange();
    emit findEnded(found);
}

void LogTextView::SelectFound(const FoundText& found) {
    if (found.start.line >= lineCount_) {
        // Indexed after the view last looked: take those lines first.
        TakeNewLines();
    }
    followEnd_ = false;
    const TextPosition end{found.start.line, found.start.column + found.length};
    // A match off screen comes to the middle, with the lines around it.
    QScrollBar* vertical = verticalScrollBar();
    const int fullRows = FullRows();
    if (found.start.line < vertical->value() || found.start.line >= vertical->value() + fullRows) {
        vertical->setValue(view_parts::ClampToInt(found.start.line - fullRows / 2));
    }
    EnsureVisible(end);
    EnsureVisible(found.start);
    anchor_ = found.start;
    caret_ = end;
    preferredColumn_ = caret_.column;
    viewport()->update();
}

}  // namespace orvalin
