// The caret and the selection: keys, the mouse, Select All and Copy.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <cmath>

#include "desktop/boxes/message_boxes.h"
#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_text_view_parts.h"
#include "resources/logview_texts.h"

namespace orvalin {

using view_parts::ClampToInt;

TextPosition LogTextView::Clamped(TextPosition position) const {
    if (lineCount_ == 0) {
        return {};
    }
    position.line = std::clamp<qint64>(position.line, 0, lineCount_ - 1);
    position.column = std::clamp<qsizetype>(position.column, 0, LineLength(position.line));
    return position;
}

TextPosition LogTextView::PositionAt(QPoint point) const {
    if (lineCount_ == 0) {
        return {};
    }
    const qint64 row = point.y() < 0 ? -1 : point.y() / rowHeight_;
    const qint64 line = FirstVisibleLine() + row;
    if (line >= lineCount_) {
        return {lineCount_ - 1, LineLength(lineCount_ - 1)};
    }
    const qreal cells = (point.x() - gutterWidth_) / cellWidth_;
    const qsizetype column =
        horizontalScrollBar()->value() + static_cast<qsizetype>(std::lround(std::max(0.0, cells)));
    return Clamped({std::max<qint64>(line, 0), column});
}

void LogTextView::MoveCaret(TextPosition position, bool extendSelection) {
    caret_ = Clamped(position);
    if (!extendSelection) {
        anchor_ = caret_;
    }
    EnsureVisible(caret_);
    viewport()->update();
}

void LogTextView::SelectAll() {
    if (lineCount_ == 0) {
        return;
    }
    anchor_ = {};
    caret_ = {lineCount_ - 1, LineLength(lineCount_ - 1)};
    viewport()->update();
}

QString LogTextView::SelectedText() const {
    if (!HasSelection()) {
        return {};
    }
    const TextPosition from = std::min(anchor_, caret_);
    const TextPosition to = std::max(anchor_, caret_);
    QString selected;
    ForEachShown(from.line, to.line + 1, [&](qint64 line, const QString& shown) {
        const qsizetype start = line == from.line ? from.column : 0;
        const qsizetype end = line == to.line ? to.column : shown.size();
        selected += shown.mid(start, std::max<qsizetype>(0, end - start));
        if (line != to.line) {
            selected += u'\n';
        }
    });
    return selected;
}

bool LogTextView::CopySelection() {
    if (!HasSelection()) {
        return true;
    }
    bool copied = false;
    Guarded([&] {
        QApplication::clipboard()->setText(SelectedText());
        copied = true;
    });
    TellChange();
    return copied;
}

bool LogTextView::HandleMove(QKeyEvent* event) {
    struct Move {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        int what;
    };
    enum {
        kNextChar,
        kPrevChar,
        kNextLine,
        kPrevLine,
        kNextPage,
        kPrevPage,
        kLineStart,
        kLineEnd,
        kDocStart,
        kDocEnd
    };
    static constexpr Move kMoves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, kNextChar},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, kPrevChar},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, kNextLine},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, kPrevLine},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, kNextPage},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, kPrevPage},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, kLineStart},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, kLineEnd},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, kDocStart},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, kDocEnd},
    };
    for (const Move& m : kMoves) {
        const bool extend = event->matches(m.select);
        if (!extend && !event->matches(m.move)) {
            continue;
        }
        if (lineCount_ == 0) {
            return true;
        }
        if (m.what == kDocEnd && !extend) {
            JumpToEnd();
            return true;
        }
        const int page = std::max(1, FullRows() - 1);
        TextPosition to = caret_;
        bool keepColumn = false;
        switch (m.what) {
            case kNextChar:
                if (to.column < LineLength(to.line)) {
                    ++to.column;
                } else if (to.line + 1 < lineCount_) {
                    to = {to.line + 1, 0};
                }
                break;
            case kPrevChar:
                if (to.column > 0) {
                    --to.column;
                } else if (to.line > 0) {
                    to = {to.line - 1, LineLength(to.line - 1)};
                }
                break;
            case kNextLine:
            case kPrevLine:
            case kNextPage:
            case kPrevPage: {
                const qint64 step = m.what == kNextLine   ? 1
                                    : m.what == kPrevLine ? -1
                                    : m.what == kNextPage ? page
                                                          : -page;
                to = {to.line + step, preferredColumn_};
                keepColumn = true;
                if (m.what == kNextPage || m.what == kPrevPage) {
                    verticalScrollBar()->setValue(ClampToInt(verticalScrollBar()->value() + step));
                }
                break;
            }
            case kLineStart:
                to.column = 0;
                break;
            case kLineEnd:
                to.column = LineLength(to.line);
                break;
            case kDocStart:
                to = {};
                break;
            case kDocEnd:
                to = {lineCount_ - 1, LineLength(lineCount_ - 1)};
                break;
            default:
                break;
        }
        followEnd_ = false;
        MoveCaret(to, extend);
        if (!keepColumn) {
            preferredColumn_ = caret_.column;
        }
        return true;
    }
    return false;
}

void LogTextView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        return;
    }
    bool handled = true;
    Guarded([&] {
        if (event->matches(QKeySequence::SelectAll)) {
            SelectAll();
        } else {
            handled = HandleMove(event);
        }
    });
    if (!handled) {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void LogTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    Guarded([&] {
        const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
        caret_ = PositionAt(event->position().toPoint());
        if (!extend) {
            anchor_ = caret_;
        }
        preferredColumn_ = caret_.column;
        selecting_ = true;
    });
    viewport()->update();
}

void LogTextView::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_ || !event->buttons().testFlag(Qt::LeftButton)) {
        return;
    }
    QPoint point = event->position().toPoint();
    // Dragging past an edge scrolls that way, faster the farther out.
    QScrollBar* vertical = verticalScrollBar();
    if (point.y() < 0) {
        vertical->setValue(vertical->value() - 1 - (-point.y()) / rowHeight_);
        point.setY(0);
    } else if (point.y() >= viewport()->height()) {
        vertical->setValue(vertical->value() + 1 + (point.y() - viewport()->height()) / rowHeight_);
        point.setY(viewport()->height() - 1);
    }
    QScrollBar* horizontal = horizontalScrollBar();
    if (point.x() < gutterWidth_ && horizontal->value() > 0) {
        horizontal->setValue(horizontal->value() - 2);
    } else if (point.x() >= viewport()->width()) {
        horizontal->setValue(horizontal->value() + 2);
    }
    Guarded([&] {
        caret_ = PositionAt(point);
        preferredColumn_ = caret_.column;
    });
    viewport()->update();
}

void LogTextView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        selecting_ = false;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void LogTextView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || lineCount_ == 0) {
        return;
    }
    Guarded([&] {
        const TextPosition at = PositionAt(event->position().toPoint());
        const QString& shown = Line(at.line).shown;
        qsizetype start = at.column;
        qsizetype stop = at.column;
        while (start > 0 && view_parts::IsWordCharacter(shown.at(start - 1))) {
            --start;
        }
        while (stop < shown.size() && view_parts::IsWordCharacter(shown.at(stop))) {
            ++stop;
        }
        anchor_ = {at.line, start};
        caret_ = {at.line, stop};
        preferredColumn_ = stop;
        selecting_ = false;
    });
    viewport()->update();
}

void LogTextView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(Qs(text::kViewerCopy), this, &LogTextView::CopySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(HasSelection());
    QAction* all = menu.addAction(Qs(text::kViewerSelectAll), this, &LogTextView::SelectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(lineCount_ > 0);
    menu.exec(event->globalPos());
}

}  // namespace orvalin
