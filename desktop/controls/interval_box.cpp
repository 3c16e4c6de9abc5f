#include "desktop/controls/interval_box.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace orvalin::desktop {

IntervalBox::IntervalBox(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit(this)),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* arrow : {up_, down_}) {
        arrow->setAutoRepeat(true);
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setFixedSize(16, 11);
    }
    auto* arrows = new QVBoxLayout;
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    arrows->addWidget(up_);
    arrows->addWidget(down_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(edit_);
    row->addLayout(arrows);
    setFocusProxy(edit_);
    edit_->setFixedWidth(64);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    edit_->installEventFilter(this);

    connect(up_, &QToolButton::clicked, this, [this] { emit DeltaProposed(-1); });
    connect(down_, &QToolButton::clicked, this, [this] { emit DeltaProposed(+1); });
}

// The arrow keys in the box work like the arrow buttons.
bool IntervalBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            emit DeltaProposed(key == Qt::Key_Up ? -1 : +1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace orvalin::desktop
