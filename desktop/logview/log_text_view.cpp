// The view's text, the lines it reads from it, and scrolling.
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_text_view_parts.h"

namespace orvalin {

LogTextView::LogTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
        // Scrolling away from the newest lines ends following them.
        QScrollBar* bar = verticalScrollBar();
        followEnd_ = followEnd_ && bar->sliderPosition() >= bar->maximum();
    });
    findPoll_ = new QTimer(this);
    findPoll_->setInterval(20);
    connect(findPoll_, &QTimer::timeout, this, &LogTextView::TakeFindResult);
    UpdateMetrics();
}

void LogTextView::SetText(std::shared_ptr<const LogText> text) {
    CancelFind();
    text_ = std::move(text);
    toldChange_ = LogChange::None;
    lines_.clear();
    lineCount_ = 0;
    longestLine_ = 0;
    anchor_ = caret_ = {};
    preferredColumn_ = 0;
    selecting_ = false;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    TakeNewLines();
    viewport()->update();
}

void LogTextView::TakeNewLines() {
    const qint64 count = text_ ? static_cast<qint64>(text_->LineCount()) : 0;
    const std::uint64_t longest = text_ ? text_->LongestLine() : 0;
    if (count == lineCount_ && longest == longestLine_) {
        return;
    }
    const qint64 first = FirstVisibleLine();
    const bool newLinesOnScreen = count > lineCount_ && lineCount_ < first + RowsOnScreen();
    lineCount_ = count;
    longestLine_ = longest;
    UpdateScrollBars();
    if (followEnd_) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    if (newLinesOnScreen) {
        viewport()->update();
    }
}

qint64 LogTextView::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}

int LogTextView::RowsOnScreen() const {
    return (viewport()->height() + rowHeight_ - 1) / rowHeight_;
}

int LogTextView::FullRows() const {
    return std::max(1, viewport()->height() / rowHeight_);
}

void LogTextView::LoadLines(qint64 first, qint64 end) const {
    first = std::max<qint64>(first, 0);
    end = std::min(end, lineCount_);
    if (!text_ || first >= end) {
        return;
    }
    bool missing = false;
    for (qint64 line = first; line < end && !missing; ++line) {
        missing = !lines_.contains(line);
    }
    if (!missing) {
        return;
    }
    // Only a few screens of lines are kept: a long line's window is large.
    const auto keep = static_cast<std::size_t>(std::max(3 * RowsOnScreen(), 64));
    if (lines_.size() + static_cast<std::size_t>(end - first) > keep) {
        lines_.clear();
    }
    text_->ForEachLine(static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(end), false,
                       [this](std::uint64_t line, const LogText::Line& read) {
                           const auto at = static_cast<qint64>(line);
                           if (!lines_.contains(at)) {
                               lines_[at] = ShownText{ShownLine(read.bytes), LookOf(read.bytes),
                                                      read.length, read.Cut()};
                           }
                           return true;
                       });
}

void LogTextView::ForEachShown(qint64 first, qint64 end,
                               const std::function<void(qint64, const QString&)>& visit) const {
    first = std::max<qint64>(first, 0);
    end = std::min(end, lineCount_);
    if (!text_ || first >= end) {
        return;
    }
    text_->ForEachLine(static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(end), false,
                       [&visit](std::uint64_t line, const LogText::Line& read) {
                           visit(static_cast<qint64>(line), ShownLine(read.bytes));
                           return true;
                       });
}

void LogTextView::TellChange() {
    const LogChange change = text_ ? text_->Change() : LogChange::None;
    if (change != toldChange_) {
        toldChange_ = change;
        emit logChanged(change);
    }
}

const LogTextView::ShownText& LogTextView::Line(qint64 line) const {
    static const ShownText kNone;
    LoadLines(line, line + 1);
    const auto found = lines_.find(line);
    return found == lines_.end() ? kNone : found->second;
}

QString LogTextView::LineText(qint64 line) const {
    return Line(line).shown;
}

bool LogTextView::LineIsCut(qint64 line) const {
    return Line(line).cut;
}

qsizetype LogTextView::LineLength(qint64 line) const {
    return Line(line).shown.size();
}

QRect LogTextView::CellRect(TextPosition position) const {
    const qreal x =
        gutterWidth_ +
        static_cast<qreal>(position.column - horizontalScrollBar()->value()) * cellWidth_;
    const qint64 row = position.line - FirstVisibleLine();
    return QRectF(x, static_cast<qreal>(row * rowHeight_), cellWidth_, rowHeight_).toRect();
}

void LogTextView::UpdateMetrics() {
    const QFontMetricsF metrics(font());
    cellWidth_ = std::max<qreal>(1.0, metrics.horizontalAdvance(QLatin1Char('M')));
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(metrics.ascent()));
    gutterWidth_ = static_cast<int>(std::ceil(cellWidth_ * 1.5));
    UpdateScrollBars();
    viewport()->update();
}

void LogTextView::UpdateScrollBars() {
    const int fullRows = FullRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, view_parts::ClampToInt(lineCount_ - fullRows));
    vertical->setPageStep(fullRows);
    vertical->setSingleStep(1);

    // A line is shown up to its window, then the marker that says it goes on.
    const std::uint64_t window = text_ ? text_->Budget().lineBytes : LogBudget().lineBytes;
    qint64 widest = static_cast<qint64>(std::min(longestLine_, window));
    if (longestLine_ > window) {
        widest += view_parts::kCutMarkerCells;
    }
    const int columns =
        std::max(1, static_cast<int>((viewport()->width() - gutterWidth_) / cellWidth_));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, view_parts::ClampToInt(widest + 1 - columns));
    horizontal->setPageStep(columns);
    horizontal->setSingleStep(2);
}

void LogTextView::EnsureVisible(TextPosition position) {
    QScrollBar* vertical = verticalScrollBar();
    const int fullRows = FullRows();
    if (position.line < vertical->value()) {
        vertical->setValue(view_parts::ClampToInt(position.line));
    } else if (position.line >= vertical->value() + fullRows) {
        vertical->setValue(view_parts::ClampToInt(position.line - fullRows + 1));
    }
    QScrollBar* horizontal = horizontalScrollBar();
    const int columns = horizontal->pageStep();
    if (position.column < horizontal->value()) {
        horizontal->setValue(view_parts::ClampToInt(position.column));
    } else if (position.column >= horizontal->value() + columns) {
        horizontal->setValue(view_parts::ClampToInt(position.column - columns + 1));
    }
}

void LogTextView::JumpToEnd() {
    if (lineCount_ > 0) {
        MoveCaret({lineCount_ - 1, LineLength(lineCount_ - 1)}, false);
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    horizontalScrollBar()->setValue(0);
    followEnd_ = true;
}

void LogTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    if (followEnd_) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
}

void LogTextView::scrollContentsBy(int, int) {
    viewport()->update();
}

void LogTextView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange) {
        UpdateMetrics();
    }
}

void LogTextView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogTextView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

}  // namespace orvalin
