#include "desktop/dialogs/email_setup_dialog.h"

#include <QFocusEvent>

#include "desktop/control_id.h"
#include "desktop/qt_text.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "settings/settings_keys.h"
#include "ui_email_setup_dialog.h"

namespace orvalin::desktop {

EmailSetupDialog::EmailSetupDialog(const MailSettings& settings, IMessageBox& boxes,
                                   QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::EmailSetupDialog>()),
      settings_(settings),
      boxes_(boxes) {
    ui_->setupUi(this);
    // Kept, never shown: not a place for the focus, and named for screen
    // readers, which list hidden fields too.
    ui_->senderNameEdit->setVisible(false);
    ui_->senderNameEdit->setFocusPolicy(Qt::NoFocus);
    ApplyTexts();
    SetControlId(*this, ids::kEmailSetupDialog);
    SetControlId(*ui_->alertEdit, ids::email::kAlertRecipient);
    SetControlId(*ui_->recoveryEdit, ids::email::kRecoveryRecipient);
    SetControlId(*ui_->returnEdit, ids::email::kReturnAddress);
    SetControlId(*ui_->senderNameEdit, ids::email::kSenderName);
    SetControlId(*ui_->serverEdit, ids::email::kServer);
    SetControlId(*ui_->authenticateBox, ids::email::kAuthenticate);
    SetControlId(*ui_->usernameEdit, ids::email::kUsername);
    SetControlId(*ui_->passwordEdit, ids::email::kPassword);
    SetControlId(*ui_->usernameLabel, ids::email::kUsernameLabel);
    SetControlId(*ui_->passwordLabel, ids::email::kPasswordLabel);

    Fill();
    connect(ui_->alertEdit, &QLineEdit::textChanged, this, &EmailSetupDialog::FollowAlert);
    connect(ui_->authenticateBox, &QCheckBox::toggled, this, [this](bool on) {
        settings_.authenticate = on;
        EnableAccount(on);
    });
    connect(ui_->okButton, &QPushButton::clicked, this, &EmailSetupDialog::accept);
    ui_->recoveryEdit->installEventFilter(this);
    setMinimumWidth(520);
}

EmailSetupDialog::~EmailSetupDialog() = default;

void EmailSetupDialog::ApplyTexts() {
    setWindowTitle(Q(text::kEmailSetupTitle));
    ui_->importantBox->setTitle(Q(text::kEmailImportant));
    ui_->introText->setText(Q(text::kEmailIntro));
    ui_->alertIntroText->setText(Q(text::kEmailAlertIntro));
    ui_->recoveryIntroText->setText(Q(text::kEmailRecoveryIntro));
    ui_->alertLabel->setText(Q(text::kEmailAlertLabel));
    ui_->recoveryLabel->setText(Q(text::kEmailRecoveryLabel));
    ui_->returnLabel->setText(Q(text::kEmailReturnLabel));
    ui_->serverLabel->setText(Q(text::kEmailServerLabel));
    ui_->usernameLabel->setText(Q(text::kEmailUsernameLabel));
    ui_->passwordLabel->setText(Q(text::kEmailPasswordLabel));
    ui_->authenticateBox->setText(Q(text::kEmailAuthenticate));
    ui_->senderNameEdit->setAccessibleName(Q(text::kEmailSenderName));
    ui_->okButton->setText(Q(text::kOk));
    ui_->cancelButton->setText(Q(text::kCancel));
}

// The fields as stored; filling them does not make the others follow.
void EmailSetupDialog::Fill() {
    filling_ = true;
    ui_->alertEdit->setText(Q(settings_.alertRecipient));
    ui_->recoveryEdit->setText(Q(settings_.recoveryRecipient));
    ui_->returnEdit->setText(Q(settings_.senderEmail));
    ui_->senderNameEdit->setText(Q(settings_.senderName));
    ui_->serverEdit->setText(Q(settings_.server));
    ui_->authenticateBox->setChecked(settings_.authenticate);
    ui_->usernameEdit->setText(Q(settings_.username));
    ui_->passwordEdit->setText(Q(settings_.password));
    filling_ = false;
    recoveryTouched_ = !settings_.recoveryRecipient.empty();
    returnTouched_ = !settings_.senderEmail.empty();
    EnableAccount(settings_.authenticate);
}

void EmailSetupDialog::FollowAlert(const QString& alert) {
    if (filling_) {
        return;
    }
    if (!recoveryTouched_) {
        ui_->recoveryEdit->setText(alert);
    }
    if (!returnTouched_) {
        ui_->returnEdit->setText(alert);
    }
}

void EmailSetupDialog::EnableAccount(bool on) {
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->usernameLabel), static_cast<QWidget*>(ui_->usernameEdit),
          static_cast<QWidget*>(ui_->passwordEdit), static_cast<QWidget*>(ui_->passwordLabel)}) {
        control->setEnabled(on);
    }
}

// Once the user has been in the recovery field it keeps its own address.
bool EmailSetupDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->recoveryEdit && event->type() == QEvent::FocusIn) {
        recoveryTouched_ = true;
    }
    return QDialog::eventFilter(watched, event);
}

bool EmailSetupDialog::MissingField(QLineEdit& field, std::string_view message) {
    field.setText(field.text().trimmed());
    if (!field.text().isEmpty()) {
        return false;
    }
    field.setFocus();
    boxes_.ShowWarning(std::string(message));
    return true;
}

void EmailSetupDialog::accept() {
    if (MissingField(*ui_->alertEdit, text::kEmailNeedAlert) ||
        MissingField(*ui_->recoveryEdit, text::kEmailNeedRecovery)) {
        return;
    }
    ui_->senderNameEdit->setText(ui_->senderNameEdit->text().trimmed());
    if (ui_->senderNameEdit->text().isEmpty()) {
        ui_->senderNameEdit->setText(Q(key::kSmtpName.fallback));
    }
    if (MissingField(*ui_->returnEdit, text::kEmailNeedReturn) ||
        MissingField(*ui_->serverEdit, text::kEmailNeedServer)) {
        return;
    }
    settings_.alertRecipient = S(ui_->alertEdit->text());
    settings_.recoveryRecipient = S(ui_->recoveryEdit->text());
    settings_.senderEmail = S(ui_->returnEdit->text());
    settings_.senderName = S(ui_->senderNameEdit->text());
    settings_.server = S(ui_->serverEdit->text());
    settings_.authenticate = ui_->authenticateBox->isChecked();
    settings_.username = S(ui_->usernameEdit->text());
    settings_.password = S(ui_->passwordEdit->text());
    QDialog::accept();
}

QLineEdit& EmailSetupDialog::Field(int controlId) const {
    QLineEdit* field = FindControl<QLineEdit>(*this, controlId);
    Q_ASSERT(field != nullptr);
    return *field;
}

}  // namespace orvalin::desktop
