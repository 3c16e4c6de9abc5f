#include "desktop/frontend/message_broker.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "desktop/qt_text.h"
#include "resources/strings.h"

namespace orvalin::desktop {

MessageBroker::~MessageBroker() {
    BeginClosing();
}

bool MessageBroker::Closing() const {
    std::lock_guard lock(mutex_);
    return closing_;
}

QMessageBox* MessageBroker::MakeBox(const std::string& text, bool question, QWidget* parent) {
    auto* box = new QMessageBox(
        question ? QMessageBox::Question : QMessageBox::Warning, Q(text::kAppTitle), Q(text),
        question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    return box;
}

// A box shown on the GUI thread's own stack belongs over the dialog that
// asked for it, which outlives the box.
QWidget* MessageBroker::ModalParent() const {
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr ? modal : owner_.data();
}

void MessageBroker::ShowWarning(const std::string& text) {
    if (QThread::currentThread() == thread()) {
        ShowHere(text);
        return;
    }
    auto request = std::make_shared<Request>();
    request->text = text;
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            return;
        }
        pending_.push_back(request);
    }
    QMetaObject::invokeMethod(
        this, [this, request] { Present(request); }, Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return request->done || closing_; });
}

void MessageBroker::Present(const std::shared_ptr<Request>& request) {
    {
        std::lock_guard lock(mutex_);
        if (closing_ || request->done) {
            return;
        }
    }
    // Owned by the window, not by a dialog that may go first and take the
    // box with it unanswered.
    QMessageBox* box = MakeBox(request->text, false, owner_);
    request->box = box;
    connect(box, &QDialog::finished, this, [this, request] { Finish(request); });
    // Whatever destroys the box unanswered, its worker goes on.
    connect(box, &QObject::destroyed, this, [this, request] {
        request->box = nullptr;
        Finish(request);
    });
    box->show();
}

void MessageBroker::Finish(const std::shared_ptr<Request>& request) {
    {
        std::lock_guard lock(mutex_);
        request->done = true;
        std::erase(pending_, request);
    }
    changed_.notify_all();
    if (request->box) {
        request->box->deleteLater();
    }
}

void MessageBroker::ShowHere(const std::string& text) {
    if (Closing()) {
        return;
    }
    QPointer<QMessageBox> box = MakeBox(text, false, ModalParent());
    local_.push_back(box);
    box->exec();
    std::erase(local_, box);
    delete box;
}

bool MessageBroker::AskYesNo(const std::string& text) {
    if (Closing()) {
        return false;
    }
    QPointer<QMessageBox> box = MakeBox(text, true, ModalParent());
    local_.push_back(box);
    const int answer = box->exec();
    std::erase(local_, box);
    const bool yes = box && answer == QMessageBox::Yes && !Closing();
    delete box;
    return yes;
}

void MessageBroker::BeginClosing() {
    std::vector<std::shared_ptr<Request>> showing;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        showing = pending_;
    }
    changed_.notify_all();
    for (const auto& request : showing) {
        if (request->box) {
            request->box->done(QMessageBox::Ok);
        }
    }
    for (const auto& box : local_) {
        if (box) {
            box->done(QMessageBox::No);
        }
    }
}

}  // namespace orvalin::desktop
