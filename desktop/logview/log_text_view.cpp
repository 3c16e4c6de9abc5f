#include "desktop/logview/log_text_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "desktop/boxes/message_boxes.h"
#include "resources/logview_texts.h"

namespace orvalin {
namespace {

bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

QColor ToneColour(LineTone tone, const QPalette& palette) {
    const bool dark = IsDark(palette);
    switch (tone) {
        case LineTone::Failure:
            return dark ? QColor(255, 120, 110) : QColor(192, 0, 0);
        case LineTone::Warning:
            return dark ? QColor(255, 196, 0) : QColor(168, 100, 0);
        case LineTone::Plain:
            break;
    }
    return palette.color(QPalette::Text);
}

QColor MissedMarkColour(const QPalette& palette) {
    return IsDark(palette) ? QColor(110, 160, 255) : QColor(40, 100, 220);
}

QColor MissedRowColour(const QPalette& palette) {
    return IsDark(palette) ? QColor(28, 40, 72) : QColor(228, 236, 255);
}

QColor MatchColour(const QPalette& palette) {
    return IsDark(palette) ? QColor(120, 100, 0) : QColor(255, 226, 100);
}

bool IsWordCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

int ClampToInt(qint64 value) {
    return static_cast<int>(std::clamp<qint64>(value, 0, INT_MAX));
}

}  // namespace

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
    UpdateMetrics();
}

void LogTextView::SetText(std::shared_ptr<const LogText> text) {
    text_ = std::move(text);
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
    const std::size_t longest = text_ ? text_->LongestLine() : 0;
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
    const int fullRows = std::max(1, viewport()->height() / rowHeight_);
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, ClampToInt(lineCount_ - fullRows));
    vertical->setPageStep(fullRows);
    vertical->setSingleStep(1);

    const int columns =
        std::max(1, static_cast<int>((viewport()->width() - gutterWidth_) / cellWidth_));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, ClampToInt(static_cast<qint64>(longestLine_) + 1 - columns));
    horizontal->setPageStep(columns);
    horizontal->setSingleStep(2);
}

QString LogTextView::LineText(qint64 line) const {
    if (!text_ || line < 0 || line >= lineCount_) {
        return {};
    }
    return ShownLine(text_->CopyLine(static_cast<std::size_t>(line)));
}

QRect LogTextView::CellRect(TextPosition position) const {
    const qreal x =
        gutterWidth_ +
        static_cast<qreal>(position.column - horizontalScrollBar()->value()) * cellWidth_;
    const qint64 row = position.line - FirstVisibleLine();
    return QRectF(x, static_cast<qreal>(row * rowHeight_), cellWidth_, rowHeight_).toRect();
}

qsizetype LogTextView::LineLength(qint64 line) const {
    return LineText(line).size();
}

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

void LogTextView::EnsureVisible(TextPosition position) {
    QScrollBar* vertical = verticalScrollBar();
    const int fullRows = std::max(1, viewport()->height() / rowHeight_);
    if (position.line < vertical->value()) {
        vertical->setValue(ClampToInt(position.line));
    } else if (position.line >= vertical->value() + fullRows) {
        vertical->setValue(ClampToInt(position.line - fullRows + 1));
    }
    QScrollBar* horizontal = horizontalScrollBar();
    const int columns = horizontal->pageStep();
    if (position.column < horizontal->value()) {
        horizontal->setValue(ClampToInt(position.column));
    } else if (position.column >= horizontal->value() + columns) {
        horizontal->setValue(ClampToInt(position.column - columns + 1));
    }
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
    if (!text_ || !HasSelection()) {
        return {};
    }
    const TextPosition from = std::min(anchor_, caret_);
    const TextPosition to = std::max(anchor_, caret_);
    QString selected;
    std::string scratch;
    const LogText::Reader reader = text_->Read();
    for (qint64 line = from.line; line <= to.line; ++line) {
        const QString shown = ShownLine(reader.Line(static_cast<std::size_t>(line), scratch));
        const qsizetype start = line == from.line ? from.column : 0;
        const qsizetype end = line == to.line ? to.column : shown.size();
        selected += shown.mid(start, std::max<qsizetype>(0, end - start));
        if (line != to.line) {
            selected += u'\n';
        }
    }
    return selected;
}

void LogTextView::CopySelection() const {
    if (HasSelection()) {
        QApplication::clipboard()->setText(SelectedText());
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
    std::optional<FoundText> found = FindText(*text_, term, from, backward);
    if (found && found->start.line >= lineCount_) {
        // Indexed after the view last looked: take those lines first.
        TakeNewLines();
    }
    if (found) {
        followEnd_ = false;
        const TextPosition end{found->start.line, found->start.column + found->length};
        // A match off screen comes to the middle, with the lines around it.
        QScrollBar* vertical = verticalScrollBar();
        const int fullRows = std::max(1, viewport()->height() / rowHeight_);
        if (found->start.line < vertical->value() ||
            found->start.line >= vertical->value() + fullRows) {
            vertical->setValue(ClampToInt(found->start.line - fullRows / 2));
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

void LogTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    painter.setFont(font());

    // The lines on screen are copied out first, so the loader is not held up
    // by the painting.
    struct ScreenLine {
        QString shown;
        LineLook look;
    };
    std::vector<ScreenLine> lines;
    const qint64 first = FirstVisibleLine();
    const qint64 end = std::min<qint64>(lineCount_, first + RowsOnScreen());
    if (text_ && end > first) {
        lines.reserve(static_cast<std::size_t>(end - first));
        std::string scratch;
        const LogText::Reader reader = text_->Read();
        for (qint64 line = first; line < end; ++line) {
            const std::string_view bytes = reader.Line(static_cast<std::size_t>(line), scratch);
            lines.push_back({ShownLine(bytes), LookOf(bytes)});
        }
    }
    for (std::size_t row = 0; row < lines.size(); ++row) {
        PaintLine(painter, first + static_cast<qint64>(row), lines[row].shown, lines[row].look,
                  static_cast<qreal>(row) * rowHeight_);
    }
    emit painted(static_cast<int>(lines.size()));
}

void LogTextView::PaintLine(QPainter& painter, qint64 line, const QString& shown, LineLook look,
                            qreal y) {
    const QPalette& colours = palette();
    const qsizetype firstColumn = horizontalScrollBar()->value();
    const qsizetype lastColumn =
        firstColumn + static_cast<qsizetype>((viewport()->width() - gutterWidth_) / cellWidth_) + 1;
    const qreal x0 = gutterWidth_ - static_cast<qreal>(firstColumn) * cellWidth_;
    const auto cellsRect = [&](qsizetype from, qsizetype to) {
        return QRectF(x0 + static_cast<qreal>(from) * cellWidth_, y,
                      static_cast<qreal>(to - from) * cellWidth_, rowHeight_);
    };

    if (look.missed) {
        // A bar in the margin and a tinted row: written late, as a missed entry.
        painter.fillRect(QRectF(0, y, viewport()->width(), rowHeight_), MissedRowColour(colours));
        painter.fillRect(QRectF(2, y, gutterWidth_ - 5, rowHeight_), MissedMarkColour(colours));
    }
    painter.save();
    painter.setClipRect(QRectF(gutterWidth_, y, viewport()->width() - gutterWidth_, rowHeight_));

    if (!highlight_.isEmpty()) {
        const qsizetype length = highlight_.size();
        for (qsizetype at = shown.indexOf(highlight_, std::max<qsizetype>(0, firstColumn - length),
                                          Qt::CaseInsensitive);
             at >= 0 && at <= lastColumn;
             at = shown.indexOf(highlight_, at + length, Qt::CaseInsensitive)) {
            painter.fillRect(cellsRect(at, at + length), MatchColour(colours));
        }
    }

    const TextPosition from = std::min(anchor_, caret_);
    const TextPosition to = std::max(anchor_, caret_);
    std::optional<QRectF> selected;
    if (from != to && line >= from.line && line <= to.line) {
        const qsizetype start = line == from.line ? from.column : 0;
        // A selection that goes on to the next line takes this line's end too.
        const qsizetype stop = line == to.line ? to.column : shown.size() + 1;
        if (stop > start) {
            selected = cellsRect(start, stop);
            painter.fillRect(*selected, colours.highlight());
        }
    }

    // Runs of plain ASCII are drawn in one go; any other character is drawn
    // alone in its own cell, so a glyph of another width cannot push the
    // rest of the line off the grid.
    const auto drawText = [&] {
        const qsizetype stop = std::min(shown.size(), lastColumn);
        const qreal baseline = y + ascent_;
        qsizetype column = std::max<qsizetype>(0, firstColumn - 1);
        while (column < stop) {
            const char16_t u = shown.at(column).unicode();
            if (u >= 0x20 && u < 0x7F) {
                qsizetype runEnd = column + 1;
                while (runEnd < stop && shown.at(runEnd).unicode() >= 0x20 &&
                       shown.at(runEnd).unicode() < 0x7F) {
                    ++runEnd;
                }
                painter.drawText(QPointF(x0 + static_cast<qreal>(column) * cellWidth_, baseline),
                                 shown.mid(column, runEnd - column));
                column = runEnd;
                continue;
            }
            qsizetype width = 1;
            if (QChar::isHighSurrogate(u) && column + 1 < shown.size() &&
                shown.at(column + 1).isLowSurrogate()) {
                width = 2;
            }
            if (u != u'\t') {
                painter.drawText(QPointF(x0 + static_cast<qreal>(column) * cellWidth_, baseline),
                                 shown.mid(column, width));
            }
            column += width;
        }
    };
    painter.setPen(ToneColour(look.tone, colours));
    drawText();
    if (selected) {
        painter.setClipRect(*selected, Qt::IntersectClip);
        painter.setPen(colours.color(QPalette::HighlightedText));
        drawText();
    }
    painter.restore();

    if (hasFocus() && caret_.line == line) {
        const qreal x = x0 + static_cast<qreal>(caret_.column) * cellWidth_;
        if (x >= gutterWidth_) {
            painter.fillRect(QRectF(x, y, 1.5, rowHeight_), colours.text());
        }
    }
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
        const int page = std::max(1, viewport()->height() / rowHeight_ - 1);
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
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    if (HandleMove(event)) {
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LogTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    caret_ = PositionAt(event->position().toPoint());
    if (!extend) {
        anchor_ = caret_;
    }
    preferredColumn_ = caret_.column;
    selecting_ = true;
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
    caret_ = PositionAt(point);
    preferredColumn_ = caret_.column;
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
    const TextPosition at = PositionAt(event->position().toPoint());
    const QString shown = ShownLine(text_->CopyLine(static_cast<std::size_t>(at.line)));
    qsizetype start = at.column;
    qsizetype stop = at.column;
    while (start > 0 && IsWordCharacter(shown.at(start - 1))) {
        --start;
    }
    while (stop < shown.size() && IsWordCharacter(shown.at(stop))) {
        ++stop;
    }
    anchor_ = {at.line, start};
    caret_ = {at.line, stop};
    preferredColumn_ = stop;
    selecting_ = false;
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
