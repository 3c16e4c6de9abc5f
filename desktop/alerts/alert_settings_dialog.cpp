#include "desktop/alerts/alert_settings_dialog.h"

#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>

#include "desktop/control_id.h"
#include "desktop/qt_text.h"
#include "resources/desktop_texts.h"
#include "resources/resource_ids.h"
#include "ui_alert_settings_dialog.h"

namespace orvalin::desktop {

AlertSettingsDialog::AlertSettingsDialog(const AlertSettings& settings, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AlertSettingsDialog>()) {
    ui_->setupUi(this);
    SetControlId(*this, ids::kAlertSettingsDialog);
    ApplyTexts();
    ui_->failuresSpin->setValue(settings.confirmFailures);
    ui_->recoveriesSpin->setValue(settings.confirmRecoveries);
    ui_->secondsSpin->setValue(settings.confirmSeconds);
    ui_->slowOnceBox->setChecked(settings.slowWarnings != 0);
    ui_->remindSpin->setValue(settings.remindHours);
    ui_->gatherSpin->setValue(settings.groupSeconds);
    ui_->desktopBox->setChecked(settings.desktopNotices);
    // Checked as typed: OK waits until every number is whole and in range,
    // rather than a spin box quietly putting back its last value on leaving.
    // The spin box tells only of changed values; its editor of every keystroke.
    for (QSpinBox* number : findChildren<QSpinBox*>()) {
        connect(number->findChild<QLineEdit*>(), &QLineEdit::textChanged, this,
                &AlertSettingsDialog::UpdateOk);
    }
}

AlertSettingsDialog::~AlertSettingsDialog() = default;

void AlertSettingsDialog::ApplyTexts() {
    setWindowTitle(Q(text::kAlertSettingsTitle));
    ui_->confirmGroup->setTitle(Q(text::kAlertConfirmGroup));
    ui_->messagesGroup->setTitle(Q(text::kAlertMessagesGroup));
    ui_->desktopGroup->setTitle(Q(text::kAlertDesktopGroup));
    ui_->failuresLabel->setText(Q(text::kAlertFailuresLabel));
    ui_->failuresHelp->setText(Q(text::kAlertFailuresHelp));
    ui_->recoveriesLabel->setText(Q(text::kAlertRecoveriesLabel));
    ui_->recoveriesHelp->setText(Q(text::kAlertRecoveriesHelp));
    ui_->secondsLabel->setText(Q(text::kAlertSecondsLabel));
    ui_->secondsHelp->setText(Q(text::kAlertSecondsHelp));
    ui_->slowOnceBox->setText(Q(text::kAlertSlowOnce));
    ui_->slowOnceHelp->setText(Q(text::kAlertSlowHelp));
    ui_->remindLabel->setText(Q(text::kAlertRemindLabel));
    ui_->remindHelp->setText(Q(text::kAlertRemindHelp));
    ui_->gatherLabel->setText(Q(text::kAlertGroupLabel));
    ui_->gatherHelp->setText(Q(text::kAlertGroupHelp));
    ui_->desktopBox->setText(Q(text::kAlertDesktopNotices));
    ui_->desktopHelp->setText(Q(text::kAlertDesktopHelp));
    ui_->remindSpin->setSpecialValueText(Q(text::kAlertNever));
    ui_->gatherSpin->setSpecialValueText(Q(text::kAlertNever));
    ui_->okButton->setText(Q(text::kOk));
    ui_->cancelButton->setText(Q(text::kCancel));
    // The explanations belong to their fields for screen readers too.
    const std::pair<QWidget*, QLabel*> explained[] = {
        {ui_->failuresSpin, ui_->failuresHelp}, {ui_->recoveriesSpin, ui_->recoveriesHelp},
        {ui_->secondsSpin, ui_->secondsHelp},   {ui_->slowOnceBox, ui_->slowOnceHelp},
        {ui_->remindSpin, ui_->remindHelp},     {ui_->gatherSpin, ui_->gatherHelp},
        {ui_->desktopBox, ui_->desktopHelp},
    };
    for (const auto& [field, help] : explained) {
        field->setAccessibleDescription(help->text());
        help->setIndent(12);
    }
}

void AlertSettingsDialog::UpdateOk() {
    // A spin box's own hasAcceptableInput() also passes a number below its
    // least, which it would correct only on leaving.
    const QList<QSpinBox*> numbers = findChildren<QSpinBox*>();
    ui_->okButton->setEnabled(std::all_of(numbers.begin(), numbers.end(), [](QSpinBox* number) {
        if (!number->specialValueText().isEmpty() && number->text() == number->specialValueText()) {
            return true;
        }
        bool whole = false;
        const int value = number->cleanText().toInt(&whole);
        return whole && value >= number->minimum() && value <= number->maximum();
    }));
}

AlertSettings AlertSettingsDialog::Settings() const {
    AlertSettings settings;
    settings.confirmFailures = ui_->failuresSpin->value();
    settings.confirmRecoveries = ui_->recoveriesSpin->value();
    settings.confirmSeconds = ui_->secondsSpin->value();
    settings.slowWarnings = ui_->slowOnceBox->isChecked() ? 1 : 0;
    settings.remindHours = ui_->remindSpin->value();
    settings.groupSeconds = ui_->gatherSpin->value();
    settings.desktopNotices = ui_->desktopBox->isChecked();
    return settings;
}

void RunAlertSettings(QWidget* parent, CMonitorEngine& engine) {
    AlertSettingsDialog dialog(engine.Alerts(), parent);
    if (dialog.exec() == QDialog::Accepted) {
        engine.SaveAlertSettings(dialog.Settings());
    }
}

}  // namespace orvalin::desktop
