#include "desktop/controls/state_mark.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "desktop/qt_text.h"
#include "resources/desktop_texts.h"

namespace orvalin::desktop {
namespace {

std::string_view Word(StateMark::State state) {
    switch (state) {
        case StateMark::State::Well:
            return text::kStatusWell;
        case StateMark::State::Slow:
            return text::kStatusSlow;
        case StateMark::State::Failing:
            return text::kStatusFailing;
        case StateMark::State::None:
            break;
    }
    return {};
}

// The shape on a square of side 1.
QPainterPath MarkPath(StateMark::State state) {
    QPainterPath path;
    switch (state) {
        case StateMark::State::Well:
            path.moveTo(0.15, 0.55);
            path.lineTo(0.4, 0.8);
            path.lineTo(0.85, 0.22);
            break;
        case StateMark::State::Slow:
            path.moveTo(0.5, 0.12);
            path.lineTo(0.5, 0.58);
            path.moveTo(0.5, 0.86);
            path.lineTo(0.5, 0.87);
            break;
        case StateMark::State::Failing:
            path.moveTo(0.2, 0.2);
            path.lineTo(0.8, 0.8);
            path.moveTo(0.8, 0.2);
            path.lineTo(0.2, 0.8);
            break;
        case StateMark::State::None:
            break;
    }
    return path;
}

}  // namespace

StateMark::StateMark(QWidget* parent) : QLabel(parent) {
    const int side = fontMetrics().height();
    setFixedSize(side, side);
}

void StateMark::ShowState(State state) {
    state_ = state;
    const QString word = Q(Word(state));
    setToolTip(word);
    setAccessibleName(word);
    Draw();
}

void StateMark::Draw() {
    if (state_ == State::None) {
        clear();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const int side = fontMetrics().height();
    setFixedSize(side, side);
    QPixmap mark(QSize(side, side) * ratio);
    mark.setDevicePixelRatio(ratio);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side, side);
    QPen pen(palette().color(QPalette::WindowText), 0.17);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.drawPath(MarkPath(state_));
    painter.end();
    setPixmap(mark);
}

void StateMark::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    // Drawn again in the new text colour or at the new font's size.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        Draw();
    }
}

}  // namespace orvalin::desktop
