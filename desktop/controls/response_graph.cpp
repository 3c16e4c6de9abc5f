#include "desktop/controls/response_graph.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace orvalin::desktop {
namespace {

constexpr int kFallbackCapacity = 1024;

int ScreenWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry().width() : 0;
}

}  // namespace

ResponseGraph::ResponseGraph(QWidget* parent, int capacity) : QWidget(parent) {
    if (capacity <= 0) {
        capacity = ScreenWidth();
    }
    if (capacity <= 0) {
        capacity = kFallbackCapacity;
    }
    values_.assign(static_cast<std::size_t>(capacity), 0.0);
    states_.assign(static_cast<std::size_t>(capacity), 0);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ResponseGraph::AddPoint(double value, int state) {
    pos_ = (pos_ + 1) % values_.size();
    values_[pos_] = value;
    states_[pos_] = state;
    update();
}

void ResponseGraph::ClearData() {
    std::fill(values_.begin(), values_.end(), 0.0);
    std::fill(states_.begin(), states_.end(), 0);
}

void ResponseGraph::SetScale(double scale) {
    scale_ = scale;
    update();
}

void ResponseGraph::SetLabel(int row, const QString& text) {
    if (row >= 0 && row < kMaxLabels) {
        labels_[static_cast<std::size_t>(row)] = text;
    }
}

QString ResponseGraph::Label(int row) const {
    return row >= 0 && row < kMaxLabels ? labels_[static_cast<std::size_t>(row)] : QString();
}

void ResponseGraph::SetLabelWidth(int pixels) {
    labelWidth_ = std::max(0, pixels);
    update();
}

void ResponseGraph::SetLabelCount(int count) {
    if (count < 0 || count > kMaxLabels) {
        return;
    }
    labelCount_ = count;
    update();
}

void ResponseGraph::SetDirection(bool newestLeft) {
    newestLeft_ = newestLeft;
    update();
}

void ResponseGraph::SetLabelSide(bool left) {
    labelsLeft_ = left;
    update();
}

QColor ResponseGraph::BarColour(int state, bool& drawn) {
    drawn = true;
    switch (state) {
        case 0:
            return QColor(0, 252, 0);
        case 1:
            return QColor(253, 255, 48);
        case 2:
            return QColor(252, 0, 0);
        default:
            drawn = false;
            return QColor();
    }
}

QSize ResponseGraph::sizeHint() const {
    return {360, 108};
}

QSize ResponseGraph::minimumSizeHint() const {
    return {labelWidth_ + 3 * kBarStep, 40};
}

void ResponseGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    painter.fillRect(client, Qt::black);

    const QRect labelColumn =
        labelsLeft_
            ? QRect(client.left(), client.top(), labelWidth_, client.height())
            : QRect(client.right() + 1 - labelWidth_, client.top(), labelWidth_, client.height());
    painter.setPen(Qt::white);
    painter.setFont(font());
    const int rowHeight = labelCount_ > 0 ? client.height() / labelCount_ : 0;
    for (int row = 0; row < labelCount_; ++row) {
        const QRect cell(labelColumn.left(), client.top() + row * rowHeight, labelColumn.width(),
                         rowHeight);
        painter.drawText(cell, Qt::AlignCenter | Qt::TextSingleLine,
                         labels_[static_cast<std::size_t>(row)]);
    }
    if (scale_ == 0.0) {
        return;
    }

    // The plot: the client area less the label column, in right-exclusive
    // coordinates as the bars are placed.
    int plotLeft = client.left();
    int plotRight = client.right() + 1;
    if (labelsLeft_) {
        plotLeft += labelWidth_;
    } else {
        plotRight -= labelWidth_;
    }
    const int plotTop = client.top();
    const int plotBottom = client.bottom() + 1;
    const int usable = plotBottom - plotTop - 2;
    int barLeft = newestLeft_ ? plotLeft : plotRight - kBarWidth;
    std::size_t i = pos_;
    const std::size_t capacity = values_.size();
    while (newestLeft_ ? barLeft <= plotRight - kBarStep : barLeft >= plotLeft) {
        // Truncated toward zero and capped at the usable height; a negative
        // or undefined height draws nothing.
        const double scaled = usable * values_[i] / scale_;
        int h = 0;
        if (scaled >= usable) {
            h = usable;
        } else if (scaled > 0.0) {
            h = static_cast<int>(scaled);
        }
        painter.fillRect(
            QRect(QPoint(barLeft, plotTop), QPoint(barLeft + kBarWidth - 1, plotBottom - h - 1)),
            Qt::black);
        bool drawn = false;
        const QColor colour = BarColour(states_[i], drawn);
        if (drawn && h > 0) {
            painter.fillRect(QRect(barLeft, plotBottom - h, kBarWidth, h), colour);
        }
        barLeft += newestLeft_ ? kBarStep : -kBarStep;
        i = i == 0 ? capacity - 1 : i - 1;
    }
}

}  // namespace orvalin::desktop
