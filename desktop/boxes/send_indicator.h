// A modal "Sending..." box shown while a message goes out on a worker
// thread, so the windows keep painting and the SMTP client's own boxes can
// still appear.
#pragma once

#include <QDialog>
#include <optional>

#include "engine/monitor_engine.h"

namespace orvalin {

class SendIndicator : public QDialog {
    Q_OBJECT

  public:
    explicit SendIndicator(QWidget* parent = nullptr);

    // The send has ended: the box closes (until then it cannot be closed).
    void Finish();
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool finished_ = false;
};

// Sends message through engine.SendMailInBackground with the indicator up
// until the result arrives: 1 sent, 0 failed (the SMTP client has shown why).
// Nothing when the send could not start (a box says so) or the program
// ended the wait first.
std::optional<int> SendWithIndicator(QWidget* parent, CMonitorEngine& engine, MailMessage message);

}  // namespace orvalin
