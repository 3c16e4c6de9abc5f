#include "desktop/controls/status_label.h"

#include <QApplication>

namespace orvalin::desktop {

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
    SetBackColour(std::nullopt);
}

void StatusLabel::SetBackColour(std::optional<QColor> colour) {
    const QPalette standard = QApplication::palette(this);
    back_ = colour.value_or(standard.color(QPalette::Window));
    QPalette own = palette();
    own.setColor(QPalette::Window, back_);
    // Coloured backgrounds are bright: dark text stays readable on each.
    own.setColor(QPalette::WindowText,
                 colour ? QColor(Qt::black) : standard.color(QPalette::WindowText));
    setPalette(own);
    // Without a colour the label is a plain text on the window's own face.
    setAutoFillBackground(colour.has_value());
    update();
}

}  // namespace orvalin::desktop
