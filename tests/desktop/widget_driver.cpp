#include "widget_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeySequence>

namespace orvalin::test {

bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QApplication::sendPostedEvents();
    }
    return true;
}

void ProcessFor(std::chrono::milliseconds span) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < span.count()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

QString KeyLetter(const QString& text) {
    return QKeySequence::mnemonic(text).toString();
}

ModalDriver::ModalDriver() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalDriver::~ModalDriver() {
    timer_.stop();
}

void ClickLater(QAbstractButton& button) {
    QMetaObject::invokeMethod(&button, &QAbstractButton::click, Qt::QueuedConnection);
}

void ModalDriver::AnswerBox(QMessageBox::StandardButton button) {
    Then([this, button](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        if (box == nullptr || !box->isVisible()) {
            return false;
        }
        texts_.push_back(box->text());
        ClickLater(*box->button(button));
        return true;
    });
}

void ModalDriver::Poll() {
    if (steps_.empty()) {
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
        return;
    }
    // The step may open the next modal widget inside its own event loop.
    Step step = steps_.front();
    steps_.pop_front();
    if (!step(*modal)) {
        steps_.push_front(std::move(step));
    }
}

}  // namespace orvalin::test
