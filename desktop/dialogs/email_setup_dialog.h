// "Email Setup": the addresses and the server used for alert and recovery
// notices. It works on a copy of the mail settings; OK checks the required
// fields in their order and only then hands the copy back.
#pragma once

#include <QDialog>
#include <memory>

#include "engine/monitor_engine.h"
#include "platform/message_box.h"

class QLineEdit;

namespace Ui {
class EmailSetupDialog;
}

namespace orvalin::desktop {

class EmailSetupDialog : public QDialog {
    Q_OBJECT
  public:
    // boxes shows the messages for missing fields.
    EmailSetupDialog(const MailSettings& settings, IMessageBox& boxes, QWidget* parent = nullptr);
    ~EmailSetupDialog() override;

    // The values as accepted by OK.
    MailSettings Result() const { return settings_; }
    // The line under the password that says where it is kept.
    void ShowPasswordPlace(const QString& where);

    QLineEdit& Field(int controlId) const;

  public slots:
    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ApplyTexts();
    void Fill();
    void FollowAlert(const QString& alert);
    void EnableAccount(bool on);
    // Trims the field and puts the result back; true when it is empty, after
    // which the field has the focus and the message has been shown.
    bool MissingField(QLineEdit& field, std::string_view message);

    std::unique_ptr<Ui::EmailSetupDialog> ui_;
    MailSettings settings_;
    IMessageBox& boxes_;
    bool filling_ = false;
    bool recoveryTouched_ = false;
    bool returnTouched_ = false;
};

}  // namespace orvalin::desktop
