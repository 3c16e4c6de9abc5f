#include "desktop/boxes/send_indicator.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>
#include <memory>

#include "desktop/boxes/message_boxes.h"
#include "resources/logview_texts.h"

namespace orvalin {

SendIndicator::SendIndicator(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("sendIndicator"));
    setWindowTitle(Qs(text::kTellFriendTitle));
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(Qs(text::kSendingMessage), this));
    auto* busy = new QProgressBar(this);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMinimumWidth(280);
    layout->addWidget(busy);
}

void SendIndicator::Finish() {
    finished_ = true;
    accept();
}

void SendIndicator::reject() {
    if (finished_) {
        QDialog::reject();
    }
}

void SendIndicator::closeEvent(QCloseEvent* event) {
    if (!finished_) {
        event->ignore();
    }
}

std::optional<int> SendWithIndicator(QWidget* parent, CMonitorEngine& engine, MailMessage message) {
    // Shared with the engine's callback, which may come after this function
    // has returned (when the program ended the wait) or never (when the
    // engine shut down meanwhile).
    struct Pending {
        QPointer<SendIndicator> indicator;
        std::optional<int> result;
    };
    auto pending = std::make_shared<Pending>();
    SendIndicator indicator(parent);
    pending->indicator = &indicator;
    const bool started = engine.SendMailInBackground(std::move(message), [pending](int sent) {
        pending->result = sent;
        if (pending->indicator) {
            pending->indicator->Finish();
        }
    });
    if (!started) {
        ShowWarningBox(parent, Qs(text::kSendNotStarted));
        return std::nullopt;
    }
    if (!pending->result) {
        indicator.exec();
    }
    pending->indicator = nullptr;
    return pending->result;
}

}  // namespace orvalin
