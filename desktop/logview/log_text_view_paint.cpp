// Painting: the lines on screen in their colours, the selection, the
// matches, the caret and the marker after a cut line.
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <optional>

#include "desktop/boxes/message_boxes.h"
#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_text_view_parts.h"
#include "resources/logview_texts.h"

namespace orvalin {
namespace view_parts {
namespace {

bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

}  // namespace

QString CutMarker(std::uint64_t lineLength) {
    return Qs(text::kLineCutOpen) + QLocale().toString(static_cast<qulonglong>(lineLength)) +
           Qs(text::kLineCutClose);
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

}  // namespace view_parts

using namespace view_parts;

void LogTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    painter.setFont(font());
    const qint64 first = FirstVisibleLine();
    const qint64 end = std::min<qint64>(lineCount_, first + RowsOnScreen());
    int drawn = 0;
    Guarded([&] {
        LoadLines(first, end);
        for (qint64 line = first; line < end; ++line, ++drawn) {
            PaintLine(painter, line, Line(line), static_cast<qreal>(line - first) * rowHeight_);
        }
    });
    TellChange();
    emit painted(drawn);
}

void LogTextView::PaintLine(QPainter& painter, qint64 line, const ShownText& text, qreal y) {
    const QString& shown = text.shown;
    const QPalette& colours = palette();
    const qsizetype firstColumn = horizontalScrollBar()->value();
    const qsizetype lastColumn =
        firstColumn + static_cast<qsizetype>((viewport()->width() - gutterWidth_) / cellWidth_) + 1;
    const qreal x0 = gutterWidth_ - static_cast<qreal>(firstColumn) * cellWidth_;
    const auto cellsRect = [&](qsizetype from, qsizetype to) {
        return QRectF(x0 + static_cast<qreal>(from) * cellWidth_, y,
                      static_cast<qreal>(to - from) * cellWidth_, rowHeight_);
    };

    if (text.look.missed) {
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
    painter.setPen(ToneColour(text.look.tone, colours));
    drawText();
    if (text.cut && shown.size() + 1 <= lastColumn) {
        PaintCutMarker(painter, text, x0, y);
    }
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

void LogTextView::PaintCutMarker(QPainter& painter, const ShownText& text, qreal x0, qreal y) {
    const QString marker = CutMarker(text.length);
    const QRectF box(x0 + static_cast<qreal>(text.shown.size() + 1) * cellWidth_, y,
                     static_cast<qreal>(marker.size()) * cellWidth_, rowHeight_);
    painter.save();
    painter.fillRect(box, palette().alternateBase());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(QPointF(box.left(), y + ascent_), marker);
    painter.restore();
}

}  // namespace orvalin
